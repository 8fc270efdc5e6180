// The fault matrix: every way the devices, the board or the operator's input
// can go wrong, one row each. The tool runs to its end with status 0, prints
// the messages that fault calls for, never "(null)", and finishes within its
// deadline; the rows marked in-process drive the link itself.
#include <fcntl.h>
#include <signal.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "protocol.h"
#include "test_support.h"
#include "tx_spi.h"

namespace {

using sim::BoardConfig;

constexpr auto kToolDeadline = std::chrono::seconds(30);

enum class Input { None, Text, Closed };
enum class Runner { Tool, LinkUnderSignals };

struct FaultRow {
    const char* fault;
    std::function<void(BoardConfig&)> board = [](BoardConfig&) {};
    bool spidev = true;
    bool gpioNode = true;
    Runner runner = Runner::Tool;
    std::vector<std::string> args = {"-Y"};
    Input input = Input::None;
    std::string inputText{};
    std::vector<std::string> out{};  // each must appear on stdout
    std::vector<std::string> err{};  // each must appear on stderr
    std::vector<std::string> absent{};  // on neither stream
};

struct Result {
    int status = -1;
    bool finished = false;
    std::string out, err;
};

std::string ReadAll(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// Runs the tool under the emulated nodes; kills it at the deadline.
Result RunTool(const FaultRow& row) {
    char dir[] = "/tmp/faultmatrix.XXXXXX";
    EXPECT_NE(mkdtemp(dir), nullptr);
    const std::string in = std::string(dir) + "/in", out = std::string(dir) + "/out",
                      err = std::string(dir) + "/err";
    std::ofstream(in, std::ios::binary) << row.inputText;
    std::vector<std::string> args = row.args;
    args.insert(args.begin(), TXBOOTLOAD_PATH);
    args = UnderEmulator(std::move(args));
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        if (row.input == Input::Closed) {
            close(0);
        } else {
            dup2(open(row.input == Input::Text ? in.c_str() : "/dev/null", O_RDONLY), 0);
        }
        dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
        dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    Result result;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + kToolDeadline;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    result.finished = WIFEXITED(status);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = ReadAll(out);
    result.err = ReadAll(err);
    for (const std::string& f : {in, out, err}) unlink(f.c_str());
    rmdir(dir);
    return result;
}

void OnAlarm(int) {}

// The tool's road through the link, in this process, while an interval timer
// interrupts every pause and every ready-line poll with a signal.
Result RunLinkUnderSignals(Bench& bench) {
    struct sigaction action {};
    action.sa_handler = OnAlarm;  // no SA_RESTART: sleeps return EINTR
    struct sigaction saved {};
    sigaction(SIGALRM, &action, &saved);
    const itimerval every{{0, 300}, {0, 300}};
    setitimer(ITIMER_REAL, &every, nullptr);
    // Ready at the two transfers with legacy timing; once the identity has
    // selected fast timing, a few not-ready polls before each transfer.
    bench.gpio.ScriptLevels({0, 0, 1, 1, 0, 0, 0, 1, 0, 0, 0, 1, 1, 0, 0, 0});

    CapturedOutput output;
    {
        TxSpi link(sim::kSpidevPath);
        std::array<uint8_t, kTransmitterInfoSize> info{};
        link.GetInfo(info);
        link.SetBootLoadMode();
        link.GetInfo(info);
    }
    output.Finish();
    const itimerval off{};
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &saved, nullptr);
    return {0, true, output.out, output.err};
}

std::string Identity(const std::string& product, const std::string& revision,
                     const std::string& serial, const std::string& software,
                     const std::string& number) {
    return "Product:" + product + "\nRev:    " + revision + "\nSNR:    " + serial + "\nSW:" +
           software + "(" + number + ")\n";
}

const std::string kIdentity = Identity("TX-500", "C", "TX0412-0077", "5.2.1", "1020");
const std::string kEmptyIdentity = Identity("", "", "", "", "");
const std::vector<std::string> kWholeRun = {"------\nTx prepare for software update via usb.\n",
                                            "Action confirmed by user\n",
                                            "Tx is in usb boot loader mode\n",
                                            "-------------------\n"};

// A correct frame of `type` that names `ackId` as the request it answers.
std::vector<uint8_t> Frame(uint8_t type, uint8_t ackId) {
    std::vector<uint8_t> frame(ReplyLength(type), 0);
    frame[0] = type;
    frame[1] = 7;
    frame[2] = 5;
    frame[3] = static_cast<uint8_t>(frame.size());
    frame[4] = ackId;
    unsigned sum = 0;
    for (uint8_t b : frame) sum += b;
    frame[6] = static_cast<uint8_t>(sum);
    frame[7] = static_cast<uint8_t>(sum >> 8);
    return frame;
}

std::vector<uint8_t> RandomBytes() {
    std::mt19937 random(20261206);
    std::vector<uint8_t> bytes(200);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    return bytes;
}

std::vector<std::string> With(std::vector<std::string> base, std::vector<std::string> more) {
    base.insert(base.end(), more.begin(), more.end());
    return base;
}

std::vector<FaultRow> Matrix() {
    std::vector<FaultRow> rows;
    auto add = [&](FaultRow row) { rows.push_back(std::move(row)); };

    add({.fault = "spidev node missing",
         .spidev = false,
         .out = kWholeRun,
         .err = {"******* Error: TxSpi can't open device /dev/spidev0.1\n",
                 "*** TXSPI ioctl error ret=0 length=88\n", kEmptyIdentity},
         .absent = {"TXspi speed="}});
    add({.fault = "GPIO node and its sysfs file missing",
         .gpioNode = false,
         .out = With(kWholeRun,
                     {"gpio:*** Error: Can not open device /dev/fpga_config.0 ErrNo=2\n",
                      "sysfs: Can not open /sys/devices/platform/skarvik-gpio/spi0_int/value\n"}),
         .err = {kIdentity}});
    add({.fault = "every transfer fails with EIO",
         .board = [](BoardConfig& c) { c.failIoctlFromExchange = 1; },
         .out = kWholeRun,
         .err = {"*** TXSPI ioctl error ret=-1 length=88\n", kEmptyIdentity}});
    add({.fault = "short transfer",
         .board = [](BoardConfig& c) { c.shortTransferOnExchange = 2; },
         .out = kWholeRun,
         .err = {"*** TXSPI ioctl error ret=87 length=88\n",
                 "------TXSPI ERROR ----- request id:1  mt:M_REQ_INFO\n"}});
    add({.fault = "silent board",
         .board = [](BoardConfig& c) { c.silentFromExchange = 1; },
         .out = kWholeRun,
         .err = {"**** Not valid message type\n", "**** Wrong receive size Expect 88 != 0\n",
                 "**** Not expected return message type expect=23 got=0\n",
                 "------TXSPI ERROR ----- request id:1  mt:M_REQ_INFO\n", kEmptyIdentity}});
    add({.fault = "board sends all 0xFF",
         .board = [](BoardConfig& c) { c.garbage.assign(200, 0xFF); },
         .out = kWholeRun,
         .err = {"**** TOO large message received received=255 expected=88\n",
                 "**** Checksum error\n", "TxSpi: Detected protocol version 255\n",
                 Identity(std::string(16, '\xFF'), std::string(16, '\xFF'),
                          std::string(16, '\xFF'), std::string(16, '\xFF'),
                          std::string(16, '\xFF'))}});
    add({.fault = "board sends random bytes",
         .board = [](BoardConfig& c) { c.garbage = RandomBytes(); },
         .out = kWholeRun,
         .err = {"**** Checksum error\n", "------TXSPI ERROR -----"}});
    add({.fault = "board flips to protocol version 4",
         .board = [](BoardConfig& c) { c.protocolVersion = 4; },
         .out = kWholeRun,
         .err = {"TxSpi: Detected protocol version 4\n" + kIdentity},
         .absent = {"------TXSPI ERROR"}});
    add({.fault = "board announces protocol version 0",
         .board = [](BoardConfig& c) { c.protocolVersion = 0; },
         .out = kWholeRun,
         .err = {"---- Assume correct cid=0\nTxSpi: Detected protocol version 0\n"
                 "TxSpi: Detected protocol version 0\n" + kIdentity}});
    add({.fault = "bad checksum",
         .board = [](BoardConfig& c) { c.badChecksumOnExchange = 2; },
         .out = With(kWholeRun, {"**** Assign unknown tx compleated id=0\n"}),
         .err = {"**** Checksum error\n", "------TXSPI ERROR ----- request id:1  mt:M_REQ_INFO\n"}});
    add({.fault = "board echoes wrong ids",
         .board = [](BoardConfig& c) { c.garbage = Frame(M_GET_INFO, 0x63); },
         .out = kWholeRun,
         .err = {"**** Cid error expect 1 cid=99 (0x01 != 0x63)\n",
                 "------TXSPI ERROR ----- request id:1  mt:M_REQ_INFO\n"}});
    add({.fault = "identity fields without NUL",
         .board =
             [](BoardConfig& c) {
                 c.identity = {"S123456789ABCDEFxx", "P123456789ABCDEF", "R123456789ABCDEF",
                               "V123456789ABCDEF", "1020567890123456"};
             },
         .out = kWholeRun,
         .err = {Identity("P123456789ABCDEF", "R123456789ABCDEF", "S123456789ABCDEF",
                          "V123456789ABCDEF", "1020567890123456")}});
    add({.fault = "identity texts not ASCII or not UTF-8",
         .board =
             [](BoardConfig& c) {
                 c.identity = {"\xE9t\xE9", "\xC3\x9C" "bertr\xC3\xA4ger", "\xFF\xFE",
                               "5.2\x80", "1020"};
             },
         .out = kWholeRun,
         .err = {Identity("\xC3\x9C" "bertr\xC3\xA4ger", "\xFF\xFE", "\xE9t\xE9", "5.2\x80",
                          "1020")}});
    add({.fault = "signals during pauses and ready-line polls",
         .runner = Runner::LinkUnderSignals,
         .err = {"TxSpi: Detected protocol version 5\n---- Assume correct cid=0\n" + kIdentity +
                 kIdentity},
         .absent = {"ERROR", "****", "Timeout"}});
    add({.fault = "answer line of 100 kB",
         .args = {},
         .input = Input::Text,
         .inputText = std::string(100000, 'n') + "yes\n",
         .out = kWholeRun});
    add({.fault = "standard input closed",
         .args = {},
         .input = Input::Closed,
         .out = {"Please enter 'yes' to confirm this action\nNo action taken\n-------------------\n"},
         .err = {kIdentity + kIdentity},
         .absent = {"Action confirmed"}});
    return rows;
}

TEST(FaultMatrix, EveryFaultGetsItsMessagesAndTheRunEnds) {
    REQUIRE_MOCK_ENVIRONMENT();
    for (const FaultRow& row : Matrix()) {
        SCOPED_TRACE(row.fault);
        BoardConfig config;
        row.board(config);
        Bench bench(config, row.spidev, row.gpioNode);
        const Result result = row.runner == Runner::Tool ? RunTool(row) : RunLinkUnderSignals(bench);

        EXPECT_TRUE(result.finished) << "no clean end (killed at the deadline or by a signal)";
        EXPECT_EQ(result.status, 0);
        for (const std::string& text : row.out) EXPECT_NE(result.out.find(text), std::string::npos) << text;
        for (const std::string& text : row.err) {
            EXPECT_NE(result.err.find(text), std::string::npos) << text << "\n--- stderr:\n" << result.err;
        }
        for (const std::string& text : row.absent) {
            EXPECT_EQ(result.out.find(text), std::string::npos) << text;
            EXPECT_EQ(result.err.find(text), std::string::npos) << text;
        }
        EXPECT_EQ((result.out + result.err).find("(null)"), std::string::npos);
        if (row.runner == Runner::LinkUnderSignals) {
            // Interrupted pauses still last their full length: the identity
            // request's 60 ms pause separates the first two transfers.
            const std::vector<sim::BusRecord> records = bench.board.Records();
            ASSERT_EQ(records.size(), 5u);
            EXPECT_GE(NanosecondsBetween(records[0].time, records[1].time), 60000000);
            for (const sim::BusRecord& record : records) EXPECT_FALSE(record.failed);
        }
    }
}

}  // namespace
