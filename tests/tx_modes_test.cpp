// Confirmed commands, the waits for the automatic set-up and for a mode
// change, and the recovery to the initial state, against the board model.
// Deadlines are walked through on fake clocks.
#include <algorithm>
#include <functional>
#include <string>

#include "frame_io.h"
#include "board_link.h"

namespace {

using sim::BoardConfig;

// Every sleep lasts a whole second: an 8-second wait on the ready line takes
// a handful of readings instead of 16000.
class LeapingClock final : public LinkClock {
public:
    timespec Now() override { return now; }
    void SleepUntil(const timespec& deadline) override {
        if (!TimeReached(now, deadline)) now = deadline;
    }
    void Sleep(int64_t) override { AddNanoseconds(now, 1000000000); }
    timespec now = LinkClock::System().Now();
};

const sim::BoardIdentity kLegacy{.softwareNumber = "994"};

TEST(TxModesTest, ConfirmedCommandsPlaceTheirPayloadsAndRetryFromTheBackup) {
    REQUIRE_MOCK_ENVIRONMENT();
    std::array<uint8_t, kTransmitterInfoSize> identity{};
    identity[0] = 0xEE;  // the link writes its own header
    identity[24] = 'T';  // product
    struct Case {
        uint8_t type;
        int ackFailures;  // 0, a count, or sim::kAlways
        std::function<int(TxSpi&)> send;
        int result, exchanges, length;
        std::vector<uint32_t> words;
    };
    const Case cases[] = {
        {M_INIT, 0, [](TxSpi& l) { return l.SendInit(); }, 0, 2, 8, {}},
        {M_STANDBY, 0, [](TxSpi& l) { return l.SendStandby(); }, 0, 2, 8, {}},
        {M_SETUP, 2, [](TxSpi& l) { return l.SendSetup(1, 2, 3); }, 0, 6, 20, {2, 1, 3}},
        {M_SET_LIMIT, sim::kAlways, [](TxSpi& l) { return l.SendSetLimit(1, 2, 3); }, MISSING_ACK,
         20, 20, {1, 2, 3}},
        {M_ON, 0, [](TxSpi& l) { return l.SendOn(true, 7); }, 0, 2, 16, {1, 7}},
        {M_ON, sim::kAlways, [](TxSpi& l) { return l.SendOn(false, 7); }, 0, 1, 16, {0, 7}},
        {M_SET_INFO, 0, [&](TxSpi& l) { return l.SendSetInfo(identity); }, 0, 2, 88, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(MessageName(c.type));
        BoardLink b({.failAckType = c.type, .failAckCount = c.ackFailures});
        CapturedOutput output;
        EXPECT_EQ(c.send(b.link), c.result);
        const std::vector<sim::BusRecord> sent = b.Requests();
        ASSERT_EQ(sent.size(), static_cast<size_t>(c.exchanges));
        // The command and its confirming M_NULL in turn, the payload the same every time.
        for (size_t i = 0; i < sent.size(); ++i) {
            EXPECT_EQ(sent[i].request[0], i % 2 ? int{M_NULL} : int{c.type}) << i;
            if (i % 2 == 1) continue;
            EXPECT_EQ(sent[i].request[3], c.length);
            for (size_t w = 0; w < c.words.size(); ++w) {
                EXPECT_EQ(ReadU32LE(sent[i].request, 8 + 4 * w).value_or(0), c.words[w]) << i;
            }
        }
        if (c.type == M_SET_INFO) {
            EXPECT_EQ(b.bench.board.State().identity.product, "T");
        }
        uint32_t low = 0, high = 0;  // the board keeps the limits it was sent
        if (c.type == M_SET_LIMIT) b.link.RequestLimit(1, 0, low, high);
        EXPECT_EQ(low + high, c.type == M_SET_LIMIT ? 5u : 0u);
    }
}

TEST(TxModesTest, WaitForAutoSetup) {
    REQUIRE_MOCK_ENVIRONMENT();
    {
        // Legacy timing: a set-up of six exchanges; the third query finds it done.
        BoardLink b({.identity = kLegacy, .modeChangeExchanges = 6}, /*identify=*/true);
        CapturedOutput output;
        b.link.AutoSetup(0);
        EXPECT_TRUE(b.link.WaitForAutoSetup());
        EXPECT_EQ(b.Types(), (std::vector<int>{18, 9, 5, 9, 5, 9, 5, 9}));
        EXPECT_EQ(std::ranges::count(b.clock.sleeps, 20000000), 4);
    }
    {
        // An inhibit bit ends the wait at the first query.
        BoardLink b({.identity = kLegacy, .readyWord = 0, .faultWord = 2}, true);
        CapturedOutput output;
        EXPECT_FALSE(b.link.WaitForAutoSetup());
        output.Finish();
        EXPECT_EQ(output.out, "*** WaitForAutoSetup: FATAL ERROR 0x00000002 \n");
        EXPECT_EQ(b.Types(), (std::vector<int>{5, 9}));
    }
    {
        // Never ready: a query every 20 ms (and its pauses) until 8 s have passed.
        BoardLink b({.identity = kLegacy, .readyWord = 0}, true);
        const timespec start = b.clock.now;
        CapturedOutput output;
        EXPECT_FALSE(b.link.WaitForAutoSetup());
        output.Finish();
        EXPECT_EQ(output.out, "*** WaitForAutoSetup: Timeout\n");
        EXPECT_GE(NanosecondsBetween(start, b.clock.now), 8000000000);
        const int64_t queries = std::ranges::count(b.Types(), int{M_REQ_READY});
        EXPECT_GE(queries, 8000 / 30);
        EXPECT_EQ(std::ranges::count(b.clock.sleeps, 20000000), queries + 1);
    }
    {
        // Fast timing: ready, busy, ready, ready; the query follows the fourth
        // reading, and each of its exchanges reads the line three times.
        BoardLink b({}, true);
        b.bench.gpio.ScriptLevels({0, 1, 0, 0});
        const int before = b.bench.gpio.GetPinCount();
        CapturedOutput output;
        EXPECT_TRUE(b.link.WaitForAutoSetup());
        EXPECT_EQ(b.bench.gpio.GetPinCount() - before, 4 + 3 + 3);
        EXPECT_EQ(b.clock.sleeps, std::vector<int64_t>(5, 500000));
        EXPECT_EQ(b.Types(), (std::vector<int>{5, 9}));
    }
    for (uint32_t readyWord : {1u, 0u}) {
        // Fast timing, the line never ready: after 8 s one more query decides.
        BoardLink b({.readyWord = readyWord}, true);
        LeapingClock clock;
        b.link.SetClock(clock);
        b.bench.gpio.NeverReady();
        CapturedOutput output;
        EXPECT_EQ(b.link.WaitForAutoSetup(), readyWord != 0);
        output.Finish();
        EXPECT_EQ(output.err.rfind("*** WaitForAutoSetup: Timeout  GetSpiRead\n", 0), 0u);
        const std::string waits = "*** WaitMinDelay(0) Timeout tx GetSpiRead\n"
                                  "*** WaitMinDelay(0) Timeout tx GetSpiRead\n";
        EXPECT_EQ(output.out, readyWord ? waits : waits + "*** WaitForAutoSetup: Timeout\n");
        EXPECT_EQ(b.Types(), (std::vector<int>{5, 9}));
    }
}

TEST(TxModesTest, WaitForModeChangeDone) {
    REQUIRE_MOCK_ENVIRONMENT();
    {
        // Already done: one query, no sleep.
        BoardLink b;
        CapturedOutput output;
        EXPECT_TRUE(b.link.WaitForModeChangeDone());
        EXPECT_EQ(b.Types(), (std::vector<int>{5, 9}));
        EXPECT_TRUE(b.clock.sleeps.empty());
    }
    {
        // A standby of four exchanges: two confirm it, two queries see the rest.
        BoardLink b({.faultWord = 0x04000001, .modeChangeExchanges = 4});
        CapturedOutput output;
        EXPECT_EQ(b.link.SendStandby(), 0);
        EXPECT_TRUE(b.link.WaitForModeChangeDone());
        EXPECT_EQ(b.Types(), (std::vector<int>{19, 9, 5, 9, 5, 9}));
        EXPECT_EQ(b.clock.sleeps, (std::vector<int64_t>{5000000}));
        EXPECT_EQ(b.link.FaultWord(), 0u);  // standby cleared the inhibit bits
    }
    {
        // A mode change that never ends.
        BoardLink b({.modeChangeExchanges = 1000000});
        LeapingClock clock;
        b.link.SetClock(clock);
        CapturedOutput output;
        b.link.SendInit();
        EXPECT_FALSE(b.link.WaitForModeChangeDone());
        output.Finish();
        EXPECT_EQ(output.err, "*** WaitForModeChangeDone() Timeout \n");
    }
    {
        // The real clock: a mode change of a few exchanges, polled every 5 ms.
        BoardLink b({.modeChangeExchanges = 4}, /*identify=*/true);
        b.link.SetClock(LinkClock::System());
        CapturedOutput output;
        b.link.SendStandby();
        const timespec start = LinkClock::System().Now();
        EXPECT_TRUE(b.link.WaitForModeChangeDone());
        const int64_t waited = NanosecondsBetween(start, LinkClock::System().Now());
        EXPECT_GE(waited, 5000000);
        EXPECT_LT(waited, 2000000000);
    }
}

TEST(TxModesTest, RecoverToInitGoesThroughStandbyOrRestarts) {
    REQUIRE_MOCK_ENVIRONMENT();
    using Types = std::vector<int>;
    auto join = [](std::initializer_list<Types> parts) {
        Types all;
        for (const Types& p : parts) all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    const Types read = {26, 13, 9}, ready = {5, 9}, init = {1, 9}, restart = {19, 17};
    Types failedReads;
    for (int i = 0; i < 10; ++i) failedReads.insert(failedReads.end(), {26, 13});
    struct Case {
        uint32_t faultWord;
        bool faultsUnanswered;
        int modeChangeExchanges;
        Types types;
        int restarts;
    };
    const Case cases[] = {
        {0, false, 0, join({read, ready, init}), 0},
        {0x04000000, false, 0, join({read, {19, 9}, ready, ready, init}), 0},
        {0, true, 0, join({failedReads, restart, ready, init}), 1},
        // Still in a mode change after the first restart.
        {0, true, 1000000, join({failedReads, restart, ready, restart, ready, init}), 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.faultWord << " " << c.restarts);
        std::set<uint8_t> unanswered;
        if (c.faultsUnanswered) unanswered = {M_REQ_FAULTS};
        BoardLink b({.faultWord = c.faultWord,
                     .modeChangeExchanges = c.modeChangeExchanges,
                     .nullReplyTo = unanswered});
        CapturedOutput output;
        EXPECT_TRUE(b.link.RecoverToInit());
        output.Finish();
        EXPECT_EQ(b.Types(), c.types);
        std::string restarts;
        for (int i = 0; i < c.restarts; ++i) restarts += "TxSpi::txrxRestart\n";
        EXPECT_EQ(output.out, restarts);
        EXPECT_EQ(std::ranges::count(b.clock.sleeps, 100000000), c.restarts);
    }
}

}  // namespace
