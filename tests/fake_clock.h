// The clock of the tests and fuzz targets: time moves only when it is read or
// slept on, and every wait is recorded instead of waited.
#pragma once

#include <cstdint>
#include <ctime>
#include <vector>

#include "clock.h"
#include "monotonic_time.h"

inline int64_t NanosecondsBetween(const timespec& a, const timespec& b) {
    return (static_cast<int64_t>(b.tv_sec) - a.tv_sec) * 1000000000 + (b.tv_nsec - a.tv_nsec);
}

// A monotonic clock that only moves when it is read (by `tick`) or slept on.
// `pauses`: each pause waited out, from the reading that armed it; `sleeps`:
// each relative sleep.
struct FakeClock final : Clock {
    timespec Now() override {
        AddNanoseconds(now, tick);
        return last = now;
    }
    void SleepUntil(const timespec& deadline) override {
        pauses.push_back(NanosecondsBetween(last, deadline));
        if (!TimeReached(now, deadline)) now = deadline;
    }
    void Sleep(int64_t ns) override {
        sleeps.push_back(ns);
        AddNanoseconds(now, ns);
    }
    int64_t tick = 1000;
    timespec now = MonotonicNow(), last = now;
    std::vector<int64_t> pauses, sleeps;
};
