// Time stamps for the timing reports and the report's number format.
#pragma once

#include <cstdio>
#include <ctime>

// Where the timers take their time stamps from; tests pass their own.
using TimeSource = timespec (*)();

// MonotonicNow(), the current CLOCK_MONOTONIC time, is the link's.
#include "link_clock.h"

// a - b in milliseconds, computed from the fields as they are (neither
// value needs to be normalised); never clamped.
double MillisecondsBetween(const timespec& a, const timespec& b);

// Writes `milliseconds` with 3 decimals, right-aligned in 10 characters.
void PrintMilliseconds(FILE* out, double milliseconds);
