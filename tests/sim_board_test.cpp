// The device emulation: the board model's protocol and faults, the GPIO
// model and the testbed through real open/ioctl calls (this binary runs
// under the umockdev preload library), and txsim as a whole.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/spi/spidev.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "frame_io.h"
#include "protocol.h"
#include "testbed.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A host request frame of `type` with id `id` in a transfer of `xfer` bytes.
Bytes Request(uint8_t type, uint8_t id, size_t xfer = 88) {
    Bytes b(xfer, 0);
    FrameHeader h;
    h.type = type;
    h.frameId = id;
    h.version = 5;
    h.length = 8;
    h.checksum = static_cast<uint16_t>(type + id + 5 + 8);
    h.Write(b);
    return b;
}

FrameHeader Header(const Bytes& frame) { return FrameHeader::Read(frame); }

// The 16 raw bytes of an identity field of M_GET_INFO.
std::string Field(const Bytes& frame, size_t offset) {
    std::string text;
    for (size_t i = offset; i < offset + 16; ++i) {
        text.push_back(static_cast<char>(ReadU8(frame, i).value_or('?')));
    }
    return text;
}

// An identity text up to its NUL.
std::string Text(const Bytes& frame, size_t offset) { return Field(frame, offset).c_str(); }

// Independent of the protocol library: sum of `len` bytes, 6 and 7 skipped.
bool ChecksumOk(const Bytes& f) {
    const FrameHeader h = Header(f);
    if (f.size() < h.length) return false;
    uint16_t sum = 0;
    for (size_t i = 0; i < h.length; ++i) {
        if (i != 6 && i != 7) sum = static_cast<uint16_t>(sum + ReadU8(f, i).value_or(0));
    }
    return h.checksum == sum;
}

// One 88-byte exchange; rx starts as 0xAA to show which bytes were written.
Bytes Exchange(sim::TxBoardModel& board, const Bytes& tx, long* result = nullptr) {
    Bytes rx(tx.size(), 0xAA);
    const long r = board.Transfer(tx.data(), rx.data(), tx.size());
    if (result != nullptr) *result = r;
    return rx;
}

bool AllZeroFrom(const Bytes& b, size_t from) {
    for (size_t i = from; i < b.size(); ++i) {
        if (b[i] != 0) return false;
    }
    return true;
}

TEST(simBoardModel, RepliesOneExchangeLateWithCatalogueTypes) {
    sim::BoardConfig config;
    config.faultWord = 0x00020010;
    sim::TxBoardModel board(config);

    Bytes rx = Exchange(board, Request(M_REQ_INFO, 7));
    EXPECT_EQ(Header(rx).type, M_NULL);  // pending before the first request
    EXPECT_EQ(Header(rx).frameId, 1);
    EXPECT_EQ(Header(rx).length, 8);
    EXPECT_EQ(Header(rx).ackId, 0);
    EXPECT_TRUE(ChecksumOk(rx));
    EXPECT_TRUE(AllZeroFrom(rx, 8));

    rx = Exchange(board, Request(M_REQ_FAULTS, 8));
    EXPECT_EQ(Header(rx).type, M_GET_INFO);
    EXPECT_EQ(Header(rx).frameId, 2);
    EXPECT_EQ(Header(rx).version, 5);
    EXPECT_EQ(Header(rx).length, 88);
    EXPECT_EQ(Header(rx).ackId, 7);
    EXPECT_TRUE(ChecksumOk(rx));

    rx = Exchange(board, Request(99, 9));  // outside the catalogue
    EXPECT_EQ(Header(rx).type, M_FAULTS);
    EXPECT_EQ(Header(rx).ackId, 8);
    EXPECT_EQ(ReadU32LE(rx, 8), 0x00020010u);
    EXPECT_TRUE(ChecksumOk(rx));
    EXPECT_TRUE(AllZeroFrom(rx, 12));

    rx = Exchange(board, Bytes(88, 0));
    EXPECT_EQ(Header(rx).type, M_NULL);
    EXPECT_EQ(Header(rx).ackId, 9);
    rx = Exchange(board, Request(M_SETUP, 10));
    EXPECT_EQ(Header(rx).type, M_NULL);  // the all-zero request is acknowledged with id 0
    EXPECT_EQ(Header(rx).ackId, 0);
    EXPECT_EQ(Header(rx).length, 8);
}

