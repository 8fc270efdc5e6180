// A series of labelled events, reported as a table of intervals appended to
// a report file or written to standard output.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "report_format.h"

struct TimelineEvent {
    timespec time;
    std::string label;  // bytes, printed as they are
};

class EventTimeline {
public:
    // `defaultFileName` (may be null; the text is copied) is the report
    // file used when writeReport is given none. Stamps come from `clock`,
    // which must outlive the timeline.
    explicit EventTimeline(const char* defaultFileName = nullptr, Clock& clock = Clock::System());

    // Adds an event (now, or at the given time) after the others.
    void AddEvent(std::string label);
    void AddEvent(std::string label, const timespec& time);
    // Drops every event.
    void Clear();

    // Appends the table to `fileName`, else to the default file, else writes
    // it to standard output. One line per event: index, start and end of
    // the interval to the next event (offsets from the first event), its
    // length, and the label, tab-separated; the last event's interval is
    // empty. A file that cannot be opened swallows the report silently.
    void writeReport(const char* fileName);

    const std::vector<TimelineEvent>& Events() const { return events; }

private:
    Clock* clockInUse;
    std::optional<std::string> defaultFileName;
    std::vector<TimelineEvent> events;
};
