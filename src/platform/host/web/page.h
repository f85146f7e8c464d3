// Between the web host's parts.
#pragma once

namespace standin::host {

// The page lost the focus: keys let go meanwhile send no key-up here.
void ForgetHeldKeys();
// The program is ending: the page's key listeners go.
void StopKeyboard();

}  // namespace standin::host
