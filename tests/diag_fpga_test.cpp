// txdiag's FPGA and registry commands end to end: the real executable runs
// against the emulated configuration node and register device, and under
// txsim with its FPGA options.
#include "fpga_support.h"

namespace {

void ExpectRun(const std::vector<std::string>& args, int status, std::string out, std::string err) {
    const ProgramRun run = RunProgram(args);
    EXPECT_EQ(std::tie(run.status, run.out, run.err), std::tie(status, out, err));
}

// Both devices, firmware version 33 in register 29, and a bitstream file.
struct DiagFpga : testing::Test {
    void SetUp() override {
        REQUIRE_MOCK_ENVIRONMENT();
        ASSERT_TRUE(testbed.AddGpioDevice(gpio) && testbed.AddFpgaRegisterDevice(fpga));
        fpga.SetRegister(29, 0x21);
    }
    sim::GpioDeviceModel gpio;
    sim::FpgaRegisterModel fpga;
    sim::Testbed testbed;
    ScratchDir dir;
    const std::string rbf = WriteBitstream(dir, "fpga.rbf", 1500);
    const std::string started =
        "Initialize FPGA\nFPGA: Use RBF file: " + rbf + "\nFPGA configuration success!\n";
    const std::string init = started + "FPGA firmware version: 33\n";
};

// Keys pressed are read under txsim below.
TEST_F(DiagFpga, VersionAndTestPrintTheirResults) {
    ExpectRun({TXDIAG_PATH, "fpga-version", rbf}, 0, "firmware version: 33 (0x21)\n", init);
    ExpectRun({TXDIAG_PATH, "fpga-test", rbf}, 0, "register self-test: 0 mismatches\n", init);
}

// A heading that names the run, then a lap line each for start-up, Init, the
// read and the dump, appended.
TEST_F(DiagFpga, StepTimesAreAppendedUnderAHeadingNamingTheRun) {
    const std::string report = dir / "times.txt";
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(RunProgram({TXDIAG_PATH, "--timing", report, "fpga-regs", rbf}).status, 0);
    const std::string times = sim::ReadFile(report);
    EXPECT_EQ(std::ranges::count(times, '\n'), 10);
    EXPECT_TRUE(times.starts_with("# txdiag fpga-regs, ")) << times;
    EXPECT_NE(times.find(" UTC, steps: start-up init read dump\n"), std::string::npos) << times;
}

TEST_F(DiagFpga, TheStepReportsDestinationIsCheckedBeforeAnyDevice) {
    const std::string missing = dir / "no/such/file";
    ExpectRun({TXDIAG_PATH, "--timing", missing, "fpga-version", rbf}, 1, "",
              "txdiag: cannot open " + missing + ": No such file or directory\n");
}

TEST_F(DiagFpga, TxsimsFpgaOptionsReachTheEmulatedDevices) {
    ExpectRun({SIM_TXSIM, "--fpga-partial-writes", "100", "--fpga-version", "7", "--fpga-key",
               "0,1", "--", TXDIAG_PATH, "fpga-keys", rbf},
              0, "keys: input lines 0x02, output lines 0x01\n",
              started + "FPGA firmware version: 7\n");
}

}  // namespace
