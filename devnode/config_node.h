// The FPGA configuration node: the loader's handshake lines and bitstream
// writes, and the GPIO requests (named pins, switch lines, the transmitter's
// ready line), which the same node carries.
#pragma once

#include <cstddef>
#include <cstdint>

#include "device_node.h"

// Request codes: _IOR('k', nr, 4) for the inputs, _IOW('k', nr, 4) for the
// outputs and the pin requests. A line's argument is one byte whatever the
// size field says.
constexpr unsigned long FpgaConfigReadRequest(unsigned nr) { return 0x80046B00UL + nr; }
constexpr unsigned long FpgaConfigWriteRequest(unsigned nr) { return 0x40046B00UL + nr; }

class ConfigNode {
public:
    // Opens `path` read-write and close-on-exec through `driver`; false with
    // errno set on failure.
    bool Open(const char* path, DeviceDriver& driver = DeviceDriver::System());
    bool IsOpen() const { return node_.IsOpen(); }
    void SetDriver(DeviceDriver& driver) { node_.SetDriver(driver); }

    // Drives output `nr` to `level`; the ioctl result (negative on failure).
    int Drive(unsigned nr, uint8_t level);
    // Reads input `nr` into `*level`; the ioctl result (negative on failure).
    int Read(unsigned nr, uint8_t* level);
    // Write request `nr` with the caller's record, which the driver may
    // fill in; the ioctl result.
    int Send(unsigned nr, uint8_t* record);
    // Writes all `length` bytes, continuing after a partial write and after
    // an interrupted one. True when every byte went out; false as soon as a
    // write returns 0 or fails otherwise.
    bool WriteAll(const uint8_t* bytes, size_t length);

private:
    DeviceNode node_;
};
