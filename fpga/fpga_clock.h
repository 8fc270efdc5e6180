// The sleeps of the FPGA loader and register access.
//
// Both sleep only through the current FpgaClock, so that tests can replace
// it and walk through the second-long waits of start-up without waiting.
#pragma once

#include <cstdint>

class FpgaClock {
public:
    virtual ~FpgaClock() = default;
    virtual void SleepMicroseconds(uint32_t microseconds) = 0;
    virtual void SleepMilliseconds(uint32_t milliseconds) = 0;

    // The real sleeps (usleep, wxMilliSleep).
    static FpgaClock& System();
    // The clock in use: System() unless a ScopedFpgaClock replaced it.
    static FpgaClock& Current();
};

// Makes `clock` the current one for the lifetime of this object, then puts
// the previous one back. Not for use while another thread sleeps.
class ScopedFpgaClock {
public:
    explicit ScopedFpgaClock(FpgaClock& clock);
    ~ScopedFpgaClock();
    ScopedFpgaClock(const ScopedFpgaClock&) = delete;
    ScopedFpgaClock& operator=(const ScopedFpgaClock&) = delete;

private:
    FpgaClock* previous_;
};
