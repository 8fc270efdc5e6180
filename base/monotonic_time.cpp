#include "monotonic_time.h"

#include <cerrno>

void AddNanoseconds(timespec& time, int64_t nanoseconds) {
    time.tv_sec += static_cast<time_t>(nanoseconds / 1000000000);
    time.tv_nsec += static_cast<long>(nanoseconds % 1000000000);
    while (time.tv_nsec > 999999999) {
        time.tv_sec += 1;
        time.tv_nsec -= 1000000000;
    }
}

void AddMilliseconds(timespec& time, double milliseconds) {
    AddNanoseconds(time, static_cast<int64_t>(milliseconds * 1000000.0));
}

bool TimeReached(const timespec& a, const timespec& b) {
    return a.tv_sec > b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec >= b.tv_nsec);
}

timespec MonotonicNow() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now;
}

void SleepUntilMonotonic(const timespec& deadline) {
    // A pause the caller has already spent (the tool's own sleeps, say)
    // costs a clock reading in user space, not a system call.
    if (TimeReached(MonotonicNow(), deadline)) return;
    // An absolute deadline makes resuming after a signal exact.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

void SleepNanoseconds(int64_t nanoseconds) {
    timespec period{static_cast<time_t>(nanoseconds / 1000000000),
                    static_cast<long>(nanoseconds % 1000000000)};
    nanosleep(&period, nullptr);
}

double MillisecondsBetween(const timespec& a, const timespec& b) {
    return MillisecondsBetweenFields(a.tv_sec, a.tv_nsec, b.tv_sec, b.tv_nsec);
}
