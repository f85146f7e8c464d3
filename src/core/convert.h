// Float to integer conversion with the runtime's fixed rounding rule.
#pragma once

#include <cstdint>

// floor(x) as a signed 32-bit integer; NaN and values outside the range
// give -2147483648.
int32_t FloatToInt(float x);
// v cut toward zero, as a signed 32-bit integer; NaN and values whose whole
// part lies outside the range give -2147483648.
int32_t TruncToInt(long double v);
