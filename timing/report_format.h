// What the timing reports share: their clock, the millisecond difference of
// two stamps and the report's number format.
#pragma once

#include <cstdio>

#include "clock.h"
#include "monotonic_time.h"

// Writes `milliseconds` with 3 decimals, right-aligned in 10 characters.
void PrintMilliseconds(FILE* out, double milliseconds);
