// The fault matrix: each way the devices, the board or the operator's input can go wrong, one row:
// its exit status and messages, no "(null)", no hang (RunProgram kills at 15 s). Faults of the link
// and the loader alone are the subject of their own suites.
#include "diag_command.h"
#include "fpga_support.h"

namespace {

constexpr auto npos = std::string::npos;

struct FaultRow {
    const char* fault;
    sim::BoardConfig board{};
    void (*devices)(sim::GpioDeviceModel&, sim::FpgaRegisterModel&) = [](auto&, auto&) {};
    const char* call = nullptr;  // one failed system call, as the fault sweep names it
    std::vector<std::string> command = {TXBOOTLOAD_PATH, "-Y"};  // RBF: the bitstream file
    unsigned closed = 0;  // standard descriptors closed (ClosedStreams)
    const char* stdoutPath = nullptr;  // a file for standard output instead
    int status = 0;
    std::vector<std::string> out{}, err{}, absent{};  // absent: on neither stream
};

// "txdiag COMMAND" run in this process on the bench's link, whose clock
// skips the pauses and ready-line waits.
constexpr const char* kInProcess = "txdiag in this process";

ProgramRun RunDiagOnLink(Bench& bench, const std::string& command) {
    TxSpi& link = bench.Link();
    bench.clock.tick = 100000000;  // few readings of a ready line that does not come
    const diag::Options options{.timing = {}, .assumeYes = true};
    const std::vector<std::string> args;
    CapturedOutput output;
    diag::Report report(command, false, nullptr);
    diag::Invocation call{options, args, report};
    const int status = report.Finish(diag::RunOnLink(command, link, call));
    output.Finish();
    return {status, output.out, output.err};
}

const std::string kIdentity = "Product:TX-500\nRev:    C\nSNR:    TX0412-0077\nSW:5.2.1(1020)\n";
const std::string kUtf8 = "\xC3\x9C" "bertr\xC3\xA4ger";
const std::vector<std::string> kVersion = {TXDIAG_PATH, "fpga-version", "RBF"};

const FaultRow kMatrix[] = {
    {.fault = "identity texts not ASCII or not UTF-8",
     .board = {.identity = {"\xE9t\xE9", kUtf8, "\xFF\xFE", "5.2\x80", "1020"}},
     .err = {"Product:" + kUtf8 + "\nRev:    \xFF\xFE\nSNR:    \xE9t\xE9\nSW:5.2\x80(1020)\n"}},
    {.fault = "standard input closed", .command = {TXBOOTLOAD_PATH}, .closed = kInputClosed,
     .out = {"Please enter 'yes' to confirm this action\nNo action taken\n-------------------\n"},
     .err = {kIdentity + kIdentity}, .absent = {"Action confirmed"}},
    // A failed read is never shown as a reading.
    {.fault = "register transfer fails with EIO after the start-up",
     .devices = [](auto&, auto& r) { r.FailRegister(29, 2); }, .command = kVersion, .status = 1,
     .err = {"Exception: fpga_reg:172 FPGAReg::ReadReg failed\n",
             "txdiag: fpga-version: register 29 (version) cannot be read\n"},
     .absent = {"(0x"}},
    {.fault = "register read of Init fails (it prints a version it never read)",
     .devices = [](auto&, auto& r) { r.FailRegister(5); }, .command = kVersion, .status = 1,
     .err = {"Exception: fpga_reg:267 FPGAReg::ReadAllRegs() Failed!\nFPGA firmware version: 0\n",
             "txdiag: fpga-version: init: 1 register transfer(s) failed\n"},
     .absent = {"(0x"}},
    {.fault = "key output register fails during the scan of a held key",
     .devices = [](auto&, auto& r) { r.PressKey(1, 2), r.FailRegister(27, 2); },
     .command = {TXDIAG_PATH, "fpga-keys", "RBF"}, .status = 1,
     .err = {"txdiag: fpga-keys: scan: "},
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
    // Request 297: after the probe, 5 of set-up, 1 + 32 of Init, 1 + 256 signature reads.
    {.fault = "self-test write that changes nothing fails", .call = "/dev/spidev1.0 ioctl 297 EIO",
     .command = {TXDIAG_PATH, "fpga-test", "RBF"}, .status = 1,
     .err = {"txdiag: fpga-test: self-test: 1 register transfer(s) failed\n"},
     .absent = {"0 mismatches"}},
    {.fault = "SPI set-up: read-back of the clock refused", .call = "/dev/spidev0.1 ioctl 7 EIO",
     .command = {TXDIAG_PATH, "info"}, .status = 1, .out = {"can't get max speed hz\n"},
     .err = {"txdiag: info: SPI set-up of /dev/spidev0.1: 1 request(s) refused\n"},
     .absent = {"software number"}},
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
    const SweepSetting setting(row.call);
    WriteBitstream(dir, "fpga.rbf", 2100);  // three chunks
    sim::FpgaRegisterModel registers;
    Bench bench(row.board);
    EXPECT_TRUE(bench.testbed.AddFpgaRegisterDevice(registers));
    row.devices(bench.gpio, registers);
    std::vector<std::string> argv = row.command;
    std::ranges::replace(argv, std::string("RBF"), dir / "fpga.rbf");
    const ProgramRun run = argv[0] == kInProcess ? RunDiagOnLink(bench, argv[1])
                               : RunProgram(argv, "", row.closed, nullptr, row.stdoutPath);
    // Only a bitstream is written to the configuration node, never a line of text.
    const bool loads =
        std::ranges::any_of(argv, [](const std::string& a) { return a.starts_with("fpga-"); });
    EXPECT_TRUE(loads || bench.gpio.WriteCount() == 0) << bench.gpio.WriteCount();
    EXPECT_EQ(run.status, row.status);
    for (const std::string& t : row.out) EXPECT_NE(run.out.find(t), npos) << t << run.out;
    for (const std::string& t : row.err) EXPECT_NE(run.err.find(t), npos) << t << run.err;
    for (const std::string& t : row.absent) EXPECT_EQ((run.out + run.err).find(t), npos) << t;
    EXPECT_EQ((run.out + run.err).find("(null)"), npos);
}

INSTANTIATE_TEST_SUITE_P(Rows, FaultMatrix, testing::ValuesIn(kMatrix));

}  // namespace
