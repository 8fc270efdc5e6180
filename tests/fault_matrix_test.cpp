// The fault matrix: each way the devices, the board or the operator's input can go wrong, one row:
// its exit status and messages, the tool's dialogue whole, no "(null)", no hang (RunProgram kills
// at 15 s). The row without a command drives the link in this process.
#include <sys/time.h>

#include <cerrno>
#include <sstream>

#include "diag_command.h"
#include "fpga_support.h"

namespace {

constexpr auto npos = std::string::npos;

enum Node : unsigned { kSpidev = 1, kGpio = 2, kRegisters = 4 };

struct FaultRow {
    const char* fault;
    sim::BoardConfig board{};
    void (*devices)(sim::GpioDeviceModel&, sim::FpgaRegisterModel&) = [](auto&, auto&) {};
    unsigned missing = 0;                   // the nodes left out
    std::vector<std::string> command = {TXBOOTLOAD_PATH, "-Y"};  // RBF: the bitstream file
    std::string input{};
    unsigned closed = 0;  // standard descriptors closed (ClosedStreams)
    const char* stdoutPath = nullptr;  // a file for standard output instead
    int status = 0;
    std::vector<std::string> out{}, err{}, absent{};  // absent: on neither stream
};

// The tool's road through the link, in this process, while an interval timer
// interrupts every pause and every ready-line poll with a signal.
ProgramRun RunLinkUnderSignals(Bench& bench) {
    struct sigaction action {};
    action.sa_handler = [](int) {};  // no SA_RESTART: sleeps return EINTR
    sigaction(SIGALRM, &action, nullptr);  // left in place: each row runs in a process of its own
    const itimerval every{{0, 300}, {0, 300}}, off{};
    setitimer(ITIMER_REAL, &every, nullptr);
    // Ready at the two transfers with legacy timing; once the identity has
    // selected fast timing, a few not-ready polls before each transfer.
    bench.gpio.ScriptLevels({0, 0, 1, 1, 0, 0, 0, 1, 0, 0, 0, 1, 1, 0, 0, 0});
    CapturedOutput output;
    {
        TxSpi link(sim::kSpidevPath);
        std::array<uint8_t, kTransmitterInfoSize> info{};
        link.GetInfo(info), link.SetBootLoadMode(), link.GetInfo(info);
    }
    output.Finish();
    setitimer(ITIMER_REAL, &off, nullptr);
    return {0, output.out, output.err};
}

// "txdiag COMMAND" run in this process on the bench's link, whose clock
// skips the pauses and ready-line waits.
constexpr const char* kInProcess = "txdiag in this process";

ProgramRun RunDiagOnLink(Bench& bench, const std::string& command) {
    TxSpi& link = bench.Link();
    bench.clock.tick = 100000000;  // few readings of a ready line that does not come
    diag::Options options;
    options.assumeYes = true;
    const std::vector<std::string> args;
    CapturedOutput output;
    diag::Report report(command, false, nullptr);
    diag::Invocation call{options, args, report};
    const int status = report.Finish(diag::RunOnLink(command, link, call));
    output.Finish();
    return {status, output.out, output.err};
}

std::string Identity(std::string p, std::string r, std::string s, std::string sw, std::string n) {
    return "Product:" + p + "\nRev:    " + r + "\nSNR:    " + s + "\nSW:" + sw + "(" + n + ")\n";
}

const std::string kIdentity = Identity("TX-500", "C", "TX0412-0077", "5.2.1", "1020");
const std::string kEmptyIdentity = Identity("", "", "", "", "");
const std::string kFF(16, '\xFF');
const std::string kRun =
    "Action confirmed by user\nTx is in usb boot loader mode\n-------------------\n";
const std::string kRequestFailed = "------TXSPI ERROR ----- request id:1  mt:M_REQ_INFO\n";
const std::string kNoFile =
    "sysfs: Can not open /sys/devices/platform/skarvik-gpio/spi0_int/value\n";
const char *const kP = "P123456789ABCDEF", *const kR = "R123456789ABCDEF",
                 *const kV = "V123456789ABCDEF";
const char* const kUtf8 = "\xC3\x9C" "bertr\xC3\xA4ger";

const std::vector<std::string> kLoad = {TXDIAG_PATH, "-y", "fpga-load", "RBF"},
                               kVersion = {TXDIAG_PATH, "fpga-version", "RBF"};
constexpr size_t kRbf = 2100;  // bytes of the bitstream file: three chunks

// A bitstream load that fails with `code`.
FaultRow Load(const char* fault, void (*fpga)(sim::GpioDeviceModel&, sim::FpgaRegisterModel&),
              int code) {
    return {.fault = fault, .devices = fpga, .command = kLoad, .status = 1,
            .err = {"******FPGA config failed. Error code = " + std::to_string(code) + "\n"}};
}

const FaultRow kMatrix[] = {
    {.fault = "spidev node missing", .missing = kSpidev,
     .err = {"******* Error: TxSpi can't open device /dev/spidev0.1\n",
             "*** TXSPI ioctl error ret=0 length=88\n", kEmptyIdentity},
     .absent = {"TXspi speed="}},
    // A failed reading counts as ready: two per transfer once fast timing is on, no waiting.
    {.fault = "GPIO node and its sysfs file missing", .missing = kGpio,
     .out = {"gpio:*** Error: Can not open device /dev/fpga_config.0 ErrNo=2\n"
             "TXspi speed=800000\n------\nTx prepare for software update via usb.\n" + kNoFile,
             "-------------------\n" + kNoFile + kNoFile + kNoFile + kNoFile + kNoFile + kNoFile},
     .err = {kIdentity}},
    {.fault = "transfers fail with EIO", .board = {.failIoctlFromExchange = 1},
     .err = {"*** TXSPI ioctl error ret=-1 length=88\n", kEmptyIdentity}},
    {.fault = "short transfer", .board = {.shortTransferOnExchange = 2},
     .err = {"*** TXSPI ioctl error ret=87 length=88\n", kRequestFailed}},
    {.fault = "silent board", .board = {.silentFromExchange = 1},
     .err = {"**** Not valid message type\n", "**** Wrong receive size Expect 88 != 0\n",
             "**** Not expected return message type expect=23 got=0\n", kRequestFailed}},
    {.fault = "0xFF only", .board = {.garbage = Bytes(200, 0xFF)},
     .err = {"**** TOO large message received received=255 expected=88\n", "**** Checksum error\n",
             "TxSpi: Detected protocol version 255\n", Identity(kFF, kFF, kFF, kFF, kFF)}},
    {.fault = "board sends random bytes", .board = {.garbage = Bitstream(200)},
     .err = {"**** Checksum error\n", "------TXSPI ERROR -----"}},
    {.fault = "board flips to protocol version 4", .board = {.protocolVersion = 4},
     .err = {"TxSpi: Detected protocol version 4\n" + kIdentity}, .absent = {"------TXSPI ERROR"}},
    {.fault = "protocol version 0", .board = {.protocolVersion = 0},
     .err = {"---- Assume correct cid=0\nTxSpi: Detected protocol version 0\n"
             "TxSpi: Detected protocol version 0\n" + kIdentity}},
    {.fault = "bad checksum", .board = {.badChecksumOnExchange = 2},
     .out = {"**** Assign unknown tx compleated id=0\n"},
     .err = {"**** Checksum error\n", kRequestFailed}},
    // A sound M_GET_INFO frame (zero-filled to its 88 bytes) that answers request 0x63.
    {.fault = "wrong ids", .board = {.garbage = {23, 7, 5, 88, 0x63, 0, 222, 0}},
     .err = {"**** Cid error expect 1 cid=99 (0x01 != 0x63)\n", kRequestFailed}},
    {.fault = "identity fields without NUL",
     .board = {.identity = {"S123456789ABCDEFxx", kP, kR, kV, "1020567890123456"}},
     .err = {Identity(kP, kR, "S123456789ABCDEF", kV, "1020567890123456")}},
    {.fault = "identity texts not ASCII or not UTF-8",
     .board = {.identity = {"\xE9t\xE9", kUtf8, "\xFF\xFE", "5.2\x80", "1020"}},
     .err = {Identity(kUtf8, "\xFF\xFE", "\xE9t\xE9", "5.2\x80", "1020")}},
    {.fault = "signals during pauses and ready-line polls", .command = {},
     .err = {"---- Assume correct cid=0\n" + kIdentity + kIdentity},
     .absent = {"ERROR", "****", "Timeout"}},
    {.fault = "answer line of 100 kB", .command = {TXBOOTLOAD_PATH},
     .input = std::string(100000, 'n') + "yes\n"},
    {.fault = "standard input closed", .command = {TXBOOTLOAD_PATH}, .closed = kInputClosed,
     .out = {"Please enter 'yes' to confirm this action\nNo action taken\n-------------------\n"},
     .err = {kIdentity + kIdentity}, .absent = {"Action confirmed"}},
    // The FPGA: configuration node and bitstream load, then the register device.
    {.fault = "configuration node missing", .missing = kGpio, .command = kLoad, .status = 1,
     .err = {"***** FPGA::Configure: Open /dev/fpga_config.0 failed!\n"}},
    Load("configuration request fails with EIO", [](auto& g, auto&) { g.FailRequest(8, 1); }, -1),
    Load("status input high before the data", [](auto& g, auto&) { g.ScriptStatus({1}); }, -101),
    Load("done input high before the data", [](auto& g, auto&) { g.ScriptDone({1}); }, -102),
    Load("status input never rises", [](auto& g, auto&) { g.ScriptStatus(Bytes(7, 0)); }, -103),
    Load("done input never set", [](auto& g, auto&) { g.ScriptDone(Bytes(7, 0)); }, -104),
    Load("bitstream write takes nothing", [](auto& g, auto&) { g.FailWrite(2, 0, 0); }, -105),
    Load("bitstream write fails with EIO", [](auto& g, auto&) { g.FailWrite(1, -1, EIO); }, -105),
    Load("status drops after a chunk", [](auto& g, auto&) { g.ScriptStatus({0, 1, 0}); }, -106),
    {.fault = "closing request 20 fails", .devices = [](auto& g, auto&) { g.FailRequest(20, 1); },
     .command = kLoad, .status = 1, .err = {"FPGA configuration success!\n"}},
    // Done comes only with the whole file: the rest of a short write is sent.
    {.fault = "bitstream writes cut short or interrupted", .devices = [](auto& g, auto&) {
         g.LimitWrite(100), g.FailWrite(3, -1, EINTR), g.ExpectBitstreamSize(kRbf); },
     .command = kLoad, .err = {"FPGA configuration success!\n"}},
    {.fault = "register device missing", .missing = kRegisters, .command = kVersion, .status = 1,
     .err = {"txdiag: fpga-version: cannot use /dev/spidev1.0: No such file or directory\n"}},
    // A failed read is never shown as a reading.
    {.fault = "register transfer fails with EIO",
     .devices = [](auto&, auto& r) { r.FailRegister(29); }, .command = kVersion, .status = 1,
     .err = {"Exception: fpga_reg:172 FPGAReg::ReadReg failed\n"
             "Exception: fpga_reg:267 FPGAReg::ReadAllRegs() Failed!\nFPGA firmware version: 0\n",
             "txdiag: fpga-version: register 29 (version) cannot be read\n"},
     .absent = {"firmware version: 0 (0x00)"}},
    {.fault = "key input register fails with EIO",
     .devices = [](auto&, auto& r) { r.FailRegister(26); },
     .command = {TXDIAG_PATH, "fpga-keys", "RBF"}, .status = 1,
     .err = {"txdiag: fpga-keys: register 26 (key inputs) cannot be read\n"},
     .absent = {"none pressed", "input lines"}},
    {.fault = "FPGA without its signature",
     .devices = [](auto&, auto& r) { r.SignatureFromRead(0); }, .command = kVersion, .status = 1,
     .err = {"FPGAReg::Init timeout\n",
             "txdiag: fpga-version: the FPGA does not run: register 30 reads 0x00, not 0x95\n"},
     .absent = {"(0x"}},
    {.fault = "bitstream load fails before the registers",
     .devices = [](auto& g, auto&) { g.ScriptDone(Bytes(7, 0)); },
     .command = {TXDIAG_PATH, "fpga-regs", "RBF"}, .status = 1,
     .err = {"******FPGA config failed. Error code = -104\n",
             "txdiag: fpga-regs: bitstream load failed (error code -104)\n"},
     .absent = {"FPGA_REG_"}},
    {.fault = "register node that is no SPI device",
     .command = {TXDIAG_PATH, "--fpga-device", "/dev/null", "fpga-version", "RBF"}, .status = 1,
     .err = {"txdiag: fpga-version: cannot use /dev/null: not an SPI device\n"},
     .absent = {"(0x"}},
    // Refused before any device is touched.
    {.fault = "bitstream that never ends", .command = {TXDIAG_PATH, "-y", "fpga-load", "/dev/zero"},
     .status = 2, .err = {"txdiag: bitstream /dev/zero: not a regular file\n"},
     .absent = {"FPGA"}},
    {.fault = "bitstream that is a directory", .command = {TXDIAG_PATH, "fpga-regs", "/"},
     .status = 2, .err = {"txdiag: bitstream /: not a regular file\n"}, .absent = {"FPGA"}},
    // Every exchange of a link command counts.
    {.fault = "bad checksum in the middle of the channel read-out",
     .board = {.badChecksumOnExchange = 10}, .command = {kInProcess, "values"}, .status = 1,
     .out = {"V5_CHANNEL_ANALOGUE_COMMON_BATTERY=", "V5_CHANNEL_ANALOGUE_CURRENT_FEEDBACK="},
     .err = {"**** Checksum error\n", "txdiag: values: no reading from channel(s) 4\n"},
     .absent = {"V5_CHANNEL_ANALOGUE_USB="}},
    {.fault = "bad checksum on the request of a query",
     .board = {.badChecksumOnExchange = 3}, .command = {kInProcess, "faults"}, .status = 1,
     .err = {"txdiag: faults: fault word: 1 failed exchange(s)\n"}, .absent = {"TX status"}},
    {.fault = "wrong acknowledgement of a reset",
     .board = {.failAckType = M_RESET, .failAckCount = sim::kAlways}, .command = {kInProcess, "reset"},
     .status = 1, .err = {"txdiag: reset: wrong acknowledgement: request id 131 instead of 3\n"},
     .absent = {"reset acknowledged"}},
    {.fault = "ready line never comes after the identity",
     .devices = [](auto& g, auto&) { g.NeverReady(); },
     .command = {kInProcess, "ready"}, .status = 1,
     .out = {"*** WaitMinDelay(0) Timeout tx GetSpiRead\n"},
     .err = {"txdiag: ready: ready report: no ready line before 2 exchange(s)\n"},
     .absent = {"ready, fault word"}},
    // Closed standard descriptors are not taken by device nodes.
    {.fault = "standard output closed", .command = {TXBOOTLOAD_PATH, "-Y"},
     .closed = kOutputClosed, .err = {kIdentity + kIdentity}},
    {.fault = "standard output and input closed, no -Y", .command = {TXBOOTLOAD_PATH},
     .closed = kInputClosed | kOutputClosed, .err = {kIdentity + kIdentity}},
    {.fault = "txdiag with its standard output closed", .command = {TXDIAG_PATH, "info"},
     .closed = kOutputClosed, .err = {kIdentity}},
    // Lost output is a failure.
    {.fault = "full standard output", .command = {TXDIAG_PATH, "version"},
     .stdoutPath = "/dev/full", .status = 1,
     .err = {"txdiag: write error on standard output: No space left on device\n"}},
    {.fault = "full step report", .command = {TXDIAG_PATH, "--timing", "/dev/full", "fpga-keys",
     "RBF"}, .status = 1, .out = {"keys: none pressed\n"},
     .err = {"txdiag: fpga-keys: step report lost: No space left on device\n"}},
};

class FaultMatrix : public testing::TestWithParam<FaultRow> {};
void PrintTo(const FaultRow& row, std::ostream* os) { *os << row.fault; }

TEST_P(FaultMatrix, RowGetsItsMessagesAndTheRunEnds) {
    const FaultRow& row = GetParam();
    ScratchDir dir;
    WriteBitstream(dir, "fpga.rbf", kRbf);
    sim::FpgaRegisterModel registers;
    Bench bench(row.board, !(row.missing & kSpidev), !(row.missing & kGpio));
    EXPECT_TRUE((row.missing & kRegisters) || bench.testbed.AddFpgaRegisterDevice(registers));
    row.devices(bench.gpio, registers);
    std::vector<std::string> argv = row.command;
    std::ranges::replace(argv, std::string("RBF"), dir / "fpga.rbf");
    const ProgramRun run = argv.empty()               ? RunLinkUnderSignals(bench)
                           : argv[0] == kInProcess ? RunDiagOnLink(bench, argv[1])
                               : RunProgram(argv, row.input, row.closed, nullptr, row.stdoutPath);
    std::string dialogue, l;  // the tool's standard output without the link's complaints
    for (std::istringstream lines(run.out); std::getline(lines, l);)
        if (!l.starts_with("*") && !l.starts_with("sysfs:")) dialogue += l + "\n";
    const bool confirmed =
        !argv.empty() && argv[0] == TXBOOTLOAD_PATH && (row.closed & (kInputClosed | kOutputClosed)) == 0;
    // Only a bitstream is written to the configuration node, never a line of text.
    const bool loads =
        std::ranges::any_of(argv, [](const std::string& a) { return a.starts_with("fpga-"); });
    EXPECT_TRUE(loads || bench.gpio.WriteCount() == 0) << bench.gpio.WriteCount();
    EXPECT_TRUE(!confirmed || dialogue.ends_with(kRun)) << run.out;
    EXPECT_EQ(run.status, row.status);
    for (const std::string& t : row.out) EXPECT_NE(run.out.find(t), npos) << t << run.out;
    for (const std::string& t : row.err) EXPECT_NE(run.err.find(t), npos) << t << run.err;
    for (const std::string& t : row.absent) EXPECT_EQ((run.out + run.err).find(t), npos) << t;
    EXPECT_EQ((run.out + run.err).find("(null)"), npos);
}

INSTANTIATE_TEST_SUITE_P(Rows, FaultMatrix, testing::ValuesIn(kMatrix));

}  // namespace