TEST(simBoardModel, FrameIdSkipsZeroWhenWrapping) {
    sim::TxBoardModel board;
    std::vector<uint8_t> ids;
    for (int i = 0; i < 257; ++i) {
        ids.push_back(Header(Exchange(board, Request(M_NULL, 1))).frameId);
    }
    EXPECT_EQ(ids[0], 1);
    EXPECT_EQ(ids[254], 255);
    EXPECT_EQ(ids[255], 1);
    EXPECT_EQ(ids[256], 2);
}

TEST(simBoardModel, IdentityAndReadyLayout) {
    sim::BoardConfig config;
    config.identity.serialNumber = "ABCDEFGHIJKLMNOP";        // exactly 16
    config.identity.product = "0123456789abcdefXYZ";         // longer: cut
    config.identity.revision = "R";
    config.identity.softwareNumber = "994";
    config.readyWord = 0;
    config.faultWord = 0x80000001;
    sim::TxBoardModel board(config);

    const Bytes info = board.BuildReply(M_GET_INFO, 3, 4);
    ASSERT_EQ(info.size(), 88u);
    EXPECT_EQ(Field(info, 8), "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(Field(info, 24), "0123456789abcdef");
    EXPECT_EQ(Field(info, 40), std::string("R") + std::string(15, '\0'));
    EXPECT_EQ(Text(info, 56), "5.2.1");
    EXPECT_EQ(Text(info, 72), "994");
    EXPECT_TRUE(ChecksumOk(info));

    const Bytes ready = board.BuildReply(M_READY, 1, 1);
    ASSERT_EQ(ready.size(), 16u);
    EXPECT_EQ(ReadU32LE(ready, 8), 0u);
    EXPECT_EQ(ReadU32LE(ready, 12), 0x80000001u);
    EXPECT_TRUE(ChecksumOk(ready));
}

TEST(simBoardFaults, BadChecksumSilenceShortTransferAndGarbage) {
    sim::BoardConfig config;
    config.badChecksumOnExchange = 2;
    config.shortTransferOnExchange = 3;
    config.silentFromExchange = 4;
    sim::TxBoardModel board(config);

    Exchange(board, Request(M_REQ_READY, 1));
    Bytes rx = Exchange(board, Request(M_REQ_READY, 2));
    EXPECT_EQ(Header(rx).type, M_READY);
    EXPECT_FALSE(ChecksumOk(rx));
    WriteU16LE(rx, 6, static_cast<uint16_t>(Header(rx).checksum - 1));  // off by exactly one
    EXPECT_TRUE(ChecksumOk(rx));

    long moved = 0;
    rx = Exchange(board, Request(M_REQ_READY, 3), &moved);
    EXPECT_EQ(moved, 87);
    EXPECT_TRUE(ChecksumOk(rx));
    EXPECT_EQ(ReadU8(rx, 87), 0xAA);  // the byte that did not move

    rx = Exchange(board, Request(M_REQ_INFO, 4));
    EXPECT_TRUE(AllZeroFrom(rx, 0));
    const auto records = board.Records();
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(Header(records[3].request).type, M_REQ_INFO);  // still recorded while silent
    EXPECT_EQ(records[2].request.size(), 87u);
    EXPECT_EQ(records[2].transferLength, 88u);

    sim::BoardConfig noisy;
    noisy.garbage = {0xDE, 0xAD};
    sim::TxBoardModel garbage(noisy);
    rx = Exchange(garbage, Request(M_REQ_INFO, 1));
    EXPECT_EQ(ReadU16LE(rx, 0), 0xADDEu);
    EXPECT_TRUE(AllZeroFrom(rx, 2));
}

TEST(simBoardFaults, SilentAfterBootLoadAckStillGoesOut) {
    sim::BoardConfig config;
    config.silentAfterBootLoad = true;
    sim::TxBoardModel board(config);
    Exchange(board, Request(M_BOOT_LOAD_MODE, 5));
    EXPECT_TRUE(board.InBootLoader());
    Bytes rx = Exchange(board, Request(M_NULL, 6));
    EXPECT_EQ(Header(rx).type, M_NULL);
    EXPECT_EQ(Header(rx).ackId, 5);
    rx = Exchange(board, Request(M_REQ_INFO, 7));
    EXPECT_TRUE(AllZeroFrom(rx, 0));
}

// A descriptor that closes itself.
struct Fd {
    explicit Fd(int f) : fd(f) {}
    ~Fd() { if (fd >= 0) close(fd); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int fd;
};

class simTestbed : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim::Testbed::InMockEnvironment())
            << "run with LD_PRELOAD=libumockdev-preload.so.0 (ctest sets it)";
    }

    static long SpiTransfer(int fd, const Bytes& tx, Bytes& rx) {
        rx.assign(tx.size(), 0);
        spi_ioc_transfer t{};
        t.tx_buf = reinterpret_cast<uintptr_t>(tx.data());
        t.rx_buf = reinterpret_cast<uintptr_t>(rx.data());
        t.len = static_cast<uint32_t>(tx.size());
        return ioctl(fd, SPI_IOC_MESSAGE(1), &t);
    }
};

