// The link's exchange history: the received and the sent frame of the last
// two exchanges, oldest first. A fixed ring of four records, so that keeping
// it costs no allocation on the exchange path.
#pragma once

#include <array>
#include <cstddef>

#include "protocol.h"

class TraceHistory {
public:
    static constexpr size_t kCapacity = 4;

    size_t size() const { return count; }
    bool empty() const { return count == 0; }
    // The oldest record; only with a non-empty history.
    const TraceRecord& front() const { return slots[first]; }
    // Record `i`, counted from the oldest.
    const TraceRecord& operator[](size_t i) const { return slots[(first + i) % kCapacity]; }

    void pop_front() {
        if (count == 0) return;
        first = (first + 1) % kCapacity;
        --count;
    }
    // Appends `record`; in a full history the oldest record gives way.
    void push_back(const TraceRecord& record) {
        if (count == kCapacity) pop_front();
        slots[(first + count) % kCapacity] = record;
        ++count;
    }
    void clear() {
        first = 0;
        count = 0;
    }

private:
    std::array<TraceRecord, kCapacity> slots{TraceRecord(0, 0, 0, 0, 0), TraceRecord(0, 0, 0, 0, 0),
                                              TraceRecord(0, 0, 0, 0, 0), TraceRecord(0, 0, 0, 0, 0)};
    size_t first = 0;
    size_t count = 0;
};
