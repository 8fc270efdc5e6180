// The status record and the fault word (the dump, the four tests on the kept
// word, the fault texts under both protocol versions) and the other
// read-outs: snapshot, channel values, identity texts and software number.
#include <climits>
#include <cmath>
#include <map>

#include "frame_io.h"
#include "board_link.h"

namespace {

// What the link makes of a fault word: its four tests and PrintFault's line
// (TxStatusText's joined texts: txdiag_test's commands).
struct Reading {
    bool fault, valid, inhibited;
    std::string printed;
    bool operator==(const Reading&) const = default;
};

// Fetches `word` with a status record that estimates `load`, then reads it.
Reading ReadFaultWord(uint8_t version, uint32_t word, float load = 150.0f) {
    sim::StatusRecord status = sim::DefaultStatusRecord();
    WriteF32LE(status, 52, load);
    BoardLink s({.protocolVersion = version, .faultWord = word, .status = status});
    const OutErr printed = PrintedStreams([&] {
        s.link.GetStatus(false);  // silent
        s.link.PrintFault(word);
    });
    EXPECT_EQ(s.link.FaultWord(), word);
    return {s.link.HasFault(), s.link.IsWorkingPointValid(), s.link.IsInhibited(), printed.second};
}

// Each row one behaviour: version, word and estimated load, what they read as.
const struct FaultWordCase {
    const char* behaviour;
    uint8_t version;
    uint32_t word;
    float load;
    Reading reading;
} kFaultWords[] = {
    {"AValidWorkingPointAloneIsNoFaultUnderVersion5", 5, 0x01000000, 150.0f,
     {false, true, false, "* Working point valid *\n"}},
    {"NotRegulatingWithoutWorkingPointAndWithoutLoadIsAFaultUnderVersion5", 5, 0x00000020, 0.0f,
     {true, false, false, "* Not regulating *\n"}},
    {"ALoadOfTwoToTheMinus22IsNoNoLoadFault", 5, 0x00000020, -2.384185791015625e-7f,
     {false, false, false, "* Not regulating *\n"}},
    {"Bit5IsNoFaultUnderVersion4WhateverTheLoad", 4, 0x00000020, 0.0f,
     {false, false, false, "* Tx is too warm/hot *\n"}},
    {"Bits0And1InhibitAndAreFaultsUnderVersion5", 5, 0x00000003, 150.0f,
     {true, false, true, "* Transmission is inhibited *\n"}},
    {"Bits0And1AreFaultsThatDoNotInhibitUnderVersion4", 4, 0x00000003, 150.0f,
     {true, false, false, "* Tx is off *\n"}},
    // Bit 27 is no fault, bit 7 is.
    {"TheTableOrderNotTheBitOrderDecidesTheFirstTextUnderVersion5", 5, 0x08000080, 150.0f,
     {true, false, false, "* Too high energy loss *\n"}},
    {"ABitWithoutATextIsAnUnknownFault", 5, 0x00000200, 150.0f,
     {true, false, false, "* Unknown fault *\n"}},
};

void PrintTo(const FaultWordCase& row, std::ostream* os) { *os << row.behaviour; }

class FaultWordTest : public KeepsProtocolVersion,
                      public testing::WithParamInterface<FaultWordCase> {};

TEST_P(FaultWordTest, ReadsAsItsRowSays) {
    EXPECT_EQ(ReadFaultWord(GetParam().version, GetParam().word, GetParam().load),
              GetParam().reading);
}

INSTANTIATE_TEST_SUITE_P(Rows, FaultWordTest, testing::ValuesIn(kFaultWords),
                         [](const auto& row) { return std::string(row.param.behaviour); });

using FaultWordRules = KeepsProtocolVersion;

TEST_F(FaultWordRules, NoLoadNeedsALoadBelowTwoToTheMinus22AndNoValidWorkingPoint) {
    EXPECT_TRUE(ReadFaultWord(5, 0x00000020, 1.1920928955078125e-7f).fault);  // 2^-23
    EXPECT_FALSE(ReadFaultWord(5, 0x01000020, 0.0f).fault);
    EXPECT_FALSE(ReadFaultWord(5, 0x00000020, std::nanf("")).fault);
}

TEST_F(FaultWordRules, WithoutADescriptorTheKeptWordIsAFaultAndOnlyItsNumberIsShown) {
    BoardLink s({.protocolVersion = 4, .faultWord = 0x01000000});
    s.link.GetStatus(false);
    activeProtocol = nullptr;
    EXPECT_EQ(TxSpi::TxStatusText(0x00010001), wxString("TX status 0x10001"));
    EXPECT_EQ(std::tuple(s.link.HasFault(), s.link.IsWorkingPointValid(), s.link.IsInhibited()),
              std::tuple(true, false, false));
}

// Every bit that has a text, by version.
const std::map<int, std::map<int, std::string>> kFaultTexts = {
    {4, {{16, "No contact? This load is out of range for this transmitter."}, {0, "Tx is off"},
         {1, "Emergency stop is activated"}, {3, "Tx is too warm/hot"}, {5, "Tx is too warm/hot"},
         {2, "Battery and external power is low (Vcommon < 9V)"}, {20, "Tx is changeing state"},
         {4, "The EXTC_OUT_POL signal must be held high to allow operation"},
         {6, "The calulated power loss is too high"}, {19, "No voltage from DCDC (~0V)"},
         {7, "The calulated power loss*time is too high"}, {21, "Tx regulator is not stable"},
         {8, "The internal isolated +12V is bad (<11.5V)"}, {22, "Tx current command zero (da=0)"},
         {17, "Current generator is not regulating"},
         {18, "The bridge setting doesn't allow current transmission"}}},
    {5, {{0, "Transmission is inhibited"}, {1, "Emergence stop function active"},
         {2, "No output voltage from main DC/DC"}, {3, "Low input power voltage (11.8V/10.0V)"},
         {4, "Over temperature"}, {5, "Not regulating"}, {6, "Too high power loss"},
         {27, "Too high energy loss"}, {7, "Internal +12V bad"}, {16, "Unhandled command"},
         {17, "Command in wrong mode"}, {18, "Command parameters out of range"},
         {24, "Working point valid"}, {25, "Tx in progress"}, {26, "Emergency button active"},
         {28, "Mode change in progress"}, {29, "Working point adjusted during transmission"}}},
};

TEST_F(FaultWordRules, EveryBitIsNamedByItsOwnTextOrByNoneUnderBothVersions) {
    for (const auto& [version, texts] : kFaultTexts) {
        activeProtocol = version == 4 ? &ProtocolV4 : &ProtocolV5;
        for (int bit = 0; bit < 32; ++bit) {
            const uint32_t word = 1u << bit;
            wxString expected = wxString::Format("TX status 0x%04x", word);
            if (texts.contains(bit)) expected += ": " + texts.at(bit);
            EXPECT_EQ(TxSpi::TxStatusText(word), expected) << "version " << version;
        }
    }
}

// A status record with a distinct value in every field the dump shows.
sim::StatusRecord DistinctStatusRecord() {
    sim::StatusRecord r{};
    // Offsets 12 to 52; the one at 48 is not shown.
    const float singles[] = {1.23456f, 230.04f, 3.14159f, 9.87f, -1.5f, 12.3f, 25.0f, -10.26f,
                             100.0f, 0.0f, 1234.56f};
    for (size_t i = 0; i < 11; ++i) WriteF32LE(r, 12 + 4 * i, singles[i]);
    WriteU32LE(r, 56, static_cast<uint32_t>(-5));
    const int16_t raws[] = {-12, 1023, 7, -32768, 4095, -1};
    for (size_t i = 0; i < 6; ++i) WriteU16LE(r, 60 + 2 * i, static_cast<uint16_t>(raws[i]));
    const uint8_t bytes[] = {2, 255, 2, 3};  // is_on, switch_state, cg_range, vg_range
    for (size_t i = 0; i < 4; ++i) WriteU8(r, 72 + i, bytes[i]);
    return r;
}

TEST(TxStatusTest, TheDumpShowsEveryFieldOfTheStatusRecord) {
    BoardLink s({.faultWord = 0x01000020, .status = DistinctStatusRecord()});
    EXPECT_EQ(PrintedStreams([&] { s.link.GetStatus(true); }),
              OutErr("", "-------------------\nfault_flags=0x01000020\ncg_current= 1.2346A\n"
              "vg_voltage= 230.0V\nad_value[0]= 3.1416V  -12\nad_value[1]=   9.9V 1023\n"
              "ad_value[2]=  -1.5V    7\nad_value[3]= 12.30V -32768\n"
              "temperature[0]= 25.0C\ntemperature[1]= -10.3C\ntemperature[2]= 100.0C\n"
              "estimated_load=  1234.6Ohm\nupdate_count= -5\ncg_current_da= 4095 range=2\n"
              "vg_voltage_da=   -1 range=3\nis_on= 2 ON\nswitch_state= 255\n"
              "-------------------\n"));
}

TEST(TxStatusTest, WithoutAStatusReplyTenAttemptsKeepTheOldRecordAndPrintNoDump) {
    BoardLink s({.faultWord = 0x01000020});
    s.link.GetStatus(false);
    const int first = s.bench.board.ExchangeCount();
    s.bench.board.Update([](sim::BoardConfig& board) {  // bare acknowledgements to M_REQ_STATUS
        board.faultWord = 0x00000003;
        board.nullReplyTo = {M_REQ_STATUS};
    });
    EXPECT_EQ(PrintedStreams([&] { s.link.GetStatus(true); }).second.find("fault_flags"),
              std::string::npos);
    EXPECT_EQ(std::pair(s.bench.board.ExchangeCount() - first, s.link.FaultWord()),
              std::pair(20, 0x01000020u));
}

TEST(TxStatusTest, TheLinkIsHealthyUpToTenFailedExchangesInARow) {
    BoardLink s({.failIoctlFromExchange = 2});
    CapturedOutput quiet;
    while (s.link.ErrorCount() < 10) s.link.PollReply();
    EXPECT_TRUE(s.link.IsLinkHealthy());
    s.link.PollReply();
    EXPECT_FALSE(s.link.IsLinkHealthy());
}

TEST(TxReadoutTest, ASnapshotShowsEveryFieldOfItsRecord) {
    sim::SnapshotRecord r{};
    WriteU32LE(r, 12, 0x01000020);
    WriteU32LE(r, 16, 0x09000020);
    for (auto [offset, value] : {std::pair(20, 0.123456f), {24, 48.04f}, {72, 150.0f}}) {
        WriteF32LE(r, size_t(offset), value);
    }
    WriteU8(r, 102, 3);
    WriteU8(r, 103, 1);
    const float pairs[8][2] = {{148.5f, 151.2f}, {47.8f, 48.3f},  {12.0f, 12.4f}, {11.9f, 12.1f},
                               {0.498f, 0.502f}, {-23.9f, 24.1f}, {23.8f, 24.2f}, {1.2f, 1.6f}};
    for (size_t i = 0; i < 16; ++i) WriteF32LE(r, 104 + 4 * i, pairs[i / 2][i % 2]);
    BoardLink b({.snapshots = {{-7, r}}});  // the board answers snapshot record -7 only
    EXPECT_EQ(PrintedStreams([&] { b.link.PrintSnapshot(-7, true); }).second,
              "Snapshot information for record id -7\n-------------------------------------\n"
              "Fault flags: 0x01000020, Aggregated fault flags: 0x09000020\n"
              "Requested current: 0.12346A\nRequested voltage: 48.0V\n"
              "Estimated load: 150.0Ohm\nCG range: 3, VG range: 1\n"
              "Measured load: 148.5-151.2Ohm\nOutput voltage: 47.8-48.3V\n"
              "Common power voltage level: 12.0-12.4V\n"
              "Internal isolated voltage level: 11.9-12.1A\nCurrent level: 0.49800-0.50200A\n"
              "Left leg voltage level: -23.9-24.1\nRight leg voltage level: 23.8-24.2\n"
              "Power loss: 1.2-1.6W\n-------------------------------------\n");
    EXPECT_EQ(b.Requests().size(), 2u);
}

// The lines of the channels the board sets (the names: txdiag_test's and the
// fault matrix's).
TEST(TxReadoutTest, TheChannelValuesNameEveryChannelOfVersion5) {
    BoardLink b({.channels = {{4, {12.5f, 255}}, {19, {-0.5f, -1}}, {13, {1.0f, INT32_MIN}}}});
    const std::string out = PrintedStreams([&] { b.link.PrintChannelValues(); }).first;
    EXPECT_EQ(b.Requests().size(), 38u);
    EXPECT_EQ(std::ranges::count(out, '\n'), 19);
    for (const char* line :
         {"V5_CHANNEL_ANALOGUE_INTERNAL_BATTERY=0 (0x0)/ 0.000000\n",
          "\nV5_CHANNEL_ANALOGUE_USB=255 (0xff)/ 12.500000\n",
          "\nV5_CHANNEL_DIGIO_EMERGENCY_STOP=-2147483648 (0x80000000)/ 1.000000\n",
          "\nV5_CHANNEL_DIGIO_PIOB=-1 (0xffffffff)/ -0.500000\n"}) {
        EXPECT_NE(out.find(line), std::string::npos) << line;
    }
}

TEST(TxReadoutTest, NoSnapshotIsAskedForWithoutPrintingOrUnderVersion4NorShownWithoutAReply) {
    for (auto [version, print, asked] : {std::tuple(5, false, 0u), {4, true, 0u}, {5, true, 2u}}) {
        BoardLink refusing({.protocolVersion = uint8_t(version), .nullReplyTo = {M_REQ_SNAPSHOT}});
        const auto [out, err] = PrintedStreams([&] { refusing.link.PrintSnapshot(1, print); });
        EXPECT_EQ(std::tuple(refusing.Requests().size(), err.find("Snapshot"), out),
                  std::tuple(size_t{asked}, std::string::npos, "")) << version << print;
    }
}

// Serial, product, revision, software, number; description; version; number read, fast.
const std::tuple<sim::BoardIdentity, const wchar_t*, const wchar_t*, int, bool> kIdentities[] = {
    {{"77", "T-500", "B", "2.1.7", "994"}, L"T-500/B/77", L"2.1.7", 994, false},
    {{"77", "T-500", "B", "2.1", "995"}, L"T-500/B/77", L"2.1(995)", 995, true},
    // Full fields: 16 bytes each and not one more; a leading zero is no octal prefix.
    {{"SERIAL0123456789", "PRODUCT-ABCDEFGH", "REVISION-XYZ-012", "10.20.3000000000", "0995"},
     L"PRODUCT-ABCDEFGH/REVISION-XYZ-012/SERIAL0123456789", L"10.20.3000000000", 995, true},
};  // texts that are not ASCII: the fault matrix's row

TEST(TxReadoutTest, TheIdentityGivesDescriptionVersionSoftwareNumberAndTiming) {
    for (const auto& [id, description, version, number, fast] : kIdentities) {
        BoardLink b({.identity = id}, LinkStart::kIdentified);
        EXPECT_EQ(std::tuple(b.link.GetUnitDescription(), b.link.GetSoftwareVersion(),
                             b.link.SoftwareNumber(), b.link.FastTiming()),
                  std::tuple(wxString(description), wxString(version), number, fast))
            << id.softwareNumber;
    }
}

TEST(TxReadoutTest, AnIdentityQueryThatFailsShowsNothingOld) {
    // The transfers fail after the identity: nothing arrives.
    BoardLink b({.failIoctlFromExchange = 3}, LinkStart::kIdentified);
    std::array<uint8_t, kTransmitterInfoSize> info{};
    const OutErr printed = PrintedStreams([&] { EXPECT_EQ(b.link.GetInfo(info), 0); });
    EXPECT_TRUE(printed.second.ends_with("\nProduct:\nRev:    \nSNR:    \nSW:()\n"));
}

}  // namespace
