// Float to integer conversion with the runtime's fixed rounding rule.
#pragma once

#include <cstdint>

// floor(x) as a signed 32-bit integer; NaN and values outside the range
// give -2147483648. Inline: the demo converts every particle's coordinates
// each frame, and a call apiece cost more than the conversion.
inline int32_t FloatToInt(float x) {
    if (!(x >= -2147483648.0f && x < 2147483648.0f)) return INT32_MIN;
    // Cut toward zero (exact inside the range), then one down where that
    // went up: floor without a library call on CPUs lacking a floor
    // instruction. A float this far from zero has no fraction, so the
    // step down never leaves the range.
    const int32_t cut = static_cast<int32_t>(x);
    return cut - (static_cast<float>(cut) > x);
}
// v cut toward zero, as a signed 32-bit integer; NaN and values whose whole
// part lies outside the range give -2147483648.
int32_t TruncToInt(long double v);
