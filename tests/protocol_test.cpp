// The protocol vocabulary, the frame helpers and the time arithmetic: pure
// functions, checked against the protocol's own tables.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/time.h>

#include <array>
#include <map>

#include "frame_io.h"
#include "clock.h"
#include "monotonic_time.h"
#include "protocol.h"

TEST(MessageCatalogue, RepliesAndModeChangesOfEveryType) {
    // Requests that are answered by more than an acknowledgement.
    const std::map<uint32_t, int32_t> replies = {{0, 0},   {5, 4},   {7, 6},   {13, 11}, {15, 24},
        {22, 23}, {26, 27}, {28, 29}, {30, 31}, {32, 33}, {36, 37}, {39, 40}};
    for (uint32_t type = 0; type < kMessageTypeCount; ++type) {
        const MessageDescriptor& e = MessageCatalogue[type];
        EXPECT_EQ(e.replyType, replies.contains(type) ? replies.at(type) : 9) << e.name;
        const bool changesMode = type == 1 || type == 3 || type == 10 || type == 18 || type == 19;
        EXPECT_EQ(e.modeChange, changesMode ? 1 : 0) << e.name;
    }
}

TEST(MessageCatalogue, ReplyLengthsOfEveryType) {
    const std::map<uint32_t, uint32_t> lengths = {{9, 8},   {4, 16},  {6, 76},  {11, 12}, {27, 12},
        {24, 20}, {29, 20}, {37, 16}, {40, 16}, {31, 200}, {23, 88}, {33, 88}};
    for (uint32_t type = 0; type < 256; ++type) {
        EXPECT_EQ(ReplyLength(type), lengths.contains(type) ? lengths.at(type) : 88u) << type;
        EXPECT_EQ(IsReplyType(type), lengths.contains(type)) << type;
    }
}

// Version, fault mask, inhibit mask, spare1, spare2, text count and spare3.
using Descriptor = std::tuple<int32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t>;

Descriptor Fields(const ProtocolDescriptor& d) {
    return {d.version, d.faultMask, d.inhibitMask, d.spare1, d.spare2, d.faultTextCount, d.spare3};
}

// Version 4: three fault bits, no inhibit bit, 16 texts; version 5: sixteen
// fault bits, two inhibit bits, 17 texts.
TEST(ProtocolDescriptors, FaultAndInhibitBitsAndTextsOfBothVersions) {
    EXPECT_EQ(Fields(ProtocolV4), (Descriptor{4, 0x00000103, 0, 0, 0x00010000, 16, 200}));
    EXPECT_EQ(Fields(ProtocolV5), (Descriptor{5, 0x0004FFDF, 0x00000003, 2, 0x00040000, 17, 200}));
}

TEST(FrameFormat, TheChecksumIsA16BitSumWithoutItsOwnBytes) {
    // 200 bytes of 255 sum to 51000: -14536 as a signed value, 0x38 0xC7 in a
    // frame, whose own checksum bytes count as 0.
    std::vector<uint8_t> full(202, 255);
    EXPECT_EQ(Checksum16(full.data(), 200), -14536);
    EXPECT_EQ(frameChecksum(full, 202), 0xC738);
}

TEST(FrameFormat, TheChecksumCountsOnlyBytesBelowTheLengthAndInsideTheBuffer) {
    const std::vector<uint8_t> ones(16, 1);
    for (auto [size, length, sum] : {std::array<size_t, 3>{16, 7, 6}, {16, 9, 7}, {10, 200, 8}}) {
        EXPECT_EQ(frameChecksum(std::span(ones).first(size), length), sum) << size << " " << length;
    }
}

TEST(FrameFormat, FieldsAreLittleEndianAndOnlyInsideTheBuffer) {
    std::array<uint8_t, 6> buf{0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
    EXPECT_EQ(std::tuple(ReadU8(buf, 5), ReadU16LE(buf, 4), ReadU32LE(buf, 2)),
              std::tuple(0x06, 0x0605, 0x06050403u));
    // Just past the end, and where offset + width wraps around.
    for (auto [a8, a16, a32] :
         {std::array<size_t, 3>{6, 5, 3}, {SIZE_MAX, SIZE_MAX - 1, SIZE_MAX - 3}}) {
        EXPECT_FALSE(ReadU8(buf, a8) || ReadU16LE(buf, a16) || ReadU32LE(buf, a32)) << a8;
        EXPECT_FALSE(WriteU8(buf, a8, 0) || WriteU16LE(buf, a16, 0) || WriteU32LE(buf, a32, 0));
    }
    EXPECT_TRUE(WriteU32LE(buf, 2, 0x11223344) && WriteU16LE(buf, 0, 0xA1B2));
    EXPECT_EQ(buf, (std::array<uint8_t, 6>{0xB2, 0xA1, 0x44, 0x33, 0x22, 0x11}));
}

TEST(TimeArithmetic, NanosecondsAndMillisecondsCarryIntoSeconds) {
    struct { timespec start; int64_t add; timespec sum; } cases[] = {
        {{0, 600000000}, 1500000000, {2, 100000000}}, {{0, 500000000}, 500000000, {1, 0}},
        {{5, 100}, -200, {5, -100}}, {{3, 999999999}, 1, {4, 0}}};  // negative remainders stay
    for (auto [t, add, sum] : cases) {
        AddNanoseconds(t, add);
        EXPECT_EQ(std::tuple(t.tv_sec, t.tv_nsec), std::tuple(sum.tv_sec, sum.tv_nsec)) << add;
    }
    timespec t{0, 0};
    AddMilliseconds(t, 1.5);
    AddMilliseconds(t, 999.0);
    EXPECT_EQ(std::tuple(t.tv_sec, t.tv_nsec), std::tuple(1, 500000));
}

TEST(TimeArithmetic, ADeadlineIsReachedFromItsOwnNanosecondOn) {
    EXPECT_TRUE(TimeReached({7, 5}, {7, 5}) && TimeReached({8, 0}, {7, 999999999}));
    EXPECT_FALSE(TimeReached({7, 4}, {7, 5}));
}

TEST(TimeArithmetic, APauseInterruptedByASignalLastsToItsDeadline) {
    struct sigaction action {}, old {};
    action.sa_handler = [](int) {};  // no SA_RESTART: the sleep sees EINTR
    ASSERT_EQ(sigaction(SIGALRM, &action, &old), 0);
    const itimerval timer{{0, 0}, {0, 5000}};
    ASSERT_EQ(setitimer(ITIMER_REAL, &timer, nullptr), 0);
    timespec deadline = MonotonicNow();
    AddNanoseconds(deadline, 50000000);
    Clock::System().SleepUntil(deadline);
    const timespec end = MonotonicNow();
    sigaction(SIGALRM, &old, nullptr);
    EXPECT_TRUE(TimeReached(end, deadline));
}
