// The device registry: who holds a name, and the order and text of the
// listing, also with a description that looks devices up under its lock.
#include "device.h"
#include "fpga.h"
#include "fpga_support.h"

namespace {

struct Watcher final : Device {
    Watcher() : Device(L"Watcher", 0) {}
    wxString GetDescription() override {
        return Device::Find(L"Watcher") == this ? "watching" : "lost";
    }
};

TEST(DeviceRegistry, DestroyingTheFirstOfTwoDevicesOfANameRemovesTheEntry) {
    auto first = std::make_unique<Device>(L"Probe", 1);
    Device second(L"Probe", 2);
    EXPECT_EQ(Device::Find(L"Probe"), &second);
    first.reset();
    EXPECT_EQ(Device::Find(L"Probe"), nullptr);
}

// In case-sensitive order; a name the C library cannot convert (this process
// keeps the "C" locale) is described with an empty name. Destroyed devices
// leave the listing.
TEST(DeviceRegistry, TheListingDescribesEveryDeviceInNameOrder) {
    {
        Device lower(L"fpga", 0), other(L"Beta", 0), unconvertible(L"Ger\u00e4t", 0);
        FPGA fpga;
        Watcher watcher;
        EXPECT_EQ(Printed(Device::ListDevices),
                  "DEVICES:\nDevice: Device:Beta\nDevice: Device:FPGA\nDevice: Device:\n"
                  "Device: watching\nDevice: Device:fpga\nDEVICES END");
    }
    EXPECT_EQ(Printed(Device::ListDevices), "DEVICES:\nDEVICES END");
}

}  // namespace
