// The boot-loader tool end to end against the emulated board and ready line:
// the bus and both standard streams. Faulty devices: fault_matrix_test.
#include "test_support.h"

namespace {

const std::string kIntro = "TXspi speed=800000\n------\nTx prepare for software update via usb.\n";
const std::string kQuestion =
    "*********************************************\n* WARNING\n"
    "* The current tx software will be deactivated\n"
    "* and you MUST install a new sofware to make the\n* transmitter operational again!\n"
    "*********************************************\n"
    "Ok to set transmitter in usb boot loader mode?\nPlease enter 'yes' to confirm this action\n";
const std::string kUsage = "Usage: " TXBOOTLOAD_PATH " [options]\n\n"
                           "  -h\tprint this help\n  -Y\tpreconfirm answer to YES\n";
const std::string kYes =
    "Action confirmed by user\nTx is in usb boot loader mode\n-------------------\n";
const std::string kNo = "No action taken\n-------------------\n";
const std::string kIdentity = "Product:TX-500\nRev:    C\nSNR:    TX0412-0077\nSW:5.2.1(1020)\n";
const std::string kOnce =
    "TxSpi: Detected protocol version 5\n---- Assume correct cid=0\n" + kIdentity;

TEST(Tool, OptionsAndTheOperatorsAnswerDecide) {
    const std::string asked = kIntro + kQuestion, twice = kOnce + kIdentity;
    const struct { std::vector<std::string> args; std::string input, out, err; } cases[] = {
        {{}, "yes\n", asked + kYes, twice}, {{}, "oh yes\n", asked + kYes, twice},
        {{}, "Yes\n", asked + kNo, twice},  {{}, "", asked + kNo, twice},
        // Help comes after the first identity and ends the run.
        {{"-Y", "-h"}, "yes\n", kIntro + kUsage, kOnce},
        {{"-x", "stray", "-Y"}, "", kIntro + kYes,
         kOnce + TXBOOTLOAD_PATH ": invalid option -- 'x'\n" + kIdentity},
    };
    for (const auto& c : cases) {
        Bench bench;
        std::vector<std::string> argv = {TXBOOTLOAD_PATH};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const ProgramRun run = RunProgram(argv, c.input);
        EXPECT_EQ(std::tie(run.status, run.out, run.err), std::tuple(0, c.out, c.err)) << c.input;
        const bool switched = c.out.ends_with(kYes);
        EXPECT_EQ(bench.board.InBootLoader(), switched);
        EXPECT_EQ(bench.board.ExchangeCount(), switched ? 5 : c.out.ends_with(kUsage) ? 2 : 4);
        // The tool's own 250 ms sleep after the identity.
        const std::vector<sim::BusRecord> sent = bench.board.Records();
        EXPECT_TRUE(!switched || NanosecondsBetween(sent[1].time, sent[2].time) >= 250000000);
    }
}

// --version and --help answer at once: no exchange, no question.
TEST(Tool, VersionAndLongHelpAnswerWithoutTouchingTheLink) {
    Bench bench;
    const ProgramRun version = RunProgram({TXBOOTLOAD_PATH, "--version"});
    EXPECT_EQ(std::tie(version.status, version.out, version.err),
              std::tuple(0, "txbootload " SKARVIK_TEST_VERSION "\n", ""));
    const ProgramRun help = RunProgram({TXBOOTLOAD_PATH, "-Y", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.starts_with(kUsage)) << help.out;
    EXPECT_EQ(bench.board.ExchangeCount(), 0);
}

}  // namespace
