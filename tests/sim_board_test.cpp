// The device emulation where the link and tool suites do not reach it: the
// board's own frame ids and unknown requests, missing nodes, the exchange
// log's decoding, and txsim as a whole with the real tool running under it.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "frame_io.h"
#include "frame_log.h"
#include "protocol.h"
#include "test_support.h"

namespace {

constexpr auto npos = std::string::npos;

TEST(BoardModel, FrameIdsSkipZeroAndRequestsWithoutAReplyAreAcknowledged) {
    sim::TxBoardModel board;
    std::vector<FrameHeader> replies;
    for (int i = 1; i <= 258; ++i) {
        // Alternately M_UNKNOWN and a type beyond the catalogue.
        std::vector<uint8_t> tx(88, 0), rx(88, 0xAA);
        const uint8_t type = i % 2 ? uint8_t{99} : uint8_t{M_UNKNOWN};
        FrameHeader{type, static_cast<uint8_t>(i), 5, 8}.Write(tx);
        ASSERT_EQ(board.Transfer(tx.data(), rx.data(), rx.size()), 88);
        replies.push_back(FrameHeader::Read(rx));
    }
    EXPECT_EQ(replies[0].frameId, 1);
    EXPECT_EQ(replies[254].frameId, 255);
    EXPECT_EQ(replies[255].frameId, 1);
    EXPECT_EQ(replies[256].frameId, 2);
    for (size_t i = 1; i < replies.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(replies[i].type, M_NULL);
        EXPECT_EQ(replies[i].length, 8);
        EXPECT_EQ(replies[i].ackId, static_cast<uint8_t>(i));  // the previous request's id
    }
}

// Held for its wire time, a transfer lets go no sooner than 10 us per byte
// after it arrived; without records the board still counts its exchanges.
TEST(BoardModel, WireTimeAndRecordKeeping) {
    struct Case {
        uint32_t wireNsPerByte;
        bool keepRecords;
        size_t length;
        int64_t leastHoldNs;
    };
    for (const Case& c : {Case{10000, true, 88, 880000}, Case{10000, true, 200, 2000000},
                          Case{0, false, 88, 0}}) {
        SCOPED_TRACE(c.length);
        sim::BoardConfig config;
        config.wireNsPerByte = c.wireNsPerByte;
        config.keepRecords = c.keepRecords;
        sim::TxBoardModel board(config);
        std::vector<uint8_t> tx(c.length, 0), rx(c.length, 0);
        FrameHeader{M_NULL, 1, 5, 8}.Write(tx);
        const timespec before = LinkClock::System().Now();
        ASSERT_EQ(board.Transfer(tx.data(), rx.data(), c.length), static_cast<long>(c.length));
        EXPECT_GE(NanosecondsBetween(before, LinkClock::System().Now()), c.leastHoldNs);
        EXPECT_EQ(board.ExchangeCount(), 1);
        const std::vector<sim::BusRecord> records = board.Records();
        ASSERT_EQ(records.size(), c.keepRecords ? 1u : 0u);
        if (c.keepRecords) {
            EXPECT_GE(NanosecondsBetween(records[0].time, records[0].finished), c.leastHoldNs);
        }
    }
}

TEST(Testbed, ANodeNotAddedIsMissing) {
    REQUIRE_MOCK_ENVIRONMENT();
    sim::GpioDeviceModel gpio;
    sim::Testbed testbed;
    ASSERT_TRUE(testbed.AddGpioDevice(gpio)) << testbed.LastError();
    errno = 0;
    EXPECT_EQ(open(sim::kSpidevPath, O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);
    const int fd = open(sim::kGpioDevicePath, O_RDWR);
    EXPECT_GE(fd, 0);
    if (fd >= 0) close(fd);
}

TEST(FrameLog, DecodesFramesAndStampsLines) {
    sim::TxBoardModel board;
    const auto describe = [](std::span<const uint8_t> b) {
        return sim::FrameLog::DescribeFrame(b);
    };
    std::vector<uint8_t> frame = board.BuildReply(M_GET_INFO, 3, 1);
    EXPECT_EQ(describe(frame), "M_GET_INFO id=3 ack=1 ver=5 len=88 checksum=ok");
    const unsigned good = ReadU16LE(frame, 6).value();
    WriteU16LE(frame, 6, static_cast<uint16_t>(good ^ 1));
    char bad[48];
    std::snprintf(bad, sizeof bad, " checksum=bad(0x%04x, want 0x%04x)", good ^ 1, good);
    EXPECT_EQ(describe(frame), "M_GET_INFO id=3 ack=1 ver=5 len=88" + std::string(bad));
    frame.resize(40);  // shorter than the length it claims
    EXPECT_EQ(describe(frame), "M_GET_INFO id=3 ack=1 ver=5 len=88 checksum=short");
    const uint8_t unknown[8] = {0x63, 1, 5, 8, 0, 0, 0x71, 0};
    EXPECT_EQ(describe(unknown), "type=0x63 id=1 ack=0 ver=5 len=8 checksum=ok");
    EXPECT_EQ(describe(std::vector<uint8_t>(12, 0)), "zeros");
    EXPECT_EQ(describe({}), "nothing");

    // Seconds since the start, borrowing across the second; never negative.
    const sim::FrameLog log(timespec{100, 900000000});
    sim::BusRecord record;
    record.request.assign(88, 0);
    record.reply = board.BuildReply(M_NULL, 1, 0);
    record.transferLength = 88;
    record.time = {113, 245678000};
    EXPECT_EQ(log.HostLine(record), "  12.345678 host->board zeros xfer=88 moved=8");
    EXPECT_EQ(log.BoardLine(record, {99, 0}),
              "   0.000000 board->host M_NULL id=1 ack=0 ver=5 len=8 checksum=ok");
}

struct ShellRun {
    int status = -1;
    std::string out;
};

// Runs `command` through the shell; its exit status and standard output.
ShellRun Shell(const std::string& command) {
    ShellRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buf[256];
    while (std::fgets(buf, sizeof buf, pipe) != nullptr) run.out += buf;
    const int status = pclose(pipe);
    if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
    return run;
}

ShellRun Txsim(const std::string& args) { return Shell(std::string(SIM_TXSIM) + " " + args); }

// A file name of this process's own, so that parallel runs do not collide.
std::string TempFile(const std::string& name) {
    return testing::TempDir() + name + "." + std::to_string(getpid());
}

std::vector<std::string> Lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(Txsim, ToolTalksToTheConfiguredBoardAndEveryExchangeIsLogged) {
    const std::string log = TempFile("txsim_board.log");
    const std::string err = TempFile("txsim_board.err");
    const ShellRun run = Txsim("--serial SN-42 --protocol-version 4 --log " + log + " -- " +
                               TXBOOTLOAD_PATH + " -Y 2>" + err);
    EXPECT_EQ(run.status, 0);
    // All of stdout is the tool's, and it found both nodes.
    EXPECT_EQ(run.out,
              "TXspi speed=800000\n------\nTx prepare for software update via usb.\n"
              "Action confirmed by user\nTx is in usb boot loader mode\n"
              "-------------------\n");
    std::string errText;
    for (const std::string& line : Lines(err)) errText += line + "\n";
    EXPECT_NE(errText.find("TxSpi: Detected protocol version 4\n"), npos) << errText;
    EXPECT_NE(errText.find("SNR:    SN-42\n"), npos) << errText;

    const std::vector<std::string> expected = {
        "host->board M_REQ_INFO id=1 ack=0 ver=5 len=8 xfer=88 checksum=ok",
        "board->host M_NULL id=1 ack=0 ver=4 len=8 checksum=ok",
        "host->board M_NULL id=2 ack=1 ver=4 len=8 xfer=88 checksum=ok",
        "board->host M_GET_INFO id=2 ack=1 ver=4 len=88 checksum=ok",
        "host->board M_BOOT_LOAD_MODE id=3 ack=2 ver=4 len=8 xfer=8 checksum=ok",
        "board->host M_NULL id=3 ack=2 ver=4 len=8 checksum=ok",
        "host->board M_REQ_INFO id=4 ack=3 ver=4 len=8 xfer=8 checksum=ok",
        "board->host M_NULL id=4 ack=3 ver=4 len=8 checksum=ok",
        "host->board M_NULL id=5 ack=4 ver=4 len=8 xfer=88 checksum=ok",
        "board->host M_GET_INFO id=5 ack=4 ver=4 len=88 checksum=ok"};
    std::vector<std::string> unstamped;
    for (const std::string& line : Lines(log)) unstamped.push_back(line.substr(12));
    EXPECT_EQ(unstamped, expected);
    std::remove(log.c_str());
    std::remove(err.c_str());
}

TEST(Txsim, FaultOptionsReachTheBoard) {
    const std::string log = TempFile("txsim_faults.log");
    const ShellRun run = Txsim("--bad-checksum 2 --short-transfer 3 --fail-ioctl-from 5 --log " +
                               log + " -- " + TXBOOTLOAD_PATH + " -Y 2>/dev/null");
    EXPECT_EQ(run.status, 0);
    const std::vector<std::string> lines = Lines(log);
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_NE(lines[3].find("board->host M_GET_INFO id=2 ack=1 ver=5 len=88 checksum=bad("), npos)
        << lines[3];
    EXPECT_TRUE(lines[4].ends_with(" xfer=88 checksum=ok moved=87")) << lines[4];
    EXPECT_TRUE(lines[8].ends_with(" xfer=88 checksum=ok ioctl=failed")) << lines[8];
    EXPECT_TRUE(lines[9].ends_with(" board->host nothing (ioctl failed)")) << lines[9];
    std::remove(log.c_str());
}

TEST(Txsim, ExitStatusNodesAndBadOptions) {
    EXPECT_EQ(Txsim("-- sh -c 'exit 7'").status, 7);
    EXPECT_EQ(Txsim("-- sh -c 'kill -TERM $$'").status, 128 + SIGTERM);
    EXPECT_EQ(Txsim("-- /nonexistent/command 2>/dev/null").status, 127);
    // SIGTERM to txsim is passed on: the command does not sleep its 10 s.
    EXPECT_EQ(
        Shell(std::string(SIM_TXSIM) + " -- sleep 10 & sleep 0.5; kill -TERM $!; wait $!").status,
        128 + SIGTERM);

    EXPECT_EQ(Txsim("--no-spidev -- test -e /dev/spidev0.1").status, 1);
    EXPECT_EQ(Txsim("--no-gpio --ready no -- sh -c 'test -e /dev/fpga_config.0 || "
                    "cat /sys/devices/platform/skarvik-gpio/spi0_int/value'")
                  .out,
              "0\n");

    // Refused before anything runs: status 2, nothing on stdout.
    for (const char* args :
         {"--fail-ioctl-from x -- echo ran", "--protocol-version 256 -- echo ran",
          "--garbage abc -- echo ran", "--ready script:2 -- echo ran",
          "--no-sysfs-ready -- echo ran", "--bogus -- echo ran", "--"}) {
        const ShellRun run = Txsim(std::string(args) + " 2>/dev/null");
        EXPECT_EQ(run.status, 2) << args;
        EXPECT_EQ(run.out, "") << args;
    }
    EXPECT_EQ(Txsim("--bogus -- true 2>&1 >/dev/null").out,
              "txsim: unknown option --bogus (see --help)\n");
}

}  // namespace
