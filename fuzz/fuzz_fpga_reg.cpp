// The register layer: arbitrary read-back bytes and transfer failures through
// the primitives and the register operations, in the order the input picks.
// Read-all fills the shadow with what the device sent, write-all sends the
// shadow, and a register whose last write went through holds its shadow byte.
#include <linux/spi/spidev.h>

#include "fpga_reg.h"
#include "fuzz_fpga.h"

namespace {

// Per transfer a control byte (0xEE fails it), then the byte read back.
struct FuzzedRegisterDevice final : DeviceDriver {
    explicit FuzzedRegisterDevice(FuzzedDataProvider& input) : data(input) {}
    int Ioctl(int, unsigned long request, void* arg) override {
        const auto* t = static_cast<const spi_ioc_transfer*>(arg);
        FUZZ_CHECK(request == SPI_IOC_MESSAGE(2) && t[0].len == 1 && t[1].len == 1);
        const uint8_t command = *reinterpret_cast<const uint8_t*>(t[0].tx_buf);
        FUZZ_CHECK((command & 0xE0) == 0x80 || (command & 0xE0) == 0x40);
        const uint8_t index = command & 0x1F;
        touched &= ~(1u << index);
        lastRead = 0;  // what a read delivers when its transfer fails
        if (data.ConsumeIntegral<uint8_t>() == 0xEE) return errno = EIO, -1;
        auto* received = reinterpret_cast<uint8_t*>(t[1].rx_buf);
        *received = data.ConsumeIntegral<uint8_t>();
        if (command & 0x80) {
            written[index] = *reinterpret_cast<const uint8_t*>(t[1].tx_buf);
            touched |= 1u << index;
        } else {
            readBack[index] = lastRead = *received;
        }
        return 2;
    }
    ssize_t Write(int, const void*, size_t) override { abort(); }

    FuzzedDataProvider& data;
    std::array<uint8_t, kFpgaRegisterCount> written{}, readBack{};
    uint32_t touched = 0;  // registers whose last transfer was a write that went through
    uint8_t lastRead = 0;  // the byte the last transfer delivered
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    FuzzedDataProvider data(bytes, size);
    FuzzedRegisterDevice device(data);
    FakeClock clock;
    FPGAReg reg("/dev/null", nullptr, clock);  // without a configuration node the load fails
    reg.SetDriver(device);
    for (int step = 0; step < 32 && data.remaining_bytes() > 0; ++step) {
        // The operation, its flags (bits of f) and its value.
        const int op = data.ConsumeIntegralInRange(0, 22);
        const uint8_t f = data.ConsumeIntegral<uint8_t>();
        const int32_t v = data.ConsumeIntegral<int32_t>();
        auto b = [f](int bit) { return (f >> bit & 1) != 0; };
        uint8_t keys[2] = {0xFF, 0xFF};
        int result = 2;
        device.touched = 0;
        switch (op) {
        case 0: result = reg.ReadAllRegs(); break;
        case 1: result = reg.WriteAllRegs(); break;
        case 2: reg.Init(b(0)); break;
        case 3: FUZZ_CHECK(reg.TestRegs() <= 512); break;
        case 4: FUZZ_CHECK(reg.ScanKeyboard(&keys[0], &keys[1]) == 0); break;
        case 5: FUZZ_CHECK(reg.StrobeCtrlBit7() == 0); break;
        case 6: result = reg.SetCtrlField(b(0), v); break;
        case 7: result = reg.SetReg8(v); break;
        case 8: result = reg.SetReg10And11(b(0), b(1), b(2), b(3), b(4), b(5), v & 0xFF); break;
        case 9: result = reg.SetExtOut(b(0), b(1), b(2), b(3), b(4), b(5), v & 0xFF); break;
        case 10: result = reg.OverrideExtOutLow(v); break;
        case 11: result = b(4) ? reg.SetClkDivBit4() : reg.ClearClkDivBit4(); break;
        case 12: result = reg.SetAdcEnable(v); break;
        case 13: result = reg.SetAdcCtrlHigh(b(0), b(1), b(2), b(3)); break;
        case 14: result = reg.SetAdcCtrlLow(b(0), b(1), b(2), b(3)); break;
        case 15: result = reg.SetDcdcCtrlLow(b(0), b(1), b(2), b(3)); break;
        case 16: result = b(4) ? reg.SetCtrlBit1(b(0)) : reg.SetCtrlBit2Bit0(b(0)); break;
        case 17: result = b(4) ? reg.SetExtOutBit6(b(0)) : reg.SetExtOutBit7(b(0)); break;
        case 18:
            result = b(4) ? reg.SetReg28Bit0(b(0)) : b(5) ? reg.SetReg28Bit1(b(0)) : reg.SetReg28Bit2(b(0));
            break;
        case 19: {
            // The inputs: the four lines are the low bits of what register 9 read.
            bool in[4];
            result = reg.ReadExtIn(&in[0], &in[1], &in[2], &in[3]);
            for (int i = 0; i < 4; ++i) FUZZ_CHECK(in[i] == ((device.lastRead >> i & 1) != 0));
            (void)reg.IsStatusBit4Clear();
            break;
        }
        case 20: {
            // Ready once a status read (0 when it failed) shows none of the mask's bits.
            const bool ready = reg.WaitReady(f, v & 15);
            FUZZ_CHECK(ready == ((v & 15) > 0 && (device.lastRead & f) == 0));
            break;
        }
        case 21: {
            uint8_t value = 0;
            result = b(4) ? reg.WriteKeybOut(f) : reg.ReadKeybIn(&value);
            FUZZ_CHECK(reg.GetFirmwareVersion() == reg.ShadowCopy()[FPGA_REG_FPGA_VER]);
            break;
        }
        default:
            reg.DumpRegs();
            (void)FPGAReg::RegReadBackMatches(f & 31, v & 0xFF, (v >> 8) & 0xFF);
            break;
        }
        FUZZ_CHECK(result == 2 || result == -1);
        const auto shadow = reg.ShadowCopy();
        FUZZ_CHECK(op != 0 || result != 2 || shadow == device.readBack);
        FUZZ_CHECK(op != 1 || result != 2 || shadow == device.written);
        for (int i = 0; i < kFpgaRegisterCount; ++i) {
            // The strobe keeps bit 7 out of the shadow; the self-test leaves it alone.
            const int ignored = op == 5 && i == 0 ? 0x80 : op == 3 && i == 31 ? 0xFF : 0;
            const bool wrote = (device.touched >> i & 1) != 0;
            FUZZ_CHECK(!wrote || ((device.written[i] ^ shadow[i]) & ~ignored) == 0);
        }
    }
    return 0;
}
