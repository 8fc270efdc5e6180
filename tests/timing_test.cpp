// The timing reports byte for byte: the lap table, the event table on
// standard output and appended to files, and times that are not normalised.
#include <string>

#include "event_timeline.h"
#include "fpga_support.h"
#include "lap_timer.h"
#include "test_support.h"

namespace {

timespec At(long sec, long nsec) { return timespec{sec, nsec}; }

// A clock that moves 1.25 ms forward each time it is read.
timespec SteppingClock() {
    static timespec now{100, 0};
    now.tv_nsec += 1250000;
    return now;
}

// What `timer` prints as its lap table.
std::string Laps(LapTimer& timer) {
    CapturedOutput output;
    timer.printLaps();
    output.Finish();
    return output.out;
}

TEST(LapTimer, OneLinePerMarkWithElapsedIndexAndLap) {
    LapTimer timer;
    timer.Start(At(10, 0));
    timer.Mark(At(10, 250000000));
    timer.Mark(At(11, 0));
    timer.Mark(At(9, 0));                 // before the start: negative
    timer.Mark(At(9, 1500000000));        // nanoseconds not normalised: 10.5 s
    timer.Mark(At(10000, 0));             // wider than the field
    EXPECT_EQ(Laps(timer),
              "   250.000\t0\t   250.000\n"
              "  1000.000\t1\t   750.000\n"
              " -1000.000\t2\t -2000.000\n"
              "   500.000\t3\t  1500.000\n"
              "9990000.000\t4\t9989500.000\n");

    // Without times given, Start and Mark read the timer's clock.
    LapTimer ticking(SteppingClock);
    ticking.Start();
    ticking.Mark();
    ticking.Mark();
    EXPECT_EQ(Laps(ticking), "     1.250\t0\t     1.250\n     2.500\t1\t     1.250\n");
}

TEST(EventTimeline, IntervalTableOnStandardOutput) {
    struct Case {
        std::vector<std::pair<timespec, std::string>> events;
        const char* table;
    } cases[] = {
        {{}, ""},
        {{{At(5, 0), "A"}}, "0\t     0.000\t-\t     0.000\t     0.000\tA\n"},
        {{{At(7, 0), "open"}, {At(7, 1500000), "load"}, {At(7, 4000000), "done"}},
         "0\t     0.000\t-\t     1.500\t     1.500\topen\n"
         "1\t     1.500\t-\t     4.000\t     2.500\tload\n"
         "2\t     4.000\t-\t     4.000\t     0.000\tdone\n"},
        // 1 s + 1.5e9 ns is 2.5 s: 500 ms after the first event.
        {{{At(2, 0), "a b"}, {At(1, 1500000000), ""}},
         "0\t     0.000\t-\t   500.000\t   500.000\ta b\n"
         "1\t   500.000\t-\t   500.000\t     0.000\t\n"},
    };
    for (const Case& c : cases) {
        EventTimeline timeline;
        for (const auto& [time, label] : c.events) timeline.AddEvent(label, time);
        CapturedOutput output;
        timeline.writeReport(nullptr);
        output.Finish();
        EXPECT_EQ(output.out, c.table);
    }
}

TEST(EventTimeline, ReportsAreAppendedToTheNamedOrDefaultFile) {
    TempDir dir;
    const std::string named = dir.File("named.txt");
    const std::string fallback = dir.File("default.txt");
    EventTimeline timeline(fallback.c_str(), SteppingClock);

    timeline.writeReport(nullptr);  // no events: the file is still made
    EXPECT_TRUE(std::filesystem::exists(fallback));
    EXPECT_EQ(ReadText(fallback), "");

    timeline.AddEvent("x", At(1, 0));
    timeline.AddEvent("y", At(1, 2000000));
    const std::string table =
        "0\t     0.000\t-\t     2.000\t     2.000\tx\n"
        "1\t     2.000\t-\t     2.000\t     0.000\ty\n";
    CapturedOutput output;
    timeline.writeReport(named.c_str());
    timeline.writeReport(named.c_str());
    timeline.writeReport(nullptr);
    timeline.writeReport(dir.File("missing/dir.txt").c_str());  // swallowed
    output.Finish();
    EXPECT_EQ(output.out, "");
    EXPECT_EQ(ReadText(named), table + table);
    EXPECT_EQ(ReadText(fallback), table);

    timeline.Clear();
    timeline.AddEvent("now");
    EXPECT_EQ(timeline.Events().back().time.tv_sec, 100);
}

}  // namespace
