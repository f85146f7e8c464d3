// The host variables' numbers, read strictly: a count is written in decimal
// digits alone. Anything else (a sign, a space, a suffix, zero, or more than
// a long holds) is refused whole rather than read as some other number:
// strtoul would take "-1" for a huge count and " 7" for 7.
#pragma once

namespace standin::host {

// The positive count in `text`, or 0 when it is not one.
long PositiveCount(const char* text);

}  // namespace standin::host
