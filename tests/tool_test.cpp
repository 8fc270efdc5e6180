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

TEST(Tool, OptionsAndTheOperatorsAnswerDecide) {
    const std::string usage = "Usage: " TXBOOTLOAD_PATH " [options]\n\n"
                              "  -h\tprint this help\n  -Y\tpreconfirm answer to YES\n";
    const std::string asked = kIntro + kQuestion, yes = kConfirmed + kSeparator;
    const std::string no = "No action taken\n" + kSeparator, twice = kErrFresh + kIdentity + kIdentity;
    const struct { std::vector<std::string> args; std::string input, out, err; bool closed = false; } cases[] = {
        {{}, "yes\n", asked + yes, twice},         {{}, "yesplease\n", asked + yes, twice},
        {{}, "oh yes\n", asked + yes, twice},      {{}, "Yes\n", asked + no, twice},
        {{}, "YES\n", asked + no, twice},          {{}, "y\n", asked + no, twice},
        {{}, "", asked + no, twice},               {{}, "", asked + no, twice, true},
        {{}, std::string(20000, 'n') + " yes\n", asked + yes, twice},
        // Help comes after the first identity and ends the run.
        {{"-h"}, "yes\n", kIntro + usage, kErrFresh + kIdentity},
        {{"-Y", "-h"}, "", kIntro + usage, kErrFresh + kIdentity},
        {{"-x", "stray", "-Y"}, "", kIntro + yes,
         kErrFresh + kIdentity + TXBOOTLOAD_PATH ": invalid option -- 'x'\n" + kIdentity},
    };
    for (const auto& c : cases) {
        Bench bench;
        const ProgramRun run = RunTool(c.args, c.input, c.closed);
        EXPECT_EQ(std::tie(run.status, run.out, run.err), std::tuple(0, c.out, c.err)) << c.input.substr(0, 9);
        const bool switched = c.out.ends_with(yes), helped = c.out.ends_with(usage);
        EXPECT_EQ(bench.board.InBootLoader(), switched);
        EXPECT_EQ(bench.board.ExchangeCount(), helped ? 2 : switched ? 5 : 4);
    }
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
    // Without even the value file every reading fails, and a failed reading
    // counts as ready: complaints, but no waiting and no "not ready" warning.
    Bench bench({}, /*spidev=*/true, /*gpioNode=*/false);
    bench.testbed.AddSysfsRoot();
    const ProgramRun run = RunTool({"-Y"});
    const std::string noFile = "sysfs: Can not open /sys/devices/platform/skarvik-gpio/spi0_int/value\n";
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, kErrFresh + kIdentity + kIdentity);
    EXPECT_TRUE(run.out.starts_with("gpio:*** Error: Can not open device /dev/fpga_config.0 ErrNo=2\n" +
                                    kIntro + noFile));
    // Fast timing after the first identity: two readings before each transfer.
    std::string lastTwo = kSeparator;
    for (int i = 0; i < 6; ++i) lastTwo += noFile;
    EXPECT_TRUE(run.out.ends_with(lastTwo));
    EXPECT_EQ(bench.board.ExchangeCount(), 5);
}

TEST(Tool, MisbehavingBoardsNeverStopTheRun) {
    const sim::BoardConfig cases[] = {{.protocolVersion = 4},       {.badChecksumOnExchange = 2},
                                      {.silentFromExchange = 1},    {.failIoctlFromExchange = 1},
                                      {.garbage = Bytes(200, 0xA7)}};
    for (const sim::BoardConfig& config : cases) {
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
