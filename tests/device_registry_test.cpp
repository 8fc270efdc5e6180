// The device registry: who holds a name, the order and text of the listing,
// and the recursive lock seen from a description that looks devices up.
#include <memory>
#include <string>

#include "device.h"
#include "fpga.h"
#include "test_support.h"

namespace {

std::string Listing() {
    CapturedOutput output;
    Device::ListDevices();
    output.Finish();
    return output.out;
}

TEST(DeviceRegistry, ASecondDeviceOfTheSameNameTakesTheEntryOver) {
    auto first = std::make_unique<Device>(L"Probe", 1);
    EXPECT_EQ(Device::Find(L"Probe"), first.get());
    auto second = std::make_unique<Device>(L"Probe", 2);
    EXPECT_EQ(Device::Find(L"Probe"), second.get());

    // Destroying the first removes the entry, though it names the second.
    first.reset();
    EXPECT_EQ(Device::Find(L"Probe"), nullptr);
    second.reset();
    EXPECT_EQ(Device::Find(L"Probe"), nullptr);
    EXPECT_EQ(Listing(), "DEVICES:\nDEVICES END");
}

// A description may use the registry while the listing holds its lock.
class Watcher final : public Device {
public:
    Watcher() : Device(L"Watcher", 0) {}
    wxString GetDescription() override {
        return Device::Find(L"Watcher") == this ? "watching" : "lost";
    }
};

// Names in case-sensitive order. A name the C library cannot convert (this
// process keeps the "C" locale) is described with an empty name, not with a
// placeholder.
TEST(DeviceRegistry, ListingInCaseSensitiveNameOrder) {
    {
        Device lower(L"fpga", 0);
        FPGA fpga;
        Device other(L"Beta", 0);
        Device unconvertible(L"Ger\u00e4t", 0);
        Watcher watcher;
        EXPECT_EQ(lower.GetDescription(), "Device:fpga");
        EXPECT_EQ(unconvertible.GetDescription(), "Device:");
        EXPECT_EQ(Device::Find(L"fpga"), &lower);
        EXPECT_NE(Device::Find(L"FPGA"), nullptr);
        EXPECT_EQ(Device::Find(L"Fpga"), nullptr);
        EXPECT_EQ(Listing(),
                  "DEVICES:\n"
                  "Device: Device:Beta\n"
                  "Device: Device:FPGA\n"
                  "Device: Device:\n"
                  "Device: watching\n"
                  "Device: Device:fpga\n"
                  "DEVICES END");
    }
    EXPECT_EQ(Device::Find(L"FPGA"), nullptr);
    EXPECT_EQ(Listing(), "DEVICES:\nDEVICES END");
}

}  // namespace
