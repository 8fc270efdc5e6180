// Time stamps for the timing reports and the report's number format.
#pragma once

#include <cstdio>
#include <ctime>

// Where the timers take their time stamps from; tests pass their own.
using TimeSource = timespec (*)();

// MonotonicNow and MillisecondsBetween.
#include "monotonic_time.h"

// Writes `milliseconds` with 3 decimals, right-aligned in 10 characters.
void PrintMilliseconds(FILE* out, double milliseconds);
