// The boot-loader tool end to end: the real executable runs against the
// emulated board and ready line, and the test compares the bus and both
// standard streams.
#include <sstream>

#include "test_support.h"

namespace {

ProgramRun RunTool(std::vector<std::string> args, const std::string& input = "",
                   bool closeInput = false) {
    args.insert(args.begin(), TXBOOTLOAD_PATH);
    return RunProgram(args, input, closeInput);
}

const std::string kIntro = "TXspi speed=800000\n------\nTx prepare for software update via usb.\n";
const std::string kQuestion =
    "*********************************************\n"
    "* WARNING\n"
    "* The current tx software will be deactivated\n"
    "* and you MUST install a new sofware to make the\n"
    "* transmitter operational again!\n"
    "*********************************************\n"
    "Ok to set transmitter in usb boot loader mode?\n"
    "Please enter 'yes' to confirm this action\n";
const std::string kConfirmed = "Action confirmed by user\nTx is in usb boot loader mode\n";
const std::string kSeparator = "-------------------\n";
const std::string kIdentity = "Product:TX-500\nRev:    C\nSNR:    TX0412-0077\nSW:5.2.1(1020)\n";
const std::string kErrFresh = "TxSpi: Detected protocol version 5\n---- Assume correct cid=0\n";

TEST(Tool, PreconfirmedRunSwitchesTheBoardInFiveExchanges) {
    Bench bench;
    const ProgramRun run = RunTool({"-Y"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, kIntro + kConfirmed + kSeparator);
    EXPECT_EQ(run.err, kErrFresh + kIdentity + kIdentity);
    EXPECT_TRUE(bench.board.InBootLoader());
    // Each request acknowledges the board's frame before it: ids 1, 2, 3, 4.
    EXPECT_EQ(bench.Requests(), (std::vector<Bytes>{{22, 1, 5, 8, 0, 0, 36, 0},
                                                    {9, 2, 5, 8, 1, 0, 25, 0},
                                                    {21, 3, 5, 8, 2, 0, 39, 0},
                                                    {22, 4, 5, 8, 3, 0, 42, 0},
                                                    {9, 5, 5, 8, 4, 0, 31, 0}}));
    EXPECT_EQ(bench.TransferLengths(), (std::vector<uint32_t>{88, 88, 8, 8, 88}));
    // The identity's pause, then the tool's own 250 ms sleep.
    const std::vector<sim::BusRecord> records = bench.board.Records();
    EXPECT_GE(NanosecondsBetween(records[0].time, records[1].time), 60000000);
    EXPECT_GE(NanosecondsBetween(records[1].time, records[2].time), 250000000);
}

TEST(Tool, OperatorAnswerDecides) {
    const struct { std::string answer; bool confirms, closed = false; } cases[] = {
        {"yes\n", true},  {"yesplease\n", true}, {"oh yes\n", true},
        {"Yes\n", false}, {"YES\n", false},      {"y\n", false},
        {"", false},  // end of input
        {"", false, true},
        {std::string(20000, 'n') + " yes\n", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer.substr(0, 20));
        Bench bench;
        const ProgramRun run = RunTool({}, c.answer, c.closed);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, kIntro + kQuestion + (c.confirms ? kConfirmed : "No action taken\n") +
                               kSeparator);
        EXPECT_EQ(run.err, kErrFresh + kIdentity + kIdentity);
        // Refused: the second identity read comes third, with id 3.
        const std::vector<Bytes> requests = bench.Requests();
        ASSERT_EQ(requests.size(), c.confirms ? 5u : 4u);
        const Bytes third = c.confirms ? Bytes{21, 3, 5, 8, 2, 0, 39, 0} : Bytes{22, 3, 5, 8, 2, 0, 40, 0};
        EXPECT_EQ(requests[2], third);
    }
}

TEST(Tool, HelpComesAfterTheFirstIdentityAndEndsTheRun) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"-h"}, {"-Y", "-h"}}) {
        Bench bench;
        const ProgramRun run = RunTool(args, "yes\n");
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, kIntro + "Usage: " TXBOOTLOAD_PATH " [options]\n\n"
                                    "  -h\tprint this help\n  -Y\tpreconfirm answer to YES\n");
        EXPECT_EQ(run.err, kErrFresh + kIdentity);
        EXPECT_EQ(bench.board.ExchangeCount(), 2);
    }
}

