// TxSpi's set-up, raw transfers, trace lines, protocol version and pauses,
// against the emulated spidev node and ready line.
#include <gtest/gtest.h>
#include <linux/spi/spidev.h>

#include <array>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "test_support.h"
#include "tx_spi.h"

namespace {

const std::string kDetected = "TxSpi: Detected protocol version ";
const std::string kVersion5 = kDetected + "5\n";

// What `f` prints on stdout and on stderr.
template <class F>
std::pair<std::string, std::string> Printed(F&& f) {
    CapturedOutput output;
    f();
    output.Finish();
    return {output.out, output.err};
}

// The nodes a link may find, and a link opened on them with what it printed.
struct LinkBench : Bench {
    explicit LinkBench(sim::BoardConfig config = {}, bool spidev = true, bool gpioNode = true)
        : Bench(std::move(config), spidev, gpioNode) {
        std::tie(out, err) = Printed([&] { link = std::make_unique<TxSpi>(sim::kSpidevPath); });
    }
    std::unique_ptr<TxSpi> link;
    std::string out, err;
};

}  // namespace

TEST(TxSpiSetup, NodesPresentAndMissing) {
    REQUIRE_MOCK_ENVIRONMENT();
    const std::string noSpidev = "******* Error: TxSpi can't open device /dev/spidev0.1\n";
    const std::string noGpio = "gpio:*** Error: Can not open device /dev/fpga_config.0 ErrNo=2\n";
    // The speed the driver settles on (0: as asked), the nodes, what is printed.
    const struct { uint32_t speedHz; bool spidev, gpioNode; std::string err, out; } cases[] = {
        {0, true, true, kVersion5, "TXspi speed=800000\n"},
        {781250, true, true, kVersion5, "TXspi speed=781250\n"},
        {0, false, true, kVersion5 + noSpidev, ""},
        {0, false, false, kVersion5 + noSpidev, noGpio},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.out);
        sim::BoardConfig config;
        config.reportedSpeedHz = c.speedHz;
        LinkBench bench(config, c.spidev, c.gpioNode);
        EXPECT_EQ(bench.err, c.err);
        EXPECT_EQ(bench.out, c.out);
        EXPECT_EQ(bench.link->HasDevice(), c.spidev);
        EXPECT_EQ(bench.link->Gpio().HasDevice(), c.gpioNode);
        EXPECT_EQ(activeProtocol, &ProtocolV5);
        EXPECT_EQ(bench.board.Mode(), c.spidev ? SPI_MODE_1 : 0);
        EXPECT_EQ(bench.board.BitsPerWord(), c.spidev ? 8 : 0);
        // Without the node a transfer moves nothing.
        std::array<uint8_t, 8> frame{};
        const auto printed = Printed([&] {
            EXPECT_EQ(bench.link->SpiTransfer(8, frame.data(), frame.data()),
                      c.spidev ? 0 : IOCTL_ERROR);
        });
        EXPECT_EQ(printed.second, c.spidev ? "" : "*** TXSPI ioctl error ret=0 length=8\n");
    }
}

TEST(TxSpiTransfer, LengthsFailuresAndReadyLine) {
    REQUIRE_MOCK_ENVIRONMENT();
    sim::BoardConfig config;
    config.failIoctlFromExchange = 4;  // the fourth transfer fails
    LinkBench bench(config);
    std::array<uint8_t, 512> rx{};
    auto tx = bench.link->TxFrame();
    for (size_t i = 0; i < tx.size(); ++i) tx[i] = static_cast<uint8_t>(i);
    bench.gpio.ScriptLevels({0, 0, 1});  // busy for the third transfer only
    const auto [out, err] = Printed([&] {
        EXPECT_EQ(bench.link->SpiTransfer(200, tx.data(), rx.data()), 0);
        // Longer than the board takes: 200 bytes move, and that is an error.
        EXPECT_EQ(bench.link->SpiTransfer(201, tx.data(), rx.data()), IOCTL_ERROR);
        // A busy ready line is complained about; the transfer still goes.
        EXPECT_EQ(bench.link->SpiTransfer(8, tx.data(), rx.data()), 0);
        EXPECT_EQ(bench.link->SpiTransfer(8, tx.data(), rx.data()), IOCTL_ERROR);  // ioctl fails
    });
    EXPECT_EQ(out, "*** error too large message transfer. 201 > 200\n");
    EXPECT_EQ(err, "*** TXSPI ioctl error ret=200 length=201\n"
                   "*** TXSPI try to communicate with spi not ready\n"
                   "*** TXSPI ioctl error ret=-1 length=8\n");
    const auto records = bench.board.Records();
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].request, std::vector<uint8_t>(tx.begin(), tx.begin() + 200));
    EXPECT_EQ(records[1].transferLength, 200u);
    EXPECT_EQ(records[2].transferLength, 8u);
    // What the board clocked back arrived in the receive buffer.
    EXPECT_EQ(std::vector<uint8_t>(rx.begin(), rx.begin() + 8), records[2].reply);
}

