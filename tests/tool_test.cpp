// The boot-loader tool end to end against the emulated board and ready line:
// its dialogue, the switch and the exchanges. Faulty devices: fault_matrix_test.
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

// The link's own lines on standard error are its suites' subject; here the
// tool's: the dialogue, its option errors, the switch and the exchanges.
TEST(Tool, OptionsAndTheOperatorsAnswerDecide) {
    const std::string asked = kIntro + kQuestion;
    const struct { std::vector<std::string> args; std::string input, out, err = ""; } cases[] = {
        {{}, "yes\n", asked + kYes}, {{}, "oh yes\n", asked + kYes}, {{}, "Yes\n", asked + kNo},
        // Help comes after the first identity and ends the run.
        {{"-Y", "-h"}, "yes\n", kIntro + kUsage},
        {{"-x", "stray", "-Y"}, "", kIntro + kYes, TXBOOTLOAD_PATH ": invalid option -- 'x'\n"},
        // --version and --help answer at once: no exchange, no question.
        {{"--version"}, "", "txbootload " SKARVIK_TEST_VERSION "\n"},
        {{"-Y", "--help"}, "", kUsage + "  --help\tprint this help without talking to the "
                                       "transmitter\n  --version\tprint the version\n"},
    };
    for (auto c : cases) {
        Bench bench;
        c.args.insert(c.args.begin(), TXBOOTLOAD_PATH);
        const ProgramRun run = RunProgram(c.args, c.input);
        EXPECT_EQ(std::tie(run.status, run.out), std::tuple(0, c.out)) << c.input;
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
        const bool switched = c.out.ends_with(kYes);
        EXPECT_EQ(bench.board.InBootLoader(), switched);
        EXPECT_EQ(bench.board.ExchangeCount(),
                  switched ? 5 : !c.out.starts_with(kIntro) ? 0 : c.out.ends_with(kUsage) ? 2 : 4);
        // The tool's own 250 ms sleep after the identity.
        const std::vector<sim::BusRecord> sent = bench.board.Records();
        EXPECT_TRUE(!switched || NanosecondsBetween(sent[1].time, sent[2].time) >= 250000000);
    }
}

}  // namespace
