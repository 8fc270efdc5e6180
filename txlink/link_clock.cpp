#include "link_clock.h"

namespace {

class SystemClock final : public LinkClock {
public:
    timespec Now() override { return MonotonicNow(); }
    void SleepUntil(const timespec& deadline) override { SleepUntilMonotonic(deadline); }
    void Sleep(int64_t nanoseconds) override { SleepNanoseconds(nanoseconds); }
};

}  // namespace

LinkClock& LinkClock::System() {
    static SystemClock clock;
    return clock;
}
