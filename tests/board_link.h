// A link on the emulated board, past its first exchange, for the tests of the
// link's typed operations.
#pragma once

#include <vector>

#include "test_support.h"
#include "tx_spi.h"

// Construction and the first exchange (which prints the link's start-up
// lines and its cid note) happen out of sight; the clock skips every pause.
// With `identify` the link reads the identity first and so picks the board's
// timing (fast for the default software number 1020).
struct BoardLink {
    explicit BoardLink(sim::BoardConfig config = {}, bool identify = false)
        : bench(std::move(config)) {
        link.SetClock(clock);
        if (identify) {
            std::array<uint8_t, kTransmitterInfoSize> info{};
            link.GetInfo(info);
        } else {
            link.PollReply();
        }
        quiet.Finish();
        first = bench.board.ExchangeCount();
    }

    // Message types of the requests sent since construction's exchanges.
    std::vector<int> Types() const {
        std::vector<int> types;
        for (const sim::BusRecord& r : Requests()) types.push_back(r.request[0]);
        return types;
    }
    // The transfers since construction's exchanges.
    std::vector<sim::BusRecord> Requests() const {
        std::vector<sim::BusRecord> records = bench.board.Records();
        records.erase(records.begin(), records.begin() + first);
        return records;
    }

    Bench bench;
    FakeClock clock;
    CapturedOutput quiet;
    TxSpi link{sim::kSpidevPath};
    int first = 0;
};
