// The device emulation where the link and tool suites do not reach it: the
// board's own frame ids, missing nodes, the exchange log's decoding, and
// txsim as a whole with the real tool running under it.
#include <cerrno>
#include <csignal>
#include <sstream>

#include "frame_io.h"
#include "frame_log.h"
#include "test_support.h"

namespace {

TEST(BoardModel, FrameIdsSkipZeroAndRequestsWithoutAReplyAreAcknowledged) {
    sim::TxBoardModel board;
    std::vector<FrameHeader> replies;
    for (int i = 1; i <= 258; ++i) {
        // Alternately M_UNKNOWN and a type beyond the catalogue.
        Bytes tx(88, 0), rx(88, 0xAA);
        FrameHeader{uint8_t(i % 2 ? 99 : 0), static_cast<uint8_t>(i), 5, 8}.Write(tx);
        ASSERT_EQ(board.Transfer(tx.data(), rx.data(), rx.size()), 88);
        replies.push_back(FrameHeader::Read(rx));
    }
    const std::pair<int, int> ids[] = {{0, 1}, {254, 255}, {255, 1}, {256, 2}};
    for (auto [i, id] : ids) EXPECT_EQ(replies[i].frameId, id) << i;
    for (size_t i = 1; i < replies.size(); ++i) {
        EXPECT_EQ(std::tuple(replies[i].type, replies[i].length, replies[i].ackId),
                  std::tuple(9, 8, static_cast<uint8_t>(i)));  // the previous request's id
    }
}

TEST(Testbed, ANodeNotAddedIsMissing) {
    Bench bench({}, /*spidev=*/false);
    errno = 0;
    EXPECT_EQ(open(kSpidevPath, O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);
    const int fd = open(kGpioDevicePath, O_RDWR);
    EXPECT_GE(fd, 0);
    if (fd >= 0) close(fd);
}

TEST(FrameLog, DecodesFramesAndStampsLines) {
    const auto describe = [](Bytes b) { return sim::FrameLog::DescribeFrame(b); };
    Bytes frame = {23, 3, 5, 88, 1, 0, 120, 0};
    frame.resize(88);
    EXPECT_EQ(describe(frame), "M_GET_INFO id=3 ack=1 ver=5 len=88 checksum=ok");
    frame[6] = 121;
    EXPECT_EQ(describe(frame), "M_GET_INFO id=3 ack=1 ver=5 len=88 checksum=bad(0x0079, want 0x0078)");
    frame.resize(40);  // shorter than the length it claims
    EXPECT_EQ(describe(frame), "M_GET_INFO id=3 ack=1 ver=5 len=88 checksum=short");
    EXPECT_EQ(describe({0x63, 1, 5, 8, 0, 0, 0x71, 0}), "type=0x63 id=1 ack=0 ver=5 len=8 checksum=ok");
    EXPECT_EQ(describe(Bytes(12, 0)), "zeros");
    EXPECT_EQ(describe({}), "nothing");

    // Seconds since the start, borrowing across the second; never negative.
    const sim::FrameLog log(timespec{100, 900000000});
    sim::BusRecord record;
    record.request.assign(88, 0);
    record.reply = {9, 1, 5, 8, 0, 0, 23, 0};
    record.transferLength = 88;
    record.time = {113, 245678000};
    EXPECT_EQ(log.HostLine(record), "  12.345678 host->board zeros xfer=88 moved=8");
    EXPECT_EQ(log.BoardLine(record, {99, 0}),
              "   0.000000 board->host M_NULL id=1 ack=0 ver=5 len=8 checksum=ok");
}

ProgramRun Txsim(std::vector<std::string> args, void (*whileRunning)(pid_t) = [](pid_t) {}) {
    args.insert(args.begin(), SIM_TXSIM);
    return RunProgram(args, "", false, whileRunning);
}

TEST(Txsim, ToolTalksToTheConfiguredBoardAndEveryExchangeIsLogged) {
    ScratchDir dir;
    const ProgramRun run = Txsim({"--serial", "SN-42", "--protocol-version", "010", "--log",
                                  dir / "log", "--", TXBOOTLOAD_PATH, "-Y"});
    EXPECT_EQ(run.status, 0);
    // All of stdout is the tool's, and it found both nodes.
    EXPECT_EQ(run.out, "TXspi speed=800000\n------\nTx prepare for software update via usb.\n"
                       "Action confirmed by user\nTx is in usb boot loader mode\n"
                       "-------------------\n");
    EXPECT_NE(run.err.find("TxSpi: Detected protocol version 10\n"), std::string::npos);
    EXPECT_NE(run.err.find("\nSNR:    SN-42\n"), std::string::npos);
    std::string unstamped;
    std::istringstream log(sim::ReadFile(dir / "log"));
    for (std::string line; std::getline(log, line);) unstamped += line.substr(12) + "\n";
    EXPECT_EQ(unstamped,
              "host->board M_REQ_INFO id=1 ack=0 ver=5 len=8 xfer=88 checksum=ok\n"
              "board->host M_NULL id=1 ack=0 ver=10 len=8 checksum=ok\n"
              "host->board M_NULL id=2 ack=1 ver=5 len=8 xfer=88 checksum=ok\n"
              "board->host M_GET_INFO id=2 ack=1 ver=10 len=88 checksum=ok\n"
              "host->board M_BOOT_LOAD_MODE id=3 ack=2 ver=5 len=8 xfer=8 checksum=ok\n"
              "board->host M_NULL id=3 ack=2 ver=10 len=8 checksum=ok\n"
              "host->board M_REQ_INFO id=4 ack=3 ver=5 len=8 xfer=8 checksum=ok\n"
              "board->host M_NULL id=4 ack=3 ver=10 len=8 checksum=ok\n"
              "host->board M_NULL id=5 ack=4 ver=5 len=8 xfer=88 checksum=ok\n"
              "board->host M_GET_INFO id=5 ack=4 ver=10 len=88 checksum=ok\n");
}

TEST(Txsim, FaultOptionsReachTheBoard) {
    ScratchDir dir;
    const ProgramRun run = Txsim({"--bad-checksum", "2", "--short-transfer", "03",
                                  "--fail-ioctl-from", "5", "--log", dir / "log", "--",
                                  TXBOOTLOAD_PATH, "-Y"});
    EXPECT_EQ(run.status, 0);
    std::vector<std::string> lines;
    std::istringstream log(sim::ReadFile(dir / "log"));
    for (std::string line; std::getline(log, line);) lines.push_back(line.substr(12));
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_TRUE(lines[3].starts_with("board->host M_GET_INFO id=2 ack=1 ver=5 len=88 checksum=bad("));
    EXPECT_TRUE(lines[4].ends_with(" xfer=88 checksum=ok moved=87")) << lines[4];
    EXPECT_TRUE(lines[8].ends_with(" xfer=88 checksum=ok ioctl=failed")) << lines[8];
    EXPECT_EQ(lines[9], "board->host nothing (ioctl failed)");
}

TEST(Txsim, ExitStatusNodesAndBadOptions) {
    EXPECT_EQ(Txsim({"--", "/bin/sh", "-c", "exit 7"}).status, 7);
    EXPECT_EQ(Txsim({"--", "/bin/sh", "-c", "kill -TERM $$"}).status, 128 + SIGTERM);
    EXPECT_EQ(Txsim({"--", "/nonexistent/command"}).status, 127);
    EXPECT_EQ(Txsim({"--no-spidev", "--", "/usr/bin/test", "-e", "/dev/spidev0.1"}).status, 1);
    EXPECT_EQ(Txsim({"--no-gpio", "--ready", "no", "--", "/bin/sh", "-c",
                     "test -e /dev/fpga_config.0 || "
                     "cat /sys/devices/platform/skarvik-gpio/spi0_int/value"}).out,
              "0\n");
    // Refused before anything runs: status 2, one line on stderr.
    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"--fail-ioctl-from", "x"}, "bad value 'x' for --fail-ioctl-from"},
        {{"--silent-from", "0"}, "bad value '0' for --silent-from"},
        {{"--speed", "0"}, "bad value '0' for --speed"},
        {{"--protocol-version", "256"}, "bad value '256' for --protocol-version"},
        {{"--garbage", "abc"}, "bad value 'abc' for --garbage"},
        {{"--ready", "script:2"}, "bad value 'script:2' for --ready"},
        {{"--no-sysfs-ready"}, "--no-sysfs-ready needs --no-gpio"},
        {{"--bogus"}, "unknown option --bogus (see --help)"},
        {{"-xh"}, "unknown option -x (see --help)"},
        {{"--log"}, "option --log needs a value before --, which ends the options"},
    };
    for (const auto& [args, message] : refused) {
        std::vector<std::string> argv = args;
        argv.insert(argv.end(), {"--", "/bin/echo", "ran"});
        const ProgramRun run = Txsim(argv);
        EXPECT_EQ(std::tuple(run.status, run.out, run.err), std::tuple(2, "", "txsim: " + message + "\n"));
    }
}

