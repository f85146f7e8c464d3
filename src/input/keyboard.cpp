// STUB: replaced by the keyboard.
#include "input/keyboard.h"
DirectInputState directInputState;
KeyboardState keyboard;
IDirectInput7A* AcquireDirectInput() { return nullptr; }
void ReleaseDirectInput() {}
int32_t OpenKeyboard() { return 0; }
void BuildKeyboardFormat() {}
int32_t PollKeyboard() { return 0; }
int32_t KeyDown(int32_t) { return 0; }
void CloseKeyboard() {}
