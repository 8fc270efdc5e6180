// A spidev node: its set-up requests, each written and read back, and the
// full-duplex transfers. The transmitter link and the FPGA register file
// each own one.
#pragma once

#include <linux/spi/spidev.h>

#include <cstddef>
#include <cstdint>

#include "device_node.h"

// Both buses run in clock mode 1 at 800 kHz, eight bits to a word.
constexpr uint8_t kSpiMode = SPI_MODE_1;
constexpr uint32_t kSpiSpeedHz = 800000;
constexpr uint8_t kSpiBitsPerWord = 8;

class Spidev {
public:
    // Opens `path` with `flags` through `driver`; false with errno set on
    // failure.
    bool Open(const char* path, int flags, DeviceDriver& driver = DeviceDriver::System()) {
        return node.Open(path, flags, driver);
    }
    bool IsOpen() const { return node.IsOpen(); }
    void SetDriver(DeviceDriver& driver) { node.SetDriver(driver); }

    // The set-up requests. Each returns the ioctl result; a read stores
    // what the controller reports into its argument.
    int WriteMode(uint8_t mode);
    int ReadMode(uint8_t& mode);
    int WriteBitsPerWord(uint8_t bits);
    int ReadBitsPerWord(uint8_t& bits);
    int WriteMaxSpeed(uint32_t hz);
    int ReadMaxSpeed(uint32_t& hz);

    // One full-duplex transfer of `length` bytes at the node's own speed,
    // eight bits to a word: the ioctl result (the byte count on success).
    int Transfer(const uint8_t* tx, uint8_t* rx, size_t length);
    // One message of two transfers: `firstLength` bytes of `first` sent,
    // then `secondLength` bytes of `second` sent while as many are
    // received into `received`. The ioctl result.
    int TwoPartMessage(const uint8_t* first, size_t firstLength, const uint8_t* second,
                       uint8_t* received, size_t secondLength);

private:
    DeviceNode node;
};
