// txdiag's FPGA and registry commands end to end: the real executable runs
// against the emulated configuration node and register device.
#include <sstream>

#include "fpga_support.h"

namespace {

struct DiagBench {
    DiagBench() {
        EXPECT_TRUE(testbed.AddGpioDevice(gpio)) << testbed.LastError();
        EXPECT_TRUE(testbed.AddFpgaRegisterDevice(fpga)) << testbed.LastError();
    }
    sim::GpioDeviceModel gpio;
    sim::FpgaRegisterModel fpga;
    sim::Testbed testbed;
    ScratchDir dir;
    std::string rbf = WriteBitstream(dir, "fpga.rbf", 1500);
};

TEST(DiagFpga, CommandsPrintTheirResultsAndStepTimes) {
    REQUIRE_MOCK_ENVIRONMENT();
    DiagBench bench;
    bench.fpga.SetRegister(29, 0x21);
    bench.fpga.PressKey(2, 0);
    const std::string started = "Initialize FPGA\n" + Loaded(bench.rbf);
    const std::string init = started + "FPGA firmware version: 33\n";
    const struct {
        std::vector<std::string> args;
        int status;
        std::string out, err;
    } cases[] = {
        {{TXDIAG_PATH, "fpga-load", bench.rbf}, 0, "", Loaded(bench.rbf)},
        {{TXDIAG_PATH, "fpga-version", bench.rbf}, 0, "firmware version: 33 (0x21)\n", init},
        {{TXDIAG_PATH, "fpga-test", bench.rbf}, 0, "register self-test: 0 mismatches\n", init},
        {{TXDIAG_PATH, "fpga-keys", bench.rbf}, 0, "keys: input lines 0x01, output lines 0x04\n",
         init},
        {{TXDIAG_PATH, "devices"}, 0, "DEVICES:\nDEVICES END\n", ""},
        {{TXDIAG_PATH, "--fpga-device", "/dev/spidev9.9", "fpga-regs", bench.rbf}, 1,
         "fpga_reg:*** Error: Can not open device /dev/spidev9.9 ErrNo=2\n", started},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[1]);
        const ProgramRun run = RunProgram(c.args);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, c.err);
    }
    EXPECT_EQ(bench.gpio.Bitstream(), Bitstream(1500));

    // Step times: start-up, Init and the dump, twice, as lap table lines.
    const std::string report = bench.dir / "times.txt";
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(RunProgram({TXDIAG_PATH, "--timing", report, "fpga-regs", bench.rbf}).status, 0);
    }
    std::istringstream lines(sim::ReadFile(report));
    std::string indices;
    for (std::string line; std::getline(lines, line);) indices += line.substr(line.find('\t'), 3);
    EXPECT_EQ(indices, "\t0\t\t1\t\t2\t\t0\t\t1\t\t2\t");

    const std::string missing = bench.dir / "no/such/file";
    const ProgramRun run = RunProgram({TXDIAG_PATH, "--timing", missing, "devices"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "txdiag: cannot open " + missing + ": No such file or directory\n");
}

// txsim's FPGA options reach the emulated devices.
TEST(DiagFpga, UnderTxsimWithItsFpgaOptions) {
    ScratchDir dir;
    const std::string rbf = WriteBitstream(dir, "fpga.rbf", 2100);
    const ProgramRun run = RunProgram({SIM_TXSIM, "--fpga-partial-writes", "100",
                                       "--fpga-version", "7", "--fpga-no-signature", "--fpga-key",
                                       "0,1", "--", TXDIAG_PATH, "fpga-keys", rbf});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "keys: input lines 0x02, output lines 0x01\n");
    EXPECT_EQ(run.err, "Initialize FPGA\n" + Loaded(rbf) +
                           "FPGAReg::Init timeout\nFPGA firmware version: 7\n");
    const ProgramRun bad = RunProgram({SIM_TXSIM, "--fpga-key", "3,1", "--", TXDIAG_PATH});
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.err, "txsim: bad value '3,1' for --fpga-key\n");
}

}  // namespace
