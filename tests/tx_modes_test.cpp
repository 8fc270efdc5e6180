// Confirmed commands, the waits for the automatic set-up and for a mode
// change, and the recovery to the initial state, against the board model.
// Deadlines are walked through on fake clocks.
#include <algorithm>
#include <functional>
#include <string>

#include "frame_io.h"
#include "link_bench.h"

namespace {

using sim::BoardConfig;
using sim::BusRecord;

// A clock on which every sleep lasts a whole second: an 8-second wait on the
// ready line takes a handful of readings instead of 16000.
class LeapingClock final : public LinkClock {
public:
    timespec Now() override { return now; }
    void SleepUntil(const timespec& deadline) override {
        if (!TimeReached(now, deadline)) now = deadline;
    }
    void Sleep(int64_t) override { AddNanoseconds(now, 1000000000); }
    timespec now = LinkClock::System().Now();
};

BoardConfig Legacy(BoardConfig config = {}) {
    config.identity.softwareNumber = "994";
    return config;
}

int64_t Count(const std::vector<int64_t>& sleeps, int64_t length) {
    return std::count(sleeps.begin(), sleeps.end(), length);
}

std::vector<uint32_t> Words(const BusRecord& record, size_t count) {
    std::vector<uint32_t> words;
    for (size_t i = 0; i < count; ++i) words.push_back(ReadU32LE(record.request, 8 + 4 * i).value());
    return words;
}

TEST(TxModesTest, ConfirmedCommandsPlaceTheirPayloadsAndRetryFromTheBackup) {
    REQUIRE_MOCK_ENVIRONMENT();
    std::array<uint8_t, kTransmitterInfoSize> identity{};
    const char texts[] = "SN-1\0\0\0\0\0\0\0\0\0\0\0\0T-9\0\0\0\0\0\0\0\0\0\0\0\0\0B";
    std::copy(texts, texts + sizeof texts - 1, identity.begin() + 8);
    identity[0] = 0xEE;  // the link writes its own header

    struct Case {
        const char* name;
        uint8_t type;
        int ackFailures;  // 0, a count, or sim::kAlways
        std::function<int(TxSpi&)> send;
        int result;
        int exchanges;
        uint8_t length;
        std::vector<uint32_t> words;
    };
    const Case cases[] = {
        {"init", M_INIT, 0, [](TxSpi& l) { return l.SendInit(); }, 0, 2, 8, {}},
        {"standby", M_STANDBY, 0, [](TxSpi& l) { return l.SendStandby(); }, 0, 2, 8, {}},
        {"setup after two failed acks", M_SETUP, 2,
         [](TxSpi& l) { return l.SendSetup(1, 2, 3); }, 0, 6, 20, {2, 1, 3}},
        {"limit never acknowledged", M_SET_LIMIT, sim::kAlways,
         [](TxSpi& l) { return l.SendSetLimit(1, 2, 3); }, MISSING_ACK, 20, 20, {1, 2, 3}},
        {"on", M_ON, 0, [](TxSpi& l) { return l.SendOn(true, 7); }, 0, 2, 16, {1, 7}},
        {"off is never confirmed", M_ON, sim::kAlways, [](TxSpi& l) { return l.SendOn(false, 7); },
         0, 1, 16, {0, 7}},
        {"identity", M_SET_INFO, 0, [&](TxSpi& l) { return l.SendSetInfo(identity); }, 0, 2, 88, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BoardConfig config;
        config.failAckType = c.type;
        config.failAckCount = c.ackFailures;
        LinkBench b(config);
        CapturedOutput output;
        EXPECT_EQ(c.send(b.link), c.result);
        output.Finish();

        const std::vector<BusRecord> requests = b.Requests();
        ASSERT_EQ(requests.size(), static_cast<size_t>(c.exchanges));
        for (size_t i = 0; i < requests.size(); ++i) {
            SCOPED_TRACE(i);
            // The command and its confirming M_NULL, in turn.
            if (i % 2 == 1) {
                EXPECT_EQ(requests[i].request[0], M_NULL);
                continue;
            }
            EXPECT_EQ(requests[i].request[0], c.type);
            EXPECT_EQ(requests[i].request[3], c.length);
            EXPECT_EQ(Words(requests[i], c.words.size()), c.words);
        }
        if (c.type == M_SET_INFO) {
            const std::vector<uint8_t>& sent = requests[0].request;
            EXPECT_TRUE(std::equal(identity.begin() + 8, identity.end(), sent.begin() + 8));
            EXPECT_EQ(sent[1], b.link.Previous().cid);
            EXPECT_EQ(b.bench.board.State().identity.product, "T-9");
        }
    }
}

TEST(TxModesTest, WaitForAutoSetupWithLegacyTiming) {
    REQUIRE_MOCK_ENVIRONMENT();
    {
        // The set-up takes six exchanges; the board is ready in the third query.
        BoardConfig config = Legacy();
        config.modeChangeExchanges = 6;
        LinkBench b(config, /*identify=*/true);
        CapturedOutput output;
        EXPECT_EQ(b.link.AutoSetup(0), 0);
        EXPECT_TRUE(b.link.WaitForAutoSetup());
        output.Finish();
        EXPECT_EQ(b.Types(), (std::vector<int>{18, 9, 5, 9, 5, 9, 5, 9}));
        EXPECT_EQ(b.link.FaultWord(), 0x01000000u);
        EXPECT_EQ(Count(b.clock.sleeps, 20000000), 4);
        EXPECT_EQ(output.out, "");
    }
    {
        // An inhibit bit ends the wait at the first query.
        BoardConfig config = Legacy();
        config.readyWord = 0;
        config.faultWord = 0x00000002;
        LinkBench b(config, true);
        CapturedOutput output;
        EXPECT_FALSE(b.link.WaitForAutoSetup());
        output.Finish();
        EXPECT_EQ(output.out, "*** WaitForAutoSetup: FATAL ERROR 0x00000002 \n");
        EXPECT_EQ(b.Types(), (std::vector<int>{5, 9}));
    }
    {
        // Never ready: a query about every 20 ms for 8 s.
        BoardConfig config = Legacy();
        config.readyWord = 0;
        LinkBench b(config, true);
        const timespec start = b.clock.now;
        CapturedOutput output;
        EXPECT_FALSE(b.link.WaitForAutoSetup());
        output.Finish();
        EXPECT_EQ(output.out, "*** WaitForAutoSetup: Timeout\n");
        const int64_t waited = NanosecondsBetween(start, b.clock.now);
        EXPECT_GE(waited, 8000000000);
        EXPECT_LT(waited, 8000000000 + 40000000);
        const std::vector<int> types = b.Types();
        const int64_t queries = std::count(types.begin(), types.end(), M_REQ_READY);
        // 20 ms between queries plus the pauses of the query itself.
        EXPECT_GE(queries, 8000 / 30);
        EXPECT_LE(queries, 8000 / 20 + 1);
        EXPECT_EQ(Count(b.clock.sleeps, 20000000), queries + 1);
    }
}

TEST(TxModesTest, WaitForAutoSetupWithFastTimingWatchesTheReadyLine) {
    REQUIRE_MOCK_ENVIRONMENT();
    {
        // Ready, busy, ready, ready: the query follows the fourth reading.
        LinkBench b({}, /*identify=*/true);
        ASSERT_TRUE(b.link.FastTiming());
        b.bench.gpio.ScriptLevels({0, 1, 0, 0});
        const int before = b.bench.gpio.GetPinCount();
        CapturedOutput output;
        EXPECT_TRUE(b.link.WaitForAutoSetup());
        output.Finish();
        // 4 readings, then per exchange two for the wait and one at the transfer.
        EXPECT_EQ(b.bench.gpio.GetPinCount() - before, 4 + 3 + 3);
        EXPECT_EQ(b.clock.sleeps, (std::vector<int64_t>{500000, 500000, 500000, 500000, 500000}));
        EXPECT_EQ(b.Types(), (std::vector<int>{5, 9}));
    }
    for (uint32_t readyWord : {1u, 0u}) {
        // The ready line never comes: one more query after 8 s decides.
        SCOPED_TRACE(readyWord);
        BoardConfig config;
        config.readyWord = readyWord;
        LinkBench b(config, true);
        LeapingClock clock;
        b.link.SetClock(clock);
        b.bench.gpio.NeverReady();
        const timespec start = clock.now;
        CapturedOutput output;
        EXPECT_EQ(b.link.WaitForAutoSetup(), readyWord != 0);
        output.Finish();
        EXPECT_EQ(output.err.rfind("*** WaitForAutoSetup: Timeout  GetSpiRead\n", 0), 0u) << output.err;
        const std::string exchanges = "*** WaitMinDelay(0) Timeout tx GetSpiRead\n"
                                      "*** WaitMinDelay(0) Timeout tx GetSpiRead\n";
        EXPECT_EQ(output.out, readyWord ? exchanges : exchanges + "*** WaitForAutoSetup: Timeout\n");
        EXPECT_EQ(b.Types(), (std::vector<int>{5, 9}));
        EXPECT_GE(NanosecondsBetween(start, clock.now), 8000000000);
    }
}

TEST(TxModesTest, WaitForModeChangeDone) {
    REQUIRE_MOCK_ENVIRONMENT();
    {
        // Already done: one query, no sleep.
        LinkBench b;
        CapturedOutput output;
        EXPECT_TRUE(b.link.WaitForModeChangeDone());
        output.Finish();
        EXPECT_EQ(b.Types(), (std::vector<int>{5, 9}));
        EXPECT_EQ(Count(b.clock.sleeps, 5000000), 0);
    }
    {
        // Standby takes four exchanges: two confirm it, two queries see the rest.
        BoardConfig config;
        config.modeChangeExchanges = 4;
        config.faultWord = 0x04000001;
        LinkBench b(config);
        CapturedOutput output;
        EXPECT_EQ(b.link.SendStandby(), 0);
        EXPECT_TRUE(b.link.WaitForModeChangeDone());
        output.Finish();
        EXPECT_EQ(b.Types(), (std::vector<int>{19, 9, 5, 9, 5, 9}));
        EXPECT_EQ(Count(b.clock.sleeps, 5000000), 1);
        EXPECT_EQ(b.link.FaultWord(), 0u);  // standby cleared the inhibit bits
    }
    {
        // A mode change that never ends.
        BoardConfig config;
        config.modeChangeExchanges = 1000000;
        LinkBench b(config);
        LeapingClock clock;
        b.link.SetClock(clock);
        CapturedOutput output;
        b.link.SendInit();
        EXPECT_FALSE(b.link.WaitForModeChangeDone());
        output.Finish();
        EXPECT_EQ(output.err, "*** WaitForModeChangeDone() Timeout \n");
        EXPECT_EQ(b.link.FaultWord(), 0x10000000u);
    }
}

TEST(TxModesTest, RecoverToInitGoesThroughStandbyOrRestarts) {
    REQUIRE_MOCK_ENVIRONMENT();
    const std::vector<int> read = {M_REQ_FAULTS, M_REQ_MODE, M_NULL};
    const std::vector<int> ready = {M_REQ_READY, M_NULL};
    const std::vector<int> init = {M_INIT, M_NULL};
    const std::vector<int> restart = {M_STANDBY, M_RESET};
    auto join = [](std::initializer_list<std::vector<int>> parts) {
        std::vector<int> all;
        for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    std::vector<int> failedReads;
    for (int i = 0; i < 10; ++i) failedReads.insert(failedReads.end(), {M_REQ_FAULTS, M_REQ_MODE});

    struct Case {
        const char* name;
        uint32_t faultWord;
        bool faultsUnanswered;
        int modeChangeExchanges;
        std::vector<int> types;
        int restarts;
    };
    const Case cases[] = {
        {"healthy", 0, false, 0, join({read, ready, init}), 0},
        {"emergency button", 0x04000000, false, 0,
         join({read, {M_STANDBY, M_NULL}, ready, ready, init}), 0},
        {"no fault word", 0, true, 0, join({failedReads, restart, ready, init}), 1},
        {"no fault word, then stuck in a mode change", 0, true, 1000000,
         join({failedReads, restart, ready, restart, ready, init}), 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BoardConfig config;
        config.faultWord = c.faultWord;
        config.modeChangeExchanges = c.modeChangeExchanges;
        if (c.faultsUnanswered) config.nullReplyTo = {M_REQ_FAULTS};
        LinkBench b(config);
        CapturedOutput output;
        EXPECT_TRUE(b.link.RecoverToInit());
        output.Finish();
        EXPECT_EQ(b.Types(), c.types);
        std::string restarts;
        for (int i = 0; i < c.restarts; ++i) restarts += "TxSpi::txrxRestart\n";
        EXPECT_EQ(output.out, restarts);
        // Each restart pauses 100 ms between standby and reset.
        EXPECT_EQ(Count(b.clock.sleeps, 100000000), c.restarts);
    }
}

// The real clock: a mode change of a few exchanges, polled every 5 ms.
TEST(TxModesTest, ModeChangeWaitOnTheRealClock) {
    REQUIRE_MOCK_ENVIRONMENT();
    BoardConfig config;
    config.modeChangeExchanges = 4;
    Bench bench(config);
    CapturedOutput output;
    TxSpi link(sim::kSpidevPath);
    std::array<uint8_t, kTransmitterInfoSize> info{};
    link.GetInfo(info);
    ASSERT_TRUE(link.FastTiming());
    link.SendStandby();
    const timespec start = LinkClock::System().Now();
    EXPECT_TRUE(link.WaitForModeChangeDone());
    const timespec end = LinkClock::System().Now();
    output.Finish();
    EXPECT_GE(NanosecondsBetween(start, end), 5000000);
    EXPECT_LT(NanosecondsBetween(start, end), 2000000000);
}

}  // namespace
