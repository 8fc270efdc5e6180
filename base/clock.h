// The clock every timed part of the tree reads and sleeps through: the link's
// pauses and deadlines, the FPGA loader's and register file's waits, the
// timing reports' stamps. Each object holds its own clock, the system's
// monotonic clock unless it is given another, so that tests can walk through
// multi-second waits without waiting.
#pragma once

#include <cstdint>
#include <ctime>

class Clock {
public:
    virtual ~Clock() = default;
    // The current CLOCK_MONOTONIC time.
    virtual timespec Now() = 0;
    // Sleeps until the absolute monotonic `deadline`; returns at once when it
    // has passed. The whole pause is kept even when a signal interrupts it.
    virtual void SleepUntil(const timespec& deadline) = 0;
    // Sleeps for a relative period; a signal may end it early.
    virtual void Sleep(int64_t nanoseconds) = 0;

    // The system's monotonic clock, shared by every user.
    static Clock& System();
};
