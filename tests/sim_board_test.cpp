// txsim with the real programs under it: the board's options, the exchange log,
// exit statuses, option errors and signals.
#include <csignal>
#include <sstream>

#include "test_support.h"

namespace {

ProgramRun Txsim(std::vector<std::string> args, void (*whileRunning)(pid_t) = nullptr) {
    args.insert(args.begin(), SIM_TXSIM);
    return RunProgram(args, "", false, whileRunning);
}

// Numbers are decimal, also with a leading zero. The reply to request 1 fails its checksum.
TEST(Txsim, DiagnosticTalksToTheConfiguredBoardAndEveryExchangeIsLogged) {
    ScratchDir dir;
    const ProgramRun run = Txsim({"--protocol-version", "010", "--bad-checksum", "2", "--log",
                                  dir / "log", "--", TXDIAG_PATH, "info"});
    EXPECT_EQ(run.status, 1);
    // The line format is the frame log's own; here: four exchanges, the options applied.
    const std::string log = sim::ReadFile(dir / "log");
    EXPECT_EQ(std::ranges::count(log, '\n'), 4) << log;
    EXPECT_NE(log.find("board->host M_GET_INFO id=2 ack=1 ver=10 len=88 checksum=bad("),
              std::string::npos) << log;
}

TEST(Txsim, ACommandsSignalOrFailureToRunIsTheStatus) {
    EXPECT_EQ(Txsim({"--", "/bin/sh", "-c", "kill -TERM $$"}).status, 128 + SIGTERM);
    EXPECT_EQ(Txsim({"--", "/nonexistent/command"}).status, 127);
}

TEST(Txsim, NoGpioLeavesOutTheNodeAndReadyNoReadsAsZero) {
    const std::string sysfsReady = "cat /sys/devices/platform/skarvik-gpio/spi0_int/value";
    EXPECT_EQ(Txsim({"--no-gpio", "--ready", "no", "--", "/bin/sh", "-c",
                     "test -e /dev/fpga_config.0 || " + sysfsReady}).out, "0\n");
}

// Refused before anything runs: status 2, one line on stderr.
TEST(Txsim, BadOptionsAreRefusedWithStatus2AndOneLine) {
    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"--fail-ioctl-from", "x"},
         "bad value 'x' for --fail-ioctl-from: give a number from 1 to 2147483647"},
        {{"--protocol-version", "256"}, "bad value '256' for --protocol-version: give a number "
                                        "from 0 to 255"},
        // An identity text is never cut to its 16-byte field.
        {{"--serial", "S123456789ABCDEF7"}, "bad value 'S123456789ABCDEF7' for --serial: at most "
                                            "16 bytes"},
        {{"-xh"}, "unknown option -x (see --help)"},
        {{"--log"}, "option --log needs a value before --, which ends the options"},
    };
    for (auto [argv, message] : refused) {
        argv.insert(argv.end(), {"--", "/bin/echo", "ran"});
        const ProgramRun run = Txsim(argv);
        EXPECT_EQ(std::tie(run.status, run.out, run.err),
                  std::tuple(2, "", "txsim: " + message + "\n"));
    }
}

TEST(Txsim, ItsOwnFailureIs125WithAMessage) {
    const ProgramRun noTemp =
        RunProgram({SIM_TXSIM, "--", "/bin/true"}, "", 0, nullptr, nullptr, {"TMPDIR=/nonexistent"});
    EXPECT_EQ(std::tie(noTemp.status, noTemp.err),
              std::tuple(125, "txsim: cannot create a directory in /nonexistent (TMPDIR): No such "
                              "file or directory\n"));
}

TEST(Txsim, TheCommandGetsNoneOfTheTestbedsDescriptors) {
    EXPECT_EQ(Txsim({"--", "/bin/sh", "-c", "ls -l /proc/$$/fd | grep -c ptmx"}).out, "0\n");
}

// SIGINT sent to txsim alone is passed on: the command does not sleep its 10 s.
TEST(Txsim, SigintReachesTheCommand) {
    auto interrupt = [](pid_t pid) { usleep(300000), kill(pid, SIGINT); };
    EXPECT_EQ(Txsim({"--", "/bin/sleep", "10"}, interrupt).status, 128 + SIGINT);
}

// Killed outright, txsim takes the command with it and its nodes vanish.
TEST(Txsim, AKilledTxsimLeavesNothingBehind) {
    static const ScratchDir dir;
    static const std::string marker = dir / "command";
    auto killWhenStarted = [](pid_t pid) {
        while (sim::ReadFile(marker).empty()) usleep(10000);
        kill(pid, SIGKILL);
    };
    const std::string command = "echo $$ $UMOCKDEV_DIR > " + marker + "; exec sleep 10";
    EXPECT_EQ(Txsim({"--", "/bin/sh", "-c", command}, killWhenStarted).status, 128 + SIGKILL);
    std::string pid, root;
    std::istringstream(sim::ReadFile(marker)) >> pid >> root;
    auto gone = [&] {  // a zombie waiting for its new parent counts as gone
        const std::string stat = sim::ReadFile("/proc/" + pid + "/stat");
        return (stat.empty() || stat.find(") Z ") != std::string::npos) &&
               !std::filesystem::exists(root);
    };
    for (int i = 0; i < 300 && !gone(); ++i) usleep(10000);
    EXPECT_TRUE(gone()) << pid << " " << root;
}

}  // namespace