TEST_F(simTestbed, SpidevThroughRealIoctl) {
    sim::BoardConfig config;
    config.reportedSpeedHz = 7812500;
    config.failIoctlFromExchange = 3;
    sim::TxBoardModel board(config);
    sim::Testbed testbed;
    ASSERT_TRUE(testbed.AddSpidev(board)) << testbed.LastError();

    Fd spi(open(sim::kSpidevPath, O_RDWR));
    ASSERT_GE(spi.fd, 0) << std::strerror(errno);
    uint8_t mode = 3, bits = 8;
    uint32_t hz = 8000000;
    ASSERT_EQ(ioctl(spi.fd, SPI_IOC_WR_MODE, &mode), 0);
    ASSERT_EQ(ioctl(spi.fd, SPI_IOC_WR_BITS_PER_WORD, &bits), 0);
    ASSERT_EQ(ioctl(spi.fd, SPI_IOC_WR_MAX_SPEED_HZ, &hz), 0);
    mode = bits = 0;
    hz = 0;
    EXPECT_EQ(ioctl(spi.fd, SPI_IOC_RD_MODE, &mode), 0);
    EXPECT_EQ(ioctl(spi.fd, SPI_IOC_RD_BITS_PER_WORD, &bits), 0);
    EXPECT_EQ(ioctl(spi.fd, SPI_IOC_RD_MAX_SPEED_HZ, &hz), 0);
    EXPECT_EQ(mode, 3);
    EXPECT_EQ(bits, 8);
    EXPECT_EQ(hz, 7812500u);
    uint32_t mode32 = 0;
    EXPECT_EQ(ioctl(spi.fd, SPI_IOC_RD_MODE32, &mode32), -1);
    EXPECT_EQ(errno, ENOTTY);

    Bytes rx;
    EXPECT_EQ(SpiTransfer(spi.fd, Request(M_REQ_INFO, 1), rx), 88);
    EXPECT_EQ(Header(rx).type, M_NULL);
    EXPECT_EQ(SpiTransfer(spi.fd, Request(M_NULL, 2), rx), 88);
    EXPECT_EQ(Header(rx).type, M_GET_INFO);
    EXPECT_EQ(Text(rx, 8), "TX0412-0077");
    EXPECT_EQ(SpiTransfer(spi.fd, Request(M_NULL, 3), rx), -1);
    EXPECT_EQ(errno, EIO);

    const auto records = board.Records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].request, Request(M_REQ_INFO, 1));
    EXPECT_FALSE(records[1].failed);
    EXPECT_TRUE(records[2].failed);
    EXPECT_TRUE(records[2].reply.empty());
    const auto ns = [](const timespec& t) { return t.tv_sec * 1000000000LL + t.tv_nsec; };
    EXPECT_LE(ns(records[0].time), ns(records[1].time));
}

TEST_F(simTestbed, GpioNodeThroughRealIoctl) {
    sim::GpioDeviceModel gpio;
    gpio.ScriptLevels({1, 1});
    sim::Testbed testbed;
    ASSERT_TRUE(testbed.AddGpioDevice(gpio)) << testbed.LastError();
    Fd node(open(sim::kGpioDevicePath, O_RDWR));
    ASSERT_GE(node.fd, 0) << std::strerror(errno);

    uint8_t pin[6] = {'P', 'A', '1', '5', 0, 0xEE};
    EXPECT_EQ(ioctl(node.fd, sim::GpioDeviceModel::Request(17), pin), 0);
    std::vector<uint8_t> levels;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(ioctl(node.fd, sim::GpioDeviceModel::Request(19), pin), 0);
        levels.push_back(pin[5]);
    }
    EXPECT_EQ(levels, (std::vector<uint8_t>{1, 1, 0}));

    gpio.SetGetPinResult(-1);
    pin[5] = 0xEE;
    EXPECT_EQ(ioctl(node.fd, sim::GpioDeviceModel::Request(19), pin), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(pin[5], 0xEE);

    uint8_t on = 1;
    EXPECT_EQ(ioctl(node.fd, sim::GpioDeviceModel::Request(20), &on), 0);
    EXPECT_EQ(ioctl(node.fd, sim::GpioDeviceModel::Request(22), &on), -1);
    EXPECT_EQ(errno, ENOTTY);

    EXPECT_EQ(gpio.PrepareCount(), 1);
    EXPECT_EQ(gpio.GetPinCount(), 4);
    EXPECT_EQ(gpio.PinNames(), (std::vector<std::string>(4, "PA15")));
    ASSERT_EQ(gpio.Switches().size(), 1u);
    EXPECT_EQ(gpio.Switches()[0].nr, 20u);
    EXPECT_EQ(gpio.Switches()[0].value, 1);
}

