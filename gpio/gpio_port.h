// Named digital lines of the instrument and the transmitter's ready line,
// through the GPIO-capable device node or, when it cannot be opened, through
// the sysfs value files below GpioSysfsRoot.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "unique_fd.h"

// Request codes of the GPIO driver: _IOW('k', nr, 4).
constexpr unsigned long GpioRequest(unsigned nr) { return 0x40046B00UL + nr; }
constexpr unsigned long GPIO_PREPARE_PIN = GpioRequest(17);
constexpr unsigned long GPIO_GET_PIN = GpioRequest(19);

// The 6-byte record of the pin requests: NUL-terminated name in bytes 0 to 4,
// the pin level in byte 5 (written by the driver on GET_PIN).
constexpr size_t kGpioPinRecordSize = 6;
struct GpioPinRecord {
    std::array<uint8_t, kGpioPinRecordSize> bytes{};

    // A record naming `name` (at most 4 characters) with value 0.
    static GpioPinRecord Named(const char* name);
    uint8_t value() const { return bytes[5]; }
};

class GpioPort {
public:
    // Opens `devicePath` read-write. On failure prints
    // "gpio:*** Error: Can not open device %s ErrNo=%d" on stdout and works
    // through sysfs from then on. Never fails otherwise.
    explicit GpioPort(const char* devicePath);
    ~GpioPort() = default;  // the descriptor closes itself

    GpioPort(const GpioPort&) = delete;
    GpioPort& operator=(const GpioPort&) = delete;

    // Named output pins. Set: the ioctl result (device) or the sysfs write
    // result (0 or -1). Get: 1 at once with the device open; through sysfs the
    // pin's value, where a failed read reports 1.
    int setGprsEn(bool on);
    int setWlanReset(bool on);
    int setExtIoEn(bool on);
    int setRs485Sel(bool on);
    int setRelayEn(bool on);
    bool getGprsEn();
    bool getWlanReset();
    bool getExtIoEn();
    bool getRs485Sel();
    bool getRelayEn();

    // Switch lines known to the driver only; nothing happens through sysfs.
    void setAuxLine24(bool on);
    void setAuxLine26(bool on);
    void setAuxLine27(bool on);
    void setAuxLine28(bool on);
    void setAuxLine29(bool on);
    void setAuxLine30(bool on);

    // 1 when the transmitter is ready to be talked to: PA15 at level 0 on the
    // device, a non-zero spi0_int value through sysfs. Failed reads give 1.
    int readReadyLine();

    // Whether the device node is open (device mode).
    bool HasDevice() const { return fd.valid(); }

private:
    int SetPin(unsigned nr, const char* pin, bool on);
    bool GetPin(const char* pin);
    int sendSwitchRequest(unsigned long request, bool on);
    // The one place where this object talks to its driver.
    int Ioctl(unsigned long request, void* arg);

    UniqueFd fd;
};
