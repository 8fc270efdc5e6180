// The exchange engine against the board model: frames on the bus, checks,
// reports, error counting, pauses and the ready-line wait.
#include <signal.h>
#include <sys/time.h>

#include <array>
#include <string>

#include "frame_io.h"
#include "test_support.h"
#include "tx_spi.h"

namespace {

using sim::BoardConfig;
using sim::BusRecord;

std::string Hex(const std::vector<uint8_t>& bytes, size_t count) {
    std::string text;
    char byte[3];
    for (size_t i = 0; i < count && i < bytes.size(); ++i) {
        snprintf(byte, sizeof byte, "%02x", bytes[i]);
        text += byte;
    }
    return text;
}

std::string Trace(int direction, int type, int myId, int txId, int flags) {
    static const char* const texts[5] = {"*Checksum bad*", "*Missing ack*", "*ioctl error*",
                                         "*protocol version error*", "*Message type error"};
    std::string line = std::string("TXSPI:") + (direction ? "OUT -->" : "IN  <--") +
                       " MyId=" + std::to_string(myId) + " TxId=" + std::to_string(txId) + " " +
                       MessageName(type) + " " + std::to_string(flags);
    for (int bit = 0; bit < 5; ++bit) line += std::string(" ") + ((flags >> bit) & 1 ? texts[bit] : "");
    return line + "\n";
}

bool ChecksumValid(const std::vector<uint8_t>& frame) {
    if (frame.size() < 8) return false;
    return frameChecksum(frame, frame[3]) == ReadU16LE(frame, 6).value();
}

void RaiseFastTiming(TxSpi& link) {
    std::array<uint8_t, kTransmitterInfoSize> info{};
    link.GetInfo(info);
    ASSERT_TRUE(link.FastTiming());
}

TEST(TxrxTest, RequestsCarryHeaderIdsAckChecksumAndTheRightTransferLength) {
    REQUIRE_MOCK_ENVIRONMENT();
    Bench bench;
    CapturedOutput output;
    TxSpi link(sim::kSpidevPath);
    struct Step {
        uint32_t type, txLength, rxLength, transfer;
    };
    const Step steps[] = {
        {M_NULL, 8, 8, 88},          // fresh link: anything, 88 bytes
        {M_SETPOLARITY, 16, 8, 16},  // the request is longer than the M_NULL due
        {M_REQ_SNAPSHOT, 8, 8, 8},
        {M_NULL, 8, 8, 200},  // the M_SNAPSHOT due
        {M_REQ_READY, 8, 8, 8},
        {M_NULL, 8, 8, 16},  // the M_READY due
        {M_REQ_INFO, 8, 8, 8},
        {M_NULL, 8, 88, 88},
    };
    for (const Step& step : steps) {
        // The payload is the caller's.
        if (step.type == M_SETPOLARITY) WriteU32LE(link.TxFrame(), 8, 0xA1B2C3D4);
        EXPECT_EQ(link.txrx(step.type, step.txLength, step.rxLength), 0);
    }
    output.Finish();

    std::vector<BusRecord> records = bench.board.Records();
    ASSERT_EQ(records.size(), std::size(steps));
    for (size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE(i);
        const std::vector<uint8_t>& request = records[i].request;
        EXPECT_EQ(request[0], steps[i].type);
        EXPECT_EQ(request[1], i + 1);
        EXPECT_EQ(request[2], 5);
        EXPECT_EQ(request[3], steps[i].txLength);
        // ackId: the board's frame id of the reply received just before.
        EXPECT_EQ(request[4], i == 0 ? 0 : records[i - 1].reply[1]);
        EXPECT_TRUE(ChecksumValid(request));
        EXPECT_EQ(records[i].transferLength, steps[i].transfer);
        // Bytes past the request's length are zero.
        for (size_t b = steps[i].txLength; b < request.size(); ++b) ASSERT_EQ(request[b], 0) << b;
    }
    EXPECT_EQ(ReadU32LE(records[1].request, 8).value(), 0xA1B2C3D4u);
    // The transmit buffer is cleared after every exchange.
    EXPECT_EQ(ReadU32LE(link.TxFrame(), 8).value(), 0u);
    EXPECT_EQ(link.RxFrame()[0], M_GET_INFO);
    EXPECT_EQ(output.err, "TxSpi: Detected protocol version 5\n---- Assume correct cid=0\n");
}

TEST(TxrxTest, RequestIdsSkipZeroWhenTheCounterWraps) {
    REQUIRE_MOCK_ENVIRONMENT();
    Bench bench(BoardConfig{}, /*withSpidev=*/false);
    CapturedOutput output;
    TxSpi link(sim::kSpidevPath);
    std::vector<int> ids;
    for (int i = 0; i < 257; ++i) {
        link.txrx(M_NULL, 8, 8);
        ids.push_back(static_cast<int>(link.Current().cid));
    }
    output.Finish();
    EXPECT_EQ(ids[0], 1);
    EXPECT_EQ(ids[254], 255);
    EXPECT_EQ(ids[255], 1);
    EXPECT_EQ(ids[256], 2);
    for (int id : ids) ASSERT_NE(id, 0);
}

TEST(TxrxTest, ZeroOnlyBusPassesOnceThenFailsTypeAndId) {
    REQUIRE_MOCK_ENVIRONMENT();
    BoardConfig config;
    config.silentFromExchange = 1;
    Bench bench(config);
    CapturedOutput construct;
    TxSpi link(sim::kSpidevPath);
    construct.Finish();

    CapturedOutput first;
    EXPECT_EQ(link.txrx(M_REQ_INFO, 8, 8), 0);
    first.Finish();
    EXPECT_EQ(first.err,
              "**** Not valid message type\n"
              "**** Wrong receive size Expect 88 != 0\n"
              "---- Assume correct cid=0\n"
              "TxSpi: Detected protocol version 0\n");

    CapturedOutput second;
    EXPECT_EQ(link.txrx(M_NULL, 8, 88), MISSING_ACK | MESSAGE_TYPE_ERROR);
    second.Finish();
    const std::string zeros(2 * 88, '0');
    EXPECT_EQ(second.err,
              "**** Not valid message type\n"
              "**** Wrong receive size Expect 88 != 0\n"
              "**** Not expected return message type expect=23 got=0\n"
              "**** Cid error expect 1 cid=0 (0x01 != 0x00)\n"
              "TxSpi: Detected protocol version 0\n"
              "------TXSPI ERROR ----- request id:1  mt:M_REQ_INFO\n" +
                  Trace(0, 0, 0, 0, 0) + Trace(1, M_REQ_INFO, 1, 0, 0) + Trace(0, 0, 0, 0, 18) +
                  "          * RX:" + zeros + "\n" + Trace(1, M_NULL, 2, 0, 0));
    EXPECT_EQ(link.ErrorCount(), 1);
    EXPECT_TRUE(link.History().empty());
    // After a failure the link expects anything again.
    EXPECT_EQ(link.Current().expectedReplyType, 0u);
    EXPECT_EQ(link.Current().expectedReplyLength, 88u);
    EXPECT_EQ(link.Current().expectedCid, 0);
}

TEST(TxrxTest, WrongChecksumIsReportedAndTheNextRequestAcksNothing) {
    REQUIRE_MOCK_ENVIRONMENT();
    BoardConfig config;
    config.badChecksumOnExchange = 2;
    Bench bench(config);
    CapturedOutput construct;
    TxSpi link(sim::kSpidevPath);
    EXPECT_EQ(link.txrx(M_REQ_INFO, 8, 8), 0);
    construct.Finish();

    CapturedOutput output;
    EXPECT_EQ(link.txrx(M_NULL, 8, 88), CHECKSUM_BAD);
    output.Finish();
    EXPECT_EQ(link.txrx(M_NULL, 8, 8), 0);

    std::vector<BusRecord> records = bench.board.Records();
    ASSERT_EQ(records.size(), 3u);
    const std::vector<uint8_t>& bad = records[1].reply;
    EXPECT_EQ(output.out, "**** Assign unknown tx compleated id=0\n");
    EXPECT_EQ(output.err, "**** Checksum error\n"
                          "------TXSPI ERROR ----- request id:1  mt:M_REQ_INFO\n" +
                              Trace(0, M_NULL, 0, records[0].reply[1], 0) +
                              Trace(1, M_REQ_INFO, 1, 0, 0) +
                              Trace(0, M_GET_INFO, 1, bad[1], CHECKSUM_BAD) + "          * RX:" +
                              Hex(bad, 88) + "\n" + Trace(1, M_NULL, 2, records[0].reply[1], 0));
    // The reply with the bad checksum is not acknowledged.
    EXPECT_EQ(records[2].request[4], 0);
}

TEST(TxrxTest, ReportsAreMutedAfterTenFailuresInARowAndResumeAfterAGoodExchange) {
    REQUIRE_MOCK_ENVIRONMENT();
    BoardConfig config;
    config.failIoctlFromExchange = 1;
    config.failIoctlCount = 11;
    config.shortTransferOnExchange = 13;
    Bench bench(config);
    CapturedOutput construct;
    TxSpi link(sim::kSpidevPath);
    construct.Finish();

    for (int i = 1; i <= 10; ++i) {
        CapturedOutput output;
        EXPECT_EQ(link.txrx(M_NULL, 8, 8), IOCTL_ERROR);
        output.Finish();
        EXPECT_NE(output.err.find("------TXSPI ERROR -----"), std::string::npos) << i;
        EXPECT_NE(output.err.find("* RX:"), std::string::npos) << i;
    }
    CapturedOutput eleventh;
    EXPECT_EQ(link.txrx(M_NULL, 8, 8), IOCTL_ERROR);
    eleventh.Finish();
    EXPECT_EQ(link.ErrorCount(), 11);
    // Only the per-check messages are left; the version line is still
    // printed because it is tested before the count is raised.
    EXPECT_EQ(eleventh.err,
              "*** TXSPI ioctl error ret=-1 length=88\n"
              "**** Not valid message type\n"
              "**** Wrong receive size Expect 88 != 0\n"
              "---- Assume correct cid=0\n"
              "TxSpi: Detected protocol version 0\n");
    EXPECT_TRUE(link.History().empty());

    CapturedOutput recovery;
    EXPECT_EQ(link.txrx(M_NULL, 8, 8), 0);
    EXPECT_EQ(link.ErrorCount(), 0);
    // The next failure (a transfer cut short) is reported in full again.
    EXPECT_EQ(link.txrx(M_NULL, 8, 8), IOCTL_ERROR);
    recovery.Finish();
    EXPECT_NE(recovery.err.find("------TXSPI ERROR ----- request id:12  mt:M_NULL\n"),
              std::string::npos)
        << recovery.err;
    EXPECT_NE(recovery.err.find("* RX:"), std::string::npos);
}

TEST(TxrxTest, ResetStartsAfreshWhetherItFailsOrNot) {
    REQUIRE_MOCK_ENVIRONMENT();
    {
        Bench bench(BoardConfig{}, /*withSpidev=*/false);
        FakeClock clock;
        CapturedOutput output;
        TxSpi link(sim::kSpidevPath);
        link.SetClock(clock);
        link.txrx(M_NULL, 8, 8);
        EXPECT_EQ(link.Reset(), IOCTL_ERROR);
        EXPECT_EQ(link.ErrorCount(), 0);
        EXPECT_TRUE(link.History().empty());
        EXPECT_EQ(link.Current().expectedReplyType, M_NULL);
        EXPECT_EQ(link.Current().expectedReplyLength, 8u);
        EXPECT_EQ(link.Current().expectedCid, 0);
        EXPECT_EQ(link.TxCompletedId(), 0u);
        // The exchange after a reset waits five seconds.
        const timespec resetDone = clock.now;
        link.txrx(M_NULL, 8, 8);
        output.Finish();
        ASSERT_FALSE(clock.untilCalls.empty());
        EXPECT_GE(NanosecondsBetween(resetDone, clock.untilCalls.back()), 5000000000 - 100000);
        EXPECT_LE(NanosecondsBetween(resetDone, clock.untilCalls.back()), 5000000000);
    }
    {
        Bench bench;
        FakeClock clock;
        CapturedOutput output;
        TxSpi link(sim::kSpidevPath);
        link.SetClock(clock);
        EXPECT_EQ(link.txrx(M_NULL, 8, 8), 0);
        EXPECT_EQ(link.txrxRestart(), 0);
        EXPECT_EQ(link.txrx(M_NULL, 8, 8), 0);
        output.Finish();
        EXPECT_EQ(output.out, "TXspi speed=800000\nTxSpi::txrxRestart\n");
        EXPECT_NE(clock.sleeps.end(), std::find(clock.sleeps.begin(), clock.sleeps.end(), 100000000));
        std::vector<BusRecord> records = bench.board.Records();
        ASSERT_EQ(records.size(), 4u);
        EXPECT_EQ(records[1].request[0], M_STANDBY);
        EXPECT_EQ(records[1].request[4], 0);  // the restart forgets the last reply
        EXPECT_EQ(records[2].request[0], M_RESET);
        EXPECT_EQ(records[3].transferLength, 8u);
        // The reset's acknowledgement is taken without a cid check.
        EXPECT_NE(output.err.find("---- Assume correct cid=" + std::to_string(records[2].request[1])),
                  std::string::npos);
    }
}

TEST(TxrxTest, PausesAreNeverShorterThanTheCatalogueSays) {
    REQUIRE_MOCK_ENVIRONMENT();
    BoardConfig config;
    config.identity.softwareNumber = "994";  // legacy timing: pauses of 4 ms and more
    Bench bench(config);
    CapturedOutput output;
    TxSpi link(sim::kSpidevPath);
    std::array<uint8_t, kTransmitterInfoSize> info{};
    link.GetInfo(info);
    link.SetBootLoadMode();
    link.txrx(M_INIT, 8, 8);
    link.txrx(M_NULL, 8, 8);
    output.Finish();
    ASSERT_FALSE(link.FastTiming());
    std::vector<BusRecord> records = bench.board.Records();
    ASSERT_EQ(records.size(), 5u);
    for (size_t i = 1; i < records.size(); ++i) {
        const int64_t pause = link.MinDelayNs(records[i - 1].request[0]);
        EXPECT_GE(NanosecondsBetween(records[i - 1].time, records[i].time), pause) << i;
    }
}

TEST(TxrxTest, FastTimingWaitsForTwoReadyReadingsOrEightSeconds) {
    REQUIRE_MOCK_ENVIRONMENT();
    Bench bench;
    CapturedOutput output;
    TxSpi link(sim::kSpidevPath);
    RaiseFastTiming(link);
    FakeClock clock;
    link.SetClock(clock);

    // Ready at once: two readings and one poll period, then the transfer's own reading.
    int before = bench.gpio.GetPinCount();
    link.txrx(M_NULL, 8, 8);
    EXPECT_EQ(bench.gpio.GetPinCount() - before, 3);
    EXPECT_EQ(clock.sleeps, (std::vector<int64_t>{500000}));

    // A ready reading must be followed by another: ready, busy, ready, ready.
    clock.sleeps.clear();
    bench.gpio.ScriptLevels({0, 1, 0, 0});
    before = bench.gpio.GetPinCount();
    link.txrx(M_NULL, 8, 8);
    EXPECT_EQ(bench.gpio.GetPinCount() - before, 5);
    EXPECT_EQ(clock.sleeps.size(), 3u);

    // Before M_ON the poll period is 100 us.
    clock.sleeps.clear();
    link.txrx(M_ON, 8, 8);
    EXPECT_EQ(clock.sleeps, (std::vector<int64_t>{100000}));
    output.Finish();
    EXPECT_EQ(output.out.find("Timeout"), std::string::npos);

    // Never ready: the link gives up after eight seconds and transfers anyway.
    bench.gpio.SetLevel(1);
    clock.sleeps.clear();
    CapturedOutput waiting;
    link.txrx(M_NULL, 8, 8);
    waiting.Finish();
    EXPECT_EQ(waiting.out, "*** WaitMinDelay(0) Timeout tx GetSpiRead\n");
    EXPECT_NE(waiting.err.find("*** TXSPI try to communicate with spi not ready\n"), std::string::npos);
    // The wait starts where the pending pause ends.
    const int64_t waited = NanosecondsBetween(clock.untilCalls.back(), clock.now);
    EXPECT_GE(waited, 8000000000);
    EXPECT_LT(waited, 8000000000 + 2000000);
    for (int64_t sleep : clock.sleeps) ASSERT_EQ(sleep, 500000);
    EXPECT_EQ(bench.board.Records().back().request[0], M_NULL);
}

TEST(TxrxTest, QueriesRetryAndReportWhenTheyGiveUp) {
    REQUIRE_MOCK_ENVIRONMENT();
    {
        BoardConfig config;
        config.faultWord = 0x01000020;
        Bench bench(config);
        CapturedOutput output;
        TxSpi link(sim::kSpidevPath);
        EXPECT_TRUE(link.RequestReady());
        EXPECT_EQ(link.FaultWord(), 0x01000020u);
        EXPECT_EQ(link.RequestFaults(), 0x01000020u);
        output.Finish();
        EXPECT_EQ(bench.board.Records().size(), 4u);  // one try each
    }
    {
        // A board that answers with zeros: every reply exchange fails, every
        // request exchange passes, so the count never passes 10 and the
        // give-up message is printed.
        BoardConfig config;
        config.silentFromExchange = 1;
        Bench bench(config);
        CapturedOutput output;
        TxSpi link(sim::kSpidevPath);
        EXPECT_FALSE(link.RequestReady());
        EXPECT_EQ(link.RequestFaults(), 0u);
        output.Finish();
        EXPECT_EQ(bench.board.Records().size(), 40u);
        size_t first = output.err.find("**** TXSPI: Communication retries fails\n");
        ASSERT_NE(first, std::string::npos);
        EXPECT_NE(output.err.find("**** TXSPI: Communication retries fails\n", first + 1),
                  std::string::npos);
    }
    {
        // Every exchange fails: past ten failures in a row the message is muted.
        Bench bench(BoardConfig{}, /*withSpidev=*/false);
        CapturedOutput output;
        TxSpi link(sim::kSpidevPath);
        EXPECT_FALSE(link.RequestReady());
        output.Finish();
        EXPECT_EQ(link.ErrorCount(), 20);
        EXPECT_EQ(output.err.find("retries fails"), std::string::npos);
    }
}

TEST(LinkClockTest, TimeArithmeticCarriesIntoSeconds) {
    timespec time{0, 600000000};
    AddNanoseconds(time, 1500000000);
    EXPECT_EQ(time.tv_sec, 2);
    EXPECT_EQ(time.tv_nsec, 100000000);
    AddMilliseconds(time, 1.5);
    EXPECT_EQ(time.tv_nsec, 101500000);
    AddMilliseconds(time, 999.0);
    EXPECT_EQ(time.tv_sec, 3);
    EXPECT_EQ(time.tv_nsec, 100500000);
    // A negative remainder is left as it is.
    timespec back{5, 100};
    AddNanoseconds(back, -200);
    EXPECT_EQ(back.tv_sec, 5);
    EXPECT_EQ(back.tv_nsec, -100);
}

void IgnoreAlarm(int) {}

TEST(LinkClockTest, APauseInterruptedByASignalLastsToItsDeadline) {
    struct sigaction action {};
    action.sa_handler = IgnoreAlarm;  // no SA_RESTART: the sleep sees EINTR
    struct sigaction old {};
    ASSERT_EQ(sigaction(SIGALRM, &action, &old), 0);
    itimerval timer{};
    timer.it_value.tv_usec = 5000;
    ASSERT_EQ(setitimer(ITIMER_REAL, &timer, nullptr), 0);

    LinkClock& clock = LinkClock::System();
    const timespec start = clock.Now();
    timespec deadline = start;
    AddNanoseconds(deadline, 50000000);
    clock.SleepUntil(deadline);
    const timespec end = clock.Now();
    sigaction(SIGALRM, &old, nullptr);
    EXPECT_TRUE(TimeReached(end, deadline));
}

}  // namespace