TEST(Txsim, SignalsReachTheCommandAndADeadTxsimLeavesNothingBehind) {
    // SIGINT sent to txsim alone is passed on: the command does not sleep its 10 s.
    const ProgramRun interrupted = Txsim({"--", "/bin/sleep", "10"}, [](pid_t pid) {
        usleep(300000);
        kill(pid, SIGINT);
    });
    EXPECT_EQ(interrupted.status, 128 + SIGINT);

    // Killed outright, txsim takes the command with it and its nodes vanish.
    ScratchDir dir;
    static std::string marker;
    marker = dir / "command";
    const ProgramRun killed = Txsim(
        {"--", "/bin/sh", "-c", "echo $$ $UMOCKDEV_DIR > " + marker + "; exec sleep 10"},
        [](pid_t pid) {
            while (sim::ReadFile(marker).empty()) usleep(10000);
            kill(pid, SIGKILL);
        });
    EXPECT_EQ(killed.status, 128 + SIGKILL);
    std::istringstream command(sim::ReadFile(marker));
    std::string pid, root;
    command >> pid >> root;
    auto alive = [&pid] {  // a zombie waiting for its new parent counts as gone
        const std::string stat = sim::ReadFile("/proc/" + pid + "/stat");
        return !stat.empty() && stat.find(") Z ") == std::string::npos;
    };
    for (int i = 0; i < 300 && (alive() || std::filesystem::exists(root)); ++i) usleep(10000);
    EXPECT_FALSE(alive()) << pid;
    EXPECT_FALSE(std::filesystem::exists(root)) << root;
}

}  // namespace
