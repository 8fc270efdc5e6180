// The status record and the fault word: GetStatus against the board model,
// the dump, the four tests on the kept word and the fault texts under both
// protocol versions.
#include <cmath>
#include <limits>
#include <string>

#include "frame_io.h"
#include "board_link.h"

namespace {

using sim::BoardConfig;

TEST(TxStatusTest, FaultWordTestsAndTextsUnderBothVersions) {
    REQUIRE_MOCK_ENVIRONMENT();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        uint8_t version;
        uint32_t word;
        float load;
        bool fault, workingPoint, inhibited;
        const char *printed, *text;  // PrintFault's text, TxStatusText
    };
    const Case cases[] = {
        {5, 0x01000000, 150.0f, false, true, false, "Working point valid",
         "TX status 0x1000000: Working point valid"},
        // The no-load rule: bit 5 without bit 24 and a load below 2^-22.
        {5, 0x00000020, 0.0f, true, false, false, "Not regulating", "TX status 0x0020: Not regulating"},
        {5, 0x00000020, -2.384185791015625e-7f, false, false, false, "Not regulating",
         "TX status 0x0020: Not regulating"},
        {5, 0x00000020, nan, false, false, false, "Not regulating", "TX status 0x0020: Not regulating"},
        {5, 0x01000020, 0.0f, false, true, false, "Not regulating",
         "TX status 0x1000020: Not regulating, Working point valid"},
        {5, 0x00000003, 150.0f, true, false, true, "Transmission is inhibited",
         "TX status 0x0003: Transmission is inhibited, Emergence stop function active"},
        // Table order, not bit order: bit 27's text comes before bit 7's;
        // bit 27 is no fault, bit 7 is.
        {5, 0x08000080, 150.0f, true, false, false, "Too high energy loss",
         "TX status 0x8000080: Too high energy loss, Internal +12V bad"},
        {5, 0x00000200, 150.0f, true, false, false, "Unknown fault", "TX status 0x0200"},
        {4, 0x00000020, 0.0f, false, false, false, "Tx is too warm/hot",
         "TX status 0x0020: Tx is too warm/hot"},
        {4, 0x00010001, 150.0f, true, false, false,
         "No contact? This load is out of range for this transmitter.",
         "TX status 0x10001: No contact? This load is out of range for this transmitter., Tx is off"},
        {4, 0x00000028, 150.0f, false, false, false, "Tx is too warm/hot",
         "TX status 0x0028: Tx is too warm/hot, Tx is too warm/hot"},
        {4, 0x01000000, 150.0f, false, true, false, "Unknown fault", "TX status 0x1000000"},
    };
    for (uint8_t version : {5, 4}) {
        BoardLink s({.protocolVersion = version});
        for (const Case& c : cases) {
            if (c.version != version) continue;
            SCOPED_TRACE(testing::Message() << "v" << int(version) << " word " << std::hex << c.word
                                            << " load " << c.load);
            s.bench.board.Update([&](BoardConfig& board) {
                board.faultWord = c.word;
                WriteF32LE(board.status, 52, c.load);
            });
            CapturedOutput output;
            s.link.GetStatus(false);
            s.link.PrintFault(c.word);
            output.Finish();
            ASSERT_EQ(activeProtocol->version, version);
            EXPECT_EQ(s.link.FaultWord(), c.word);
            EXPECT_EQ(s.link.HasFault(), c.fault);
            EXPECT_EQ(s.link.IsWorkingPointValid(), c.workingPoint);
            EXPECT_EQ(s.link.IsInhibited(), c.inhibited);
            // GetStatus without print is silent.
            EXPECT_EQ(output.err, std::string("* ") + c.printed + " *\n");
            EXPECT_EQ(TxSpi::TxStatusText(c.word), wxString(c.text));
        }
    }
}

TEST(TxStatusTest, WithoutAProtocolDescriptorOnlyTheNumberIsLeft) {
    REQUIRE_MOCK_ENVIRONMENT();
    BoardLink s;
    s.bench.board.Update([](BoardConfig& board) { board.faultWord = 0x01000000; });
    {
        CapturedOutput quiet;
        s.link.GetStatus(false);
    }
    activeProtocol = nullptr;
    CapturedOutput output;
    s.link.PrintFault(0x00010001);
    output.Finish();
    EXPECT_TRUE(s.link.HasFault());
    EXPECT_FALSE(s.link.IsWorkingPointValid());
    EXPECT_FALSE(s.link.IsInhibited());
    EXPECT_TRUE(s.link.IsLinkHealthy());
    EXPECT_EQ(output.err, "* Unknown fault *\n");
    EXPECT_EQ(TxSpi::TxStatusText(0x00010001), wxString("TX status 0x10001"));
}

