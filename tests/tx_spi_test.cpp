// TxSpi's set-up, raw transfers, trace lines, protocol version and pauses,
// against the emulated spidev node and ready line.
#include <gtest/gtest.h>
#include <linux/spi/spidev.h>

#include <array>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "test_support.h"
#include "tx_spi.h"

namespace {

const std::string kVersion5 = "TxSpi: Detected protocol version 5\n";

// The nodes a link may find; the models outlive the testbed that answers with them.
struct Bench {
    explicit Bench(sim::BoardConfig config = {}, bool spidev = true, bool gpioNode = true)
        : board(std::move(config)) {
        if (spidev) {
            EXPECT_TRUE(bed.AddSpidev(board)) << bed.LastError();
        }
        if (gpioNode) {
            EXPECT_TRUE(bed.AddGpioDevice(gpio)) << bed.LastError();
        }
    }
    // Constructs the link, keeping what it printed.
    std::unique_ptr<TxSpi> Open(CapturedOutput& output) {
        auto link = std::make_unique<TxSpi>(sim::kSpidevPath);
        output.Finish();
        return link;
    }

    sim::TxBoardModel board;
    sim::GpioDeviceModel gpio;
    sim::Testbed bed;
};

}  // namespace

TEST(TxSpiSetup, ConfiguresTheBusAndReportsWhatItFound) {
    REQUIRE_MOCK_ENVIRONMENT();
    const std::string noSpidev = "******* Error: TxSpi can't open device /dev/spidev0.1\n";
    const std::string noGpio = "gpio:*** Error: Can not open device /dev/fpga_config.0 ErrNo=2\n";
    const struct {
        uint32_t reportedSpeedHz;  // what the driver settles on, 0: as asked
        bool spidev, gpioNode;
        std::string err, out;
    } cases[] = {
        {0, true, true, kVersion5, "TXspi speed=800000\n"},
        {781250, true, true, kVersion5, "TXspi speed=781250\n"},
        {0, false, true, kVersion5 + noSpidev, ""},
        {0, false, false, kVersion5 + noSpidev, noGpio},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.out);
        sim::BoardConfig config;
        config.reportedSpeedHz = c.reportedSpeedHz;
        Bench bench(config, c.spidev, c.gpioNode);
        CapturedOutput output;
        auto link = bench.Open(output);
        EXPECT_EQ(output.err, c.err);
        EXPECT_EQ(output.out, c.out);
        EXPECT_EQ(link->HasDevice(), c.spidev);
        EXPECT_EQ(link->Gpio().HasDevice(), c.gpioNode);
        EXPECT_EQ(activeProtocol, &ProtocolV5);
        if (c.spidev && c.reportedSpeedHz == 0) {
            EXPECT_EQ(bench.board.Mode(), SPI_MODE_1);
            EXPECT_EQ(bench.board.BitsPerWord(), 8);
            EXPECT_EQ(bench.board.MaxSpeedHz(), 800000u);
        }
    }
}

TEST(TxSpiTransfer, LengthsFailuresAndReadyLine) {
    REQUIRE_MOCK_ENVIRONMENT();
    std::array<uint8_t, 512> rx{};
    {
        Bench bench;
        CapturedOutput opened;
        auto link = bench.Open(opened);
        auto tx = link->TxFrame();
        for (size_t i = 0; i < tx.size(); ++i) tx[i] = static_cast<uint8_t>(i);

        CapturedOutput output;
        EXPECT_EQ(link->SpiTransfer(200, tx.data(), rx.data()), 0);
        // Longer than the board takes: 200 bytes move, and that is an error.
        EXPECT_EQ(link->SpiTransfer(201, tx.data(), rx.data()), IOCTL_ERROR);
        output.Finish();
        EXPECT_EQ(output.out, "*** error too large message transfer. 201 > 200\n");
        EXPECT_EQ(output.err, "*** TXSPI ioctl error ret=200 length=201\n");
        const auto records = bench.board.Records();
        ASSERT_EQ(records.size(), 2u);
        EXPECT_EQ(records[0].transferLength, 200u);
        EXPECT_EQ(records[0].request, std::vector<uint8_t>(tx.begin(), tx.begin() + 200));
        EXPECT_EQ(records[1].transferLength, 200u);
        // The board answered the fresh link with its first acknowledgement.
        EXPECT_EQ(rx[0], M_NULL);

        // Busy ready line: complained about, the transfer still goes.
        bench.gpio.SetLevel(1);
        CapturedOutput busy;
        EXPECT_EQ(link->SpiTransfer(8, tx.data(), rx.data()), 0);
        busy.Finish();
        EXPECT_EQ(busy.err, "*** TXSPI try to communicate with spi not ready\n");
        EXPECT_EQ(bench.board.ExchangeCount(), 3);
    }
    // No node (nothing moves), and a node whose transfers fail.
    const std::pair<bool, std::string> failures[] = {
        {false, "*** TXSPI ioctl error ret=0 length=8\n"},
        {true, "*** TXSPI ioctl error ret=-1 length=8\n"},
    };
    for (const auto& [spidev, message] : failures) {
        sim::BoardConfig failing;
        failing.failIoctlFromExchange = 1;
        Bench bench(failing, spidev, true);
        CapturedOutput opened;
        auto link = bench.Open(opened);
        CapturedOutput output;
        EXPECT_EQ(link->SpiTransfer(8, link->TxFrame().data(), rx.data()), IOCTL_ERROR);
        output.Finish();
        EXPECT_EQ(output.err, message);
    }
}

