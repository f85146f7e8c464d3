// Between the web host's parts.
#pragma once

namespace standin::host {

// The page lost or regained the focus: keys let go or pressed meanwhile
// belong to another window.
void ForgetHeldKeys();
// The program is ending: the page's key listeners go.
void StopKeyboard();

}  // namespace standin::host
