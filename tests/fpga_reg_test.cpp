// The FPGA register access against the emulated register device: start-up,
// the command and data byte of each transfer, the ready wait, the read-back
// rule, the dump, and the register operations with the bytes they write.
#include "fpga_reg.h"

#include <fcntl.h>

#include <bit>
#include <thread>

#include "fpga_support.h"
#include "recording_driver.h"

namespace {

using Writes = std::vector<std::pair<int, int>>;  // (command, data) pairs

// The emulated register device, a clock that does not sleep and the
// register access on them. There is no configuration node: the bitstream
// load fails (the loader's own tests and txdiag's cover it).
struct RegBench {
    RegBench() {
        EXPECT_TRUE(sim::Testbed::InMockEnvironment()) << "needs the umockdev preload library";
        EXPECT_TRUE(testbed.AddFpgaRegisterDevice(fpga)) << testbed.LastError();
        Printed([&] { reg = std::make_unique<FPGAReg>(sim::kFpgaRegisterPath, "/no/such.rbf", clock);
        });
    }
    Writes Sent() const {
        Writes sent;
        for (const auto& t : fpga.Transfers()) sent.emplace_back(t.command, t.data);
        return sent;
    }
    sim::FpgaRegisterModel fpga;
    sim::Testbed testbed;
    FakeClock clock;
    std::unique_ptr<FPGAReg> reg;
};

TEST(FpgaRegAccess, StartUpWaits30MsAfterTheLoadAndSetsUpMode1At800KHz) {
    RegBench bench;
    EXPECT_EQ(bench.clock.sleeps, std::vector<int64_t>{30000000});
    EXPECT_EQ(bench.fpga.Mode(), 1);
    EXPECT_EQ(bench.fpga.MaxSpeedHz(), 800000u);
}

// Register i holds 0xA0 + i, the signature register its signature.
RegBench& DistinctRegisters(RegBench& bench) {
    for (int i = 0; i < 32; ++i) bench.fpga.SetRegister(i, 0xA0 + i);
    return bench;
}

TEST(FpgaRegAccess, TheDumpShowsTheNamedRegistersAsReadIntoTheShadow) {
    RegBench bench;
    EXPECT_EQ(DistinctRegisters(bench).reg->ReadAllRegs(), 2);
    EXPECT_EQ(Printed([&] { bench.reg->DumpRegs(); }),
              "FPGA_REG_FPGA_CTRL   = a0\nFPGA_REG_FPGA_STATUS = a1\n"
              "FPGA_REG_INT_MASK    = a2\nFPGA_REG_INT_SRC     = a3\n"
              "FPGA_REG_DCDC_CTRL   = b2\nFPGA_REG_CLK_DIV     = b3\n"
              "FPGA_REG_ADC_CTRL    = b4\nFPGA_REG_ADC_ENL     = b6\n"
              "FPGA_REG_ADC_ENH     = b7\nFPGA_REG_EXT_IN      = a9\n"
              "FPGA_REG_EXT_OUT     = ad\nFPGA_REG_KEYB_IN     = 1f\n"
              "FPGA_REG_KEYB_OUT    = bb\nFPGA_REG_FPGA_VER    = bd\n"
              "FPGA_REG_TEST_RD     = 95\nFPGA_REG_TEST_WR     = bf\n");
}

TEST(FpgaRegAccess, WholeFileTransfersStopAtTheFirstFailureAndSaySo) {
    RegBench bench;
    DistinctRegisters(bench).reg->ReadAllRegs();
    bench.fpga.ClearTransfers();
    bench.fpga.FailRegister(7);
    EXPECT_EQ(Printed([&] { EXPECT_LT(bench.reg->WriteAllRegs(), 0); }),
              "Exception: fpga_reg:241 FPGAReg::WriteReg failed\n"
              "Exception: fpga_reg:285 FPGAReg::WriteAllRegs() Failed!\n");
    Writes expected;
    for (int i = 0; i <= 7; ++i) expected.emplace_back(0x80 + i, 0xA0 + i);
    EXPECT_EQ(bench.Sent(), expected);
}

// The statuses read in turn, mask, tries: the result, the message, and one
// read of register 1 per status scripted.
void CheckReadyWait(const Bytes& statuses, uint8_t mask, int tries, bool ready, const char* text) {
    RegBench bench;
    bench.fpga.ScriptStatus(statuses);
    EXPECT_EQ(Printed([&] { EXPECT_EQ(bench.reg->WaitReady(mask, tries), ready); }), text);
    EXPECT_EQ(bench.Sent(), Writes(statuses.size(), {0x41, 0x00}));
}

TEST(FpgaRegAccess, TheReadyWaitEndsAtTheFirstClearStatusOrTimesOutWithMaskAndStatus) {
    CheckReadyWait({0x01, 0x03, 0x02}, 0x01, 5, true, "");
    CheckReadyWait({0x13, 0x13}, 0x10, 2, false, "*** FPGAReg::WaitReady TIMEOUT 0x10 0x13\n");
}

TEST(FpgaRegAccess, TheReadBackRuleIgnoresTheBitsARegisterDoesNotReadBack) {
    // Register, written, read back, whether they match.
    const std::tuple<uint8_t, uint8_t, uint8_t, bool> cases[] = {
        {0, 0x85, 0x05, 1},  {0, 0x85, 0x85, 0},  {13, 0xFF, 0x7F, 1}, {13, 0x01, 0x81, 0},
        {11, 0xFF, 0x3F, 1}, {11, 0xFF, 0x7F, 0}, {10, 0x12, 0x34, 1}, {12, 0x00, 0xFF, 1},
        {5, 0x85, 0x05, 0},  {31, 0x42, 0x42, 1},
    };
    for (const auto& [index, written, readBack, matches] : cases) {
        EXPECT_EQ(FPGAReg::RegReadBackMatches(index, written, readBack), matches)
            << int{index} << " " << int{written};
    }
}

// The register device is opened read-write and nothing else, and descriptor 0
// is as open as any other: it is set up and its transfers go out.
TEST(FpgaRegAccess, RegisterDeviceOnDescriptorZeroIsOpen) {
    RecordingDriver driver;
    driver.descriptor = 0;
    driver.missing = {"/dev/fpga_config.0"};
    FakeClock clock;
    std::unique_ptr<FPGAReg> reg;
    Printed([&] { reg = std::make_unique<FPGAReg>("/dev/spidev1.0", "/no/such.rbf", clock, driver); });
    using Open = std::pair<std::string, int>;
    EXPECT_EQ(driver.opens, (std::vector<Open>{{"/dev/fpga_config.0", O_RDWR | O_CLOEXEC},
                                               {"/dev/spidev1.0", O_RDWR}}));
    EXPECT_TRUE(reg->IsOpen());
    EXPECT_EQ(driver.codes, (std::vector<unsigned long>{SPI_IOC_WR_MODE, SPI_IOC_RD_MODE,
                                                        SPI_IOC_RD_BITS_PER_WORD, SPI_IOC_WR_MAX_SPEED_HZ,
                                                        SPI_IOC_RD_MAX_SPEED_HZ}));
    EXPECT_EQ(reg->WriteReg(3, 0x55), 2);
    EXPECT_EQ(driver.codes.back(), SPI_IOC_MESSAGE(2));
}

// One setter (or a few in turn) on the FPGA's registers as read into the
// shadow, and the (command, data) pairs they write.
struct SetterRow {
    const char* behaviour;
    Writes registers;
    void (*run)(FPGAReg&);
    Writes sent;
};

const SetterRow kSetters[] = {
    {"TheStrobeSetsControlBit7ForOneWriteOnly", {},
     [](FPGAReg& r) { r.StrobeCtrlBit7(), r.SetCtrlBit1(true); }, {{0x80, 0x80}, {0x80, 0x02}}},
    {"TheControlFieldSetsBit6AndBits3To5AndKeepsTheRest", {{0, 0x81}},
     [](FPGAReg& r) { r.SetCtrlField(true, 5); }, {{0x80, 0xE9}}},
    {"TheControlFieldClearsBit6AndBits3To5AndKeepsTheRest", {{0, 0xFF}},
     [](FPGAReg& r) { r.SetCtrlField(false, 0); }, {{0x80, 0x87}}},
    {"ControlBits2And0AreSetOneInsteadOfTheOther", {{0, 0xE9}},
     [](FPGAReg& r) { r.SetCtrlBit2Bit0(true), r.SetCtrlBit2Bit0(false); },
     {{0x80, 0xEC}, {0x80, 0xE9}}},
    {"Register8TakesACountAbove0x80Less1", {},
     [](FPGAReg& r) { for (int count : {0, 1, 16, 128}) r.SetReg8(count); },
     {{0x88, 0x00}, {0x88, 0x80}, {0x88, 0x8F}, {0x88, 0x7F}}},
    {"TheConverterControlsHighHalfIsActiveLow", {{20, 0x55}},
     [](FPGAReg& r) { r.SetAdcCtrlHigh(true, false, true, false); }, {{0x94, 0xA5}}},
    {"TheConverterControlsLowHalfTakesItsFlagsInOrder", {{20, 0xA5}},
     [](FPGAReg& r) { r.SetAdcCtrlLow(true, false, false, true); }, {{0x94, 0xA9}}},
    {"TheConverterEnableMaskGoesLowByteFirst", {},
     [](FPGAReg& r) { r.SetAdcEnable(0x1234), r.SetAdcEnable(0xFF80); },
     {{0x96, 0x34}, {0x97, 0x12}, {0x96, 0x80}, {0x97, 0xFF}}},
    {"Register11TakesBits6And7FromTheOutputRegister", {{13, 0xC0}, {11, 0x00}},
     [](FPGAReg& r) { r.SetReg10And11(true, false, false, false, false, false, 0x5A); },
     {{0x8A, 0x5A}, {0x8B, 0xC1}}},
    {"Register11TakesFlag3OnBit3AndTheFifthFlagOnBit5", {},
     [](FPGAReg& r) { r.SetReg10And11(false, false, false, true, true, false, 7); },
     {{0x8A, 0x07}, {0x8B, 0x28}}},
    {"TheSupplyControlTakesItsFlagsInOrderAndKeepsTheHighHalf", {{18, 0xA0}},
     [](FPGAReg& r) {
         r.SetDcdcCtrlLow(true, true, false, true), r.SetDcdcCtrlLow(true, false, false, false);
     },
     {{0x92, 0xAB}, {0x92, 0xA1}}},
    {"TheClockDividerBit4IsSetAndCleared", {{19, 0x81}},
     [](FPGAReg& r) { r.SetClkDivBit4(), r.ClearClkDivBit4(); }, {{0x93, 0x91}, {0x93, 0x81}}},
    {"Register28BitsAreSetOneByOne", {{28, 0xF0}},
     [](FPGAReg& r) { r.SetReg28Bit0(true), r.SetReg28Bit2(true), r.SetReg28Bit1(true); },
     {{0x9C, 0xF1}, {0x9C, 0xF5}, {0x9C, 0xF7}}},
    // The fifth output flag is bit 5, the sixth bit 4.
    {"AnOverrideReplacesTheLowOutputFlagsFromThenOn", {{13, 0x80}},
     [](FPGAReg& r) {
         r.OverrideExtOutLow(0x3A), r.SetExtOut(true, false, true, false, false, true, 0);
     },
     {{0x8D, 0x8A}, {0x8C, 0x00}, {0x8D, 0x9A}}},
    {"TheOutputFlagsGoToBits0To5", {},
     [](FPGAReg& r) { r.SetExtOut(true, false, false, true, true, false, 1); },
     {{0x8C, 0x01}, {0x8D, 0x29}}},
    {"OutputBits6And7AreSetAlone", {{13, 0x0F}},
     [](FPGAReg& r) { r.SetExtOutBit6(true), r.SetExtOutBit7(true), r.SetExtOutBit6(false); },
     {{0x8D, 0x4F}, {0x8D, 0xCF}, {0x8D, 0x8F}}},
};

class FpgaRegSetter : public testing::TestWithParam<SetterRow> {};
void PrintTo(const SetterRow& row, std::ostream* os) { *os << row.behaviour; }

TEST_P(FpgaRegSetter, WritesItsBytes) {
    RegBench b;
    for (auto [index, value] : GetParam().registers) b.fpga.SetRegister(index, value);
    b.reg->ReadAllRegs();
    b.fpga.ClearTransfers();
    GetParam().run(*b.reg);
    EXPECT_EQ(b.Sent(), GetParam().sent);
}

INSTANTIATE_TEST_SUITE_P(FpgaRegOperations, FpgaRegSetter, testing::ValuesIn(kSetters),
                         [](const auto& row) { return std::string(row.param.behaviour); });

// Setters of one register from several threads: under the mutex each write
// flips exactly one bit of the write before it, and the last one equals the
// shadow. Without it, writes overtake each other.
TEST(FpgaRegOperations, SettersOfOneRegisterFromSeveralThreadsWriteOneChangeAtATime) {
    RegBench bench;
    {
        std::vector<std::jthread> threads;
        for (auto set : {&FPGAReg::SetReg28Bit0, &FPGAReg::SetReg28Bit1, &FPGAReg::SetReg28Bit2}) {
            threads.emplace_back([&bench, set] {
                for (int i = 1; i <= 2000; ++i) (*bench.reg.*set)(i % 2);
            });
        }
    }
    const std::vector<sim::RegisterTransfer> sent = bench.fpga.Transfers();
    EXPECT_EQ(std::adjacent_find(sent.begin(), sent.end(), [](const auto& a, const auto& b) {
                  return std::popcount(static_cast<unsigned>(a.data ^ b.data)) != 1;
              }), sent.end());
    EXPECT_EQ(bench.reg->ShadowCopy()[28], bench.fpga.Registers()[28]);
}

// Init on an FPGA whose signature comes from the third read, or never: the
// output, the 100 ms pauses, the signature reads, then every register read.
void CheckInit(bool never) {
    RegBench bench;
    bench.fpga.SetRegister(FPGA_REG_FPGA_VER, 66);
    bench.fpga.SetRegister(FPGA_REG_DCDC_CTRL, 0x3C);
    bench.fpga.SignatureFromRead(never ? 0 : 3);
    bench.clock.sleeps.clear();
    const std::string late = never ? "FPGAReg::Init timeout\n" : "";
    EXPECT_EQ(Printed([&] { bench.reg->Init(never); }), late + "FPGA firmware version: 66\n");
    EXPECT_EQ(bench.clock.sleeps, std::vector<int64_t>(never ? 10 : 2, 100000000));
    Writes expected(never ? 10 : 3, {0x5E, 0x00});
    for (int i = 0; i < 32; ++i) expected.emplace_back(0x40 + i, 0x00);
    if (never) expected.emplace_back(0x92, 0x30);  // and clears the converter supply
    EXPECT_EQ(bench.Sent(), expected);
}

TEST(FpgaRegOperations, InitWaitsForTheSignatureReadsAllAndReportsTheVersion) { CheckInit(false); }

TEST(FpgaRegOperations, InitGivesUpAfterTenReadsAndClearsTheConverterSupply) { CheckInit(true); }

TEST(FpgaRegOperations, TheStatusBit4TestReadsTheStatusRegister) {
    RegBench bench;
    bench.fpga.ScriptStatus({0x10, 0xEF});
    EXPECT_FALSE(bench.reg->IsStatusBit4Clear());
    EXPECT_TRUE(bench.reg->IsStatusBit4Clear());
}

TEST(FpgaRegOperations, TheFourInputsAreBits0To3InArgumentOrder) {
    RegBench bench;
    bench.fpga.SetRegister(FPGA_REG_EXT_IN, 0xF5);
    bool in[4] = {};
    EXPECT_EQ(bench.reg->ReadExtIn(&in[0], &in[1], &in[2], &in[3]), 2);
    EXPECT_EQ(std::vector<bool>(in, in + 4), (std::vector<bool>{true, false, true, false}));
}

// A key matrix scan: the input and output lines seen and the transfers.
void CheckScan(RegBench& bench, uint8_t inputs, uint8_t outputs, const Writes& writes) {
    bench.fpga.ClearTransfers();
    uint8_t lines[2] = {0xFF, 0xFF};
    EXPECT_EQ(bench.reg->ScanKeyboard(&lines[0], &lines[1]), 0);
    EXPECT_EQ(std::pair(lines[0], lines[1]), std::pair(inputs, outputs));
    EXPECT_EQ(bench.Sent(), writes);
}

// Without a key one read and nothing written; the key between output line 1
// and input line 2 is seen at once as all output lines are low.
TEST(FpgaRegOperations, AScanSelectsEachOutputLineInTurnAndEndsWithAllLow) {
    RegBench bench;
    CheckScan(bench, 0, 0, {{0x5A, 0x00}});
    bench.fpga.PressKey(1, 2);
    CheckScan(bench, 0x04, 0x02,
              {{0x5A, 0}, {0x9B, 6}, {0x5A, 0}, {0x9B, 5}, {0x5A, 0}, {0x9B, 3}, {0x5A, 0},
               {0x9B, 0}});
}

TEST(FpgaRegOperations, TheSelfTestCountsMissingSignaturesAndWrongEchoes) {
    RegBench bench;
    EXPECT_EQ(bench.reg->TestRegs(), 0);
    bench.fpga.SignatureFromRead(0);   // the FPGA does not run
    bench.fpga.FailRegister(31, 511);  // the write and read-back of 255 fail
    EXPECT_EQ(bench.reg->TestRegs(), 256 + 1);
}

}  // namespace
