#include "event_timeline.h"

#include <cstdio>
#include <utility>

EventTimeline::EventTimeline(const char* defaultFile, Clock& clock)
    : clockInUse(&clock) {
    if (defaultFile != nullptr) defaultFileName = defaultFile;
}

void EventTimeline::AddEvent(std::string label) { AddEvent(std::move(label), clockInUse->Now()); }

void EventTimeline::AddEvent(std::string label, const timespec& time) {
    events.push_back(TimelineEvent{time, std::move(label)});
}

void EventTimeline::Clear() { events.clear(); }

void EventTimeline::writeReport(const char* fileName) {
    const char* path = fileName != nullptr ? fileName
                       : defaultFileName ? defaultFileName->c_str()
                                         : nullptr;
    FILE* out = stdout;
    if (path != nullptr) {
        out = fopen(path, "a");
        if (out == nullptr) return;
    }
    if (!events.empty()) {
        const timespec& t0 = events.front().time;
        for (size_t k = 0; k < events.size(); ++k) {
            const TimelineEvent& event = events[k];
            const bool last = k + 1 == events.size();
            const timespec& end = last ? event.time : events[k + 1].time;
            fprintf(out, "%zu\t", k);
            PrintMilliseconds(out, MillisecondsBetween(event.time, t0));
            fputs("\t-\t", out);
            PrintMilliseconds(out, MillisecondsBetween(end, t0));
            fputc('\t', out);
            PrintMilliseconds(out, last ? 0.0 : MillisecondsBetween(end, event.time));
            fputc('\t', out);
            fwrite(event.label.data(), 1, event.label.size(), out);
            fputc('\n', out);
            fflush(out);
        }
    }
    if (out != stdout) fclose(out);
}
