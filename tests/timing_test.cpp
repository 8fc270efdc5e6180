// The timing reports byte for byte: the lap table, the event table on
// standard output and appended to files, and times that are not normalised.
#include <cstdint>
#include <limits>

#include "event_timeline.h"
#include "fpga_support.h"
#include "lap_timer.h"

namespace {

timespec At(long sec, long nsec) { return timespec{sec, nsec}; }

TEST(LapTimer, OneLinePerMarkWithElapsedIndexAndLap) {
    LapTimer timer;
    timer.Start(At(10, 0));
    for (timespec mark : {At(10, 250000000), At(11, 0), At(9, 0), At(9, 1500000000), At(10000, 0)})
        timer.Mark(mark);
    EXPECT_EQ(Printed([&] { timer.printLaps(); }),
              "   250.000\t0\t   250.000\n"
              "  1000.000\t1\t   750.000\n"
              " -1000.000\t2\t -2000.000\n"  // before the start
              "   500.000\t3\t  1500.000\n"  // nanoseconds not normalised: 10.5 s
              "9990000.000\t4\t9989500.000\n");
}

TEST(EventTimeline, TheIntervalTableGoesToStandardOutputOrIsAppendedToAFile) {
    ScratchDir dir;
    const std::string file = dir / "report";
    EventTimeline timeline;
    timeline.AddEvent("open", At(7, 0));
    timeline.AddEvent("load", At(6, 1001500000));  // not normalised
    timeline.AddEvent("done", At(7, 4000000));
    const std::string table = "0\t     0.000\t-\t     1.500\t     1.500\topen\n"
                              "1\t     1.500\t-\t     4.000\t     2.500\tload\n"
                              "2\t     4.000\t-\t     4.000\t     0.000\tdone\n";
    EXPECT_EQ(Printed([&] {
                  timeline.writeReport(nullptr);
                  timeline.writeReport(file.c_str());
                  timeline.writeReport(file.c_str());
                  timeline.writeReport((dir / "missing/dir.txt").c_str());  // skipped
              }),
              table);
    EXPECT_EQ(sim::ReadFile(file), table + table);
}

// Without a name the default file takes the report. Its name is the caller's
// text at construction, not a pointer into storage the caller may reuse.
TEST(EventTimeline, DefaultFileNameIsCopied) {
    ScratchDir dir;
    std::string name = dir / "report-a";
    EventTimeline timeline(name.c_str());
    name.back() = 'b';
    timeline.AddEvent("a b", At(2, 0));
    EXPECT_EQ(Printed([&] { timeline.writeReport(nullptr); }), "");
    EXPECT_EQ(sim::ReadFile(dir / "report-a"), "0\t     0.000\t-\t     0.000\t     0.000\ta b\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "report-b"));
}

// The instrument's time_t has 32 bits: seconds far apart still subtract.
TEST(MillisecondsBetween, ThirtyTwoBitSecondsFarApart) {
    constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
    constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
    EXPECT_EQ(MillisecondsBetweenFields<int32_t>(kMax, 0, kMin, 0), 4294967295000.0);
    EXPECT_EQ(MillisecondsBetweenFields<int32_t>(kMin, 500000000, kMax, 0), -4294967294500.0);
}

}  // namespace