TEST(TxSpiTrace, HistoryLines) {
    REQUIRE_MOCK_ENVIRONMENT();
    Bench bench;
    CapturedOutput opened;
    auto link = bench.Open(opened);
    const struct {
        TraceRecord record;
        std::string line;
    } cases[] = {
        {{0, M_NULL, 3, 7, 0}, "TXSPI:IN  <-- MyId=3 TxId=7 M_NULL 0     \n"},
        {{0, M_NULL, 3, 7, CHECKSUM_BAD | MESSAGE_TYPE_ERROR},
         "TXSPI:IN  <-- MyId=3 TxId=7 M_NULL 17 *Checksum bad*    *Message type error\n"},
        {{1, M_REQ_INFO, 12, 0, MISSING_ACK | IOCTL_ERROR | PROTOCOL_VERSION_ERROR},
         "TXSPI:OUT --> MyId=12 TxId=0 M_REQ_INFO 14  *Missing ack* *ioctl error* "
         "*protocol version error* \n"},
        {{1, 300, 1, 2, 0}, "TXSPI:OUT --> MyId=1 TxId=2 *** Unknown message *** 0     \n"},
    };
    for (const auto& c : cases) {
        CapturedOutput output;
        link->PrintTrace(c.record);
        output.Finish();
        EXPECT_EQ(output.err, c.line);
    }
}

TEST(TxSpiProtocol, VersionSwitchPausesAndHook) {
    REQUIRE_MOCK_ENVIRONMENT();
    Bench bench;
    CapturedOutput opened;
    auto link = bench.Open(opened);

    const struct {
        int version;
        const ProtocolDescriptor* selected;
        std::string message;
    } versions[] = {
        {4, &ProtocolV4, "TxSpi: Detected protocol version 4\n"},
        {4, &ProtocolV4, ""},
        {0, &ProtocolV5, "TxSpi: Detected protocol version 0\n"},
        {5, &ProtocolV5, ""},
    };
    for (const auto& v : versions) {
        CapturedOutput output;
        EXPECT_TRUE(link->CheckProtocolVersion(v.version));
        output.Finish();
        EXPECT_EQ(output.err, v.message) << v.version;
        EXPECT_EQ(activeProtocol, v.selected) << v.version;
    }
    EXPECT_EQ(link->CallProtocolHook(0x12345678, 0, __FILE__, __LINE__), 0x12345678u);

    // A link that keeps failing stops talking about versions after ten errors.
    for (int i = 0; i < 10; ++i) link->CountError();
    const struct {
        int version;
        const ProtocolDescriptor* selected;
        std::string message;
    } failing[] = {{4, &ProtocolV4, "TxSpi: Detected protocol version 4\n"}, {5, &ProtocolV5, ""}};
    for (const auto& v : failing) {
        CapturedOutput output;
        link->CheckProtocolVersion(v.version);
        output.Finish();
        EXPECT_EQ(output.err, v.message) << link->ErrorCount();
        EXPECT_EQ(activeProtocol, v.selected);
        link->CountError();
    }
    EXPECT_EQ(link->CallProtocolHook(99, 1, __FILE__, __LINE__), 99u);

    // The pauses of a link that has not identified the board.
    ASSERT_FALSE(link->FastTiming());
    const std::pair<uint32_t, int64_t> legacy[] = {
        {M_BOOT_LOAD_MODE, 4000000}, {M_INIT, 175000000}, {M_RESET, 5000000000},
        {41, 4000000},               {M_SET_INFO, 500000000},
    };
    for (auto [type, ns] : legacy) EXPECT_EQ(link->MinDelayNs(type), ns) << type;
}

TEST(TxSpiProtocol, IdentifiedBoardGetsFastTiming) {
    REQUIRE_MOCK_ENVIRONMENT();
    Bench bench;  // its identity carries software number 1020
    CapturedOutput output;
    auto link = std::make_unique<TxSpi>(sim::kSpidevPath);
    FakeClock clock;
    link->SetClock(clock);
    std::array<uint8_t, kTransmitterInfoSize> info{};
    EXPECT_EQ(link->GetInfo(info), 1020);
    output.Finish();
    ASSERT_TRUE(link->FastTiming());
    EXPECT_EQ(link->Info().softwareNumberText(), "1020");

    const std::pair<uint32_t, int64_t> fast[] = {
        {M_AUTO_SETUP, 1000000}, {M_REQ_SNAPSHOT, 40000000}, {M_NULL, 200000},
        {41, 200000},            {M_RESET, 5000000000},
    };
    for (auto [type, ns] : fast) EXPECT_EQ(link->MinDelayNs(type), ns) << type;
}
