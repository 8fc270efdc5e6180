// The one way the tests open a link on the emulated board.
#pragma once

#include "test_support.h"

// How far the link has gone when the test gets it: only constructed, past a
// first exchange, or past the identity (which picks the board's timing: fast
// for the default software number 1020).
enum class LinkStart { kFresh, kPolled, kIdentified };

// The link of `bench`, on its FakeClock, which skips every pause; what the
// first exchange printed is not kept.
struct BoardLink {
    explicit BoardLink(sim::BoardConfig config = {}, LinkStart start = LinkStart::kPolled)
        : bench(std::move(config)), link(bench.Link()) {
        CapturedOutput opening;
        if (start == LinkStart::kPolled) link.PollReply();
        if (start == LinkStart::kIdentified) {
            std::array<uint8_t, kTransmitterInfoSize> info{};
            link.GetInfo(info);
        }
        opening.Finish();
        first = bench.board.ExchangeCount();
    }
    // The transfers since the start, and their message types.
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
    TxSpi& link;
    int first = 0;
};
