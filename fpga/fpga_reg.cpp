// FPGAReg: construction, the register transfer and the unlocked primitives.
#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "fpga.h"
#include "fpga_reg.h"

namespace {

FPGAReg* currentInstance = nullptr;

}  // namespace

FPGAReg::FPGAReg(const char* path, const char* rbfPath, Clock& clock, DeviceDriver& driver)
    : clockInUse(&clock), devicePath(path) {
    fputs("Initialize FPGA\n", stderr);
    {
        FPGA loader;
        loader.SetClock(clock);
        loader.SetDriver(driver);
        // The loader reports its own failures; the outcome is kept for callers.
        loadResult = loader.Configure(kFpgaConfigDevice, rbfPath);
        clock.Sleep(30000000);
    }
    currentInstance = this;

    if (!spi.Open(devicePath, O_RDWR, driver)) {
        printf("fpga_reg:*** Error: Can not open device %s ErrNo=%d\n", devicePath, errno);
        return;
    }
    SetUpSpi();
}

FPGAReg::~FPGAReg() { currentInstance = nullptr; }

FPGAReg* FPGAReg::GetInstance() { return currentInstance; }

void FPGAReg::SetUpSpi() {
    uint8_t mode = kSpiMode;
    spi.WriteMode(mode);
    if (spi.ReadMode(mode) == -1) return;
    uint8_t bits = 0;
    if (spi.ReadBitsPerWord(bits) == -1) return;
    uint32_t speed = kSpiSpeedHz;
    spi.WriteMaxSpeed(speed);
    spi.ReadMaxSpeed(speed);
}

int FPGAReg::RegisterSpiTransfer(uint8_t command, uint8_t data, uint8_t* received) {
    lastResult = spi.TwoPartMessage(&command, 1, &data, received, 1);
    if (lastResult < 0) failedTransfers.fetch_add(1, std::memory_order_relaxed);
    return lastResult;
}

int FPGAReg::WriteReg(uint8_t index, uint8_t value) {
    if (!IsOpen()) return lastResult;
    uint8_t received = 0;
    const uint8_t command = static_cast<uint8_t>(kFpgaWriteCommand + index);
    if (RegisterSpiTransfer(command, value, &received) < 0) {
        fprintf(stderr, "Exception: fpga_reg:%d FPGAReg::WriteReg failed\n", 241);
    }
    return lastResult;
}

int FPGAReg::ReadReg(uint8_t index, uint8_t* value) {
    if (!IsOpen()) return lastResult;
    // A failed transfer delivers 0.
    uint8_t received = 0;
    RegisterSpiTransfer(static_cast<uint8_t>(kFpgaReadCommand + index), 0, &received);
    *value = received;
    if (lastResult < 0) fprintf(stderr, "Exception: fpga_reg:%d FPGAReg::ReadReg failed\n", 172);
    return lastResult;
}

int32_t FPGAReg::WriteAllRegs() {
    int result = 0;
    for (int i = 0; i < kFpgaRegisterCount; ++i) {
        result = WriteReg(static_cast<uint8_t>(i), RegisterShadow[i]);
        if (result < 0) {
            fprintf(stderr, "Exception: fpga_reg:%d FPGAReg::WriteAllRegs() Failed!\n", 285);
            return result;
        }
    }
    return result;
}

int32_t FPGAReg::ReadAllRegs() {
    int result = 0;
    for (int i = 0; i < kFpgaRegisterCount; ++i) {
        result = ReadReg(static_cast<uint8_t>(i), &RegisterShadow[i]);
        if (result < 0) {
            fprintf(stderr, "Exception: fpga_reg:%d FPGAReg::ReadAllRegs() Failed!\n", 267);
            return result;
        }
    }
    return result;
}

bool FPGAReg::WaitReady(uint8_t mask, int32_t tries) {
    uint8_t status = 0;
    for (int32_t i = 0; i < tries; ++i) {
        ReadReg(FPGA_REG_FPGA_STATUS, &status);
        if ((status & mask) == 0) return true;
    }
    fprintf(stderr, "*** FPGAReg::WaitReady TIMEOUT 0x%02x 0x%02x\n", mask, status);
    return false;
}

void FPGAReg::DumpRegs() {
    static const struct {
        uint8_t index;
        const char* format;
    } lines[] = {
        {FPGA_REG_FPGA_CTRL, "FPGA_REG_FPGA_CTRL   = %02x\n"},
        {FPGA_REG_FPGA_STATUS, "FPGA_REG_FPGA_STATUS = %02x\n"},
        {FPGA_REG_INT_MASK, "FPGA_REG_INT_MASK    = %02x\n"},
        {FPGA_REG_INT_SRC, "FPGA_REG_INT_SRC     = %02x\n"},
        {FPGA_REG_DCDC_CTRL, "FPGA_REG_DCDC_CTRL   = %02x\n"},
        {FPGA_REG_CLK_DIV, "FPGA_REG_CLK_DIV     = %02x\n"},
        {FPGA_REG_ADC_CTRL, "FPGA_REG_ADC_CTRL    = %02x\n"},
        {FPGA_REG_ADC_ENL, "FPGA_REG_ADC_ENL     = %02x\n"},
        {FPGA_REG_ADC_ENH, "FPGA_REG_ADC_ENH     = %02x\n"},
        {FPGA_REG_EXT_IN, "FPGA_REG_EXT_IN      = %02x\n"},
        {FPGA_REG_EXT_OUT, "FPGA_REG_EXT_OUT     = %02x\n"},
        {FPGA_REG_KEYB_IN, "FPGA_REG_KEYB_IN     = %02x\n"},
        {FPGA_REG_KEYB_OUT, "FPGA_REG_KEYB_OUT    = %02x\n"},
        {FPGA_REG_FPGA_VER, "FPGA_REG_FPGA_VER    = %02x\n"},
        {FPGA_REG_TEST_RD, "FPGA_REG_TEST_RD     = %02x\n"},
        {FPGA_REG_TEST_WR, "FPGA_REG_TEST_WR     = %02x\n"},
    };
    for (const auto& line : lines) fprintf(stderr, line.format, RegisterShadow[line.index]);
}

bool FPGAReg::RegReadBackMatches(uint8_t index, uint8_t written, uint8_t readBack) {
    switch (index) {
    case FPGA_REG_FPGA_CTRL:
    case FPGA_REG_EXT_OUT:
        return (written & 0x7F) == readBack;  // bit 7 does not read back
    case kFpgaRegPairFlags:
        return (written & 0x3F) == readBack;  // nor do bits 6 and 7 here
    case kFpgaRegPairByte:
    case kFpgaRegExtOutByte:
        return true;
    default:
        return written == readBack;
    }
}
