// GpioPort through the emulated FPGA configuration node and, without it,
// through the sysfs value files; the sysfs helpers on their own.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "gpio_port.h"
#include "sysfs.h"
#include "test_support.h"

namespace {

const std::string kNoDeviceMessage =
    "gpio:*** Error: Can not open device /dev/fpga_config.0 ErrNo=2\n";

std::string PinPath(const std::string& pin) {
    return std::string(GpioSysfsRoot) + "/" + pin + "/value";
}

}  // namespace

TEST(GpioPortDevice, ReadyLineFollowsPA15) {
    REQUIRE_MOCK_ENVIRONMENT();
    sim::GpioDeviceModel model;
    sim::Testbed bed;
    ASSERT_TRUE(bed.AddGpioDevice(model)) << bed.LastError();
    GpioPort port(sim::kGpioDevicePath);
    ASSERT_TRUE(port.HasDevice());

    // Level 0 is ready; 1 is busy, and so is anything that is not a level.
    const std::pair<uint8_t, int> levels[] = {{0, 1}, {1, 0}, {7, 0}};
    int reads = 0;
    for (auto [level, ready] : levels) {
        model.SetLevel(level);
        CapturedOutput output;
        EXPECT_EQ(port.readReadyLine(), ready) << "level " << int(level);
        output.Finish();
        EXPECT_EQ(output.out, "");
        ++reads;
        EXPECT_EQ(model.PrepareCount(), reads);
        EXPECT_EQ(model.GetPinCount(), reads);
    }
    EXPECT_EQ(model.PinNames(), std::vector<std::string>(3, "PA15"));

    // A failed GET_PIN is reported, and the untouched record still decides.
    model.SetLevel(1);
    model.SetGetPinResult(3);
    CapturedOutput output;
    EXPECT_EQ(port.readReadyLine(), 1);
    output.Finish();
    EXPECT_EQ(output.out, "ioctl GET_PIN 3\n");
}

TEST(GpioPortDevice, SwitchLinesSendTheirRequests) {
    REQUIRE_MOCK_ENVIRONMENT();
    sim::GpioDeviceModel model;
    sim::Testbed bed;
    ASSERT_TRUE(bed.AddGpioDevice(model)) << bed.LastError();
    ASSERT_TRUE(bed.AddSysfsRoot()) << bed.LastError();
    ASSERT_TRUE(bed.SetSysfsPin("relay_en", "0\n"));
    GpioPort port(sim::kGpioDevicePath);

    // With the node open the readings are not asked for at all.
    EXPECT_TRUE(port.getGprsEn());
    EXPECT_TRUE(port.getWlanReset());
    EXPECT_TRUE(port.getExtIoEn());
    EXPECT_TRUE(port.getRs485Sel());
    EXPECT_TRUE(port.getRelayEn());
    EXPECT_EQ(model.GetPinCount(), 0);
    EXPECT_EQ(model.PrepareCount(), 0);
    EXPECT_TRUE(model.Switches().empty());

    const std::pair<unsigned, std::function<int(bool)>> setters[] = {
        {25, [&](bool on) { return port.setGprsEn(on); }},
        {23, [&](bool on) { return port.setWlanReset(on); }},
        {21, [&](bool on) { return port.setExtIoEn(on); }},
        {20, [&](bool on) { return port.setRs485Sel(on); }},
        {31, [&](bool on) { return port.setRelayEn(on); }},
        {24, [&](bool on) { port.setAuxLine24(on); return 0; }},
        {26, [&](bool on) { port.setAuxLine26(on); return 0; }},
        {27, [&](bool on) { port.setAuxLine27(on); return 0; }},
        {28, [&](bool on) { port.setAuxLine28(on); return 0; }},
        {29, [&](bool on) { port.setAuxLine29(on); return 0; }},
        {30, [&](bool on) { port.setAuxLine30(on); return 0; }},
    };
    for (const auto& [nr, set] : setters) {
        EXPECT_EQ(set(true), 0) << nr;
        EXPECT_EQ(set(false), 0) << nr;
    }
    const std::vector<sim::SwitchRequest> seen = model.Switches();
    ASSERT_EQ(seen.size(), 2 * std::size(setters));
    for (size_t i = 0; i < std::size(setters); ++i) {
        EXPECT_EQ(seen[2 * i].nr, setters[i].first);
        EXPECT_EQ(seen[2 * i].value, 1);
        EXPECT_EQ(seen[2 * i + 1].nr, setters[i].first);
        EXPECT_EQ(seen[2 * i + 1].value, 0);
    }
    EXPECT_EQ(bed.SysfsPin("relay_en"), "0\n");  // the file is not the way
}

