// Shared pieces of the link tests: captured standard streams and a clock
// that walks through deadlines without waiting.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "link_clock.h"
#include "testbed.h"

// Captures stdout and stderr from construction until Finish().
class CapturedOutput {
public:
    CapturedOutput() {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
    }
    ~CapturedOutput() {
        if (!finished_) Finish();
    }
    void Finish() {
        fflush(nullptr);
        out = testing::internal::GetCapturedStdout();
        err = testing::internal::GetCapturedStderr();
        finished_ = true;
    }
    std::string out;
    std::string err;

private:
    bool finished_ = false;
};

// The emulated nodes a test runs against: the spidev node answered by the
// board model and the GPIO node, each optional. The models outlive the
// testbed that answers with them.
struct Bench {
    explicit Bench(sim::BoardConfig config = {}, bool spidev = true, bool gpioNode = true)
        : board(std::move(config)) {
        EXPECT_TRUE(!spidev || testbed.AddSpidev(board)) << testbed.LastError();
        EXPECT_TRUE(!gpioNode || testbed.AddGpioDevice(gpio)) << testbed.LastError();
    }
    sim::TxBoardModel board;
    sim::GpioDeviceModel gpio;
    sim::Testbed testbed;
};

// A monotonic clock that only moves when the link sleeps on it.
class FakeClock final : public LinkClock {
public:
    timespec Now() override {
        AddNanoseconds(now, 1000);  // every reading costs a microsecond
        return now;
    }
    void SleepUntil(const timespec& deadline) override {
        untilCalls.push_back(deadline);
        if (!TimeReached(now, deadline)) now = deadline;
    }
    void Sleep(int64_t nanoseconds) override {
        sleeps.push_back(nanoseconds);
        AddNanoseconds(now, nanoseconds);
    }

    // Starts at the real monotonic time, so that pauses armed on the real
    // clock are already over.
    timespec now = LinkClock::System().Now();
    std::vector<timespec> untilCalls;
    std::vector<int64_t> sleeps;
};

inline int64_t NanosecondsBetween(const timespec& a, const timespec& b) {
    return (static_cast<int64_t>(b.tv_sec) - a.tv_sec) * 1000000000 + (b.tv_nsec - a.tv_nsec);
}

// The tests need the umockdev preload library; say so plainly when it is
// missing instead of touching real device nodes.
#define REQUIRE_MOCK_ENVIRONMENT()                                                  \
    do {                                                                            \
        ASSERT_TRUE(sim::Testbed::InMockEnvironment())                              \
            << "run under LD_PRELOAD=libumockdev-preload.so.0 (ctest sets it)";     \
    } while (0)
