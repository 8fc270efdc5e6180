// FPGAReg: start-up, self-test, inputs, key matrix and setters. Each
// operation holds the object's mutex (if it can be taken) and calls only the
// unlocked primitives inside it.
#include <cstdio>

#include "fpga_reg.h"

namespace {

constexpr int kInitTries = 10;
constexpr uint32_t kInitPauseMs = 100;
constexpr int kTestReads = 256;
constexpr uint8_t kNoKey = 0x1F;  // all five input lines high
constexpr uint8_t kOutputLines = 0x07;

constexpr uint8_t Bit(int n) { return static_cast<uint8_t>(1u << n); }
constexpr uint8_t BitIf(bool on, int n) { return on ? Bit(n) : 0; }

}  // namespace

std::array<uint8_t, kFpgaRegisterCount> FPGAReg::ShadowCopy() {
    wxMutexLocker lock(mutex);
    return RegisterShadow;
}

int FPGAReg::UpdateShadowAndWrite(uint8_t index, uint8_t clear, uint8_t set) {
    uint8_t& shadow = RegisterShadow[index];
    shadow = static_cast<uint8_t>((shadow & ~clear) | set);
    return WriteReg(index, shadow);
}

void FPGAReg::Init(bool resetDcdc) {
    {
        wxMutexLocker lock(mutex);
        int tries = 0;
        for (; tries < kInitTries; ++tries) {
            uint8_t signature = 0;
            ReadReg(FPGA_REG_TEST_RD, &signature);
            if (signature == kFpgaSignature) break;
            clockInUse->Sleep(static_cast<int64_t>(kInitPauseMs) * 1000000);
        }
        if (tries == kInitTries) fputs("FPGAReg::Init timeout\n", stderr);
        ReadAllRegs();
    }
    fprintf(stderr, "FPGA firmware version: %d\n", GetFirmwareVersion());
    if (resetDcdc) SetDcdcCtrlLow(false, false, false, false);
}

int FPGAReg::GetFirmwareVersion() {
    wxMutexLocker lock(mutex);
    return RegisterShadow[FPGA_REG_FPGA_VER];
}

int FPGAReg::TestRegs() {
    wxMutexLocker lock(mutex);
    int mismatches = 0;
    for (int i = 0; i < kTestReads; ++i) {
        uint8_t value = 0;
        ReadReg(FPGA_REG_TEST_RD, &value);
        if (value != kFpgaSignature) ++mismatches;
    }
    for (int v = 0; v <= 255; ++v) {
        uint8_t value = 0;
        WriteReg(FPGA_REG_TEST_WR, static_cast<uint8_t>(v));
        ReadReg(FPGA_REG_TEST_WR, &value);
        if (value != v) ++mismatches;
    }
    return mismatches;
}

bool FPGAReg::GetClkDivBit4() { return clkDivBit4; }

bool FPGAReg::IsStatusBit4Clear() {
    wxMutexLocker lock(mutex);
    uint8_t status = 0;
    ReadReg(FPGA_REG_FPGA_STATUS, &status);
    return (status & Bit(4)) == 0;
}

int FPGAReg::ReadExtIn(bool* in0, bool* in1, bool* in2, bool* in3) {
    wxMutexLocker lock(mutex);
    uint8_t value = 0;
    const int result = ReadReg(FPGA_REG_EXT_IN, &value);
    RegisterShadow[FPGA_REG_EXT_IN] = value;
    *in0 = (value & Bit(0)) != 0;
    *in1 = (value & Bit(1)) != 0;
    *in2 = (value & Bit(2)) != 0;
    *in3 = (value & Bit(3)) != 0;
    return result;
}

int FPGAReg::ReadKeybIn(uint8_t* value) {
    const int result = ReadReg(FPGA_REG_KEYB_IN, value);
    RegisterShadow[FPGA_REG_KEYB_IN] = *value;
    return result;
}

int FPGAReg::WriteKeybOut(uint8_t value) {
    RegisterShadow[FPGA_REG_KEYB_OUT] = value;
    return WriteReg(FPGA_REG_KEYB_OUT, value);
}

