// The read-outs of the link: the snapshot printout and its refusals, the 19
// channel lines, and the identity as description and version strings.
#include <climits>
#include <clocale>
#include <string>

#include "frame_io.h"
#include "board_link.h"

namespace {

using sim::BoardConfig;

TEST(TxReadoutTest, SnapshotIsPrintedFieldByField) {
    REQUIRE_MOCK_ENVIRONMENT();
    sim::SnapshotRecord record{};
    std::span<uint8_t> r(record);
    WriteU32LE(r, 12, 0x01000020);
    WriteU32LE(r, 16, 0x09000020);
    WriteF32LE(r, 20, 0.123456f);
    WriteF32LE(r, 24, 48.04f);
    WriteF32LE(r, 72, 150.0f);
    WriteU8(r, 102, 3);
    WriteU8(r, 103, 1);
    const float pairs[8][2] = {{148.5f, 151.2f}, {47.8f, 48.3f},  {12.0f, 12.4f}, {11.9f, 12.1f},
                               {0.498f, 0.502f}, {-23.9f, 24.1f}, {23.8f, 24.2f}, {1.2f, 1.6f}};
    for (size_t i = 0; i < 8; ++i) {
        WriteF32LE(r, 104 + 8 * i, pairs[i][0]);
        WriteF32LE(r, 108 + 8 * i, pairs[i][1]);
    }
    BoardLink b({.snapshots = {{-7, record}}});
    CapturedOutput output;
    b.link.PrintSnapshot(-7, true);
    output.Finish();
    EXPECT_EQ(output.err,
              "Snapshot information for record id -7\n"
              "-------------------------------------\n"
              "Fault flags: 0x01000020, Aggregated fault flags: 0x09000020\n"
              "Requested current: 0.12346A\n"
              "Requested voltage: 48.0V\n"
              "Estimated load: 150.0Ohm\n"
              "CG range: 3, VG range: 1\n"
              "Measured load: 148.5-151.2Ohm\n"
              "Output voltage: 47.8-48.3V\n"
              "Common power voltage level: 12.0-12.4V\n"
              "Internal isolated voltage level: 11.9-12.1A\n"
              "Current level: 0.49800-0.50200A\n"
              "Left leg voltage level: -23.9-24.1\n"
              "Right leg voltage level: 23.8-24.2\n"
              "Power loss: 1.2-1.6W\n"
              "-------------------------------------\n");
    const std::vector<sim::BusRecord> requests = b.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].request[3], 12);
    EXPECT_EQ(ReadU32LE(requests[0].request, 8).value(), static_cast<uint32_t>(-7));
    EXPECT_EQ(requests[1].transferLength, 200u);
}

TEST(TxReadoutTest, SnapshotRefusals) {
    REQUIRE_MOCK_ENVIRONMENT();
    struct Case {
        uint8_t version;
        bool print, answeredWithNull;
        size_t exchanges;
    };
    const Case cases[] = {{5, false, false, 0}, {4, false, false, 0}, {4, true, false, 0},
                          {5, true, true, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.version) << c.print << c.answeredWithNull);
        std::set<uint8_t> unanswered;
        if (c.answeredWithNull) unanswered = {M_REQ_SNAPSHOT};
        BoardLink b({.protocolVersion = c.version, .nullReplyTo = unanswered});
        CapturedOutput output;
        b.link.PrintSnapshot(1, c.print);
        output.Finish();
        EXPECT_EQ(b.Requests().size(), c.exchanges);
        EXPECT_EQ(output.err.find("Snapshot"), std::string::npos) << output.err;
        EXPECT_EQ(output.out, "");
    }
}

