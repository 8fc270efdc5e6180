// TxSpi's set-up, raw transfers and trace lines, protocol version, pauses and
// simple commands, against the emulated spidev node and ready line.
#include <fcntl.h>

#include <map>

#include "recording_driver.h"
#include "board_link.h"

namespace {

using TxSpiSetup = KeepsProtocolVersion;

TEST_F(TxSpiSetup, ModeOneEightBitsAndTheSpeedTheDriverSettlesOn) {
    activeProtocol = &ProtocolV5;  // an earlier link's: a new link detects it afresh
    BoardLink b({.reportedSpeedHz = 781250}, LinkStart::kFresh);
    const Bench& bench = b.bench;
    EXPECT_EQ(std::tuple(bench.out, bench.err, bench.board.Mode(), bench.board.BitsPerWord()),
              std::tuple("TXspi speed=781250\n", "TxSpi: Detected protocol version 5\n", 1, 8));
}

// Both nodes are opened close-on-exec, so that children do not inherit them,
// through the driver the link is given, which also answers the set-up.
TEST_F(TxSpiSetup, TheNodeIsOpenedCloseOnExecThroughTheGivenDriver) {
    RecordingDriver spi;
    PrintedStreams([&] { TxSpi link("/dev/spidev0.1", spi); });
    using Open = std::pair<std::string, int>;
    EXPECT_EQ(spi.opens, (std::vector<Open>{{"/dev/fpga_config.0", O_RDWR | O_CLOEXEC},
                                            {"/dev/spidev0.1", O_RDWR | O_CLOEXEC}}));
    EXPECT_EQ(spi.codes, (std::vector<unsigned long>{SPI_IOC_WR_MODE, SPI_IOC_RD_MODE,
                                                     SPI_IOC_WR_BITS_PER_WORD, SPI_IOC_RD_BITS_PER_WORD,
                                                     SPI_IOC_WR_MAX_SPEED_HZ, SPI_IOC_RD_MAX_SPEED_HZ}));
    EXPECT_EQ(spi.closed, (std::vector<int>{5, 5}));
}

TEST_F(TxSpiSetup, AMissingNodeIsNamedAndNotSetUp) {
    RecordingDriver spi;
    spi.missing = {"/dev/spidev0.1"};
    EXPECT_TRUE(PrintedStreams([&] { TxSpi link("/dev/spidev0.1", spi); }).second.ends_with(
                    "******* Error: TxSpi can't open device /dev/spidev0.1\n"));
    EXPECT_TRUE(spi.codes.empty());
}

// Four raw transfers, the fourth failing (reported as txrx_test's failures
// are) and the third with a busy ready line; what each printed.
class TxSpiTransfer : public testing::Test {
protected:
    void SetUp() override {
        for (size_t i = 0; i < tx.size(); ++i) tx[i] = static_cast<uint8_t>(i);
        b.bench.gpio.ScriptLevels({0, 0, 1});
        for (auto [length, result] :
             {std::pair(size_t{200}, 0), {201, IOCTL_ERROR}, {8, 0}, {8, IOCTL_ERROR}}) {
            printed.push_back(PrintedStreams([&] {
                EXPECT_EQ(b.link.SpiTransfer(length, tx.data(), rx.data()), result) << length;
            }));
        }
    }
    BoardLink b{{.failIoctlFromExchange = 4}, LinkStart::kFresh};
    std::span<uint8_t> tx = b.link.TxFrame();
    std::array<uint8_t, 512> rx{};
    std::vector<OutErr> printed;
};

TEST_F(TxSpiTransfer, TheRequestGoesOutAsGivenAndTheReplyArrivesInTheBuffer) {
    EXPECT_EQ(printed[0], OutErr());
    EXPECT_EQ(b.bench.board.Records()[0].request, Bytes(tx.begin(), tx.begin() + 200));
    EXPECT_EQ(Bytes(rx.begin(), rx.begin() + 8), b.bench.board.Records()[2].reply);
}

TEST_F(TxSpiTransfer, OneLongerThanTheBoardTakesMoves200BytesAndIsAnError) {
    EXPECT_EQ(printed[1], OutErr("*** error too large message transfer. 201 > 200\n",
                                 "*** TXSPI ioctl error ret=200 length=201\n"));
    EXPECT_EQ(b.bench.TransferLengths(), (std::vector<uint32_t>{200, 200, 8, 8}));
}

TEST_F(TxSpiTransfer, ABusyReadyLineIsComplainedAboutAndTheTransferStillGoes) {
    EXPECT_EQ(printed[2], OutErr("", "*** TXSPI try to communicate with spi not ready\n"));
}


TEST(TxSpiTrace, ALineNamesTheTypeByItsLowByteTheIdsAndTheErrorFlags) {
    BoardLink b({}, LinkStart::kFresh);
    const OutErr printed = PrintedStreams([&] {
        b.link.PrintTrace({1, M_REQ_INFO, 12, 0, 14});
        b.link.PrintTrace({1, 300, 1, 2, 0});
        b.link.PrintTrace({1, 265, 1, 2, 0});  // low byte 9
    });
    EXPECT_EQ(printed.second,
              "TXSPI:OUT --> MyId=12 TxId=0 M_REQ_INFO 14  *Missing ack* *ioctl error* "
                          "*protocol version error* \n"
                          "TXSPI:OUT --> MyId=1 TxId=2 *** Unknown message *** 0     \n"
                          "TXSPI:OUT --> MyId=1 TxId=2 M_NULL 0     \n");
}

TEST(TxSpiProtocol, EveryTypePausesAsItsTimingColumnSays) {
    // In microseconds; every other type pauses for the floor: 4000 legacy, 200 fast.
    const std::map<uint32_t, int64_t> legacy = {{1, 175000}, {7, 60000}, {15, 20000},
        {17, 5000000}, {18, 50000}, {19, 10000}, {22, 60000}, {25, 500000}, {26, 10000},
        {28, 50000}, {29, 10000}, {30, 200000}, {31, 100000}};
    const std::map<uint32_t, int64_t> fast = {{17, 5000000}, {18, 1000}, {19, 1000}, {25, 500000},
                                              {30, 40000}};
    BoardLink b({}, LinkStart::kFresh);  // its board's software number, 1020, selects fast timing
    std::array<uint8_t, kTransmitterInfoSize> info{};
    for (const auto* table : {&legacy, &fast}) {
        const int64_t floor = table == &legacy ? 4000 : 200;
        for (uint32_t type : {0u, 41u, 255u}) EXPECT_EQ(b.link.MinDelayNs(type), floor * 1000);
        for (uint32_t type = 0; type < 41; ++type) {
            const int64_t us = table->contains(type) ? table->at(type) : floor;
            EXPECT_EQ(b.link.MinDelayNs(type), us * 1000) << MessageCatalogue[type].name;
        }
        PrintedStreams([&] { b.link.GetInfo(info); });
    }
}

using TxSpiProtocolVersion = KeepsProtocolVersion;

TEST_F(TxSpiProtocolVersion, AnnouncedVersionsAreAdoptedAndAnUnknownOneSelects5) {
    BoardLink b({}, LinkStart::kFresh);
    // 4 is announced once; an unknown version selects 5; past ten errors nothing is announced.
    const struct { int errors, version; const ProtocolDescriptor* p; bool announced; } steps[] = {
        {0, 4, &ProtocolV4, true},  {0, 4, &ProtocolV4, false}, {0, 0, &ProtocolV5, true},
        {0, 5, &ProtocolV5, false}, {10, 4, &ProtocolV4, true}, {11, 5, &ProtocolV5, false}};
    for (const auto& s : steps) {
        while (b.link.ErrorCount() < s.errors) b.link.CountError();
        const std::string err =
            PrintedStreams([&] { EXPECT_TRUE(b.link.CheckProtocolVersion(s.version)); }).second;
        const std::string line = "TxSpi: Detected protocol version " + std::to_string(s.version);
        EXPECT_EQ(std::pair(err, activeProtocol), std::pair(s.announced ? line + "\n" : "", s.p))
            << s.version << " after " << s.errors;
    }
}

// Ready and fault queries, an automatic set-up, the three polarities, a
// channel value and a limit, one after the other. The frame header is
// txrx_test's; here each request's type and payload.
using Sent = std::vector<std::pair<int, Bytes>>;

class TxCommands : public testing::Test {
protected:
    void SetUp() override {
        CapturedOutput output;
        ASSERT_TRUE(b.link.RequestReady());  // keeps the fault word
        EXPECT_EQ(b.link.AutoSetup(0x55), 0);
        for (int polarity : {1, 2, 0}) EXPECT_EQ(b.link.SetPolarity(polarity, 7), 0) << polarity;
        EXPECT_EQ(b.link.RequestValue(7, words[0], words[1]), 0);
        EXPECT_EQ(b.link.RequestLimit(3, 0x10000, words[2], words[3]), 0);
        ASSERT_EQ(b.bench.Requests().size(), 11u);
    }
    // The requests from `from` to `to`.
    Sent Requests(size_t from, size_t to) const {
        Sent sent;
        for (const Bytes& r : b.bench.Requests()) {
            sent.emplace_back(r[0], Bytes(r.begin() + 8, r.end()));
        }
        return {sent.begin() + from, sent.begin() + to};
    }
    BoardLink b{{.faultWord = 0x20, .channels = {{7, {3.14159274f, 0x12345}}},
                 .limits = {{3, {1000, 0xFFFFFFF6}}}}, LinkStart::kFresh};
    uint32_t words[4] = {};
};

TEST_F(TxCommands, AutoSetupSendsItsWordAndClearsTheKeptFaultWord) {
    EXPECT_EQ(Requests(2, 4), (Sent{{18, {0x55, 0, 0, 0}}, {9, {}}}));
    EXPECT_EQ(b.link.FaultWord(), 0u);
}

TEST_F(TxCommands, ThePolarityFlagIsZeroForPolarityOneOnly) {
    EXPECT_EQ(Requests(4, 7), (Sent{{8, {0, 0, 0, 0, 7, 0, 0, 0}}, {8, {1, 0, 0, 0, 7, 0, 0, 0}},
                                    {8, {1, 0, 0, 0, 7, 0, 0, 0}}}));
}

// A value comes as raw and float bits, a limit as two words.
TEST_F(TxCommands, AChannelValueAndALimitAreAskedByNumberAndReadAsTwoWords) {
    EXPECT_EQ(Requests(7, 11),
              (Sent{{28, {7, 0, 0, 0}}, {9, {}}, {15, {3, 0, 0, 0, 0, 0, 1, 0}}, {9, {}}}));
    EXPECT_EQ(std::vector(words, words + 4),
              (std::vector<uint32_t>{0x00012345, 0x40490FDB, 1000, 0xFFFFFFF6}));
}

TEST(TxInfo, AutoSetupTriesFourTimesWhenEveryTransferFails) {
    BoardLink b({.failIoctlFromExchange = 1}, LinkStart::kFresh);
    const std::string err =
        PrintedStreams([&] { EXPECT_EQ(b.link.AutoSetup(0x55), IOCTL_ERROR); }).second;
    EXPECT_TRUE(err.ends_with("TXSPI:OUT --> MyId=8 TxId=0 M_NULL 0     \n"));
    EXPECT_EQ(b.bench.board.ExchangeCount(), 8);
}

}  // namespace