TEST(Tool, UnknownOptionsAreReportedAndIgnored) {
    Bench bench;
    const ProgramRun run = RunTool({"-x", "stray", "-Y"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, kIntro + kConfirmed + kSeparator);
    EXPECT_EQ(run.err, kErrFresh + kIdentity + TXBOOTLOAD_PATH ": invalid option -- 'x'\n" + kIdentity);
    EXPECT_TRUE(bench.board.InBootLoader());
}

TEST(Tool, RunsToItsEndWithoutTheSpiNode) {
    Bench bench({}, /*spidev=*/false);
    const ProgramRun run = RunTool({"-Y"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "------\nTx prepare for software update via usb.\n" + kConfirmed + kSeparator);
    EXPECT_TRUE(run.err.starts_with("TxSpi: Detected protocol version 5\n"
                                    "******* Error: TxSpi can't open device /dev/spidev0.1\n"
                                    "*** TXSPI ioctl error ret=0 length=88\n"));
    EXPECT_TRUE(run.err.ends_with("\nProduct:\nRev:    \nSNR:    \nSW:()\n"));
}

TEST(Tool, ReadyLineThroughSysfsWhenTheGpioNodeIsMissing) {
    const std::string gpioError = "gpio:*** Error: Can not open device /dev/fpga_config.0 ErrNo=2\n";
    {
        Bench bench({}, /*spidev=*/true, /*gpioNode=*/false);
        bench.testbed.SetSysfsPin("spi0_int", "1\n");
        const ProgramRun run = RunTool({"-Y"});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, gpioError + kIntro + kConfirmed + kSeparator);
        EXPECT_EQ(run.err, kErrFresh + kIdentity + kIdentity);
    }
    // Without the value file every reading fails, and a failed reading counts
    // as ready: complaints, but no waiting and no "not ready" warning.
    Bench bench({}, /*spidev=*/true, /*gpioNode=*/false);
    bench.testbed.AddSysfsRoot();
    const ProgramRun run = RunTool({"-Y"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, kErrFresh + kIdentity + kIdentity);
    EXPECT_TRUE(run.out.starts_with(gpioError +
                                    "TXspi speed=800000\n------\n"
                                    "Tx prepare for software update via usb.\n"
                                    "sysfs: Can not open "
                                    "/sys/devices/platform/skarvik-gpio/spi0_int/value\n"));
    EXPECT_TRUE(run.out.ends_with("sysfs: Can not open "
                                  "/sys/devices/platform/skarvik-gpio/spi0_int/value\n"));
    EXPECT_EQ(bench.board.ExchangeCount(), 5);
}

TEST(Tool, MisbehavingBoardsNeverStopTheRun) {
    std::vector<std::pair<const char*, sim::BoardConfig>> cases(5);
    cases[0].first = "silent", cases[0].second.silentFromExchange = 1;
    cases[1].first = "garbage", cases[1].second.garbage = Bytes(200, 0xA7);
    cases[2].first = "bad checksum", cases[2].second.badChecksumOnExchange = 2;
    cases[3].first = "failing ioctls", cases[3].second.failIoctlFromExchange = 1;
    cases[4].first = "protocol 4", cases[4].second.protocolVersion = 4;
    for (auto& [name, config] : cases) {
        SCOPED_TRACE(name);
        Bench bench(config);
        const ProgramRun run = RunTool({"-Y"});
        EXPECT_EQ(run.status, 0);
        // The dialogue is whole; the link's complaints come between its lines.
        std::istringstream lines(run.out);
        std::string dialogue;
        for (std::string line; std::getline(lines, line);) {
            if (!line.starts_with("*")) dialogue += line + "\n";
        }
        EXPECT_EQ(dialogue, kIntro + kConfirmed + kSeparator);
        EXPECT_EQ(bench.board.ExchangeCount(), 5);
    }
}

}  // namespace
