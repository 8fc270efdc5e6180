// FPGAReg: construction, the register transfer and the unlocked primitives.
#include <fcntl.h>
#include <linux/spi/spidev.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "fpga.h"
#include "fpga_clock.h"
#include "fpga_reg.h"

namespace {

constexpr uint8_t kWriteCommand = 0x80;
constexpr uint8_t kReadCommand = 0x40;
constexpr uint8_t kSpiMode = SPI_MODE_1;
constexpr uint32_t kSpiSpeedHz = 800000;

FPGAReg* currentInstance = nullptr;

}  // namespace

FPGAReg::FPGAReg(const char* path, const char* rbfPath) : devicePath(path) {
    fputs("Initialize FPGA\n", stderr);
    {
        FPGA loader;
        // The loader reports its own failures; the outcome is kept for callers.
        loadResult = loader.Configure(kFpgaConfigDevice, rbfPath);
        FpgaClock::Current().SleepMilliseconds(30);
    }
    currentInstance = this;

    fd.reset(::open(devicePath, O_RDWR));
    if (fd.get() < 0) {
        printf("fpga_reg:*** Error: Can not open device %s ErrNo=%d\n", devicePath, errno);
        return;
    }
    if (fd.get() == 0) return;
    SetUpSpi();
}

FPGAReg::~FPGAReg() { currentInstance = nullptr; }

FPGAReg* FPGAReg::GetInstance() { return currentInstance; }

void FPGAReg::SetUpSpi() {
    uint8_t mode = kSpiMode;
    Ioctl(SPI_IOC_WR_MODE, &mode);
    if (Ioctl(SPI_IOC_RD_MODE, &mode) == -1) return;
    uint8_t bits = 0;
    if (Ioctl(SPI_IOC_RD_BITS_PER_WORD, &bits) == -1) return;
    uint32_t speed = kSpiSpeedHz;
    Ioctl(SPI_IOC_WR_MAX_SPEED_HZ, &speed);
    Ioctl(SPI_IOC_RD_MAX_SPEED_HZ, &speed);
}

int FPGAReg::Ioctl(unsigned long request, void* arg) {
    return driver_->Ioctl(fd.get(), request, arg);
}

int FPGAReg::RegisterSpiTransfer(uint8_t command, uint8_t data, uint8_t* received) {
    spi_ioc_transfer transfers[2];
    std::memset(transfers, 0, sizeof transfers);
    transfers[0].tx_buf = reinterpret_cast<uintptr_t>(&command);
    transfers[0].len = 1;
    transfers[0].bits_per_word = 8;
    transfers[1].tx_buf = reinterpret_cast<uintptr_t>(&data);
    transfers[1].rx_buf = reinterpret_cast<uintptr_t>(received);
    transfers[1].len = 1;
    transfers[1].bits_per_word = 8;
    lastResult = Ioctl(SPI_IOC_MESSAGE(2), transfers);
    return lastResult;
}

int FPGAReg::WriteReg(uint8_t index, uint8_t value) {
    if (!IsOpen()) return lastResult;
    uint8_t received = 0;
    if (RegisterSpiTransfer(static_cast<uint8_t>(kWriteCommand + index), value, &received) < 0) {
        fprintf(stderr, "Exception: fpga_reg:%d FPGAReg::WriteReg failed\n", 241);
    }
    return lastResult;
}

int FPGAReg::ReadReg(uint8_t index, uint8_t* value) {
    if (!IsOpen()) return lastResult;
    // A failed transfer delivers 0.
    uint8_t received = 0;
    RegisterSpiTransfer(static_cast<uint8_t>(kReadCommand + index), 0, &received);
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
    case 11:
        return (written & 0x3F) == readBack;  // nor do bits 6 and 7 here
    case 10:
    case 12:
        return true;
    default:
        return written == readBack;
    }
}
