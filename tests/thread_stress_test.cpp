// The parts of the library that other threads may share, used from many
// threads at once (the ThreadSanitizer run reports every unguarded access):
// one FPGAReg, the device registry, and timers each owned by its thread.
#include <thread>

#include "device.h"
#include "event_timeline.h"
#include "fake_clock.h"
#include "fpga_reg.h"
#include "fpga_support.h"

namespace {

constexpr int kThreads = 16;

size_t Count(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; ++at) ++count;
    return count;
}

// Twelve threads, two on each setter, set bits of five registers (every setter
// of the plain kind locks and updates alike: three stand for them) while four
// read every register into the shadow, dump it, read the inputs and scan the
// keys. The readers that use primitives hold the object's mutex, as callers
// must. Afterwards the shadow holds what the FPGA holds in every register the
// setters own, and every dump came out whole.
TEST(ThreadStress, RegisterSettersWithReadsDumpsAndInputs) {
    REQUIRE_MOCK_ENVIRONMENT();
    sim::FpgaRegisterModel fpga;
    sim::Testbed testbed;
    ASSERT_TRUE(testbed.AddFpgaRegisterDevice(fpga)) << testbed.LastError();
    FakeClock clock;  // only the start-up sleeps on it, on this thread
    std::unique_ptr<FPGAReg> owner;
    Printed([&] { owner = std::make_unique<FPGAReg>(sim::kFpgaRegisterPath, "/no/such.rbf", clock); });
    FPGAReg& reg = *owner;
    fpga.PressKey(1, 3);

    constexpr int kRounds = 30;
    using Step = std::function<void(int)>;
    const std::vector<Step> setters = {
        [&](int i) { reg.SetReg28Bit0(i % 2); },
        [&](int i) { reg.SetReg28Bit1(i % 3 == 0); },
        [&](int i) { i % 2 ? reg.SetClkDivBit4() : reg.ClearClkDivBit4(); },
        [&](int i) { reg.SetAdcEnable(i * 257); },
        [&](int i) { reg.SetCtrlBit1(i % 2); },
        [&](int) { reg.StrobeCtrlBit7(); },
    };
    const std::vector<Step> readers = {
        [&](int) { wxMutexLocker lock(reg.Mutex()); reg.ReadAllRegs(); },
        [&](int) { wxMutexLocker lock(reg.Mutex()); reg.DumpRegs(); },
        [&](int) {
            bool in[4];
            reg.ReadExtIn(&in[0], &in[1], &in[2], &in[3]);
            reg.IsStatusBit4Clear();
        },
        [&](int) {
            uint8_t lines[2], keys = 0;
            EXPECT_EQ(reg.ScanKeyboard(&lines[0], &lines[1]), 0);
            // The held key: input line 3 on output line 1.
            EXPECT_EQ(std::pair(lines[0], lines[1]), (std::pair<uint8_t, uint8_t>(1 << 3, 1 << 1)));
            wxMutexLocker lock(reg.Mutex());
            reg.ReadKeybIn(&keys);
        },
    };
    const std::string printed = Printed([&] {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t) {
            const Step& step = t < 12 ? setters[t % setters.size()] : readers[t - 12];
            threads.emplace_back([&step] { for (int i = 1; i <= kRounds; ++i) step(i); });
        }
    });
    const auto shadow = reg.ShadowCopy();
    const auto held = fpga.Registers();
    for (int index :
         std::initializer_list<int>{FPGA_REG_CLK_DIV, FPGA_REG_ADC_ENL, FPGA_REG_ADC_ENH, 28})
        EXPECT_EQ(shadow[index], held[index]) << "register " << index;
    EXPECT_EQ(Count(printed, "FPGA_REG_FPGA_CTRL   = "), size_t{kRounds});
    EXPECT_EQ(Count(printed, "FPGA_REG_"), size_t{kRounds} * 16);
}

// Each thread makes devices under its own name and under one name all of
// them share, finds its own, lists them all and destroys its devices. The
// registry ends empty.
TEST(ThreadStress, RegistryCreatedSearchedListedAndDestroyed) {
    const std::string printed = Printed([] {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([t] {
                const std::wstring own = L"Worker" + std::to_wstring(t);
                for (int i = 0; i < 150; ++i) {
                    Device mine(own.c_str(), i);
                    const Device shared(L"Shared", t);  // gone before `mine`
                    EXPECT_EQ(Device::Find(own.c_str()), &mine);
                    Device::Find(L"Shared");
                    if (i % 25 == 0) Device::ListDevices();
                }
                EXPECT_EQ(Device::Find(own.c_str()), nullptr);
            });
        }
    });
    EXPECT_EQ(Printed(Device::ListDevices), "DEVICES:\nDEVICES END");
    // Every listing came out whole: a heading and an end for each of the 96.
    EXPECT_EQ(Count(printed, "DEVICES:\n"), size_t{kThreads} * 6);
    EXPECT_EQ(Count(printed, "DEVICES END"), size_t{kThreads} * 6);
}

// Timers on the real clock, one event timeline per thread, each writing its
// own report: every report has its own lines only. (A lap timer shares only
// the same system clock; its printout is timing_test's.)
TEST(ThreadStress, TimersEachOwnedByItsThread) {
    ScratchDir dir;
    constexpr int kMarks = 200;
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < 8; ++t) {
            threads.emplace_back([&, t] {
                const std::string report = dir / ("report" + std::to_string(t));
                EventTimeline timeline(report.c_str());  // keeps the pointer
                for (int i = 0; i < kMarks; ++i) timeline.AddEvent("thread " + std::to_string(t));
                timeline.writeReport(nullptr);
            });
        }
    }
    for (int t = 0; t < 8; ++t) {  // each report line ends with its own thread's name
        const std::string report = sim::ReadFile(dir / ("report" + std::to_string(t)));
        EXPECT_EQ(std::ranges::count(report, '\n'), kMarks);
        EXPECT_EQ(Count(report, "\tthread " + std::to_string(t) + "\n"), size_t{kMarks});
    }
}

}  // namespace
