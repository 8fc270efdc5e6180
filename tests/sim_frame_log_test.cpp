// The decoding of txsim's exchange log.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "frame_io.h"
#include "frame_log.h"
#include "protocol.h"

namespace {

TEST(simFrameLog, DescribesFrames) {
    sim::TxBoardModel board;
    std::vector<uint8_t> frame = board.BuildReply(M_GET_INFO, 3, 1);
    EXPECT_EQ(sim::FrameLog::DescribeFrame(frame),
              "M_GET_INFO id=3 ack=1 ver=5 len=88 checksum=ok");
    const unsigned good = FrameHeader::Read(frame).checksum;
    const unsigned bad = good ^ 0x01;
    WriteU16LE(frame, 6, static_cast<uint16_t>(bad));
    char expected[64];
    std::snprintf(expected, sizeof expected, "checksum=bad(0x%04x, want 0x%04x)", bad, good);
    EXPECT_NE(sim::FrameLog::DescribeFrame(frame).find(expected), std::string::npos);

    frame.resize(40);  // the header claims 88 bytes
    EXPECT_NE(sim::FrameLog::DescribeFrame(frame).find("checksum=short"), std::string::npos);
    EXPECT_EQ(sim::FrameLog::DescribeFrame(std::vector<uint8_t>(12, 0)), "zeros");
    EXPECT_EQ(sim::FrameLog::DescribeFrame({}), "nothing");
    const uint8_t unknown[8] = {0x63, 1, 5, 8, 0, 0, 0x71, 0};
    EXPECT_EQ(sim::FrameLog::DescribeFrame(unknown),
              "type=0x63 id=1 ack=0 ver=5 len=8 checksum=ok");
}

TEST(simFrameLog, LinesCarryTimeTransferAndFailures) {
    const timespec start{100, 900000000};
    sim::FrameLog log(start);
    sim::TxBoardModel board;

    sim::BusRecord record;
    record.request = std::vector<uint8_t>(88, 0);
    FrameHeader h;
    h.type = M_REQ_INFO;
    h.frameId = 1;
    h.version = 5;
    h.length = 8;
    h.checksum = M_REQ_INFO + 1 + 5 + 8;
    h.Write(record.request);
    record.reply = board.BuildReply(M_NULL, 1, 0);
    record.reply.resize(87, 0);
    record.transferLength = 88;
    record.time = {113, 245678000};  // 12.345678 s after start
    EXPECT_EQ(log.HostLine(record),
              "  12.345678 host->board M_REQ_INFO id=1 ack=0 ver=5 len=8 xfer=88 checksum=ok "
              "moved=87");
    record.request.assign(88, 0);
    EXPECT_EQ(log.HostLine(record).substr(11), " host->board zeros xfer=88 moved=87");
    EXPECT_EQ(log.BoardLine(record, {113, 245700999}),
              "  12.345700 board->host M_NULL id=1 ack=0 ver=5 len=8 checksum=ok");

    record.failed = true;
    record.reply.clear();
    EXPECT_NE(log.HostLine(record).find("zeros xfer=88 ioctl=failed"), std::string::npos);
    EXPECT_NE(log.BoardLine(record, record.time).find("nothing (ioctl failed)"),
              std::string::npos);

    const std::string path = testing::TempDir() + "frame_log_test.log";
    ASSERT_TRUE(log.Open(path));
    log.Write(record, record.time);
    std::ifstream in(path);
    std::string first, second, third;
    EXPECT_TRUE(std::getline(in, first) && std::getline(in, second));
    EXPECT_FALSE(std::getline(in, third));
    EXPECT_EQ(first, log.HostLine(record));
    std::remove(path.c_str());
}

}  // namespace
