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

    size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    // The oldest record; only with a non-empty history.
    const TraceRecord& front() const { return slots_[first_]; }
    // Record `i`, counted from the oldest.
    const TraceRecord& operator[](size_t i) const { return slots_[(first_ + i) % kCapacity]; }

    void pop_front() {
        if (count_ == 0) return;
        first_ = (first_ + 1) % kCapacity;
        --count_;
    }
    // Appends `record`; in a full history the oldest record gives way.
    void push_back(const TraceRecord& record) {
        if (count_ == kCapacity) pop_front();
        slots_[(first_ + count_) % kCapacity] = record;
        ++count_;
    }
    void clear() {
        first_ = 0;
        count_ = 0;
    }

private:
    std::array<TraceRecord, kCapacity> slots_{TraceRecord(0, 0, 0, 0, 0), TraceRecord(0, 0, 0, 0, 0),
                                              TraceRecord(0, 0, 0, 0, 0), TraceRecord(0, 0, 0, 0, 0)};
    size_t first_ = 0;
    size_t count_ = 0;
};
