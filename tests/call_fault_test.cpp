// The fault sweep's setting on the emulated nodes: exactly the chosen call of
// the chosen kind on the chosen node fails with the errno asked for, or moves
// one byte less, and every counted call is logged. If the setting stopped
// working, every run of the sweep would look like the clean one and pass.
#include <linux/spi/spidev.h>
#include <sys/ioctl.h>

#include <cerrno>

#include "call_fault.h"
#include "gpio_model.h"
#include "test_support.h"
#include "unique_fd.h"

TEST(CallFault, ParsesTheSettingAndRefusesAnythingElse) {
    const std::tuple<const char*, sim::NodeCall, long, int> accepted[] = {
        {"/dev/spidev0.1 ioctl 7 EINTR", sim::NodeCall::Ioctl, 7, EINTR},
        {"/dev/fpga_config.0 write 2 short", sim::NodeCall::Write, 2, 0},
        {"/dev/spidev1.0 open 1 EBUSY", sim::NodeCall::Open, 1, EBUSY},
        {"heap alloc 1 ENOMEM", sim::NodeCall::Alloc, 1, ENOMEM}};
    for (const auto& [text, call, index, error] : accepted) {
        sim::CallFault fault;
        ASSERT_TRUE(sim::ParseCallFault(text, &fault)) << text;
        EXPECT_EQ(std::tie(fault.call, fault.index, fault.error), std::tie(call, index, error))
            << text;
    }
    sim::CallFault fault;
    for (const char* refused : {"/dev/spidev0.1 ioctl 0 EIO",  // calls count from 1
                                "/dev/spidev0.1 ioctl 3 EPERM",  // not an error of the sweep
                                "/dev/spidev0.1 poll 3 EIO", "/dev/spidev0.1 ioctl 3",
                                "/dev/spidev0.1 ioctl 3 EIO more"})
        EXPECT_FALSE(sim::ParseCallFault(refused, &fault)) << refused;
    EXPECT_FALSE(sim::ParseCallFault(nullptr, &fault));
}

TEST(CallFault, FailsOnlyTheChosenIoctlOfTheChosenNode) {
    REQUIRE_MOCK_ENVIRONMENT();
    ScratchDir dir;
    SweepSetting setting("/dev/spidev0.1 ioctl 2 EAGAIN", dir / "calls");
    sim::TxBoardModel board;
    sim::Testbed testbed;
    ASSERT_TRUE(testbed.AddSpidev(board)) << testbed.LastError();

    UniqueFd fd(open(kSpidevPath, O_RDWR));
    uint8_t mode = 1;
    EXPECT_EQ(ioctl(fd.Get(), SPI_IOC_WR_MODE, &mode), 0);
    errno = 0;
    EXPECT_EQ(ioctl(fd.Get(), SPI_IOC_RD_MODE, &mode), -1);
    EXPECT_EQ(errno, EAGAIN);
    uint8_t bytes[8] = {};
    spi_ioc_transfer transfer{};
    transfer.tx_buf = transfer.rx_buf = reinterpret_cast<uintptr_t>(bytes);
    transfer.len = 8;
    EXPECT_EQ(ioctl(fd.Get(), SPI_IOC_MESSAGE(1), &transfer), 8);
    EXPECT_EQ(sim::ReadFile(dir / "calls"),
              "/dev/spidev0.1 ioctl 1 -\n/dev/spidev0.1 ioctl 2 -\n/dev/spidev0.1 ioctl 3 bytes\n");
}

TEST(CallFault, ShortensTheChosenWriteByOneByte) {
    REQUIRE_MOCK_ENVIRONMENT();
    SweepSetting setting("/dev/fpga_config.0 write 1 short");
    sim::GpioDeviceModel gpio;
    sim::Testbed testbed;
    ASSERT_TRUE(testbed.AddGpioDevice(gpio)) << testbed.LastError();
    UniqueFd fd(open(kGpioDevicePath, O_RDWR));
    const uint8_t bytes[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    EXPECT_EQ(write(fd.Get(), bytes, sizeof bytes), 9);
    EXPECT_EQ(gpio.Bitstream(), Bytes(bytes, bytes + 9));
}

// Opens happen in the command's process: txsim preloads the library that
// counts and fails them there, per node.
TEST(CallFault, FailsTheChosenOpenInTheCommandUnderTxsim) {
    if (std::string(SKARVIK_TEST_EMULATOR) != "") {
        GTEST_SKIP() << "the host's shell cannot preload the target's library";
    }
    const std::vector<std::string> command = {
        SIM_TXSIM, "--", "/bin/sh", "-c",
        "exec 3<>/dev/spidev0.1 4<>/dev/spidev0.1 && exec 5<>/dev/spidev1.0 6<>/dev/spidev1.0"};
    {
        SweepSetting setting("/dev/spidev1.0 open 2 EBUSY");
        const ProgramRun run = RunProgram(command);
        EXPECT_NE(run.status, 0);
        EXPECT_NE(run.err.find("spidev1.0: Device or resource busy"), std::string::npos) << run.err;
    }
    SweepSetting setting("/dev/spidev1.0 open 3 EBUSY");
    EXPECT_EQ(RunProgram(command).status, 0);
}
