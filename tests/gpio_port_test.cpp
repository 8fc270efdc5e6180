// GpioPort through the emulated FPGA configuration node and, without it,
// through the sysfs value files; the sysfs helpers on their own.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "gpio_port.h"
#include "sysfs.h"
#include "test_support.h"

namespace {

std::string PinPath(const std::string& pin) {
    return std::string(GpioSysfsRoot) + "/" + pin + "/value";
}

}  // namespace

TEST(GpioPortDevice, ReadyLineAndSwitchRequests) {
    REQUIRE_MOCK_ENVIRONMENT();
    sim::GpioDeviceModel model;
    sim::Testbed bed;
    ASSERT_TRUE(bed.AddGpioDevice(model)) << bed.LastError();
    ASSERT_TRUE(bed.AddSysfsRoot() && bed.SetSysfsPin("relay_en", "0\n")) << bed.LastError();
    GpioPort port(sim::kGpioDevicePath);
    ASSERT_TRUE(port.HasDevice());

    // With the node open the readings answer 1 without asking anything: the
    // request counts below include none of theirs.
    EXPECT_TRUE(port.getGprsEn() && port.getWlanReset() && port.getExtIoEn() &&
                port.getRs485Sel() && port.getRelayEn());

    // Each reading announces PA15 (request 17) and reads it (request 19).
    // Level 0 is ready; 1 is busy, and so is anything that is not a level.
    CapturedOutput output;
    const std::pair<uint8_t, int> levels[] = {{0, 1}, {1, 0}, {7, 0}};
    for (auto [level, ready] : levels) {
        model.SetLevel(level);
        EXPECT_EQ(port.readReadyLine(), ready) << "level " << int{level};
    }
    // Each reading announces PA15 (17), then reads it (19).
    std::vector<sim::PinRequest> expected;
    for (int i = 0; i < 3; ++i) expected.insert(expected.end(), {{17, "PA15"}, {19, "PA15"}});
    EXPECT_EQ(model.PinRequests(), expected);
    // A failed GET_PIN is reported, and the untouched record reads as ready.
    model.SetGetPinResult(3);
    EXPECT_EQ(port.readReadyLine(), 1);
    output.Finish();
    EXPECT_EQ(output.out, "ioctl GET_PIN 3\n");

    // The switch lines send their request number with the byte 1 or 0.
    EXPECT_EQ(port.setGprsEn(true), 0);
    EXPECT_EQ(port.setExtIoEn(false), 0);
    EXPECT_EQ(port.setRelayEn(true), 0);
    EXPECT_EQ(port.setRelayEn(false), 0);
    port.setAuxLine24(true);
    port.setAuxLine30(false);
    std::vector<std::pair<unsigned, int>> seen;
    for (const sim::SwitchRequest& s : model.Switches()) seen.emplace_back(s.nr, s.value);
    EXPECT_EQ(seen, (std::vector<std::pair<unsigned, int>>{
                        {25, 1}, {21, 0}, {31, 1}, {31, 0}, {24, 1}, {30, 0}}));
    EXPECT_EQ(bed.SysfsPin("relay_en"), "0\n");  // the file is not the way
}

TEST(GpioPortSysfs, ValueFilesHelpersAndPathLimit) {
    REQUIRE_MOCK_ENVIRONMENT();
    sim::Testbed bed;
    ASSERT_TRUE(bed.AddSysfsRoot()) << bed.LastError();
    CapturedOutput output;
    GpioPort port(sim::kGpioDevicePath);
    EXPECT_FALSE(port.HasDevice());

    for (int value : {1, 0}) {
        const std::string text = std::to_string(value) + "\n";
        ASSERT_TRUE(bed.SetSysfsPin("spi0_int", text) && bed.SetSysfsPin("gprs_en", text));
        EXPECT_EQ(port.readReadyLine(), value);
        EXPECT_EQ(port.getGprsEn(), value == 1);
    }
    // A missing file is complained about and reads as ready; an empty one
    // fails to read and reports 1.
    bed.RemoveSysfsPin("spi0_int");
    EXPECT_EQ(port.readReadyLine(), 1);
    ASSERT_TRUE(bed.SetSysfsPin("rs485_sel", "") && bed.SetSysfsPin("relay_en", ""));
    EXPECT_TRUE(port.getRs485Sel());
    EXPECT_EQ(port.setRelayEn(true), 0);
    EXPECT_EQ(bed.SysfsPin("relay_en"), "1");
    EXPECT_EQ(port.setExtIoEn(true), -1);  // no such file
    // The aux lines exist on the node only.
    port.setAuxLine24(false);
    port.setAuxLine30(false);
    EXPECT_EQ(bed.SysfsPin("relay_en"), "1");

    // The root, '/', the pin, "/value": 127 characters fit; from 128 on no
    // file is opened, not even one that exists.
    const size_t fixed = std::string(GpioSysfsRoot).size() + 7;
    const std::string longest(127 - fixed, 'p'), tooLong(128 - fixed, 'p');
    ASSERT_EQ(PinPath(longest).size(), 127u);
    ASSERT_TRUE(bed.SetSysfsPin(longest, "1\n") && bed.SetSysfsPin(tooLong, "0\n"));
    EXPECT_EQ(sysfsReadPin(tooLong.c_str()), -1);
    EXPECT_EQ(sysfsWritePin(tooLong.c_str(), true), -1);
    EXPECT_EQ(bed.SysfsPin(tooLong), "0\n");
    EXPECT_EQ(sysfsReadPin(longest.c_str()), 1);
    EXPECT_EQ(sysfsWritePin(longest.c_str(), false), 0);
    EXPECT_EQ(bed.SysfsPin(longest), "0\n");
    // Room for nothing: fails before opening (a missing file would be reported).
    char buffer[8] = {'x'};
    EXPECT_EQ(sysfsReadText(PinPath("missing").c_str(), buffer, 0), -1);
    EXPECT_EQ(buffer[0], 'x');
    output.Finish();
    EXPECT_EQ(output.out,
              "gpio:*** Error: Can not open device /dev/fpga_config.0 ErrNo=2\n"
              "sysfs: Can not open " + PinPath("spi0_int") + "\n"
              "sysfs: Can not open " + PinPath("ext_io_en") + "\n");

    const std::string n = PinPath("n");
    ASSERT_TRUE(bed.SetSysfsPin("n", ""));
    EXPECT_EQ(sysfsReadInt(n.c_str()), -1);
    EXPECT_EQ(sysfsReadBool(n.c_str()), -1);
    EXPECT_EQ(sysfsWriteInt(n.c_str(), -5), 0);
    EXPECT_EQ(bed.SysfsPin("n"), "-5");
    ASSERT_TRUE(bed.SetSysfsPin("n", "42\n"));
    EXPECT_EQ(sysfsReadInt(n.c_str()), 42);
    char text[3];
    EXPECT_EQ(sysfsReadText(n.c_str(), text, sizeof text), 2);
    EXPECT_STREQ(text, "42");
}
