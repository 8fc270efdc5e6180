// Confirmed commands, the waits for the automatic set-up and for a mode
// change, and the recovery to the initial state, against the board model.
#include <functional>

#include "frame_io.h"
#include "board_link.h"

namespace {

using Types = std::vector<int>;

// Sends with `send` on a board that withholds `ackFailures` acknowledgements
// of `type` (a count or sim::kAlways); the command and its confirming M_NULL
// alternate, every command `length` bytes long with the same payload `words`.
// The result and the number of exchanges.
std::pair<int, size_t> SendChecked(uint8_t type, int ackFailures,
                                   const std::function<int(TxSpi&)>& send, int length,
                                   const std::vector<uint32_t>& words) {
    SCOPED_TRACE(MessageName(type));
    BoardLink b({.failAckType = type, .failAckCount = ackFailures});
    CapturedOutput output;
    const int result = send(b.link);
    const std::vector<sim::BusRecord> sent = b.Requests();
    for (size_t i = 0; i < sent.size(); ++i) {
        const bool confirmation = i % 2 == 1;
        EXPECT_EQ(sent[i].request[0], confirmation ? int{M_NULL} : int{type}) << i;
        EXPECT_EQ(sent[i].request[3], confirmation ? 8 : length) << i;
        for (size_t w = 0; !confirmation && w < words.size(); ++w) {
            EXPECT_EQ(ReadU32LE(sent[i].request, 8 + 4 * w).value_or(0), words[w]) << i;
        }
    }
    return {result, sent.size()};
}

TEST(TxModesTest, SetupSendsItsFirstTwoArgumentsSwappedAndRetriesUntilConfirmed) {
    const auto setup = [](TxSpi& l) { return l.SendSetup(1, 2, 3); };
    EXPECT_EQ(SendChecked(M_SETUP, 2, setup, 20, {2, 1, 3}), std::pair(0, size_t{6}));
}

TEST(TxModesTest, AnUnconfirmedLimitIsSentTenTimesWithTheSamePayload) {
    const auto limit = [](TxSpi& l) { return l.SendSetLimit(1, 2, 3); };
    EXPECT_EQ(SendChecked(M_SET_LIMIT, sim::kAlways, limit, 20, {1, 2, 3}),
              std::pair(int{MISSING_ACK}, size_t{20}));
}

TEST(TxModesTest, SwitchingOnSendsFlagOneAndTheValueAndIsConfirmed) {
    EXPECT_EQ(SendChecked(M_ON, 0, [](TxSpi& l) { return l.SendOn(true, 7); }, 16, {1, 7}),
              std::pair(0, size_t{2}));
}

TEST(TxModesTest, SwitchingOffSendsFlagZeroOnceWithoutConfirmation) {
    const auto off = [](TxSpi& l) { return l.SendOn(false, 7); };
    EXPECT_EQ(SendChecked(M_ON, sim::kAlways, off, 16, {0, 7}), std::pair(0, size_t{1}));
}

// What a WaitForAutoSetup did: result, output, requests, ready-line readings
// and the clock's relative sleeps.
struct AutoSetupWait {
    bool ready;
    std::string out, err;
    Types types;
    int readings;
    std::vector<int64_t> sleeps;
};

AutoSetupWait WaitForAutoSetup(BoardLink& b) {
    const int before = b.bench.gpio.GetPinCount();
    bool ready = false;
    const auto [out, err] = PrintedStreams([&] { ready = b.link.WaitForAutoSetup(); });
    return {ready, out, err, b.Types(), b.bench.gpio.GetPinCount() - before, b.clock.sleeps};
}

// A wait that polled every `period` and gave up after 8 s.
void ExpectGaveUpAfter8S(int64_t elapsed, const std::vector<int64_t>& sleeps, int64_t period) {
    EXPECT_GE(elapsed, 8000000000);
    EXPECT_LT(elapsed, 8500000000);
    ASSERT_GE(sleeps.size(), 2u);
    EXPECT_EQ(sleeps, std::vector<int64_t>(sleeps.size(), period));
}

const std::string kExchangeLineTimeout = "*** WaitMinDelay(0) Timeout tx GetSpiRead\n";

TEST(TxModesTest, AnInhibitBitEndsTheSetUpWaitAtTheFirstQuery) {
    BoardLink b({.identity = {.softwareNumber = "994"}, .readyWord = 0, .faultWord = 2},
                LinkStart::kIdentified);
    const AutoSetupWait wait = WaitForAutoSetup(b);
    EXPECT_EQ(std::tuple(wait.ready, wait.out, wait.err, wait.types),
              std::tuple(false, "*** WaitForAutoSetup: FATAL ERROR 0x00000002 \n", "",
                         Types{5, 9}));
}

TEST(TxModesTest, WithFastTimingTheQueryFollowsTwoReadyReadingsInARow) {
    BoardLink b({}, LinkStart::kIdentified);
    b.bench.gpio.ScriptLevels({0, 1, 0, 0});  // ready, busy, ready, ready
    const AutoSetupWait wait = WaitForAutoSetup(b);
    EXPECT_EQ(std::tuple(wait.ready, wait.types), std::tuple(true, Types{5, 9}));
    // Four readings, then three for each of the query's two exchanges.
    EXPECT_EQ(wait.readings, 4 + 3 + 3);
    EXPECT_EQ(wait.sleeps, std::vector<int64_t>(5, 500000));
}

TEST(TxModesTest, WithLegacyTimingTheSetUpWaitQueriesEvery20MsAndGivesUpAfter8S) {
    BoardLink b({.identity = {.softwareNumber = "994"}, .readyWord = 0}, LinkStart::kIdentified);
    const timespec start = b.clock.now;
    const AutoSetupWait wait = WaitForAutoSetup(b);
    EXPECT_EQ(std::tuple(wait.ready, wait.out),
              std::tuple(false, "*** WaitForAutoSetup: Timeout\n"));
    ExpectGaveUpAfter8S(NanosecondsBetween(start, b.clock.now), wait.sleeps, 20000000);
}

TEST(TxModesTest, ANeverReadyLineLeavesOneQueryToDecideAfter8S) {
    for (const uint32_t readyWord : {1u, 0u}) {
        SCOPED_TRACE(readyWord);
        BoardLink b({.readyWord = readyWord}, LinkStart::kIdentified);
        b.bench.gpio.NeverReady();
        b.clock.tick = 1000000000;
        const AutoSetupWait wait = WaitForAutoSetup(b);
        // The wait reports its own timeout first, then each exchange of the query its own.
        EXPECT_TRUE(wait.err.starts_with("*** WaitForAutoSetup: Timeout  GetSpiRead\n"));
        const std::string gaveUp = readyWord == 1 ? "" : "*** WaitForAutoSetup: Timeout\n";
        EXPECT_EQ(std::tuple(wait.ready, wait.out, wait.types),
                  std::tuple(readyWord == 1, kExchangeLineTimeout + kExchangeLineTimeout + gaveUp,
                             Types{5, 9}));
    }
}

TEST(TxModesTest, AModeChangeThatNeverEndsTimesOutAfter8SPollingEvery5Ms) {
    BoardLink b({.modeChangeExchanges = 1000000});
    PrintedStreams([&] { b.link.SendInit(); });
    const timespec start = b.clock.now;
    EXPECT_EQ(PrintedStreams([&] { EXPECT_FALSE(b.link.WaitForModeChangeDone()); }).second,
              "*** WaitForModeChangeDone() Timeout \n");
    ExpectGaveUpAfter8S(NanosecondsBetween(start, b.clock.now), b.clock.sleeps, 5000000);
}

// M_REQ_FAULTS answered by a bare acknowledgement ten times, then `more`.
Types AfterTenFailedReads(const Types& more) {
    Types types;
    for (int i = 0; i < 10; ++i) types.insert(types.end(), {26, 13});
    types.insert(types.end(), more.begin(), more.end());
    return types;
}

const Types kViaStandby = {26, 13, 9, 19, 9, 5, 9, 5, 9, 1, 9};

// RecoverToInit against a board: what it sends, and how often it restarts the
// link (each restart a pause of 100 ms and a line).
const struct RecoveryCase {
    const char* behaviour;
    sim::BoardConfig board;
    Types types;
    int restarts;
} kRecoveries[] = {
    {"ReadsFaultsAndModeThenInitialises", {.faultWord = 0}, {26, 13, 9, 5, 9, 1, 9}, 0},
    {"LeadsATransmitterWithItsEmergencyButtonActiveThroughStandby", {.faultWord = 0x04000000},
     kViaStandby, 0},
    {"LeadsAnInhibitedTransmitterThroughStandby", {.faultWord = 0x00000001}, kViaStandby, 0},
    {"LeadsATransmitterWithItsStopFunctionActiveThroughStandby", {.faultWord = 0x00000002},
     kViaStandby, 0},
    {"RestartsTheLinkAfterTenFailedReads", {.nullReplyTo = {M_REQ_FAULTS}},
     AfterTenFailedReads({19, 17, 5, 9, 1, 9}), 1},
    {"RestartsAgainWhenAModeChangeOutlastsTheFirstRestart",
     {.modeChangeExchanges = 1000000, .nullReplyTo = {M_REQ_FAULTS}},
     AfterTenFailedReads({19, 17, 5, 9, 19, 17, 5, 9, 1, 9}), 2},
};

void PrintTo(const RecoveryCase& row, std::ostream* os) { *os << row.behaviour; }

class Recovery : public testing::TestWithParam<RecoveryCase> {};

TEST_P(Recovery, SendsAndRestartsAsItsRowSays) {
    BoardLink b(GetParam().board);
    const std::string out = PrintedStreams([&] { EXPECT_TRUE(b.link.RecoverToInit()); }).first;
    const int restarts = static_cast<int>(std::ranges::count(b.clock.sleeps, 100000000));
    std::string lines;
    for (int i = 0; i < restarts; ++i) lines += "TxSpi::txrxRestart\n";
    EXPECT_EQ(out, lines);
    EXPECT_EQ(b.Types(), GetParam().types);
    EXPECT_EQ(restarts, GetParam().restarts);
}

INSTANTIATE_TEST_SUITE_P(Rows, Recovery, testing::ValuesIn(kRecoveries),
                         [](const auto& row) { return std::string(row.param.behaviour); });

}  // namespace
