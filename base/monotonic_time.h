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

// The same from the fields of two times whose seconds are of type Seconds
// (time_t has 32 bits on the instrument).
template <typename Seconds>
double MillisecondsBetweenFields(Seconds aSeconds, long aNanoseconds, Seconds bSeconds,
                                 long bNanoseconds) {
    // Nanoseconds in double before subtracting: with a 32-bit long (ARM) the
    // difference of two fields that are not normalised may not fit. Seconds
    // in 64 bits, which two 32-bit values always fit.
    const int64_t seconds = static_cast<int64_t>(aSeconds) - static_cast<int64_t>(bSeconds);
    return ((static_cast<double>(aNanoseconds) - static_cast<double>(bNanoseconds)) / 1e9 +
            static_cast<double>(seconds)) *
           1000.0;
}