TEST(TxStatusTest, DumpPrintsEveryFieldInItsFormat) {
    REQUIRE_MOCK_ENVIRONMENT();
    sim::StatusRecord record{};
    std::span<uint8_t> r(record);
    const float singles[] = {1.23456f, 230.04f, 3.14159f, 9.87f, -1.5f, 12.3f, 25.0f, -10.26f, 100.0f};
    for (size_t i = 0; i < 9; ++i) WriteF32LE(r, 12 + 4 * i, singles[i]);
    WriteF32LE(r, 52, 1234.56f);
    WriteU32LE(r, 56, static_cast<uint32_t>(-5));
    const int16_t raws[] = {-12, 1023, 7, -32768, 4095, -1};
    for (size_t i = 0; i < 6; ++i) WriteU16LE(r, 60 + 2 * i, static_cast<uint16_t>(raws[i]));
    const uint8_t bytes[] = {1, 255, 2, 3};  // is_on, switch_state, cg_range, vg_range
    for (size_t i = 0; i < 4; ++i) WriteU8(r, 72 + i, bytes[i]);
    BoardLink s;
    s.bench.board.Update([&](BoardConfig& board) {
        board.status = record;
        board.faultWord = 0x01000020;
    });
    CapturedOutput output;
    s.link.GetStatus(true);
    output.Finish();
    EXPECT_EQ(output.err,
              "-------------------\n"
              "fault_flags=0x01000020\n"
              "cg_current= 1.2346A\n"
              "vg_voltage= 230.0V\n"
              "ad_value[0]= 3.1416V  -12\n"
              "ad_value[1]=   9.9V 1023\n"
              "ad_value[2]=  -1.5V    7\n"
              "ad_value[3]= 12.30V -32768\n"
              "temperature[0]= 25.0C\n"
              "temperature[1]= -10.3C\n"
              "temperature[2]= 100.0C\n"
              "estimated_load=  1234.6Ohm\n"
              "update_count= -5\n"
              "cg_current_da= 4095 range=2\n"
              "vg_voltage_da=   -1 range=3\n"
              "is_on= 1 ON\n"
              "switch_state= 255\n"
              "-------------------\n");
    // The link keeps the frame as it came, header included.
    EXPECT_EQ(s.link.Status().bytes[0], M_STATUS);
    EXPECT_TRUE(std::equal(record.begin() + 12, record.end(), s.link.Status().bytes.begin() + 12));

    // A record of all-ones bytes: NaNs and -1s, read within the frame.
    s.bench.board.Update([&](BoardConfig& board) {
        board.status.fill(0xFF);
        board.faultWord = 0xFFFFFFFF;
    });
    CapturedOutput ones;
    s.link.GetStatus(true);
    ones.Finish();
    EXPECT_NE(ones.err.find("fault_flags=0xffffffff\ncg_current=   -nanA\n"), std::string::npos);
    EXPECT_NE(ones.err.find("vg_voltage_da=   -1 range=255\nis_on= 255 ON\n"), std::string::npos);
    EXPECT_TRUE(s.link.HasFault());
}

TEST(TxStatusTest, TenFailedAttemptsLeaveTheKeptStatusAlone) {
    REQUIRE_MOCK_ENVIRONMENT();
    BoardLink s;
    s.bench.board.Update([](BoardConfig& board) { board.faultWord = 0x01000000; });
    {
        CapturedOutput quiet;
        s.link.GetStatus(false);
    }
    const TxStatus before = s.link.Status();
    // The board answers M_REQ_STATUS with a bare acknowledgement.
    s.bench.board.Update([](BoardConfig& board) {
        board.faultWord = 0x00000003;
        board.nullReplyTo = {M_REQ_STATUS};
    });
    const int exchanges = s.bench.board.ExchangeCount();
    CapturedOutput output;
    s.link.GetStatus(true);
    output.Finish();
    EXPECT_EQ(s.bench.board.ExchangeCount() - exchanges, 20);
    EXPECT_EQ(s.link.Status().bytes, before.bytes);
    EXPECT_EQ(s.link.FaultWord(), 0x01000000u);
    EXPECT_EQ(output.err.find("fault_flags"), std::string::npos);
    EXPECT_NE(output.err.find("**** Not expected return message type expect=6 got=9\n"), std::string::npos);
}

TEST(TxStatusTest, LinkIsHealthyUpToTenFailuresInARow) {
    REQUIRE_MOCK_ENVIRONMENT();
    BoardLink b;
    b.bench.board.Update([](BoardConfig& board) { board.failIoctlFromExchange = 1; });
    CapturedOutput output;
    for (int i = 0; i < 10; ++i) b.link.PollReply();
    EXPECT_EQ(b.link.ErrorCount(), 10);
    EXPECT_TRUE(b.link.IsLinkHealthy());
    b.link.PollReply();
    EXPECT_FALSE(b.link.IsLinkHealthy());
}

TEST(TxStatusTest, TraceLinePrintsElevenColumns) {
    StatusTraceSample sample;
    std::span<uint8_t> b(sample.bytes);
    WriteF32LE(b, 0, 1.5f);
    WriteF32LE(b, 4, -2.25f);
    WriteF32LE(b, 8, 100.0f);
    WriteU32LE(b, 12, 0xDEADBEEF);
    WriteF32LE(b, 104, 0.001f);
    WriteF32LE(b, 108, 3.14159f);
    WriteF32LE(b, 112, -0.5f);
    WriteF32LE(b, 116, 12345.678f);
    WriteF32LE(b, 120, 0.0f);
    WriteU8(b, 166, 200);
    WriteU8(b, 167, 7);
    CapturedOutput output;
    PrintStatusTraceLine(sample);
    output.Finish();
    EXPECT_EQ(output.out, "@ 1.500\t-2.250\t100.000\t0xdeadbeef\t 0.001\t200\t 3.142\t7\t-0.500\t12345.678\t 0.000\n");
}

}  // namespace
