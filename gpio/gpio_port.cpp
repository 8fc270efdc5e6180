#include "gpio_port.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "sysfs.h"

GpioPinRecord GpioPinRecord::Named(const char* name) {
    GpioPinRecord record;
    size_t length = strnlen(name, record.bytes.size() - 2);
    memcpy(record.bytes.data(), name, length);  // NUL and value stay 0
    return record;
}

GpioPort::GpioPort(const char* devicePath, DeviceDriver& driver) {
    if (!node.Open(devicePath, driver)) {
        printf("gpio:*** Error: Can not open device %s ErrNo=%d\n", devicePath, errno);
    }
}

int GpioPort::sendSwitchRequest(unsigned nr, bool on) {
    uint8_t value = on ? 1 : 0;
    if (!node.IsOpen()) return 0;
    return node.Drive(nr, value);
}

int GpioPort::SetPin(unsigned nr, const char* pin, bool on) {
    if (node.IsOpen()) return sendSwitchRequest(nr, on);
    return sysfsWritePin(pin, on);
}

bool GpioPort::GetPin(const char* pin) {
    if (node.IsOpen()) return true;
    return sysfsReadPin(pin) != 0;
}

int GpioPort::setGprsEn(bool on) { return SetPin(kGpioGprsEn, "gprs_en", on); }
int GpioPort::setWlanReset(bool on) { return SetPin(kGpioWlanReset, "wlan_reset", on); }
int GpioPort::setExtIoEn(bool on) { return SetPin(kGpioExtIoEn, "ext_io_en", on); }
int GpioPort::setRs485Sel(bool on) { return SetPin(kGpioRs485Sel, "rs485_sel", on); }
int GpioPort::setRelayEn(bool on) { return SetPin(kGpioRelayEn, "relay_en", on); }
bool GpioPort::getGprsEn() { return GetPin("gprs_en"); }
bool GpioPort::getWlanReset() { return GetPin("wlan_reset"); }
bool GpioPort::getExtIoEn() { return GetPin("ext_io_en"); }
bool GpioPort::getRs485Sel() { return GetPin("rs485_sel"); }
bool GpioPort::getRelayEn() { return GetPin("relay_en"); }

void GpioPort::setAuxLine24(bool on) { sendSwitchRequest(kGpioAuxLine24, on); }
void GpioPort::setAuxLine26(bool on) { sendSwitchRequest(kGpioAuxLine26, on); }
void GpioPort::setAuxLine27(bool on) { sendSwitchRequest(kGpioAuxLine27, on); }
void GpioPort::setAuxLine28(bool on) { sendSwitchRequest(kGpioAuxLine28, on); }
void GpioPort::setAuxLine29(bool on) { sendSwitchRequest(kGpioAuxLine29, on); }
void GpioPort::setAuxLine30(bool on) { sendSwitchRequest(kGpioAuxLine30, on); }

int GpioPort::readReadyLine() {
    if (!node.IsOpen()) return sysfsReadPin("spi0_int") != 0 ? 1 : 0;

    // The driver wants the pin announced before each read; that answer is of
    // no interest.
    GpioPinRecord record = GpioPinRecord::Named("PA15");
    node.Send(kGpioPreparePin, record.bytes.data());

    record = GpioPinRecord::Named("PA15");
    int result = node.Send(kGpioGetPin, record.bytes.data());
    if (result != 0) printf("ioctl GET_PIN %d\n", result);

    // Level 0 means ready; anything above 1 is not a level and reads as busy.
    uint8_t level = record.Value();
    return level <= 1 ? 1 - level : 0;
}
