// The protocol vocabulary: catalogue, reply sizes, checksums, request records,
// the two protocol versions and the bounds-checked frame helpers.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <string_view>
#include <vector>

#include "frame_io.h"
#include "protocol.h"

TEST(MessageCatalogue, NamesRepliesAndModeChanges) {
    EXPECT_STREQ(MessageName(M_GET_SETTING_FLOAT_VALUE), "M_GET_SETTING_FLOAT_VALUE");
    EXPECT_STREQ(MessageName(12), "M_12");
    EXPECT_STREQ(MessageName(41), "*** Unknown message ***");
    EXPECT_STREQ(MessageName(255), "*** Unknown message ***");

    EXPECT_EQ(MessageCatalogue[M_REQ_INFO].replyType, M_GET_INFO);
    EXPECT_EQ(MessageCatalogue[M_REQ_READY].replyType, M_READY);
    EXPECT_EQ(MessageCatalogue[M_REQ_SNAPSHOT].replyType, M_SNAPSHOT);
    EXPECT_EQ(MessageCatalogue[M_UNKNOWN].replyType, 0);

    for (uint32_t i = 0; i < kMessageTypeCount; ++i) {
        SCOPED_TRACE(i);
        const MessageDescriptor& entry = MessageCatalogue[i];
        EXPECT_EQ(entry.id, static_cast<int32_t>(i));
        // A request names the frame the transmitter answers with; everything
        // else is a command that is merely acknowledged.
        if (std::string_view(entry.name).starts_with("M_REQ_")) {
            EXPECT_TRUE(IsReplyType(entry.replyType)) << entry.name;
            EXPECT_NE(entry.replyType, M_NULL) << entry.name;
        } else if (i != M_UNKNOWN) {
            EXPECT_EQ(entry.replyType, M_NULL) << entry.name;
        }
        const bool changesMode = i == M_INIT || i == M_SETUP || i == M_SETMODE ||
                                 i == M_AUTO_SETUP || i == M_STANDBY;
        EXPECT_EQ(entry.modeChange, changesMode ? 1 : 0) << entry.name;
    }
}

TEST(ReplySizes, LengthsOfListedAndUnlistedTypes) {
    const std::array<std::pair<uint32_t, uint32_t>, 7> cases{{
        {M_NULL, 8}, {M_SNAPSHOT, 200}, {M_UNKNOWN, 88}, {M_REQ_INFO, 88},
        {M_READY, 16}, {M_STATUS, 76}, {M_GET_LIMIT, 20},
    }};
    for (auto [type, length] : cases) EXPECT_EQ(ReplyLength(type), length) << MessageName(type);
    EXPECT_EQ(DefaultReplyLength(), 88u);
    EXPECT_FALSE(IsReplyType(M_REQ_INFO));
    EXPECT_TRUE(IsReplyType(M_GET_INFO));
}

TEST(FrameChecksum, HeaderSumsAndBounds) {
    // An acknowledgement header: the checksum lands little-endian in 6 and 7.
    std::array<uint8_t, 8> header{9, 1, 5, 8, 0, 0, 0, 0};
    EXPECT_EQ(Checksum16(header.data(), header.size()), 23);
    FrameHeader h = FrameHeader::Read(header);
    h.checksum = frameChecksum(header, 8);
    ASSERT_TRUE(h.Write(header));
    EXPECT_EQ(header, (std::array<uint8_t, 8>{9, 1, 5, 8, 0, 0, 23, 0}));

    // 200 bytes of 255 sum to 51000, beyond the signed 16-bit range.
    std::vector<uint8_t> full(202, 255);
    EXPECT_EQ(Checksum16(full.data(), 200), -14536);
    EXPECT_EQ(Checksum16(full.data(), 0), 0);
    // 202 bytes with the two checksum bytes counted as 0 sum the same.
    std::vector<uint8_t> out(full);
    WriteU16LE(out, 6, frameChecksum(full, full.size()));
    EXPECT_EQ(out[6], 0x38);
    EXPECT_EQ(out[7], 0xC7);

    // Only bytes below `length` count, and only those inside the span.
    std::array<uint8_t, 16> buf{};
    buf.fill(1);
    EXPECT_EQ(frameChecksum(buf, 6), 6);
    EXPECT_EQ(frameChecksum(buf, 7), 6);   // byte 6 counts as 0
    EXPECT_EQ(frameChecksum(buf, 9), 7);   // bytes 6 and 7 count as 0
    EXPECT_EQ(frameChecksum(std::span<const uint8_t>(buf).first(4), 200), 4);
    EXPECT_EQ(frameChecksum(std::span<const uint8_t>(buf).first(10), 200), 8);
    EXPECT_EQ(frameChecksum(std::span<const uint8_t>(), 8), 0);

    // A short buffer reads as zeros and refuses a header.
    const std::array<uint8_t, 3> shortFrame{7, 2, 5};
    const FrameHeader partial = FrameHeader::Read(shortFrame);
    EXPECT_EQ(partial.type, 7);
    EXPECT_EQ(partial.version, 5);
    EXPECT_EQ(partial.length, 0);
    EXPECT_EQ(partial.checksum, 0);
    std::array<uint8_t, 7> seven{};
    EXPECT_FALSE(h.Write(seven));
}

