#include "core/strings.h"

#include <cstring>

namespace {

// A temporary that would run past the work area ends the program with a
// clear message instead of writing over whatever follows it.
BYTE* WorkSpace(size_t bytes) {
    if (!runtime.workPtr || bytes > static_cast<size_t>(runtime.workEnd - runtime.workPtr)) {
        FatalError("A temporary string does not fit in the string work area.", kExitWorkAreaOverflow);
    }
    return runtime.workPtr;
}

}  // namespace

void AssignString(char** variable, const char* source) {
    // The copy is made before the old text is freed: the source may be that
    // very text (a variable assigned to itself).
    char* copy = nullptr;
    if (source) {
        size_t length = std::strlen(source);
        copy = static_cast<char*>(HeapAlloc(runtime.heap, 0, length + 2));
        // Without room the variable ends up empty rather than dangling.
        if (copy) std::memcpy(copy, source, length + 1);
    }
    if (*variable) HeapFree(runtime.heap, 0, *variable);
    *variable = copy;
}

char* CharString(int32_t code) {
    BYTE* p = WorkSpace(2);
    p[0] = static_cast<BYTE>(code);
    p[1] = 0;
    runtime.workPtr = p + 1;
    return reinterpret_cast<char*>(p);
}

char* SubString(const char* s, int32_t position, int32_t length) {
    const char* from = s ? s : "";
    if (position > 1) {
        for (int32_t skip = position - 1; skip > 0 && *from; --skip) ++from;
    }
    size_t count = 0;
    if (length > 0) {
        while (count < static_cast<size_t>(length) && from[count]) ++count;
    }
    BYTE* p = WorkSpace(count + 1);
    std::memcpy(p, from, count);
    p[count] = 0;
    runtime.workPtr = p + count;
    return reinterpret_cast<char*>(p);
}

int32_t CharCode(const char* s) { return s ? static_cast<unsigned char>(s[0]) : 0; }

int32_t StringLength(const char* s) { return s ? static_cast<int32_t>(std::strlen(s)) : 0; }
