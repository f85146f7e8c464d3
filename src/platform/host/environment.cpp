#include "platform/host/environment.h"

#include <climits>

namespace standin::host {

long PositiveCount(const char* text) {
    if (!text || !*text) return 0;
    long value = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9') return 0;
        int digit = *p - '0';
        if (value > (LONG_MAX - digit) / 10) return 0;
        value = value * 10 + digit;
    }
    return value;
}

}  // namespace standin::host