int FPGAReg::ScanKeyboard(uint8_t* inputLines, uint8_t* outputLines) {
    wxMutexLocker lock(mutex);
    uint8_t in = 0;
    ReadKeybIn(&in);
    if (in == kNoKey) {
        *inputLines = 0;
        *outputLines = 0;
        return 0;
    }
    uint8_t inputMask = kNoKey;
    uint8_t outputMask = kOutputLines;
    for (int i = 0; i < 3; ++i) {
        // Select output line i by driving it low.
        WriteKeybOut(static_cast<uint8_t>(~Bit(i) & kOutputLines));
        in = 0;
        ReadKeybIn(&in);
        inputMask &= in;
        if (in != kNoKey) outputMask &= static_cast<uint8_t>(~Bit(i));
    }
    *inputLines = static_cast<uint8_t>(~inputMask & kNoKey);
    *outputLines = static_cast<uint8_t>(~outputMask & kOutputLines);
    // All lines low, so that any key shows at the start of the next scan.
    WriteKeybOut(0);
    return 0;
}

int FPGAReg::StrobeCtrlBit7() {
    wxMutexLocker lock(mutex);
    RegisterShadow[FPGA_REG_FPGA_CTRL] |= Bit(7);
    WriteReg(FPGA_REG_FPGA_CTRL, RegisterShadow[FPGA_REG_FPGA_CTRL]);
    RegisterShadow[FPGA_REG_FPGA_CTRL] &= static_cast<uint8_t>(~Bit(7));
    return 0;
}

int FPGAReg::SetCtrlField(bool bit6, int32_t value) {
    wxMutexLocker lock(mutex);
    const uint8_t field = static_cast<uint8_t>((value & 7) << 3);
    return UpdateShadowAndWrite(FPGA_REG_FPGA_CTRL, Bit(6) | 0x38, BitIf(bit6, 6) | field);
}

int FPGAReg::SetCtrlBit1(bool on) {
    wxMutexLocker lock(mutex);
    return UpdateShadowAndWrite(FPGA_REG_FPGA_CTRL, Bit(1), BitIf(on, 1));
}

int FPGAReg::SetCtrlBit2Bit0(bool bit2) {
    wxMutexLocker lock(mutex);
    return UpdateShadowAndWrite(FPGA_REG_FPGA_CTRL, Bit(2) | Bit(0), bit2 ? Bit(2) : Bit(0));
}

int FPGAReg::SetReg8(int32_t count) {
    wxMutexLocker lock(mutex);
    const uint8_t value = count == 0 ? 0 : static_cast<uint8_t>(((count | 0x80) - 1) & 0xFF);
    return UpdateShadowAndWrite(kFpgaRegCount, 0xFF, value);
}

int FPGAReg::WriteFlagPair(uint8_t byteIndex, uint8_t flagIndex, uint8_t lowBits, bool f5,
                           bool f4, uint8_t byte) {
    // Bits 6 and 7 come from the output register in both pairs.
    const uint8_t high = RegisterShadow[FPGA_REG_EXT_OUT] & (Bit(6) | Bit(7));
    RegisterShadow[flagIndex] =
        static_cast<uint8_t>((lowBits & 0x0F) | BitIf(f4, 4) | BitIf(f5, 5) | high);
    RegisterShadow[byteIndex] = byte;
    WriteReg(byteIndex, byte);
    return WriteReg(flagIndex, RegisterShadow[flagIndex]);
}

int FPGAReg::SetReg10And11(bool f0, bool f1, bool f2, bool f3, bool f5, bool f4, uint8_t byte) {
    wxMutexLocker lock(mutex);
    const uint8_t low = BitIf(f0, 0) | BitIf(f1, 1) | BitIf(f2, 2) | BitIf(f3, 3);
    return WriteFlagPair(kFpgaRegPairByte, kFpgaRegPairFlags, low, f5, f4, byte);
}