TEST(GpioPortSysfs, ReadsAndWritesValueFiles) {
    REQUIRE_MOCK_ENVIRONMENT();
    sim::Testbed bed;
    ASSERT_TRUE(bed.AddSysfsRoot()) << bed.LastError();
    CapturedOutput construction;
    GpioPort port(sim::kGpioDevicePath);
    construction.Finish();
    EXPECT_EQ(construction.out, kNoDeviceMessage);
    EXPECT_FALSE(port.HasDevice());

    ASSERT_TRUE(bed.SetSysfsPin("spi0_int", "0\n"));
    EXPECT_EQ(port.readReadyLine(), 0);
    ASSERT_TRUE(bed.SetSysfsPin("spi0_int", "1\n"));
    EXPECT_EQ(port.readReadyLine(), 1);

    // A missing file is complained about and reads as ready.
    bed.RemoveSysfsPin("spi0_int");
    {
        CapturedOutput output;
        EXPECT_EQ(port.readReadyLine(), 1);
        output.Finish();
        EXPECT_EQ(output.out, "sysfs: Can not open " + PinPath("spi0_int") + "\n");
    }

    ASSERT_TRUE(bed.SetSysfsPin("gprs_en", "0\n"));
    EXPECT_FALSE(port.getGprsEn());
    ASSERT_TRUE(bed.SetSysfsPin("gprs_en", "1\n"));
    EXPECT_TRUE(port.getGprsEn());
    ASSERT_TRUE(bed.SetSysfsPin("rs485_sel", ""));  // an empty file fails to read
    EXPECT_TRUE(port.getRs485Sel());

    ASSERT_TRUE(bed.SetSysfsPin("relay_en", ""));
    EXPECT_EQ(port.setRelayEn(true), 0);
    EXPECT_EQ(bed.SysfsPin("relay_en"), "1");
    {
        CapturedOutput output;
        EXPECT_EQ(port.setExtIoEn(true), -1);  // no such file
        output.Finish();
        EXPECT_EQ(output.out, "sysfs: Can not open " + PinPath("ext_io_en") + "\n");
    }

    // The aux lines exist on the node only.
    CapturedOutput output;
    port.setAuxLine24(true);
    port.setAuxLine30(true);
    output.Finish();
    EXPECT_EQ(output.out, "");
    EXPECT_EQ(bed.SysfsPin("relay_en"), "1");
}

TEST(Sysfs, HelpersAndPathLimit) {
    REQUIRE_MOCK_ENVIRONMENT();
    sim::Testbed bed;
    ASSERT_TRUE(bed.AddSysfsRoot()) << bed.LastError();

    // The root, '/', the pin, "/value": 127 characters fit, 128 do not.
    const size_t fixed = std::string(GpioSysfsRoot).size() + 7;
    const std::string longest(127 - fixed, 'p');
    const std::string tooLong(128 - fixed, 'p');
    ASSERT_EQ(PinPath(longest).size(), 127u);
    {
        CapturedOutput output;
        EXPECT_EQ(sysfsReadPin(tooLong.c_str()), -1);
        EXPECT_EQ(sysfsWritePin(tooLong.c_str(), true), -1);
        char buffer[8] = {'x'};
        EXPECT_EQ(sysfsReadText(PinPath("gprs_en").c_str(), buffer, 0), -1);
        EXPECT_EQ(buffer[0], 'x');
        output.Finish();
        EXPECT_EQ(output.out, "");
    }
    ASSERT_TRUE(bed.SetSysfsPin(longest, "1\n"));
    EXPECT_EQ(sysfsReadPin(longest.c_str()), 1);
    EXPECT_EQ(sysfsWritePin(longest.c_str(), false), 0);
    EXPECT_EQ(bed.SysfsPin(longest), "0\n");

    ASSERT_TRUE(bed.SetSysfsPin("n", ""));
    EXPECT_EQ(sysfsWriteInt(PinPath("n").c_str(), -5), 0);
    EXPECT_EQ(bed.SysfsPin("n"), "-5");
    ASSERT_TRUE(bed.SetSysfsPin("n", "42\n"));
    EXPECT_EQ(sysfsReadInt(PinPath("n").c_str()), 42);
    char text[3];
    EXPECT_EQ(sysfsReadText(PinPath("n").c_str(), text, sizeof text), 2);
    EXPECT_STREQ(text, "42");
    ASSERT_TRUE(bed.SetSysfsPin("n", ""));
    EXPECT_EQ(sysfsReadInt(PinPath("n").c_str()), -1);
    EXPECT_EQ(sysfsReadBool(PinPath("n").c_str()), -1);
}
