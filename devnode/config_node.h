// The FPGA configuration node: the loader's handshake lines and bitstream
// writes, and the GPIO requests (named pins, switch lines, the transmitter's
// ready line), which the same node carries.
#pragma once

#include <cstddef>
#include <cstdint>

#include "device_node.h"
#include "fpga_map.h"

class ConfigNode {
public:
    // Opens `path` read-write and close-on-exec through `driver`; false with
    // errno set on failure.
    bool Open(const char* path, DeviceDriver& driver = DeviceDriver::System());
    bool IsOpen() const { return node.IsOpen(); }
    void SetDriver(DeviceDriver& driver) { node.SetDriver(driver); }

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
    DeviceNode node;
};
