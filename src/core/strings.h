// String variables (heap copies) and temporary strings in the work area.
#pragma once

#include <cstdint>

#include "core/runtime.h"

// The variable owns a fresh heap copy of source; a null source empties it.
void AssignString(char** variable, const char* source);

// Temporaries: written at workPtr, which is left on the result's terminating
// zero. A statement that uses them opens a TempScope, keeps each result with
// Keep (steps past its zero), and the scope puts workPtr back at its end.
char* CharString(int32_t code);
char* SubString(const char* s, int32_t position, int32_t length);

int32_t CharCode(const char* s);
int32_t StringLength(const char* s);

class TempScope {
public:
    TempScope() : saved_(runtime.workPtr) {}
    ~TempScope() { runtime.workPtr = saved_; }
    TempScope(const TempScope&) = delete;
    TempScope& operator=(const TempScope&) = delete;
    const char* Keep(char* result) {
        ++runtime.workPtr;
        return result;
    }

private:
    BYTE* saved_;
};