TEST(RequestRecord, ExpectationsOfAFreshAndAResetLink) {
    auto expect = [](const RequestRecord& r, uint32_t type, uint32_t length) {
        EXPECT_EQ(r.expectedReplyType, type);
        EXPECT_EQ(r.ExpectedReplyLength(), length);
        EXPECT_EQ(r.expectedCid, 0);
    };
    RequestRecord record;
    EXPECT_EQ(record.type + record.cid, 0u);
    expect(record, 0, 0);
    record.expectedCid = 42;
    record.ExpectAcknowledgement();
    expect(record, M_NULL, 8);
    record.expectedCid = 42;
    record.ExpectAnything();
    expect(record, 0, 88);
}

TEST(ProtocolVersions, DescriptorsAndFaultTexts) {
    struct Case {
        const ProtocolDescriptor& protocol;
        int32_t version;
        uint32_t faultMask, inhibitMask, textCount;
        size_t sampleIndex;
        uint32_t sampleMask;
        const char* sampleText;
    };
    const Case cases[] = {
        {ProtocolV4, 4, 0x00000103, 0, 16, 0, 0x00010000,
         "No contact? This load is out of range for this transmitter."},
        {ProtocolV5, 5, 0x0004FFDF, 3, 17, 7, 0x08000000, "Too high energy loss"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        EXPECT_EQ(c.protocol.version, c.version);
        EXPECT_EQ(c.protocol.faultMask, c.faultMask);
        EXPECT_EQ(c.protocol.inhibitMask, c.inhibitMask);
        ASSERT_EQ(c.protocol.faultTextCount, c.textCount);
        ASSERT_NE(c.protocol.faultTexts, nullptr);
        EXPECT_EQ(c.protocol.faultTexts[c.sampleIndex].mask, c.sampleMask);
        EXPECT_STREQ(c.protocol.faultTexts[c.sampleIndex].text, c.sampleText);
        for (uint32_t i = 0; i < c.protocol.faultTextCount; ++i) {
            EXPECT_EQ(std::popcount(c.protocol.faultTexts[i].mask), 1) << i;
        }
        ASSERT_NE(c.protocol.hook, nullptr);
        EXPECT_EQ(c.protocol.hook(0xDEADBEEF, 1), 0xDEADBEEFu);
    }
}

TEST(FrameIo, LittleEndianAndBounded) {
    std::array<uint8_t, 6> buf{0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
    EXPECT_EQ(ReadU8(buf, 5), 0x06);
    EXPECT_EQ(ReadU16LE(buf, 4), 0x0605);
    EXPECT_EQ(ReadU32LE(buf, 2), 0x06050403u);
    EXPECT_EQ(ReadU8(buf, 6), std::nullopt);
    EXPECT_EQ(ReadU16LE(buf, 5), std::nullopt);
    EXPECT_EQ(ReadU32LE(buf, 3), std::nullopt);
    EXPECT_EQ(ReadU16LE(buf, SIZE_MAX), std::nullopt);
    EXPECT_EQ(ReadU32LE(buf, SIZE_MAX - 1), std::nullopt);

    const std::array<uint8_t, 6> before = buf;
    EXPECT_FALSE(WriteU8(buf, 6, 0xAA));
    EXPECT_FALSE(WriteU16LE(buf, 5, 0xAAAA));
    EXPECT_FALSE(WriteU32LE(buf, 3, 0xAAAAAAAA));
    EXPECT_FALSE(WriteU32LE(buf, SIZE_MAX - 1, 0xAAAAAAAA));
    EXPECT_EQ(buf, before);

    EXPECT_TRUE(WriteU32LE(buf, 2, 0x11223344));
    EXPECT_TRUE(WriteU16LE(buf, 0, 0xA1B2));
    EXPECT_EQ(buf, (std::array<uint8_t, 6>{0xB2, 0xA1, 0x44, 0x33, 0x22, 0x11}));
}
