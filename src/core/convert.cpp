// The conversion gives the result the processor's rounding-mode switch
// would, without touching the rounding mode: out of range and NaN give the
// "integer indefinite" value -2147483648.
#include "core/convert.h"

namespace {
constexpr int32_t kIndefinite = INT32_MIN;
}

int32_t TruncToInt(long double v) {
    // Bounds that cut to the range: -2147483648.9 still does, 2147483648 not.
    if (!(v > -2147483649.0L && v < 2147483648.0L)) return kIndefinite;
    return static_cast<int32_t>(v);
}