int FPGAReg::SetExtOut(bool f0, bool f1, bool f2, bool f3, bool f5, bool f4, uint8_t byte) {
    wxMutexLocker lock(mutex);
    const uint8_t low = extOutOverrideActive
                            ? static_cast<uint8_t>(extOutOverrideValue & 0x0F)
                            : static_cast<uint8_t>(BitIf(f0, 0) | BitIf(f1, 1) | BitIf(f2, 2) |
                                                   BitIf(f3, 3));
    return WriteFlagPair(kFpgaRegExtOutByte, FPGA_REG_EXT_OUT, low, f5, f4, byte);
}

int FPGAReg::OverrideExtOutLow(int32_t value) {
    wxMutexLocker lock(mutex);
    extOutOverrideValue = value;
    extOutOverrideActive = true;
    return UpdateShadowAndWrite(FPGA_REG_EXT_OUT, 0x0F, static_cast<uint8_t>(value & 0x0F));
}

int FPGAReg::SetExtOutBit6(bool on) {
    wxMutexLocker lock(mutex);
    return UpdateShadowAndWrite(FPGA_REG_EXT_OUT, Bit(6), BitIf(on, 6));
}

int FPGAReg::SetExtOutBit7(bool on) {
    wxMutexLocker lock(mutex);
    return UpdateShadowAndWrite(FPGA_REG_EXT_OUT, Bit(7), BitIf(on, 7));
}

int FPGAReg::SetDcdcCtrlLow(bool a, bool b, bool c, bool d) {
    wxMutexLocker lock(mutex);
    const uint8_t dcdc = BitIf(a, 0) | BitIf(b, 1) | BitIf(c, 2) | BitIf(d, 3);
    return UpdateShadowAndWrite(FPGA_REG_DCDC_CTRL, 0x0F, dcdc);
}

int FPGAReg::SetClkDivBit4() {
    wxMutexLocker lock(mutex);
    clkDivBit4 = true;
    return UpdateShadowAndWrite(FPGA_REG_CLK_DIV, Bit(4), Bit(4));
}

int FPGAReg::ClearClkDivBit4() {
    wxMutexLocker lock(mutex);
    clkDivBit4 = false;
    return UpdateShadowAndWrite(FPGA_REG_CLK_DIV, Bit(4), 0);
}

int FPGAReg::SetAdcCtrlHigh(bool a, bool b, bool c, bool d) {
    wxMutexLocker lock(mutex);
    // Active low.
    return UpdateShadowAndWrite(FPGA_REG_ADC_CTRL, 0xF0,
                                BitIf(!a, 4) | BitIf(!b, 5) | BitIf(!c, 6) | BitIf(!d, 7));
}

int FPGAReg::SetAdcCtrlLow(bool a, bool b, bool c, bool d) {
    wxMutexLocker lock(mutex);
    const uint8_t adc = BitIf(a, 0) | BitIf(b, 1) | BitIf(c, 2) | BitIf(d, 3);
    return UpdateShadowAndWrite(FPGA_REG_ADC_CTRL, 0x0F, adc);
}

int FPGAReg::SetAdcEnable(int32_t mask) {
    wxMutexLocker lock(mutex);
    RegisterShadow[FPGA_REG_ADC_ENL] = static_cast<uint8_t>(mask & 0xFF);
    RegisterShadow[FPGA_REG_ADC_ENH] = static_cast<uint8_t>((mask >> 8) & 0xFF);
    WriteReg(FPGA_REG_ADC_ENL, RegisterShadow[FPGA_REG_ADC_ENL]);
    return WriteReg(FPGA_REG_ADC_ENH, RegisterShadow[FPGA_REG_ADC_ENH]);
}

int FPGAReg::SetReg28Bit2(bool on) {
    wxMutexLocker lock(mutex);
    return UpdateShadowAndWrite(kFpgaRegFlagBits, Bit(2), BitIf(on, 2));
}

int FPGAReg::SetReg28Bit1(bool on) {
    wxMutexLocker lock(mutex);
    return UpdateShadowAndWrite(kFpgaRegFlagBits, Bit(1), BitIf(on, 1));
}

int FPGAReg::SetReg28Bit0(bool on) {
    wxMutexLocker lock(mutex);
    return UpdateShadowAndWrite(kFpgaRegFlagBits, Bit(0), BitIf(on, 0));
}
