// Time on the monotonic clock, and the sleeps of the link.
//
// The link reads time and sleeps only through a LinkClock, so that tests can
// replace the clock and walk through multi-second deadlines without waiting.
#pragma once

#include <cstdint>
#include <ctime>

#include "monotonic_time.h"

class LinkClock {
public:
    virtual ~LinkClock() = default;
    // The current CLOCK_MONOTONIC time.
    virtual timespec Now() = 0;
    // Sleeps until the absolute monotonic `deadline`; returns at once when it
    // has passed. The whole pause is kept even when a signal interrupts it.
    virtual void SleepUntil(const timespec& deadline) = 0;
    // Sleeps for a relative period; a signal may end it early.
    virtual void Sleep(int64_t nanoseconds) = 0;

    // The real monotonic clock, shared by every link.
    static LinkClock& System();
};
