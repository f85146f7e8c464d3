// The keyboard through DirectInput 7, polled once a frame.
#pragma once

#include "platform/api.h"

struct DirectInputState {
    IDirectInput7A* directInput;
    HMODULE directInputLibrary;
    int32_t directInputUsers;
};

struct KeyboardState {
    int32_t opened;
    IDirectInputDevice7A* device;
    int32_t acquireState;
    BYTE keys[256];
    DIOBJECTDATAFORMAT* objectFormats;
    DIDATAFORMAT dataFormat;
};

extern DirectInputState directInputState;
extern KeyboardState keyboard;

constexpr int32_t kEscapeKey = 1;

IDirectInput7A* AcquireDirectInput();
void ReleaseDirectInput();
int32_t OpenKeyboard();
void BuildKeyboardFormat();
int32_t PollKeyboard();
int32_t KeyDown(int32_t code);
void CloseKeyboard();
