#include "fpga_clock.h"

#include <unistd.h>
#include <wx/utils.h>

#include <atomic>

namespace {

class SystemFpgaClock final : public FpgaClock {
public:
    void SleepMicroseconds(uint32_t microseconds) override { usleep(microseconds); }
    void SleepMilliseconds(uint32_t milliseconds) override { wxMilliSleep(milliseconds); }
};

SystemFpgaClock systemClock;
std::atomic<FpgaClock*> currentClock{&systemClock};

}  // namespace

FpgaClock& FpgaClock::System() { return systemClock; }

FpgaClock& FpgaClock::Current() { return *currentClock.load(); }

ScopedFpgaClock::ScopedFpgaClock(FpgaClock& clock) : previous_(currentClock.exchange(&clock)) {}

ScopedFpgaClock::~ScopedFpgaClock() { currentClock.store(previous_); }
