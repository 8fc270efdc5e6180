#include "clock.h"

#include "monotonic_time.h"

namespace {

class SystemClock final : public Clock {
public:
    timespec Now() override { return MonotonicNow(); }
    void SleepUntil(const timespec& deadline) override { SleepUntilMonotonic(deadline); }
    void Sleep(int64_t nanoseconds) override { SleepNanoseconds(nanoseconds); }
};

}  // namespace

Clock& Clock::System() {
    static SystemClock clock;
    return clock;
}
