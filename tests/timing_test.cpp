// The timing reports byte for byte: the lap table, the event table on
// standard output and appended to files, and times that are not normalised.
#include "event_timeline.h"
#include "fpga_support.h"
#include "lap_timer.h"

namespace {

timespec At(long sec, long nsec) { return timespec{sec, nsec}; }

// A clock that moves 1.25 ms forward each time it is read.
timespec SteppingClock() {
    static timespec now{100, 0};
    now.tv_nsec += 1250000;
    return now;
}

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

    // Without times given, Start and Mark read the timer's clock.
    LapTimer ticking(SteppingClock);
    ticking.Start();
    ticking.Mark();
    ticking.Mark();
    EXPECT_EQ(Printed([&] { ticking.printLaps(); }),
              "     1.250\t0\t     1.250\n     2.500\t1\t     1.250\n");
}

// Each table on standard output and appended to a named file.
TEST(EventTimeline, IntervalTableOnStandardOutputOrAppendedToFiles) {
    ScratchDir dir;
    const struct {
        std::vector<std::pair<timespec, std::string>> events;
        std::string table;
    } cases[] = {
        {{}, ""},  // the file is still made
        {{{At(7, 0), "open"}, {At(7, 1500000), "load"}, {At(7, 4000000), "done"}},
         "0\t     0.000\t-\t     1.500\t     1.500\topen\n"
         "1\t     1.500\t-\t     4.000\t     2.500\tload\n"
         "2\t     4.000\t-\t     4.000\t     0.000\tdone\n"},
        // 1 s + 1.5e9 ns is 2.5 s: 500 ms after the first event.
        {{{At(2, 0), "a b"}, {At(1, 1500000000), ""}},
         "0\t     0.000\t-\t   500.000\t   500.000\ta b\n"
         "1\t   500.000\t-\t   500.000\t     0.000\t\n"},
    };
    for (const auto& c : cases) {
        EventTimeline timeline;
        for (const auto& [time, label] : c.events) timeline.AddEvent(label, time);
        const std::string file = dir / std::to_string(c.events.size());
        EXPECT_EQ(Printed([&] {
                      timeline.writeReport(nullptr);
                      timeline.writeReport(file.c_str());
                      timeline.writeReport(file.c_str());
                  }),
                  c.table);
        EXPECT_TRUE(std::filesystem::exists(file));
        EXPECT_EQ(sim::ReadFile(file), c.table + c.table);
    }
    // Without a name the default file; a file that cannot be opened is skipped.
    const std::string fallback = dir / "default";
    EventTimeline timeline(fallback.c_str(), SteppingClock);
    timeline.AddEvent("now");
    EXPECT_EQ(Printed([&] {
                  timeline.writeReport(nullptr);
                  timeline.writeReport((dir / "missing/dir.txt").c_str());
              }),
              "");
    EXPECT_EQ(sim::ReadFile(fallback), "0\t     0.000\t-\t     0.000\t     0.000\tnow\n");
    EXPECT_EQ(timeline.Events().back().time.tv_sec, 100);
}

}  // namespace
