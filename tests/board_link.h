// A link on the emulated board, past its first exchange, for the typed operations' tests.
#pragma once

#include "test_support.h"

// The first exchange (or, with `identify`, the identity, which picks the
// board's timing: fast for the default software number 1020) happens out of
// sight; the clock skips every pause.
struct BoardLink {
    explicit BoardLink(sim::BoardConfig config = {}, bool identify = false)
        : bench(std::move(config)) {
        link.SetClock(clock);
        std::array<uint8_t, kTransmitterInfoSize> info{};
        identify ? void(link.GetInfo(info)) : void(link.PollReply());
        quiet.Finish();
        first = bench.board.ExchangeCount();
    }
    // The transfers since construction, and their message types.
    std::vector<sim::BusRecord> Requests() const {
        const std::vector<sim::BusRecord> records = bench.board.Records();
        return {records.begin() + first, records.end()};
    }
    std::vector<int> Types() const {
        std::vector<int> types;
        for (const sim::BusRecord& r : Requests()) types.push_back(r.request[0]);
        return types;
    }

    Bench bench;
    FakeClock& clock = bench.clock;
    CapturedOutput quiet;
    TxSpi link{sim::kSpidevPath};
    int first = 0;
};
