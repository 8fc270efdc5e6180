// A start time and a series of lap marks, printed as a millisecond table.
#pragma once

#include <cstdio>
#include <ctime>
#include <vector>

#include "report_format.h"

class LapTimer {
public:
    // Stamps come from `clock` (the system's by default), which must outlive
    // the timer. The start time is taken at construction.
    explicit LapTimer(Clock& clock = Clock::System());

    // Sets the reference time (now, or the given time) and drops the marks.
    void Start();
    void Start(const timespec& time);
    // Adds a mark (now, or the given time) after the others.
    void Mark();
    void Mark(const timespec& time);

    // One line per mark on standard output (or `out`): the elapsed time
    // since the start, a tab, the mark's index from 0, a tab and the lap
    // time since the previous mark, in milliseconds. No heading; each line
    // is flushed.
    void printLaps();
    void printLaps(FILE* out);

    const timespec& StartTime() const { return start; }
    const std::vector<timespec>& Marks() const { return marks; }

private:
    Clock* clockInUse;
    timespec start;
    std::vector<timespec> marks;
};