TEST(TxSpiTrace, HistoryLines) {
    REQUIRE_MOCK_ENVIRONMENT();
    LinkBench bench;
    const std::pair<TraceRecord, std::string> cases[] = {
        {{0, M_NULL, 3, 7, 0}, "TXSPI:IN  <-- MyId=3 TxId=7 M_NULL 0     \n"},
        {{0, M_NULL, 3, 7, CHECKSUM_BAD | MESSAGE_TYPE_ERROR},
         "TXSPI:IN  <-- MyId=3 TxId=7 M_NULL 17 *Checksum bad*    *Message type error\n"},
        {{1, M_REQ_INFO, 12, 0, MISSING_ACK | IOCTL_ERROR | PROTOCOL_VERSION_ERROR},
         "TXSPI:OUT --> MyId=12 TxId=0 M_REQ_INFO 14  *Missing ack* *ioctl error* "
         "*protocol version error* \n"},
        {{1, 300, 1, 2, 0}, "TXSPI:OUT --> MyId=1 TxId=2 *** Unknown message *** 0     \n"},
    };
    for (const auto& [record, line] : cases) {
        EXPECT_EQ(Printed([&] { bench.link->PrintTrace(record); }).second, line);
    }
}

TEST(TxSpiProtocol, VersionAdoptionAndPauses) {
    REQUIRE_MOCK_ENVIRONMENT();
    LinkBench bench;  // its identity carries software number 1020: fast timing
    TxSpi& link = *bench.link;
    // 4 is announced once; an unknown version selects 5. With more than ten
    // errors counted the link stops announcing.
    const struct { int errors, version; const ProtocolDescriptor* p; bool announced; } steps[] = {
        {0, 4, &ProtocolV4, true},  {0, 4, &ProtocolV4, false}, {0, 0, &ProtocolV5, true},
        {0, 5, &ProtocolV5, false}, {10, 4, &ProtocolV4, true}, {11, 5, &ProtocolV5, false}};
    for (const auto& s : steps) {
        SCOPED_TRACE(testing::Message() << s.version << " after " << s.errors << " errors");
        while (link.ErrorCount() < s.errors) link.CountError();
        EXPECT_EQ(Printed([&] { EXPECT_TRUE(link.CheckProtocolVersion(s.version)); }).second,
                  s.announced ? kDetected + std::to_string(s.version) + "\n" : "");
        EXPECT_EQ(activeProtocol, s.p);
    }

    // Pauses below the floor of their timing count as the floor.
    const std::array<int64_t, 3> pauses[] = {  // type, legacy ns, fast ns
        {M_NULL, 4000000, 200000},          {M_READY, 4000000, 200000},
        {M_INIT, 175000000, 200000},        {M_AUTO_SETUP, 50000000, 1000000},
        {M_REQ_SNAPSHOT, 200000000, 40000000}, {M_RESET, 5000000000, 5000000000},
        {41, 4000000, 200000},
    };
    ASSERT_FALSE(link.FastTiming());
    for (auto [type, legacy, fast] : pauses) EXPECT_EQ(link.MinDelayNs(type), legacy) << type;
    FakeClock clock;
    link.SetClock(clock);
    link.ClearErrorCount();
    std::array<uint8_t, kTransmitterInfoSize> info{};
    Printed([&] { EXPECT_EQ(link.GetInfo(info), 1020); });
    ASSERT_TRUE(link.FastTiming());
    for (auto [type, legacy, fast] : pauses) EXPECT_EQ(link.MinDelayNs(type), fast) << type;
}
