// The FPGA configuration device's handshake requests and bitstream writes,
// on a descriptor that someone else owns.
#pragma once

#include <cstddef>
#include <cstdint>

#include "fpga_driver.h"

// Request codes: _IOR('k', nr, 4) for the inputs, _IOW('k', nr, 4) for the
// outputs. The argument is one byte whatever the size field says.
constexpr unsigned long FpgaConfigReadRequest(unsigned nr) { return 0x80046B00UL + nr; }
constexpr unsigned long FpgaConfigWriteRequest(unsigned nr) { return 0x40046B00UL + nr; }

class FpgaConfigPort {
public:
    // Talks to `fd` through `driver`; does not take ownership.
    explicit FpgaConfigPort(int fd, FpgaDriver& driver = FpgaDriver::System())
        : fd_(fd), driver_(driver) {}

    // Drives output `nr` to `level`; the ioctl result (negative on failure).
    int Drive(unsigned nr, uint8_t level);
    // Reads input `nr` into `*level`; the ioctl result (negative on failure).
    int Read(unsigned nr, uint8_t* level);
    // Writes all `length` bytes, continuing after a partial write and after
    // an interrupted one. True when every byte went out; false as soon as a
    // write returns 0 or fails otherwise.
    bool WriteAll(const uint8_t* bytes, size_t length);

private:
    // The one place where the configuration handshake reaches the driver.
    int Ioctl(unsigned long request, uint8_t* arg);

    int fd_;
    FpgaDriver& driver_;
};
