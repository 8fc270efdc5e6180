// Confirmed commands, the waits for the automatic set-up and for a mode
// change, and the recovery to the initial state, against the board model.
#include <functional>

#include "frame_io.h"
#include "board_link.h"

namespace {

TEST(TxModesTest, ConfirmedCommandsPlaceTheirPayloadsAndRetryFromTheBackup) {
    std::array<uint8_t, kTransmitterInfoSize> identity{};
    identity[0] = 0xEE;  // the link writes its own header
    identity[24] = 'T';  // product
    // Type, acknowledgements the board withholds (a count or always), the
    // command, its result, exchanges, request length and payload words.
    const struct { uint8_t type; int ackFailures; std::function<int(TxSpi&)> send;
                   int result, exchanges, length; std::vector<uint32_t> words; } cases[] = {
        {M_SETUP, 2, [](TxSpi& l) { return l.SendSetup(1, 2, 3); }, 0, 6, 20, {2, 1, 3}},
        {M_SET_LIMIT, sim::kAlways, [](TxSpi& l) { return l.SendSetLimit(1, 2, 3); }, MISSING_ACK,
         20, 20, {1, 2, 3}},
        {M_ON, 0, [](TxSpi& l) { return l.SendOn(true, 7); }, 0, 2, 16, {1, 7}},
        {M_ON, sim::kAlways, [](TxSpi& l) { return l.SendOn(false, 7); }, 0, 1, 16, {0, 7}},
        {M_SET_INFO, 0, [&](TxSpi& l) { return l.SendSetInfo(identity); }, 0, 2, 88,
         {0, 0, 0, 0, 'T'}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(MessageName(c.type));
        BoardLink b({.failAckType = c.type, .failAckCount = c.ackFailures});
        CapturedOutput output;
        EXPECT_EQ(c.send(b.link), c.result);
        const std::vector<sim::BusRecord> sent = b.Requests();
        ASSERT_EQ(sent.size(), static_cast<size_t>(c.exchanges));
        // The command and its confirming M_NULL in turn, the payload the same every time.
        for (size_t i = 0; i < sent.size(); ++i) {
            EXPECT_EQ(sent[i].request[0], i % 2 ? int{M_NULL} : int{c.type}) << i;
            EXPECT_EQ(sent[i].request[3], i % 2 ? 8 : c.length) << i;
            for (size_t w = 0; i % 2 == 0 && w < c.words.size(); ++w)
                EXPECT_EQ(ReadU32LE(sent[i].request, 8 + 4 * w).value_or(0), c.words[w]) << i;
        }
    }
}

TEST(TxModesTest, WaitForAutoSetup) {
    const std::string wait = "*** WaitMinDelay(0) Timeout tx GetSpiRead\n", waits = wait + wait;
    // Board, ready line levels (none: never ready), result, line readings (0: not
    // counted), stdout. Each case takes one query.
    const struct { sim::BoardConfig board; Bytes levels; bool ready; int readings;
                   std::string out; } cases[] = {
        // Legacy timing: an inhibit bit ends the wait at the first query.
        {{.identity = {.softwareNumber = "994"}, .readyWord = 0, .faultWord = 2}, {0}, false, 0,
         "*** WaitForAutoSetup: FATAL ERROR 0x00000002 \n"},
        // Fast timing: ready, busy, ready, ready; the query follows the fourth
        // reading, and each of its exchanges reads the line three times.
        {{}, {0, 1, 0, 0}, true, 4 + 3 + 3, ""},
        // The line never ready: after 8 s one more query decides.
        {{.readyWord = 1}, {}, true, 0, waits},
        {{.readyWord = 0}, {}, false, 0, waits + "*** WaitForAutoSetup: Timeout\n"},
    };
    for (const auto& c : cases) {
        BoardLink b(c.board, true);
        if (c.levels.empty()) b.bench.gpio.NeverReady(), b.clock.tick = 1000000000;
        else b.bench.gpio.ScriptLevels(c.levels);
        const int before = b.bench.gpio.GetPinCount();
        CapturedOutput output;
        EXPECT_EQ(b.link.WaitForAutoSetup(), c.ready);
        output.Finish();
        EXPECT_EQ(output.out, c.out);
        // The wait reports its own timeout first; one query each.
        EXPECT_EQ(std::pair(output.err.starts_with("*** WaitForAutoSetup: Timeout  GetSpiRead\n"),
                            b.Types()), std::pair(c.levels.empty(), std::vector<int>{5, 9}));
        if (c.readings == 0) continue;
        EXPECT_EQ(b.bench.gpio.GetPinCount() - before, c.readings);
        EXPECT_EQ(b.clock.sleeps, std::vector<int64_t>(5, 500000));
    }
}

TEST(TxModesTest, WaitForModeChangeDone) {
    {
        // A standby of four exchanges: two confirm it, two queries see the rest.
        BoardLink b({.faultWord = 0x04000001, .modeChangeExchanges = 4});
        CapturedOutput output;
        EXPECT_EQ(b.link.SendStandby(), 0);
        EXPECT_TRUE(b.link.WaitForModeChangeDone());
        EXPECT_EQ(b.Types(), (std::vector<int>{19, 9, 5, 9, 5, 9}));
        EXPECT_EQ(b.clock.sleeps, (std::vector<int64_t>{5000000}));
    }
    // A mode change that never ends.
    BoardLink b({.modeChangeExchanges = 1000000});
    b.clock.tick = 1000000000;
    CapturedOutput output;
    b.link.SendInit();
    EXPECT_FALSE(b.link.WaitForModeChangeDone());
    output.Finish();
    EXPECT_EQ(output.err, "*** WaitForModeChangeDone() Timeout \n");
}

TEST(TxModesTest, RecoverToInitGoesThroughStandbyOrRestarts) {
    using Types = std::vector<int>;
    Types failedReads;  // M_REQ_FAULTS answered by a bare acknowledgement ten times
    for (int i = 0; i < 10; ++i) failedReads.insert(failedReads.end(), {26, 13});
    // Fault word, M_REQ_FAULTS unanswered, mode-change exchanges, requests after the
    // failed reads (if any), restarts.
    const struct { uint32_t faultWord; std::set<uint8_t> unanswered; int modeChange; Types types;
                   int restarts; } cases[] = {
        {0, {}, 0, {26, 13, 9, 5, 9, 1, 9}, 0},
        {0x04000000, {}, 0, {26, 13, 9, 19, 9, 5, 9, 5, 9, 1, 9}, 0},
        {0, {M_REQ_FAULTS}, 0, {19, 17, 5, 9, 1, 9}, 1},
        // Still in a mode change after the first restart.
        {0, {M_REQ_FAULTS}, 1000000, {19, 17, 5, 9, 19, 17, 5, 9, 1, 9}, 2},
    };
    for (const auto& c : cases) {
        BoardLink b({.faultWord = c.faultWord, .modeChangeExchanges = c.modeChange,
                     .nullReplyTo = c.unanswered});
        CapturedOutput output;
        EXPECT_TRUE(b.link.RecoverToInit());
        output.Finish();
        Types expected = c.unanswered.empty() ? Types{} : failedReads;
        expected.insert(expected.end(), c.types.begin(), c.types.end());
        EXPECT_EQ(b.Types(), expected);
        std::string restarts;
        for (int i = 0; i < c.restarts; ++i) restarts += "TxSpi::txrxRestart\n";
        EXPECT_EQ(output.out, restarts);
        EXPECT_EQ(std::ranges::count(b.clock.sleeps, 100000000), c.restarts);
    }
}

}  // namespace
