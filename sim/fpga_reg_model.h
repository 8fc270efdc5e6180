// A model of the FPGA's register file behind its spidev node: every access
// is one SPI_IOC_MESSAGE(2), a command byte (0x80 + index to write, 0x40 +
// index to read) and a data byte, with the register's value clocked back
// during the data byte. Thread-safe: umockdev calls it from its worker thread.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "fpga_map.h"

namespace sim {

// One register message as the FPGA saw it.
struct RegisterTransfer {
    uint8_t command;
    uint8_t data;      // the byte clocked out by the host with the data byte
    uint8_t reply;     // the byte clocked back
    bool failed;       // the ioctl was failed on purpose
    bool operator==(const RegisterTransfer&) const = default;
};

class FpgaRegisterModel {
public:
    FpgaRegisterModel();

    // One message: `command`, then `data` while `*reply` is clocked back.
    // Returns 2 (the bytes moved), or -1 with `*err` set when a failure is
    // scripted for this register.
    long Message(uint8_t command, uint8_t data, uint8_t* reply, int* err);

    // The SPI set-up requests, as the driver sees them.
    void SetMode(uint8_t value);
    uint8_t Mode() const;
    uint8_t BitsPerWord() const;
    void SetMaxSpeedHz(uint32_t hz);
    uint32_t MaxSpeedHz() const;

    // The FPGA answers 0x95 from register 30 from its `reads`-th read on
    // (1: at once, the default; 0: never).
    void SignatureFromRead(int reads);
    // Values for the next reads of the status register (1), one each,
    // before its stored value applies again.
    void ScriptStatus(std::vector<uint8_t> values);
    // Messages addressing register `index` fail with -1 / EIO from the
    // `occurrence`-th one after this call on (1: the next and all later).
    void FailRegister(uint8_t index, int occurrence = 1);
    // A key of the 3 x 5 matrix is held: input line `in` (0 to 4) reads low
    // while output line `out` (0 to 2) is driven low through register 27
    // (all lines are low at power-up).
    void PressKey(int out, int in);
    // Sets a register's value as the FPGA holds it.
    void SetRegister(uint8_t index, uint8_t value);

    // The register file as the FPGA holds it now.
    std::array<uint8_t, kFpgaRegisterCount> Registers() const;
    // Every message so far, oldest first.
    std::vector<RegisterTransfer> Transfers() const;
    void ClearTransfers();

private:
    uint8_t ReadValue(uint8_t index);

    mutable std::mutex mutex;
    std::array<uint8_t, kFpgaRegisterCount> registers{};
    uint8_t mode = 0;
    uint8_t bitsPerWord = 8;
    uint32_t speedHz = 0;
    int signatureFromRead = 1;
    int signatureReads = 0;
    std::deque<uint8_t> statusScript;
    std::array<int, kFpgaRegisterCount> failFrom{};
    std::array<int, kFpgaRegisterCount> accesses{};
    std::set<std::pair<int, int>> keys;
    std::vector<RegisterTransfer> transfers;
};

}  // namespace sim
