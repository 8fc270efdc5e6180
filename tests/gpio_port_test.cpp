// GpioPort through the emulated configuration node and, without it, through
// the sysfs value files; the sysfs helpers on their own.
#include "gpio_port.h"

#include "fpga_support.h"
#include "sysfs.h"

namespace {

const std::string kRoot = "/sys/devices/platform/skarvik-gpio/";

class GpioPortDevice : public testing::Test {
protected:
    Bench bench{{}, /*spidev=*/false};
    GpioPort port{kGpioDevicePath};
};

// Level 0 is ready; 1 is busy, and so is anything that is not a level. Each
// reading announces PA15 (request 17), then reads it (19).
TEST_F(GpioPortDevice, TheReadyLineIsPA15AnnouncedThenReadAndReadyAtLevelZero) {
    for (auto [level, ready] : {std::pair(0, 1), std::pair(1, 0), std::pair(7, 0)}) {
        bench.gpio.SetLevel(static_cast<uint8_t>(level));
        EXPECT_EQ(port.readReadyLine(), ready) << "level " << level;
    }
    const sim::PinRequest announce{17, "PA15"}, get{19, "PA15"};
    EXPECT_EQ(bench.gpio.PinRequests(), (std::vector{announce, get, announce, get, announce, get}));
}

TEST_F(GpioPortDevice, AFailedReadingIsReportedAndTheUntouchedRecordReadsAsReady) {
    bench.gpio.SetLevel(1);
    bench.gpio.SetGetPinResult(3);
    EXPECT_EQ(Printed([&] { EXPECT_EQ(port.readReadyLine(), 1); }), "ioctl GET_PIN 3\n");
}

TEST_F(GpioPortDevice, EverySwitchSendsItsRequestNumberAndByte) {
    EXPECT_EQ(port.setRs485Sel(true), 0);
    port.setExtIoEn(false);
    port.setWlanReset(true);
    port.setGprsEn(true);
    port.setRelayEn(false);
    port.setAuxLine24(false), port.setAuxLine26(true), port.setAuxLine27(false);
    port.setAuxLine28(true), port.setAuxLine29(false), port.setAuxLine30(true);
    std::vector<std::pair<unsigned, int>> sent;
    for (const sim::SwitchRequest& s : bench.gpio.Switches()) sent.emplace_back(s.nr, s.value);
    EXPECT_EQ(sent, (std::vector<std::pair<unsigned, int>>{{20, 1}, {21, 0}, {23, 1}, {25, 1},
                                                           {31, 0}, {24, 0}, {26, 1}, {27, 0},
                                                           {28, 1}, {29, 0}, {30, 1}}));
}

// Without the configuration node, complained about on opening: the sysfs
// value files below kRoot.
class GpioPortSysfs : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bed.AddSysfsRoot()) << bed.LastError();
        EXPECT_EQ(Printed([&] { port = std::make_unique<GpioPort>(kGpioDevicePath); }),
                  "gpio:*** Error: Can not open device /dev/fpga_config.0 ErrNo=2\n");
    }
    Bench bench{{}, /*spidev=*/false, /*gpioNode=*/false};
    sim::Testbed& bed = bench.testbed;
    std::unique_ptr<GpioPort> port;
    const std::string n = kRoot + "n/value";
};

TEST_F(GpioPortSysfs, PinsReadTheirValueFiles) {
    for (const char* text : {"1\n", "0\n"}) {
        ASSERT_TRUE(bed.SetSysfsPin("spi0_int", text) && bed.SetSysfsPin("gprs_en", text));
        EXPECT_EQ(port->readReadyLine(), text[0] == '1');
        EXPECT_EQ(port->getGprsEn(), text[0] == '1');
    }
}

TEST_F(GpioPortSysfs, AMissingReadyFileIsComplainedAboutAndReadsAsReady) {
    bed.RemoveSysfsPin("spi0_int");
    EXPECT_EQ(Printed([&] { EXPECT_EQ(port->readReadyLine(), 1); }),
              "sysfs: Can not open " + kRoot + "spi0_int/value\n");
}

TEST_F(GpioPortSysfs, AnEmptyFileFailsToReadAndReportsOne) {
    ASSERT_TRUE(bed.SetSysfsPin("rs485_sel", ""));
    EXPECT_EQ(Printed([&] { EXPECT_TRUE(port->getRs485Sel()); }), "");
}

TEST_F(GpioPortSysfs, ASwitchWritesItsValueFileOrFailsWithoutOne) {
    ASSERT_TRUE(bed.SetSysfsPin("relay_en", ""));
    EXPECT_EQ(port->setRelayEn(true), 0);
    EXPECT_EQ(bed.SysfsPin("relay_en"), "1");
    EXPECT_EQ(Printed([&] { EXPECT_EQ(port->setExtIoEn(true), -1); }),
              "sysfs: Can not open " + kRoot + "ext_io_en/value\n");
    EXPECT_EQ(Printed([&] { port->setAuxLine24(true); }), "");  // a line without a name
}

// The root, '/', the pin, "/value": 127 characters fit; from 128 on no file is
// opened (nor complained about), not even one that exists.
TEST_F(GpioPortSysfs, PathsOf128CharactersOrMoreAreNotOpened) {
    const std::string longest(127 - kRoot.size() - 6, 'p'), tooLong(longest + "p");
    ASSERT_TRUE(bed.SetSysfsPin(longest, "1\n") && bed.SetSysfsPin(tooLong, "0\n"));
    EXPECT_EQ(Printed([&] {
                  EXPECT_EQ(sysfsReadPin(tooLong.c_str()), -1);
                  EXPECT_EQ(sysfsWritePin(tooLong.c_str(), true), -1);
              }), "");
    EXPECT_EQ(sysfsReadPin(longest.c_str()), 1);
}

// The last text stays for the reads of the text itself, up to its room and
// without the newline.
TEST_F(GpioPortSysfs, TextsReadAsBoolAsDecimalIntAndAsText) {
    for (auto [text, asBool, asInt] : {std::tuple("", -1, -1), {"010", 0, 10}, {"x", 1, 0},
                                       {"42\n", 1, 42}}) {
        ASSERT_TRUE(bed.SetSysfsPin("n", text));
        EXPECT_EQ(std::pair(sysfsReadBool(n.c_str()), sysfsReadInt(n.c_str())),
                  std::pair(asBool, asInt)) << text;
    }
    char text[3] = {'x', 'x', 'x'};
    EXPECT_EQ(sysfsReadText(n.c_str(), text, 0), -1);  // room for nothing: not even opened
    EXPECT_EQ(sysfsReadText(n.c_str(), text, sizeof text), 2);
    EXPECT_STREQ(text, "42");
}

}  // namespace
