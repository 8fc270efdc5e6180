// The pause measurements shared by txbench (emulated board) and the
// in-process link loop: from the board's records of a run, how many transfers
// came before their pause had passed, and how late the others were.
#pragma once

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <vector>

#include "protocol.h"
#include "tx_board_model.h"

namespace benchstats {

constexpr int64_t kReadyPollNs = 500000;  // fast timing: one poll before a transfer

inline int64_t Ns(const timespec& t) {
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// The pause a request of `type` calls for, from the catalogue with its floors.
inline int64_t PauseNs(uint8_t type, bool fast) {
    if (type >= kMessageTypeCount) return fast ? 200000 : 4000000;
    const int64_t us =
        fast ? MessageCatalogue[type].fastDelayUs : MessageCatalogue[type].legacyDelayUs;
    const int64_t floorUs = fast ? 200 : 4000;
    return std::max(us, floorUs) * 1000;
}

template <typename T>
T Percentile(std::vector<T> values, double p) {
    if (values.empty()) return T{};
    std::sort(values.begin(), values.end());
    size_t index = static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

struct PauseStats {
    long early = 0;
    std::vector<int64_t> lateness;  // ns past pause (+ poll, fast timing)
};

// The gap before each transfer runs from the moment the board let the
// previous one go to the moment this one arrived. The first three gaps (the
// identity read, then the change of timing) are left out.
inline PauseStats Analyse(const std::vector<sim::BusRecord>& records, bool fast) {
    PauseStats stats;
    for (size_t i = 3; i < records.size(); ++i) {
        const uint8_t previousType = records[i - 1].request.empty() ? 0 : records[i - 1].request[0];
        const int64_t pause = PauseNs(previousType, fast);
        const int64_t gap = Ns(records[i].time) - Ns(records[i - 1].finished);
        if (gap < pause) stats.early++;
        stats.lateness.push_back(gap - pause - (fast ? kReadyPollNs : 0));
    }
    return stats;
}

}  // namespace benchstats
