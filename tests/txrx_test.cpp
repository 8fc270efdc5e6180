// The exchange engine against the board model: frames on the bus, checks,
// reports, error counting, pauses, the ready-line wait and the retrying
// queries.
#include "frame_io.h"
#include "board_link.h"

namespace {

const std::string kAssumeFresh = "---- Assume correct cid=0\n";

// Fresh, the M_SNAPSHOT due after M_REQ_SNAPSHOT, M_GET_INFO, then a restart
// (standby with no reply id, reset) and one more request.
class TxrxSequence : public testing::Test {
protected:
    void SetUp() override {
        const std::array<uint32_t, 3> steps[] = {{M_NULL, 8, 8}, {M_SETPOLARITY, 16, 8},
            {M_REQ_SNAPSHOT, 8, 8}, {M_NULL, 8, 8}, {M_REQ_INFO, 8, 8}, {M_NULL, 8, 88}};
        printed = PrintedStreams([&] {
            for (auto [type, txLength, rxLength] : steps) {
                if (type == M_SETPOLARITY) WriteU32LE(b.link.TxFrame(), 8, 0x04030201);
                EXPECT_EQ(b.link.txrx(type, txLength, rxLength), 0);
            }
            EXPECT_EQ(b.link.txrxRestart(), 0);
            b.link.txrx(M_NULL, 8, 8);
        });
    }
    BoardLink b{sim::BoardConfig{}, LinkStart::kFresh};
    OutErr printed;
};

TEST_F(TxrxSequence, FramesCarryIdsAcksAndChecksumsAndARestartAcknowledgesNothing) {
    EXPECT_EQ(b.bench.Requests(), (std::vector<Bytes>{
        Frame({.type = 9, .frameId = 1, .version = 5, .length = 8, .ackId = 0, .checksum = 23}),
        Frame({.type = 8, .frameId = 2, .version = 5, .length = 16, .ackId = 1, .checksum = 42},
              {1, 2, 3, 4, 0, 0, 0, 0}),
        Frame({.type = 30, .frameId = 3, .version = 5, .length = 8, .ackId = 2, .checksum = 48}),
        Frame({.type = 9, .frameId = 4, .version = 5, .length = 8, .ackId = 3, .checksum = 29}),
        Frame({.type = 22, .frameId = 5, .version = 5, .length = 8, .ackId = 4, .checksum = 44}),
        Frame({.type = 9, .frameId = 6, .version = 5, .length = 8, .ackId = 5, .checksum = 33}),
        Frame({.type = 19, .frameId = 7, .version = 5, .length = 8, .ackId = 0, .checksum = 39}),
        Frame({.type = 17, .frameId = 8, .version = 5, .length = 8, .ackId = 7, .checksum = 45}),
        Frame({.type = 9, .frameId = 9, .version = 5, .length = 8, .ackId = 0, .checksum = 31}),
    }));
}

TEST_F(TxrxSequence, TransfersAreAsLongAsTheRequestOrTheExpectedReply) {
    EXPECT_EQ(b.bench.TransferLengths(), (std::vector<uint32_t>{88, 16, 8, 200, 8, 88, 8, 8, 8}));
}

TEST_F(TxrxSequence, ARestartIsAnnouncedAndTheFreshRepliesAreAssumedCorrect) {
    EXPECT_EQ(printed,
              OutErr("TxSpi::txrxRestart\n", kAssumeFresh + "---- Assume correct cid=8\n"));
}

TEST_F(TxrxSequence, EachExchangeWaitsThePauseOfTheRequestBeforeItUnderLegacyTiming) {
    EXPECT_EQ(b.clock.pauses, (std::vector<int64_t>{4000000, 4000000, 200000000, 4000000,
                                                    60000000, 4000000, 10000000, 5000000000}));
}

TEST_F(TxrxSequence, RequestIdsSkipZeroWhenTheCounterWraps) {
    CapturedOutput more;
    std::vector<uint32_t> ids;
    for (int i = 10; i <= 257; ++i) {
        b.link.txrx(M_NULL, 8, 8);
        ids.push_back(b.link.Current().cid);
    }
    EXPECT_EQ(std::vector(ids.end() - 4, ids.end()), (std::vector<uint32_t>{254, 255, 1, 2}));
}

TEST(Txrx, ZeroOnlyBusPassesOnceThenFailsTypeAndId) {
    BoardLink b({.silentFromExchange = 1}, LinkStart::kFresh);
    PrintedStreams(
        [&] { EXPECT_EQ(b.link.txrx(M_REQ_INFO, 8, 8), 0); });  // fresh: expects anything
    const OutErr second = PrintedStreams(
        [&] { EXPECT_EQ(b.link.txrx(M_NULL, 8, 88), MISSING_ACK | MESSAGE_TYPE_ERROR); });
    // The report's format: the checksum test's.
    EXPECT_TRUE(second.second.starts_with(
        "**** Not valid message type\n**** Wrong receive size Expect 88 != 0\n"
        "**** Not expected return message type expect=23 got=0\n"
        "**** Cid error expect 1 cid=0 (0x01 != 0x00)\nTxSpi: Detected protocol version 0\n"
        "------TXSPI ERROR ----- request id:1  mt:M_REQ_INFO\n")) << second.second;
}

// Its counting for the caller: the fault matrix's "bad checksum on the request of a query".
TEST(Txrx, WrongChecksumIsReportedWithTheLastTwoExchangesAndNotAcknowledged) {
    BoardLink b({.badChecksumOnExchange = 4}, LinkStart::kFresh);
    PrintedStreams([&] {
        for (uint32_t type : {M_NULL, M_NULL, M_REQ_INFO}) EXPECT_EQ(b.link.txrx(type, 8, 8), 0);
    });
    const OutErr fourth =
        PrintedStreams([&] { EXPECT_EQ(b.link.txrx(M_NULL, 8, 88), CHECKSUM_BAD); });
    EXPECT_EQ(b.link.txrx(M_NULL, 8, 8), 0);
    EXPECT_EQ(fourth.first, "**** Assign unknown tx compleated id=0\n");
    // The identity frame (type 23, id 4, answering 3) with its checksum 0x0651 plus one.
    EXPECT_TRUE(fourth.second.starts_with(
        "**** Checksum error\n------TXSPI ERROR ----- request id:3  mt:M_REQ_INFO\n"
        "TXSPI:IN  <-- MyId=2 TxId=3 M_NULL 0     \nTXSPI:OUT --> MyId=3 TxId=2 M_REQ_INFO 0     \n"
        "TXSPI:IN  <-- MyId=3 TxId=4 M_GET_INFO 1 *Checksum bad*    \n"
        "          * RX:1704055803005206")) << fourth.second;
    EXPECT_TRUE(fourth.second.ends_with("\nTXSPI:OUT --> MyId=4 TxId=3 M_NULL 0     \n"));
    EXPECT_EQ(b.bench.Requests()[4],
              Frame({.type = 9, .frameId = 5, .version = 5, .length = 8, .checksum = 27}));
}

TEST(TxrxReplyChecks, AReplyLongerThanExpectedIsReported) {
    BoardLink b({.garbage = Bytes(200, 0xFF)}, LinkStart::kFresh);
    const std::string err = PrintedStreams([&] { b.link.txrx(M_REQ_INFO, 8, 88); }).second;
    EXPECT_NE(err.find("\n**** TOO large message received received=255 expected=88\n"), err.npos) << err;
}

// Eleven failed transfers, a good exchange, then one cut short: what each printed.
class TxrxReports : public testing::Test {
protected:
    void SetUp() override {
        for (int i = 1; i <= 13; ++i) {
            const int result = i == 12 ? 0 : IOCTL_ERROR;
            errs.push_back(
                PrintedStreams([&] { EXPECT_EQ(b.link.txrx(M_NULL, 8, 8), result); }).second);
        }
    }
    BoardLink b{{.failIoctlFromExchange = 1, .failIoctlCount = 11, .shortTransferOnExchange = 13},
                LinkStart::kFresh};
    std::vector<std::string> errs;
    const std::string checks = "*** TXSPI ioctl error ret=-1 length=88\n"
                               "**** Not valid message type\n"
                               "**** Wrong receive size Expect 88 != 0\n" + kAssumeFresh +
                               "TxSpi: Detected protocol version 0\n";
};

// The version is checked before the count.
TEST_F(TxrxReports, TheTenthFailureInARowIsStillReportedInFullTheEleventhOnlyByItsChecks) {
    EXPECT_TRUE(errs[9].starts_with(checks + "------TXSPI ERROR ----- request id:9  mt:M_NULL\n"));
    EXPECT_EQ(errs[10], checks);
}

TEST_F(TxrxReports, AfterAGoodExchangeAShortTransferIsReportedAgain) {
    EXPECT_TRUE(errs[12].starts_with("*** TXSPI ioctl error ret=7 length=8\n------TXSPI ERROR"));
}

// Its counting for the caller: the fault matrix's "ready line never comes after the identity".
TEST(TxrxReadyLine, ANeverReadyLineIsGivenUpEightSecondsAfterThePauseAndTheTransferGoes) {
    BoardLink b({}, LinkStart::kIdentified);
    b.link.txrx(M_NULL, 8, 8);
    b.bench.gpio.NeverReady();
    b.clock.tick = 100000000;  // a slow clock: fewer readings until the deadline
    const timespec start = b.clock.now;
    // The complaint about the busy line: tx_spi_test's.
    EXPECT_EQ(PrintedStreams([&] { b.link.txrx(M_NULL, 8, 8); }).first,
              "*** WaitMinDelay(0) Timeout tx GetSpiRead\n");
    EXPECT_GE(NanosecondsBetween(start, b.clock.last), 8000000000);
    EXPECT_EQ(std::pair(b.bench.board.ExchangeCount(), b.link.FailedExchanges()),
              std::pair(4, uint64_t{0}));
}

TEST(TxrxQueries, ReadyAndFaultsAreReadInOneTryEach) {
    for (auto [readyWord, faultWord] : {std::pair(1u, 0x01000020u), std::pair(0u, 0x4u)}) {
        BoardLink b({.readyWord = readyWord, .faultWord = faultWord}, LinkStart::kFresh);
        CapturedOutput output;
        EXPECT_EQ(b.link.RequestReady(), readyWord == 1);
        EXPECT_EQ(b.link.FaultWord(), faultWord);
        EXPECT_EQ(b.link.RequestFaults(), faultWord);
        EXPECT_EQ(b.bench.board.ExchangeCount(), 4);
    }
}

TEST(TxrxQueries, AQueryThatNeverGetsItsReplyTriesTenTimesAndSaysSo) {
    // Zeros fail only the reply exchanges, so the count stays low; failed transfers pass 10.
    const std::pair<sim::BoardConfig, std::string> failures[] = {
        {{.silentFromExchange = 1},
         "MyId=20 TxId=0 M_NULL 0     \n**** TXSPI: Communication retries fails\n"},
        {{.failIoctlFromExchange = 1}, "**** Wrong receive size Expect 88 != 0\n" + kAssumeFresh},
    };
    for (const auto& [config, tail] : failures) {
        BoardLink b(config, LinkStart::kFresh);
        const std::string err = PrintedStreams([&] { EXPECT_FALSE(b.link.RequestReady()); }).second;
        EXPECT_EQ(b.bench.board.ExchangeCount(), 20);
        EXPECT_TRUE(err.ends_with(tail)) << err;
    }
}

}  // namespace
