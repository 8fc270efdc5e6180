#include "lap_timer.h"

LapTimer::LapTimer(Clock& clock) : clockInUse(&clock), start(clock.Now()) {}

void LapTimer::Start() { Start(clockInUse->Now()); }

void LapTimer::Start(const timespec& time) {
    start = time;
    marks.clear();
}

void LapTimer::Mark() { Mark(clockInUse->Now()); }

void LapTimer::Mark(const timespec& time) { marks.push_back(time); }

void LapTimer::printLaps() { printLaps(stdout); }

void LapTimer::printLaps(FILE* out) {
    timespec previous = start;
    int index = 0;
    for (const timespec& mark : marks) {
        PrintMilliseconds(out, MillisecondsBetween(mark, start));
        fprintf(out, "\t%d\t", index);
        PrintMilliseconds(out, MillisecondsBetween(mark, previous));
        fputc('\n', out);
        fflush(out);
        previous = mark;
        ++index;
    }
}
