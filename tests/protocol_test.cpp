// The protocol vocabulary: catalogue, reply sizes, checksums, request records,
// the two protocol versions and the bounds-checked frame helpers.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <string_view>
#include <tuple>
#include <vector>

#include "frame_io.h"
#include "protocol.h"

TEST(MessageCatalogue, NamesReplyLengthsAndStructure) {
    EXPECT_STREQ(MessageName(40), "M_GET_SETTING_FLOAT_VALUE");
    EXPECT_STREQ(MessageName(12), "M_12");
    for (uint32_t type : {41u, 255u}) EXPECT_STREQ(MessageName(type), "*** Unknown message ***");
    // Listed reply types have their own length; anything else gets 88.
    const std::pair<uint32_t, uint32_t> lengths[] = {
        {M_NULL, 8}, {M_SNAPSHOT, 200}, {M_UNKNOWN, 88}, {M_REQ_INFO, 88}};
    for (auto [type, length] : lengths) EXPECT_EQ(ReplyLength(type), length) << type;
    EXPECT_FALSE(IsReplyType(M_REQ_INFO));
    EXPECT_TRUE(IsReplyType(M_GET_INFO));
    EXPECT_EQ(MessageCatalogue[M_REQ_INFO].replyType, M_GET_INFO);

    // Rows sit at their id; a request names a frame the transmitter sends,
    // every other type is merely acknowledged; five types change the mode.
    for (uint32_t i = 1; i < kMessageTypeCount; ++i) {
        const MessageDescriptor& e = MessageCatalogue[i];
        const bool request = std::string_view(e.name).starts_with("M_REQ_");
        EXPECT_EQ(e.id, static_cast<int32_t>(i));
        EXPECT_TRUE(request ? IsReplyType(e.replyType) && e.replyType != M_NULL
                            : e.replyType == M_NULL) << e.name;
        EXPECT_EQ(e.modeChange != 0, i == M_INIT || i == M_SETUP || i == M_SETMODE ||
                                         i == M_AUTO_SETUP || i == M_STANDBY) << e.name;
    }
}

TEST(FrameChecksum, SumsPlacementAndBounds) {
    // An acknowledgement header: the checksum goes out little-endian in 6 and 7.
    std::array<uint8_t, 8> header{9, 1, 5, 8, 0, 0, 0, 0};
    EXPECT_EQ(Checksum16(header.data(), header.size()), 23);
    FrameHeader h = FrameHeader::Read(header);
    h.checksum = frameChecksum(header, 8);
    ASSERT_TRUE(h.Write(header));
    EXPECT_EQ(header, (std::array<uint8_t, 8>{9, 1, 5, 8, 0, 0, 23, 0}));
    std::array<uint8_t, 7> seven{};
    EXPECT_FALSE(h.Write(seven));

    // 200 bytes of 255 sum to 51000, beyond the signed 16-bit range; in a
    // 202-byte frame the two checksum bytes count as 0, so the sum is the same.
    std::vector<uint8_t> full(202, 255);
    EXPECT_EQ(Checksum16(full.data(), 200), -14536);
    ASSERT_TRUE(WriteU16LE(full, 6, frameChecksum(full, full.size())));
    EXPECT_EQ((std::array{full[6], full[7]}), (std::array<uint8_t, 2>{0x38, 0xC7}));

    // Only bytes below `length` count, and only those inside the span.
    const std::vector<uint8_t> ones(16, 1);
    const std::array<size_t, 3> sums[] = {  // span size, length, sum
        {16, 6, 6}, {16, 7, 6}, {16, 9, 7}, {4, 200, 4}, {10, 200, 8}, {0, 8, 0}};
    for (auto [size, length, sum] : sums) {
        EXPECT_EQ(frameChecksum(std::span<const uint8_t>(ones).first(size), length), sum)
            << size << " bytes, length " << length;
    }

    // A short buffer reads as zeros from where it ends.
    const FrameHeader partial = FrameHeader::Read(std::array<uint8_t, 3>{7, 2, 5});
    EXPECT_EQ(std::tuple(partial.type, partial.version, partial.length, partial.checksum),
              std::tuple(uint8_t{7}, uint8_t{5}, uint8_t{0}, uint16_t{0}));
}

TEST(RequestRecord, ResetsTheExpectedReply) {
    RequestRecord r;
    auto expected = [&r] {
        return std::tuple(r.expectedReplyType, r.ExpectedReplyLength(), int{r.expectedCid});
    };
    r.expectedCid = 42;
    r.ExpectAcknowledgement();
    EXPECT_EQ(expected(), std::tuple(uint32_t{M_NULL}, 8u, 0));
    r.expectedCid = 42;
    r.ExpectAnything();
    EXPECT_EQ(expected(), std::tuple(0u, 88u, 0));
}

TEST(ProtocolVersions, DescriptorsAndFaultTexts) {
    const std::tuple<const ProtocolDescriptor&, int32_t, uint32_t, uint32_t, uint32_t> cases[] = {
        {ProtocolV4, 4, 0x103, 0, 16}, {ProtocolV5, 5, 0x4FFDF, 3, 17}};
    for (const auto& [p, version, faultMask, inhibitMask, textCount] : cases) {
        SCOPED_TRACE(version);
        EXPECT_EQ(std::tuple(p.version, p.faultMask, p.inhibitMask, p.faultTextCount),
                  std::tuple(version, faultMask, inhibitMask, textCount));
        // Each text explains exactly one bit of the fault word.
        for (uint32_t i = 0; i < p.faultTextCount; ++i) {
            EXPECT_EQ(std::popcount(p.faultTexts[i].mask), 1) << i;
        }
        EXPECT_EQ(p.hook(0xDEADBEEF, 1), 0xDEADBEEFu);
    }
    EXPECT_STREQ(ProtocolV4.faultTexts[0].text,
                 "No contact? This load is out of range for this transmitter.");
    EXPECT_EQ(ProtocolV5.faultTexts[7].mask, 0x08000000u);
    EXPECT_STREQ(ProtocolV5.faultTexts[7].text, "Too high energy loss");
}

TEST(FrameIo, LittleEndianAndBounded) {
    std::array<uint8_t, 6> buf{0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
    EXPECT_EQ(ReadU8(buf, 5), 0x06);
    EXPECT_EQ(ReadU16LE(buf, 4), 0x0605);
    EXPECT_EQ(ReadU32LE(buf, 2), 0x06050403u);

    // Offsets (8, 16 and 32 bits) just past the end, and where offset + width wraps.
    const std::array<uint8_t, 6> before = buf;
    const std::array<size_t, 3> outside[] = {{6, 5, 3}, {SIZE_MAX, SIZE_MAX - 1, SIZE_MAX - 3}};
    for (auto [at8, at16, at32] : outside) {
        EXPECT_FALSE(ReadU8(buf, at8) || ReadU16LE(buf, at16) || ReadU32LE(buf, at32)) << at8;
        EXPECT_FALSE(WriteU8(buf, at8, 0xAA) || WriteU16LE(buf, at16, 0xAAAA) ||
                     WriteU32LE(buf, at32, 0xAAAAAAAA)) << at8;
    }
    EXPECT_EQ(buf, before);

    EXPECT_TRUE(WriteU32LE(buf, 2, 0x11223344));
    EXPECT_TRUE(WriteU16LE(buf, 0, 0xA1B2));
    EXPECT_EQ(buf, (std::array<uint8_t, 6>{0xB2, 0xA1, 0x44, 0x33, 0x22, 0x11}));
}
