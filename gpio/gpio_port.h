// Named digital lines of the instrument and the transmitter's ready line,
// through the GPIO-capable device node or, when it cannot be opened, through
// the sysfs value files below GpioSysfsRoot.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "config_node.h"

// Request codes of the GPIO driver: the configuration node's write requests
// (the numbers are in fpga_map.h).
constexpr unsigned long GpioRequest(unsigned nr) { return FpgaConfigWriteRequest(nr); }
constexpr unsigned long GPIO_PREPARE_PIN = GpioRequest(kGpioPreparePin);
constexpr unsigned long GPIO_GET_PIN = GpioRequest(kGpioGetPin);

// The 6-byte record of the pin requests: NUL-terminated name in bytes 0 to 4,
// the pin level in byte 5 (written by the driver on GET_PIN).
constexpr size_t kGpioPinRecordSize = 6;
struct GpioPinRecord {
    std::array<uint8_t, kGpioPinRecordSize> bytes{};

    // A record naming `name` (at most 4 characters) with value 0.
    static GpioPinRecord Named(const char* name);
    uint8_t Value() const { return bytes[5]; }
};

class GpioPort {
public:
    // Opens `devicePath` read-write. On failure prints
    // "gpio:*** Error: Can not open device %s ErrNo=%d" on stdout and works
    // through sysfs from then on. Never fails otherwise. The node is opened
    // and asked through `driver`.
    explicit GpioPort(const char* devicePath, DeviceDriver& driver = DeviceDriver::System());
    ~GpioPort() = default;  // the node closes itself

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
    bool HasDevice() const { return node.IsOpen(); }
    // Sends the node's requests through `driver` from now on.
    void SetDriver(DeviceDriver& driver) { node.SetDriver(driver); }

private:
    int SetPin(unsigned nr, const char* pin, bool on);
    bool GetPin(const char* pin);
    int sendSwitchRequest(unsigned nr, bool on);

    ConfigNode node;
};