TEST(TxReadoutTest, ChannelValuesOneLineEach) {
    REQUIRE_MOCK_ENVIRONMENT();
    BoardLink b({.channels = {{4, {12.5f, 255}}, {19, {-0.5f, -1}}, {13, {1.0f, INT32_MIN}}}});
    CapturedOutput output;
    b.link.PrintChannelValues();
    output.Finish();
    EXPECT_EQ(output.out,
              "V5_CHANNEL_ANALOGUE_INTERNAL_BATTERY=0 (0x0)/ 0.000000\n"
              "V5_CHANNEL_ANALOGUE_EXTERNAL_BATTERY=0 (0x0)/ 0.000000\n"
              "V5_CHANNEL_ANALOGUE_COMMON_BATTERY=0 (0x0)/ 0.000000\n"
              "V5_CHANNEL_ANALOGUE_USB=255 (0xff)/ 12.500000\n"
              "V5_CHANNEL_ANALOGUE_CURRENT_FEEDBACK=0 (0x0)/ 0.000000\n"
              "V5_CHANNEL_ANALOGUE_LLV_FEEDBACK=0 (0x0)/ 0.000000\n"
              "V5_CHANNEL_ANALOGUE_RLV_FEEDBACK=0 (0x0)/ 0.000000\n"
              "V5_CHANNEL_ANALOGUE_12V_REFERENCE=0 (0x0)/ 0.000000\n"
              "V5_CHANNEL_TEMPERATURE_POWER_SWITCH=0 (0x0)/ 0.000000\n"
              "V5_CHANNEL_TEMPERATURE_BRIDGE=0 (0x0)/ 0.000000\n"
              "V5_CHANNEL_TEMPERATURE_REGULATOR=0 (0x0)/ 0.000000\n"
              "V5_CHANNEL_DIGIO_POLARITY_SWITCH=0 (0x0)/ 0.000000\n"
              "V5_CHANNEL_DIGIO_EMERGENCY_STOP=-2147483648 (0x80000000)/ 1.000000\n"
              "V5_CHANNEL_DIGIO_DC_DC_POWER_ENABLED=0 (0x0)/ 0.000000\n"
              "V5_CHANNEL_DIGIO_BATTERY_ON=0 (0x0)/ 0.000000\n"
              "V5_CHANNEL_DIGIO_BATTERY_FAULT=0 (0x0)/ 0.000000\n"
              "V5_CHANNEL_DIGIO_ISOLATED_POWER=0 (0x0)/ 0.000000\n"
              "V5_CHANNEL_DIGIO_PIOA=0 (0x0)/ 0.000000\n"
              "V5_CHANNEL_DIGIO_PIOB=-1 (0xffffffff)/ -0.500000\n");
    const std::vector<sim::BusRecord> requests = b.Requests();
    ASSERT_EQ(requests.size(), 38u);
    for (uint32_t n = 1; n <= 19; ++n) {
        EXPECT_EQ(requests[2 * n - 2].request[3], 12);
        EXPECT_EQ(ReadU32LE(requests[2 * n - 2].request, 8).value(), n);
        EXPECT_EQ(requests[2 * n - 1].transferLength, 20u);
    }
}

TEST(TxReadoutTest, DescriptionAndVersionText) {
    REQUIRE_MOCK_ENVIRONMENT();
    // The "C" locale knows no byte above 0x7F.
    std::setlocale(LC_ALL, "C");
    struct Case {
        sim::BoardIdentity identity;  // serial, product, revision, software, number
        const wchar_t* description;
        const wchar_t* version;
    };
    const Case cases[] = {
        {{"77", "T-500", "B", "2.1.7", "995"}, L"T-500/B/77", L"2.1.7"},
        {{"77", "T-500", "B", "2.1", "995"}, L"T-500/B/77", L"2.1(995)"},
        {{"77", "T-500", "B", "2.1.7rc", "995"}, L"T-500/B/77", L"2.1.7rc"},
        {{"77", "T-500", "B", "V2.1.7", "995"}, L"T-500/B/77", L"V2.1.7(995)"},
        {{"77", "T-500", "B", "", ""}, L"T-500/B/77", L"()"},
        // Full fields: 16 bytes each and not one more.
        {{"SERIAL0123456789", "PRODUCT-ABCDEFGH", "REVISION-XYZ-012", "10.20.3000000000", "995"},
         L"PRODUCT-ABCDEFGH/REVISION-XYZ-012/SERIAL0123456789", L"10.20.3000000000"},
        {{"SERIAL0123456789", "PRODUCT-ABCDEFGH", "REVISION-XYZ-012", "SOFTWARE-5.2.1-X",
          "0000000000000995"},
         L"PRODUCT-ABCDEFGH/REVISION-XYZ-012/SERIAL0123456789",
         L"SOFTWARE-5.2.1-X(0000000000000995)"},
        // Bytes the locale cannot convert are kept: UTF-8 as its characters,
        // anything else one character per byte.
        {{"\xFF\xFE", "PRODUCT-\xC3\x85", "C", "5.2\xC3\xA9", "1020"}, L"PRODUCT-\u00C5/C/\u00FF\u00FE",
         L"5.2\u00E9(1020)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.identity.product + " " + c.identity.software);
        BoardLink b({.identity = c.identity}, /*identify=*/true);
        EXPECT_EQ(b.link.GetUnitDescription(), wxString(c.description));
        EXPECT_EQ(b.link.GetSoftwareVersion(), wxString(c.version));
    }
    // Before any identity: all texts empty.
    BoardLink b;
    EXPECT_EQ(b.link.GetUnitDescription(), wxString(L"//"));
    EXPECT_EQ(b.link.GetSoftwareVersion(), wxString(L"()"));
}

}  // namespace
