// The FPGA's register file: 32 eight-bit registers over a spidev node, a
// shadow copy of them, and the operations built on it.
//
// Constructing an FPGAReg loads the FPGA's bitstream first (through a
// short-lived FPGA on kFpgaConfigDevice), then opens the register device.
// The primitives (fpga_reg.cpp) take no lock; the register operations
// (fpga_reg_ops.cpp) hold the object's mutex around them.
#pragma once

#include <wx/thread.h>

#include <array>
#include <atomic>
#include <cstdint>

#include "clock.h"
#include "device_paths.h"
#include "fpga_map.h"
#include "spidev.h"

// The configuration node, which also carries the GPIO requests.
constexpr const char* kFpgaConfigDevice = kGpioDevicePath;

class FPGAReg {
public:
    // Prints "Initialize FPGA", loads the bitstream `rbfPath` (null: the
    // configured one) and ignores the outcome, waits 30 ms, then opens
    // `devicePath` (kept as a pointer for the constructor only) and sets up
    // SPI mode 1 at 800 kHz. An open failure is printed on standard output;
    // the object then stays closed and every transfer is skipped. Becomes
    // the current instance. Every wait, from the load on, is on `clock`;
    // both device nodes are opened and asked through `driver`.
    FPGAReg(const char* devicePath, const char* rbfPath, Clock& clock = Clock::System(),
            DeviceDriver& driver = DeviceDriver::System());
    // Closes the device; the current instance becomes null, whichever it was.
    ~FPGAReg();

    FPGAReg(const FPGAReg&) = delete;
    FPGAReg& operator=(const FPGAReg&) = delete;

    // The most recently constructed FPGAReg; null after any destruction.
    static FPGAReg* GetInstance();

    // --- Primitives: no lock, the shadow is left alone unless said. ---

    // One register transfer each. The result is kept as the last result and
    // returned: 2 on success, negative on failure (with a message on
    // standard error); on a closed object nothing is sent and the last
    // result comes back unchanged. ReadReg stores the received byte even
    // after a failed transfer.
    int WriteReg(uint8_t index, uint8_t value);
    int ReadReg(uint8_t index, uint8_t* value);
    // Registers 0 to 31 from / into the shadow, stopping at the first
    // failure, whose result is returned; otherwise the result for 31.
    int32_t WriteAllRegs();
    int32_t ReadAllRegs();
    // Reads the status register up to `tries` times until (status & mask)
    // is 0: true then; false with a message on standard error otherwise.
    bool WaitReady(uint8_t mask, int32_t tries);
    // 16 named shadow registers on standard error; no device access.
    void DumpRegs();
    // Whether `readBack` agrees with `written` under register `index`'s
    // read-back rule.
    static bool RegReadBackMatches(uint8_t index, uint8_t written, uint8_t readBack);

    // --- Register operations: each holds the mutex unless said. ---

    // Waits up to about a second for the signature, reads every register
    // into the shadow, prints the firmware version; with `resetDcdc` also
    // clears bits 0 to 3 of FPGA_REG_DCDC_CTRL.
    void Init(bool resetDcdc);
    // Shadow of FPGA_REG_FPGA_VER.
    int GetFirmwareVersion();
    // Mismatches of 256 signature reads and 256 write/read-backs of
    // FPGA_REG_TEST_WR (0 to 512).
    int TestRegs();
    // Last state given to bit 4 of FPGA_REG_CLK_DIV (no lock).
    bool GetClkDivBit4();

    bool IsStatusBit4Clear();
    int ReadExtIn(bool* in0, bool* in1, bool* in2, bool* in3);
    int ReadKeybIn(uint8_t* value);    // no lock
    int WriteKeybOut(uint8_t value);   // no lock
    // Scans the 3 x 5 key matrix: bit k of `*inputLines` set when input line
    // k was low, bit i of `*outputLines` when a key answered on output line
    // i. Both 0 without a key. Returns 0.
    int ScanKeyboard(uint8_t* inputLines, uint8_t* outputLines);

    int StrobeCtrlBit7();
    int SetCtrlField(bool bit6, int32_t value);
    int SetCtrlBit1(bool on);
    int SetCtrlBit2Bit0(bool bit2);
    int SetReg8(int32_t count);
    int SetReg10And11(bool f0, bool f1, bool f2, bool f3, bool f5, bool f4, uint8_t byte);
    int SetExtOut(bool f0, bool f1, bool f2, bool f3, bool f5, bool f4, uint8_t byte);
    int OverrideExtOutLow(int32_t value);
    int SetExtOutBit6(bool on);
    int SetExtOutBit7(bool on);
    int SetDcdcCtrlLow(bool a, bool b, bool c, bool d);
    int SetClkDivBit4();
    int ClearClkDivBit4();
    int SetAdcCtrlHigh(bool a, bool b, bool c, bool d);
    int SetAdcCtrlLow(bool a, bool b, bool c, bool d);
    int SetAdcEnable(int32_t mask);
    int SetReg28Bit2(bool on);
    int SetReg28Bit1(bool on);
    int SetReg28Bit0(bool on);

    // A copy of the shadow, taken under the mutex.
    std::array<uint8_t, kFpgaRegisterCount> ShadowCopy();
    // The object's mutex. Callers that use the primitives, ReadKeybIn or
    // WriteKeybOut from several threads hold it around them, as the register
    // operations do; none of the operations may be called while holding it.
    wxMutex& Mutex() { return mutex; }
    // Sends the register device's requests through `driver` from now on
    // (the system calls until then). `driver` must outlive its use here.
    void SetDriver(DeviceDriver& driver) { spi.SetDriver(driver); }
    // The result of the bitstream load at construction (FPGA::Configure's):
    // 0 when the FPGA was loaded.
    int LoadResult() const { return loadResult; }
    // Whether the register device is open (any descriptor, 0 included).
    bool IsOpen() const { return spi.IsOpen(); }
    // Register transfers that failed since construction, by any operation
    // (Init and the scans included, which do not return every result).
    // Never reset: read it before and after a step to learn whether any
    // transfer of it failed.
    uint64_t FailedTransfers() const { return failedTransfers.load(std::memory_order_relaxed); }

private:
    void SetUpSpi();
    // One two-transfer SPI message: `command`, then `data` while one byte
    // is received into `*received`. Stores and returns the result.
    int RegisterSpiTransfer(uint8_t command, uint8_t data, uint8_t* received);
    // Shadow byte `index` = (shadow & ~clear) | set, then written.
    int UpdateShadowAndWrite(uint8_t index, uint8_t clear, uint8_t set);
    // The shared body of SetReg10And11 and SetExtOut.
    int WriteFlagPair(uint8_t byteIndex, uint8_t flagIndex, uint8_t lowBits, bool f5, bool f4,
                      uint8_t byte);

    wxMutex mutex;
    Spidev spi;
    Clock* clockInUse;
    int lastResult = 0;
    std::atomic<uint64_t> failedTransfers{0};
    int loadResult = 0;
    bool clkDivBit4 = false;
    const char* devicePath;
    std::array<uint8_t, kFpgaRegisterCount> RegisterShadow{};
    int32_t extOutOverrideValue = 0;
    bool extOutOverrideActive = false;
};
