// txdiag's FPGA and registry commands end to end: the real executable runs
// against the emulated configuration node and register device.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "fpga_support.h"
#include "test_support.h"

namespace {

struct DiagRun {
    int status = -1;
    std::string out, err;
};

// Runs `program` with `args`, collecting its status and both streams.
DiagRun RunProgram(const TempDir& dir, const char* program, std::vector<std::string> args) {
    const std::string out = dir.File("out"), err = dir.File("err");
    args.insert(args.begin(), program);
    args = UnderEmulator(std::move(args));
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(o, 1);
        dup2(e, 2);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadText(out), ReadText(err)};
}

DiagRun RunDiag(const TempDir& dir, std::vector<std::string> args) {
    return RunProgram(dir, TXDIAG_PATH, std::move(args));
}

struct DiagBench {
    DiagBench() {
        EXPECT_TRUE(testbed.AddGpioDevice(gpio)) << testbed.LastError();
        EXPECT_TRUE(testbed.AddFpgaRegisterDevice(fpga)) << testbed.LastError();
        rbf = dir.Write("fpga.rbf", Bitstream(1500));
    }
    sim::GpioDeviceModel gpio;
    sim::FpgaRegisterModel fpga;
    sim::Testbed testbed;
    TempDir dir;
    std::string rbf;
};

TEST(DiagFpga, CommandsPrintTheirResults) {
    REQUIRE_MOCK_ENVIRONMENT();
    DiagBench bench;
    bench.fpga.SetRegister(29, 0x21);
    bench.fpga.PressKey(2, 0);
    const std::string loaded = "FPGA: Use RBF file: " + bench.rbf + "\nFPGA configuration success!\n";
    const std::string started = "Initialize FPGA\n" + loaded + "FPGA firmware version: 33\n";
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out, err;
    } cases[] = {
        {{"fpga-load", bench.rbf}, 0, "", loaded},
        {{"fpga-version", bench.rbf}, 0, "firmware version: 33 (0x21)\n", started},
        {{"fpga-test", bench.rbf}, 0, "register self-test: 0 mismatches\n", started},
        {{"fpga-keys", bench.rbf}, 0, "keys: input lines 0x01, output lines 0x04\n", started},
        {{"devices"}, 0, "DEVICES:\nDEVICES END\n", ""},
        {{"--fpga-device", "/dev/spidev9.9", "fpga-regs", bench.rbf}, 1,
         "fpga_reg:*** Error: Can not open device /dev/spidev9.9 ErrNo=2\n",
         "Initialize FPGA\n" + loaded},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.args[0]);
        const DiagRun run = RunDiag(bench.dir, c.args);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, c.err);
    }
    EXPECT_EQ(bench.gpio.Bitstream(), Bitstream(1500));
}

TEST(DiagFpga, StepTimesAreAppendedToTheTimingFile) {
    REQUIRE_MOCK_ENVIRONMENT();
    DiagBench bench;
    const std::string report = bench.dir.File("times.txt");
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(RunDiag(bench.dir, {"--timing", report, "fpga-regs", bench.rbf}).status, 0);
    }
    // Start-up, Init and the dump, twice; the line format is the lap table's.
    std::istringstream lines(ReadText(report));
    std::vector<std::string> indices;
    for (std::string line; std::getline(lines, line);) {
        indices.push_back(line.substr(line.find('\t') + 1, 1));
    }
    EXPECT_EQ(indices, (std::vector<std::string>{"0", "1", "2", "0", "1", "2"}));

    const std::string missing = bench.dir.File("no/such/file");
    const DiagRun run = RunDiag(bench.dir, {"--timing", missing, "devices"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "txdiag: cannot open " + missing + ": No such file or directory\n");
}

// txsim's FPGA options reach the emulated devices.
TEST(DiagFpga, UnderTxsimWithItsFpgaOptions) {
    TempDir dir;
    const std::string rbf = dir.Write("fpga.rbf", Bitstream(2100));
    const DiagRun run = RunProgram(
        dir, SIM_TXSIM,
        {"--fpga-partial-writes", "100", "--fpga-version", "7", "--fpga-no-signature",
         "--fpga-key", "0,1", "--", TXDIAG_PATH, "fpga-keys", rbf});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "keys: input lines 0x02, output lines 0x01\n");
    EXPECT_EQ(run.err, "Initialize FPGA\nFPGA: Use RBF file: " + rbf +
                           "\nFPGA configuration success!\nFPGAReg::Init timeout\n"
                           "FPGA firmware version: 7\n");

    const DiagRun bad = RunProgram(dir, SIM_TXSIM, {"--fpga-key", "3,1", "--", TXDIAG_PATH});
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.err, "txsim: bad value '3,1' for --fpga-key\n");
}

}  // namespace
