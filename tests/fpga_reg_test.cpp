// The FPGA register access against the emulated configuration node and
// register device: construction, the command and data bytes of each
// transfer, whole-file transfers, the status wait, the read-back rule, and
// the register operations with the bytes they write.
#include "fpga_reg.h"

#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "device.h"
#include "fpga_support.h"
#include "test_support.h"

namespace {

using Writes = std::vector<std::pair<int, int>>;  // (command, data) pairs

Writes Sent(const sim::FpgaRegisterModel& model) {
    Writes sent;
    for (const sim::RegisterTransfer& t : model.Transfers()) sent.emplace_back(t.command, t.data);
    return sent;
}

// What `run` printed on standard error.
std::string Err(const std::function<void()>& run) {
    CapturedOutput output;
    run();
    output.Finish();
    return output.err;
}

// The emulated nodes, a bitstream file and a clock that does not sleep.
struct RegBench {
    explicit RegBench(bool registerNode = true) {
        EXPECT_TRUE(testbed.AddGpioDevice(gpio)) << testbed.LastError();
        EXPECT_TRUE(!registerNode || testbed.AddFpgaRegisterDevice(fpga)) << testbed.LastError();
        rbf = dir.Write("fpga.rbf", Bitstream(3000));
    }
    // Builds the register access with its start-up output captured.
    std::unique_ptr<FPGAReg> Open() {
        CapturedOutput output;
        auto reg = std::make_unique<FPGAReg>(sim::kFpgaRegisterPath, rbf.c_str());
        output.Finish();
        startOut = output.out;
        startErr = output.err;
        return reg;
    }
    // Sets registers on the device, reads them into the shadow and forgets
    // the transfers so far.
    void Preset(FPGAReg& reg, const std::vector<std::pair<uint8_t, uint8_t>>& registers) {
        for (auto [index, value] : registers) fpga.SetRegister(index, value);
        reg.ReadAllRegs();
        fpga.ClearTransfers();
    }
    sim::GpioDeviceModel gpio;
    sim::FpgaRegisterModel fpga;
    sim::Testbed testbed;
    RecordingFpgaClock clock;
    ScopedFpgaClock useClock{clock};
    TempDir dir;
    std::string rbf;
    std::string startOut, startErr;
};

TEST(FpgaRegAccess, ConstructionLoadsTheBitstreamThenSetsUpTheRegisterDevice) {
    REQUIRE_MOCK_ENVIRONMENT();
    RegBench bench;
    auto older = bench.Open();
    auto reg = bench.Open();
    EXPECT_EQ(bench.startErr, "Initialize FPGA\nFPGA: Use RBF file: " + bench.rbf +
                                  "\nFPGA configuration success!\n");
    EXPECT_EQ(bench.startOut, "");
    EXPECT_EQ(bench.gpio.Bitstream(), Bitstream(3000));
    EXPECT_EQ(bench.clock.millis, (std::vector<uint32_t>{30, 30}));
    EXPECT_EQ(Device::Find(L"FPGA"), nullptr);  // the loader is gone again
    EXPECT_EQ(bench.fpga.Mode(), 1);
    EXPECT_EQ(bench.fpga.MaxSpeedHz(), 800000u);
    EXPECT_TRUE(bench.fpga.Transfers().empty());
    // The newest is the current instance until any of them goes.
    EXPECT_EQ(FPGAReg::GetInstance(), reg.get());
    older.reset();
    EXPECT_EQ(FPGAReg::GetInstance(), nullptr);
}

TEST(FpgaRegAccess, MissingRegisterDeviceLeavesAClosedObject) {
    REQUIRE_MOCK_ENVIRONMENT();
    RegBench bench(false);
    auto reg = bench.Open();
    EXPECT_EQ(bench.startOut, "fpga_reg:*** Error: Can not open device /dev/spidev1.0 ErrNo=2\n");
    uint8_t byte = 0x5A;
    EXPECT_EQ(Err([&] {
                  EXPECT_EQ(reg->ReadReg(5, &byte), 0);
                  EXPECT_EQ(reg->WriteReg(5, 1), 0);
                  EXPECT_EQ(reg->WriteAllRegs(), 0);
                  EXPECT_EQ(reg->ReadAllRegs(), 0);
                  EXPECT_TRUE(reg->WaitReady(0x01, 3));
              }),
              "");
    EXPECT_EQ(byte, 0x5A);
}

// Single transfers carry command and data; whole-file transfers stop at the
// first failure; the ready wait polls the status register.
TEST(FpgaRegAccess, CommandAndDataBytesOfTransfersAndTheReadyWait) {
    REQUIRE_MOCK_ENVIRONMENT();
    RegBench bench;
    auto reg = bench.Open();
    EXPECT_EQ(reg->WriteReg(5, 0xAB), 2);
    uint8_t value = 0;
    EXPECT_EQ(reg->ReadReg(5, &value), 2);
    EXPECT_EQ(value, 0xAB);
    EXPECT_EQ(reg->WriteReg(31, 0x01), 2);
    EXPECT_EQ(reg->ReadReg(0, &value), 2);
    EXPECT_EQ(Sent(bench.fpga), (Writes{{0x85, 0xAB}, {0x45, 0x00}, {0x9F, 0x01}, {0x40, 0x00}}));
    EXPECT_EQ(bench.fpga.Transfers()[1].reply, 0xAB);

    for (int i = 0; i < 32; ++i)
        bench.fpga.SetRegister(static_cast<uint8_t>(i), static_cast<uint8_t>(0xA0 + i));
    EXPECT_EQ(reg->ReadAllRegs(), 2);
    EXPECT_EQ(reg->ShadowCopy()[17], 0xB1);
    bench.fpga.ClearTransfers();
    EXPECT_EQ(reg->WriteAllRegs(), 2);
    EXPECT_EQ(bench.fpga.Transfers().size(), 32u);

    bench.fpga.ClearTransfers();
    bench.fpga.FailRegister(7);
    EXPECT_EQ(Err([&] {
                  EXPECT_LT(reg->WriteAllRegs(), 0);
                  EXPECT_LT(reg->ReadAllRegs(), 0);
              }),
              "Exception: fpga_reg:241 FPGAReg::WriteReg failed\n"
              "Exception: fpga_reg:285 FPGAReg::WriteAllRegs() Failed!\n"
              "Exception: fpga_reg:172 FPGAReg::ReadReg failed\n"
              "Exception: fpga_reg:267 FPGAReg::ReadAllRegs() Failed!\n");
    Writes expected;
    for (int i = 0; i <= 7; ++i) expected.emplace_back(0x80 + i, 0xA0 + i);
    for (int i = 0; i <= 7; ++i) expected.emplace_back(0x40 + i, 0);
    EXPECT_EQ(Sent(bench.fpga), expected);

    // The ready wait polls the status register.
    struct Case {
        std::vector<uint8_t> statuses;
        uint8_t mask;
        int tries;
        bool ready;
        size_t reads;
        const char* message;
    } cases[] = {
        {{}, 0x01, 0, false, 0, "*** FPGAReg::WaitReady TIMEOUT 0x01 0x00\n"},
        {{0x01, 0x03, 0x02}, 0x01, 5, true, 3, ""},
        {{0x13, 0x13}, 0x10, 2, false, 2, "*** FPGAReg::WaitReady TIMEOUT 0x10 0x13\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tries);
        bench.fpga.ClearTransfers();
        bench.fpga.ScriptStatus(c.statuses);
        EXPECT_EQ(Err([&] { EXPECT_EQ(reg->WaitReady(c.mask, c.tries), c.ready); }), c.message);
        EXPECT_EQ(Sent(bench.fpga), Writes(c.reads, {0x41, 0x00}));
    }
}

TEST(FpgaRegAccess, ReadBackRule) {
    struct Case {
        uint8_t index, written, readBack;
        bool matches;
    } cases[] = {
        {0, 0x85, 0x05, true},   {0, 0x85, 0x85, false}, {13, 0xFF, 0x7F, true},
        {13, 0x01, 0x81, false}, {11, 0xFF, 0x3F, true}, {11, 0xFF, 0x7F, false},
        {10, 0x12, 0x34, true},  {12, 0x00, 0xFF, true}, {5, 0x85, 0x05, false},
        {31, 0x42, 0x42, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FPGAReg::RegReadBackMatches(c.index, c.written, c.readBack), c.matches)
            << int{c.index} << " " << int{c.written} << " " << int{c.readBack};
    }
}

TEST(FpgaRegAccess, DumpShowsTheNamedShadowRegisters) {
    REQUIRE_MOCK_ENVIRONMENT();
    RegBench bench;
    auto reg = bench.Open();
    bench.fpga.SignatureFromRead(1);
    std::vector<std::pair<uint8_t, uint8_t>> registers;
    for (int i = 0; i < 32; ++i) registers.emplace_back(i, i);
    bench.Preset(*reg, registers);
    EXPECT_EQ(Err([&] { reg->DumpRegs(); }),
              "FPGA_REG_FPGA_CTRL   = 00\n"
              "FPGA_REG_FPGA_STATUS = 01\n"
              "FPGA_REG_INT_MASK    = 02\n"
              "FPGA_REG_INT_SRC     = 03\n"
              "FPGA_REG_DCDC_CTRL   = 12\n"
              "FPGA_REG_CLK_DIV     = 13\n"
              "FPGA_REG_ADC_CTRL    = 14\n"
              "FPGA_REG_ADC_ENL     = 16\n"
              "FPGA_REG_ADC_ENH     = 17\n"
              "FPGA_REG_EXT_IN      = 09\n"
              "FPGA_REG_EXT_OUT     = 0d\n"
              "FPGA_REG_KEYB_IN     = 1f\n"
              "FPGA_REG_KEYB_OUT    = 1b\n"
              "FPGA_REG_FPGA_VER    = 1d\n"
              "FPGA_REG_TEST_RD     = 95\n"
              "FPGA_REG_TEST_WR     = 1f\n");
    EXPECT_TRUE(bench.fpga.Transfers().empty());
}

// Each case sets the FPGA's registers, reads them into the shadow, runs
// the operations and compares the writes that followed.
TEST(FpgaRegOperations, SettersWriteTheChangedBytes) {
    REQUIRE_MOCK_ENVIRONMENT();
    struct Case {
        const char* what;
        std::vector<std::pair<uint8_t, uint8_t>> registers;  // before the shadow is read
        std::function<void(FPGAReg&)> run;
        Writes writes;
    };
    const Case cases[] = {
        {"strobe then bit 1", {}, [](FPGAReg& r) { r.StrobeCtrlBit7(), r.SetCtrlBit1(true); },
         {{0x80, 0x80}, {0x80, 0x02}}},
        {"control field", {{0, 0x81}}, [](FPGAReg& r) { r.SetCtrlField(true, 5); }, {{0x80, 0xE9}}},
        {"bit 2 or bit 0", {{0, 0x0F}},
         [](FPGAReg& r) { r.SetCtrlBit2Bit0(true), r.SetCtrlBit2Bit0(false); },
         {{0x80, 0x0E}, {0x80, 0x0B}}},
        {"register 8 counts", {},
         [](FPGAReg& r) { r.SetReg8(0), r.SetReg8(1), r.SetReg8(16), r.SetReg8(128); },
         {{0x88, 0x00}, {0x88, 0x80}, {0x88, 0x8F}, {0x88, 0x7F}}},
        {"converter control, active low", {{20, 0x05}},
         [](FPGAReg& r) {
             r.SetAdcCtrlHigh(false, false, false, false), r.SetAdcCtrlHigh(true, true, true, true);
             r.SetAdcCtrlHigh(true, false, true, false);
         },
         {{0x94, 0xF5}, {0x94, 0x05}, {0x94, 0xA5}}},
        {"converter control, low bits", {{20, 0xF0}},
         [](FPGAReg& r) { r.SetAdcCtrlLow(true, false, false, true); }, {{0x94, 0xF9}}},
        {"converter enable", {}, [](FPGAReg& r) { r.SetAdcEnable(0x1234); },
         {{0x96, 0x34}, {0x97, 0x12}}},
        {"flag pair takes bits 6 and 7 from the output register", {{13, 0xC0}, {11, 0x00}},
         [](FPGAReg& r) { r.SetReg10And11(true, false, false, false, false, false, 0x5A); },
         {{0x8A, 0x5A}, {0x8B, 0xC1}}},
        {"fifth flag is bit 5, sixth is bit 4", {},
         [](FPGAReg& r) { r.SetExtOut(false, false, false, false, true, false, 0x01); },
         {{0x8C, 0x01}, {0x8D, 0x20}}},
        {"override replaces the low flags", {{13, 0x80}},
         [](FPGAReg& r) {
             r.OverrideExtOutLow(0x3A), r.SetExtOut(true, false, true, false, false, true, 0x00);
         },
         {{0x8D, 0x8A}, {0x8C, 0x00}, {0x8D, 0x9A}}},
        {"output bits 6 and 7", {{13, 0x0F}},
         [](FPGAReg& r) { r.SetExtOutBit6(true), r.SetExtOutBit7(true), r.SetExtOutBit6(false); },
         {{0x8D, 0x4F}, {0x8D, 0xCF}, {0x8D, 0x8F}}},
        {"converter supply", {{18, 0xA0}},
         [](FPGAReg& r) { r.SetDcdcCtrlLow(true, true, false, true); }, {{0x92, 0xAB}}},
        {"clock divider bit 4 and its flag", {{19, 0x81}},
         [](FPGAReg& r) {
             const bool before = r.GetClkDivBit4();
             r.SetClkDivBit4();
             const bool set = r.GetClkDivBit4();
             r.ClearClkDivBit4();
             EXPECT_TRUE(!before && set && !r.GetClkDivBit4());
         },
         {{0x93, 0x91}, {0x93, 0x81}}},
        {"register 28 bits", {{28, 0xF0}},
         [](FPGAReg& r) {
             r.SetReg28Bit0(true), r.SetReg28Bit2(true), r.SetReg28Bit1(true);
             r.SetReg28Bit0(false);
         },
         {{0x9C, 0xF1}, {0x9C, 0xF5}, {0x9C, 0xF7}, {0x9C, 0xF6}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RegBench bench;
        auto reg = bench.Open();
        bench.Preset(*reg, c.registers);
        c.run(*reg);
        EXPECT_EQ(Sent(bench.fpga), c.writes);
    }
}

TEST(FpgaRegOperations, InitWaitsForTheSignatureReadsAllAndReportsTheVersion) {
    REQUIRE_MOCK_ENVIRONMENT();
    struct Case {
        int signatureFromRead;
        bool resetDcdc;
        size_t signatureReads, pauses;
        const char* err;
    } cases[] = {
        {3, false, 3, 2, "FPGA firmware version: 66\n"},
        {0, true, 10, 10, "FPGAReg::Init timeout\nFPGA firmware version: 66\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.signatureFromRead);
        RegBench bench;
        auto reg = bench.Open();
        bench.fpga.SetRegister(FPGA_REG_FPGA_VER, 66);
        bench.fpga.SetRegister(FPGA_REG_DCDC_CTRL, 0x3C);
        bench.fpga.SignatureFromRead(c.signatureFromRead);
        bench.clock.millis.clear();
        EXPECT_EQ(Err([&] { reg->Init(c.resetDcdc); }), c.err);
        EXPECT_EQ(reg->GetFirmwareVersion(), 66);
        EXPECT_EQ(bench.clock.millis, std::vector<uint32_t>(c.pauses, 100));
        Writes expected(c.signatureReads, {0x5E, 0x00});
        for (int i = 0; i < 32; ++i) expected.emplace_back(0x40 + i, 0x00);
        if (c.resetDcdc) expected.emplace_back(0x92, 0x30);
        EXPECT_EQ(Sent(bench.fpga), expected);
    }
}

// The status bit, the inputs, a key matrix scan and the self-test.
TEST(FpgaRegOperations, SelfTestInputsAndKeyMatrix) {
    REQUIRE_MOCK_ENVIRONMENT();
    RegBench bench;
    auto reg = bench.Open();
    bench.fpga.SetRegister(FPGA_REG_FPGA_STATUS, 0x10);
    EXPECT_FALSE(reg->IsStatusBit4Clear());
    bench.fpga.SetRegister(FPGA_REG_FPGA_STATUS, 0xEF);
    EXPECT_TRUE(reg->IsStatusBit4Clear());
    bench.fpga.SetRegister(FPGA_REG_EXT_IN, 0xF5);
    bool in[4] = {};
    EXPECT_EQ(reg->ReadExtIn(&in[0], &in[1], &in[2], &in[3]), 2);
    EXPECT_TRUE(in[0] && !in[1] && in[2] && !in[3]);
    EXPECT_EQ(reg->ShadowCopy()[FPGA_REG_EXT_IN], 0xF5);

    // No key: one read, no write.
    bench.fpga.ClearTransfers();
    uint8_t inputs = 0xFF, outputs = 0xFF;
    EXPECT_EQ(reg->ScanKeyboard(&inputs, &outputs), 0);
    EXPECT_EQ(inputs + outputs, 0);
    EXPECT_EQ(Sent(bench.fpga), (Writes{{0x5A, 0x00}}));

    // The key between output line 1 and input line 2; all lines were left
    // low by the previous scan's end, so the first read sees it.
    reg->WriteKeybOut(0);
    bench.fpga.PressKey(1, 2);
    bench.fpga.ClearTransfers();
    EXPECT_EQ(reg->ScanKeyboard(&inputs, &outputs), 0);
    EXPECT_EQ(inputs, 0x04);
    EXPECT_EQ(outputs, 0x02);
    EXPECT_EQ(Sent(bench.fpga), (Writes{{0x5A, 0},
                                        {0x9B, 6},
                                        {0x5A, 0},
                                        {0x9B, 5},
                                        {0x5A, 0},
                                        {0x9B, 3},
                                        {0x5A, 0},
                                        {0x9B, 0}}));
    EXPECT_EQ(reg->ShadowCopy()[FPGA_REG_KEYB_OUT], 0);

    bench.fpga.ClearTransfers();
    EXPECT_EQ(reg->TestRegs(), 0);
    EXPECT_EQ(bench.fpga.Transfers().size(), 256u + 512u);
    bench.fpga.SignatureFromRead(0);   // the FPGA does not run
    bench.fpga.FailRegister(31, 511);  // the write and read-back of 255 fail
    EXPECT_EQ(reg->TestRegs(), 256 + 1);
}

// Setters from several threads. Under the mutex each write carries exactly
// one setter's change over the write before it, and the last write of each
// register equals the shadow. Without it, writes overtake each other and
// carry two changes at once or an older value.
TEST(FpgaRegOperations, SettersFromSeveralThreadsKeepShadowAndDeviceInStep) {
    REQUIRE_MOCK_ENVIRONMENT();
    RegBench bench;
    auto reg = bench.Open();
    const std::function<void(FPGAReg&, int)> workers[] = {
        [](FPGAReg& r, int i) { r.SetReg28Bit0(i % 2), r.SetCtrlBit1(i % 2); },
        [](FPGAReg& r, int i) { r.SetReg28Bit1(i % 2), r.SetCtrlField(i % 2, i); },
        [](FPGAReg& r, int i) { r.SetReg28Bit2(i % 2), r.SetExtOutBit6(i % 2); },
        [](FPGAReg& r, int i) { r.SetExtOut(i & 1, i & 2, i & 4, i & 8, i & 16, i & 32, 0); },
    };
    // What one setter may change in each register.
    const std::map<int, std::vector<uint8_t>> changes = {
        {0, {0x02, 0x78}}, {13, {0x40, 0x3F}}, {28, {0x01, 0x02, 0x04}}};
    std::vector<std::thread> threads;
    for (const auto& work : workers) {
        threads.emplace_back([&reg, &work] {
            for (int i = 0; i < 200; ++i) work(*reg, i);
        });
    }
    for (std::thread& t : threads) t.join();

    std::map<int, uint8_t> last;  // register: last value written
    int badSteps = 0;
    for (const sim::RegisterTransfer& t : bench.fpga.Transfers()) {
        const int index = t.command & 0x1F;
        if (!changes.count(index)) continue;
        const uint8_t diff = last[index] ^ t.data;
        bool oneSetter = false;
        for (uint8_t mask : changes.at(index)) oneSetter |= (diff & ~mask) == 0;
        if (!oneSetter) ++badSteps;
        last[index] = t.data;
    }
    EXPECT_EQ(badSteps, 0);
    const auto shadow = reg->ShadowCopy();
    const auto device = bench.fpga.Registers();
    for (int index : {0, 12, 13, 28}) EXPECT_EQ(shadow[index], device[index]) << index;
}

}  // namespace