TEST_F(simTestbed, MissingNodeAndSysfsPin) {
    sim::TxBoardModel board;
    sim::Testbed testbed;
    ASSERT_TRUE(testbed.AddSpidev(board));
    errno = 0;
    EXPECT_LT(open(sim::kGpioDevicePath, O_RDWR), 0);
    EXPECT_EQ(errno, ENOENT);

    ASSERT_TRUE(testbed.AddSysfsRoot());
    ASSERT_TRUE(testbed.SetSysfsPin("spi0_int", "1\n"));
    const std::string path = std::string(sim::kGpioSysfsRoot) + "/spi0_int/value";
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "1\n");
    EXPECT_EQ(testbed.SysfsPin("spi0_int"), "1\n");
    testbed.RemoveSysfsPin("spi0_int");
    EXPECT_LT(open(path.c_str(), O_RDONLY), 0);
    EXPECT_EQ(errno, ENOENT);
}

// txsim as a whole: runs `args` through the shell, returns the exit status
// and what went to stdout.
struct TxsimRun {
    int status;
    std::string out;
};

TxsimRun Txsim(const std::string& args) {
    const char* path = std::getenv("TXSIM");
    const std::string cmd = std::string(path != nullptr ? path : SIM_TXSIM) + " " + args;
    TxsimRun run{-1, {}};
    FILE* pipe = popen(cmd.c_str(), "r");
    if (pipe == nullptr) return run;
    char buf[256];
    while (std::fgets(buf, sizeof buf, pipe) != nullptr) run.out += buf;
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST(simTxsim, NodesExitStatusAndCleanStdout) {
    EXPECT_EQ(Txsim("-- sh -c 'test -c /dev/spidev0.1 && test -c /dev/fpga_config.0'").status, 0);
    EXPECT_EQ(Txsim("--no-spidev -- sh -c 'test -e /dev/spidev0.1'").status, 1);
    EXPECT_EQ(Txsim("-- sh -c 'exit 7'").status, 7);
    EXPECT_EQ(Txsim("-- sh -c 'kill -TERM $$'").status, 128 + SIGTERM);
    EXPECT_EQ(Txsim("-- /nonexistent/command 2>/dev/null").status, 127);
    EXPECT_EQ(Txsim("--fail-ioctl-from x -- true 2>/dev/null").status, 2);
    EXPECT_EQ(Txsim("--no-sysfs-ready -- true 2>/dev/null").status, 2);
    EXPECT_EQ(Txsim("-- echo hello").out, "hello\n");

    const TxsimRun sysfs = Txsim("--no-gpio -- sh -c "
                            "'cat /sys/devices/platform/skarvik-gpio/spi0_int/value; "
                            "test -e /dev/fpga_config.0 || echo no-node'");
    EXPECT_EQ(sysfs.out, "1\nno-node\n");
    EXPECT_EQ(Txsim("--no-gpio --no-sysfs-ready -- "
                    "test -e /sys/devices/platform/skarvik-gpio/spi0_int/value")
                  .status,
              1);
}

TEST(simTxsim, ChildTalksToBoardAndExchangesAreLogged) {
    const std::string log = testing::TempDir() + "txsim_test.log";
    const TxsimRun run = Txsim("--serial SN-42 --protocol-version 4 --log " + log + " -- " +
                          SIM_SPI_PROBE + " 22 26");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out,
              "type=9 ack=0 len=8\n"
              "type=23 ack=1 len=88 serial=SN-42\n"
              "type=27 ack=2 len=12\n");

    std::ifstream in(log);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_NE(lines[0].find(" host->board M_REQ_INFO id=1 ack=0 ver=5 len=8 xfer=88 checksum=ok"),
              std::string::npos) << lines[0];
    EXPECT_NE(lines[3].find(" board->host M_GET_INFO id=2 ack=1 ver=4 len=88 checksum=ok"),
              std::string::npos) << lines[3];
    std::remove(log.c_str());

    EXPECT_EQ(Txsim("--fail-ioctl-from 2 -- " + std::string(SIM_SPI_PROBE) + " 22 2>/dev/null")
                  .status,
              3);
}

}  // namespace
