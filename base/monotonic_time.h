// Time on the monotonic clock: readings, arithmetic on timespec values and
// the absolute sleep.
#pragma once

#include <cstdint>
#include <ctime>

// Adds a signed nanosecond count: seconds take the quotient, nanoseconds the
// remainder, then nanoseconds above 999999999 carry into the seconds. A
// negative remainder is left as it is.
void AddNanoseconds(timespec& time, int64_t nanoseconds);
// Adds milliseconds, converted to nanoseconds with truncation.
void AddMilliseconds(timespec& time, double milliseconds);
// Whether `a` is at or after `b`.
bool TimeReached(const timespec& a, const timespec& b);
// The current CLOCK_MONOTONIC time.
timespec MonotonicNow();
// Sleeps until the absolute monotonic `deadline`; returns at once when it
// has passed. The whole pause is kept even when a signal interrupts it.
void SleepUntilMonotonic(const timespec& deadline);
// Sleeps for a relative period; a signal may end it early.
void SleepNanoseconds(int64_t nanoseconds);
// a - b in milliseconds, computed from the fields as they are (neither
// value needs to be normalised); never clamped.
double MillisecondsBetween(const timespec& a, const timespec& b);
