// The status record and the fault word (the dump, the four tests on the kept
// word, the fault texts under both protocol versions) and the other
// read-outs: snapshot, channel values, identity texts and software number.
#include <climits>
#include <clocale>
#include <map>

#include "frame_io.h"
#include "board_link.h"

namespace {

using sim::BoardConfig;

TEST(TxStatusTest, FaultWordTestsAndTextsUnderBothVersions) {
    // Version, word, estimated load; HasFault, IsWorkingPointValid, IsInhibited;
    // PrintFault's text, TxStatusText.
    const struct { uint8_t version; uint32_t word; float load; bool fault, valid, inhibited;
                   const char *printed, *text; } cases[] = {
        {5, 0x01000000, 150.0f, false, true, false, "Working point valid",
         "TX status 0x1000000: Working point valid"},
        // The no-load rule: bit 5 without bit 24 and a load below 2^-22.
        {5, 0x00000020, 0.0f, true, false, false, "Not regulating",
         "TX status 0x0020: Not regulating"},
        {5, 0x00000020, -2.384185791015625e-7f, false, false, false, "Not regulating",
         "TX status 0x0020: Not regulating"},
        {5, 0x00000003, 150.0f, true, false, true, "Transmission is inhibited",
         "TX status 0x0003: Transmission is inhibited, Emergence stop function active"},
        // Table order, not bit order; bit 27 is no fault, bit 7 is.
        {5, 0x08000080, 150.0f, true, false, false, "Too high energy loss",
         "TX status 0x8000080: Too high energy loss, Internal +12V bad"},
        {5, 0x00000200, 150.0f, true, false, false, "Unknown fault", "TX status 0x0200"},
        {4, 0x00000020, 0.0f, false, false, false, "Tx is too warm/hot",
         "TX status 0x0020: Tx is too warm/hot"},
        {4, 0x00010001, 150.0f, true, false, false,
         "No contact? This load is out of range for this transmitter.",
         "TX status 0x10001: No contact? This load is out of range for this transmitter., "
         "Tx is off"},
        {4, 0x01000000, 150.0f, false, true, false, "Unknown fault", "TX status 0x1000000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "v" << int(c.version) << std::hex << " " << c.word);
        sim::StatusRecord status = sim::DefaultStatusRecord();
        WriteF32LE(status, 52, c.load);
        BoardLink s({.protocolVersion = c.version, .faultWord = c.word, .status = status});
        CapturedOutput output;
        s.link.GetStatus(false);  // silent
        s.link.PrintFault(c.word);
        output.Finish();
        EXPECT_EQ(std::tuple(s.link.FaultWord(), s.link.HasFault(), s.link.IsInhibited()),
                  std::tuple(c.word, c.fault, c.inhibited));
        EXPECT_EQ(s.link.IsWorkingPointValid(), c.valid);
        EXPECT_EQ(output.err, std::string("* ") + c.printed + " *\n");
        EXPECT_EQ(TxSpi::TxStatusText(c.word), wxString(c.text));
        if (c.version == 5 || c.word != 0x01000000) continue;
        // Without a protocol descriptor only the number is left; the kept word
        // (bit 24 alone) then counts as a fault.
        activeProtocol = nullptr;
        EXPECT_EQ(TxSpi::TxStatusText(0x00010001), wxString("TX status 0x10001"));
        EXPECT_TRUE(s.link.HasFault());
    }
}

TEST(TxStatusTest, DumpTraceLineThenFailuresKeepTheStatusAndTheLinkHealthyUpToTen) {
    sim::StatusRecord r{};
    // Offsets 12 to 52; the one at 48 is not shown.
    const float singles[] = {1.23456f, 230.04f, 3.14159f, 9.87f, -1.5f, 12.3f, 25.0f, -10.26f,
                             100.0f, 0.0f, 1234.56f};
    for (size_t i = 0; i < 11; ++i) WriteF32LE(r, 12 + 4 * i, singles[i]);
    WriteU32LE(r, 56, static_cast<uint32_t>(-5));
    const int16_t raws[] = {-12, 1023, 7, -32768, 4095, -1};
    for (size_t i = 0; i < 6; ++i) WriteU16LE(r, 60 + 2 * i, static_cast<uint16_t>(raws[i]));
    // is_on, switch_state, cg_range, vg_range
    WriteU8(r, 72, 2), WriteU8(r, 73, 255), WriteU8(r, 74, 2), WriteU8(r, 75, 3);
    BoardLink s({.faultWord = 0x01000020, .status = r});
    // A trace line: eleven columns.
    StatusTraceSample sample;
    const std::pair<size_t, float> traced[] = {{0, 1.5f}, {4, -2.25f}, {8, 100.0f}, {104, 0.001f},
        {108, 3.14159f}, {112, -0.5f}, {116, 12345.678f}, {120, 0.0f}};
    for (auto [offset, value] : traced) WriteF32LE(sample.bytes, offset, value);
    WriteU32LE(sample.bytes, 12, 0xDEADBEEF);
    WriteU8(sample.bytes, 166, 200), WriteU8(sample.bytes, 167, 7);
    CapturedOutput output;
    s.link.GetStatus(true);
    PrintStatusTraceLine(sample);
    output.Finish();
    EXPECT_EQ(output.out,
              "@ 1.500\t-2.250\t100.000\t0xdeadbeef\t 0.001\t200\t 3.142\t7\t-0.500\t12345.678\t"
              " 0.000\n");
    EXPECT_EQ(output.err,
              "-------------------\nfault_flags=0x01000020\ncg_current= 1.2346A\n"
              "vg_voltage= 230.0V\nad_value[0]= 3.1416V  -12\nad_value[1]=   9.9V 1023\n"
              "ad_value[2]=  -1.5V    7\nad_value[3]= 12.30V -32768\n"
              "temperature[0]= 25.0C\ntemperature[1]= -10.3C\ntemperature[2]= 100.0C\n"
              "estimated_load=  1234.6Ohm\nupdate_count= -5\ncg_current_da= 4095 range=2\n"
              "vg_voltage_da=   -1 range=3\nis_on= 2 ON\nswitch_state= 255\n"
              "-------------------\n");
    // The board answers M_REQ_STATUS with a bare acknowledgement: ten tries, no dump.
    s.bench.board.Update([](BoardConfig& board) {
        board.faultWord = 0x00000003;
        board.nullReplyTo = {M_REQ_STATUS};
    });
    CapturedOutput failing;
    s.link.GetStatus(true);
    failing.Finish();
    EXPECT_EQ(std::tuple(failing.err.find("fault_flags"), s.Requests().size(), s.link.FaultWord()),
              std::tuple(std::string::npos, 22u, 0x01000020u));
    // The link stays healthy up to ten failed transfers in a row.
    s.bench.board.Update([](BoardConfig& board) { board.failIoctlFromExchange = 1; });
    CapturedOutput quiet;
    while (s.link.ErrorCount() < 10) s.link.PollReply();
    EXPECT_TRUE(s.link.IsLinkHealthy());
    s.link.PollReply();
    EXPECT_FALSE(s.link.IsLinkHealthy());
}

TEST(TxReadoutTest, SnapshotAndChannelValues) {
    sim::SnapshotRecord r{};
    WriteU32LE(r, 12, 0x01000020), WriteU32LE(r, 16, 0x09000020);
    WriteF32LE(r, 20, 0.123456f), WriteF32LE(r, 24, 48.04f), WriteF32LE(r, 72, 150.0f);
    WriteU8(r, 102, 3), WriteU8(r, 103, 1);
    const float pairs[8][2] = {{148.5f, 151.2f}, {47.8f, 48.3f},  {12.0f, 12.4f}, {11.9f, 12.1f},
                               {0.498f, 0.502f}, {-23.9f, 24.1f}, {23.8f, 24.2f}, {1.2f, 1.6f}};
    for (size_t i = 0; i < 16; ++i) WriteF32LE(r, 104 + 4 * i, pairs[i / 2][i % 2]);
    // The board answers snapshot record -7 only.
    BoardLink b({.snapshots = {{-7, r}},
                 .channels = {{4, {12.5f, 255}}, {19, {-0.5f, -1}}, {13, {1.0f, INT32_MIN}}}});
    CapturedOutput output;
    b.link.PrintSnapshot(-7, true);
    b.link.PrintChannelValues();
    output.Finish();
    EXPECT_EQ(b.Requests().size(), 40u);
    EXPECT_EQ(output.err,
              "Snapshot information for record id -7\n-------------------------------------\n"
              "Fault flags: 0x01000020, Aggregated fault flags: 0x09000020\n"
              "Requested current: 0.12346A\nRequested voltage: 48.0V\n"
              "Estimated load: 150.0Ohm\nCG range: 3, VG range: 1\n"
              "Measured load: 148.5-151.2Ohm\nOutput voltage: 47.8-48.3V\n"
              "Common power voltage level: 12.0-12.4V\n"
              "Internal isolated voltage level: 11.9-12.1A\nCurrent level: 0.49800-0.50200A\n"
              "Left leg voltage level: -23.9-24.1\nRight leg voltage level: 23.8-24.2\n"
              "Power loss: 1.2-1.6W\n-------------------------------------\n");
    const std::string names[] = {
        "ANALOGUE_INTERNAL_BATTERY", "ANALOGUE_EXTERNAL_BATTERY", "ANALOGUE_COMMON_BATTERY",
        "ANALOGUE_USB", "ANALOGUE_CURRENT_FEEDBACK", "ANALOGUE_LLV_FEEDBACK",
        "ANALOGUE_RLV_FEEDBACK", "ANALOGUE_12V_REFERENCE", "TEMPERATURE_POWER_SWITCH",
        "TEMPERATURE_BRIDGE", "TEMPERATURE_REGULATOR", "DIGIO_POLARITY_SWITCH",
        "DIGIO_EMERGENCY_STOP", "DIGIO_DC_DC_POWER_ENABLED", "DIGIO_BATTERY_ON",
        "DIGIO_BATTERY_FAULT", "DIGIO_ISOLATED_POWER", "DIGIO_PIOA", "DIGIO_PIOB"};
    const std::map<int, std::string> set = {{3, "255 (0xff)/ 12.500000"},
        {12, "-2147483648 (0x80000000)/ 1.000000"}, {18, "-1 (0xffffffff)/ -0.500000"}};
    std::string expected;
    for (int i = 0; i < 19; ++i) {
        expected += "V5_CHANNEL_" + names[i] + "=";
        expected += (set.contains(i) ? set.at(i) : "0 (0x0)/ 0.000000") + "\n";
    }
    EXPECT_EQ(output.out, expected);
    // Nothing is asked for without printing or under version 4; a bare
    // acknowledgement prints no snapshot.
    for (auto [version, print, asked] : {std::tuple(5, false, 0u), {4, true, 0u}, {5, true, 2u}}) {
        BoardLink refusing({.protocolVersion = uint8_t(version), .nullReplyTo = {M_REQ_SNAPSHOT}});
        CapturedOutput none;
        refusing.link.PrintSnapshot(1, print);
        none.Finish();
        EXPECT_EQ(std::tuple(refusing.Requests().size(), none.err.find("Snapshot"), none.out),
                  std::tuple(size_t{asked}, std::string::npos, "")) << version << print;
    }
}

TEST(TxReadoutTest, IdentityTextsSoftwareNumberAndTiming) {
    std::setlocale(LC_ALL, "C");  // it knows no byte above 0x7F
    // Serial, product, revision, software, number; description; version; number read, fast.
    const struct { sim::BoardIdentity id; const wchar_t *description, *version; int number;
                   bool fast; } cases[] = {
        {{"77", "T-500", "B", "2.1.7", "994"}, L"T-500/B/77", L"2.1.7", 994, false},
        {{"77", "T-500", "B", "2.1", "995"}, L"T-500/B/77", L"2.1(995)", 995, true},
        {{"", "", "", "", " -7x"}, L"//", L"( -7x)", -7, false},
        // Full fields: 16 bytes each and not one more; a leading zero is no octal prefix.
        {{"SERIAL0123456789", "PRODUCT-ABCDEFGH", "REVISION-XYZ-012", "10.20.3000000000", "0995"},
         L"PRODUCT-ABCDEFGH/REVISION-XYZ-012/SERIAL0123456789", L"10.20.3000000000", 995, true},
        // Bytes the locale cannot convert are kept: UTF-8 as its characters,
        // anything else one character per byte.
        {{"\xFF\xFE", "PRODUCT-\xC3\x85", "C", "5.2\xC3\xA9", "1020"},
         L"PRODUCT-\u00C5/C/\u00FF\u00FE", L"5.2\u00E9(1020)", 1020, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id.product + " " + c.id.softwareNumber);
        BoardLink b({.identity = c.id, .failIoctlFromExchange = 3}, /*identify=*/true);
        EXPECT_EQ(std::tuple(b.link.GetUnitDescription(), b.link.GetSoftwareVersion(),
                             b.link.SoftwareNumber(), b.link.FastTiming()),
                  std::tuple(wxString(c.description), wxString(c.version), c.number, c.fast));
        // The transfers fail from here on: nothing arrives, nothing old is shown.
        std::array<uint8_t, kTransmitterInfoSize> info{};
        CapturedOutput output;
        EXPECT_EQ(b.link.GetInfo(info), 0);
        output.Finish();
        EXPECT_TRUE(output.err.ends_with("\nProduct:\nRev:    \nSNR:    \nSW:()\n"));
    }
}

}  // namespace
