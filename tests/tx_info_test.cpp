// The identity and the transmitter's simple commands: the words they put on
// the bus and the words they read back.
#include <functional>

#include "test_support.h"

namespace {

TEST(TxInfo, SoftwareNumberChoosesTheTiming) {
    const struct { const char* text; int number; bool fast; } cases[] = {
        {"994", 994, false}, {"995", 995, true},   {"1020", 1020, true},
        {"", 0, false},      {"0995", 995, true},  {" -7x", -7, false}};
    for (const auto& c : cases) {
        Bench bench({.identity = {.softwareNumber = c.text}});
        TxSpi& link = bench.Link();
        std::array<uint8_t, kTransmitterInfoSize> info{};
        CapturedOutput output;
        EXPECT_EQ(link.GetInfo(info), c.number) << c.text;
        EXPECT_EQ(link.FastTiming(), c.fast) << c.text;
    }
}

TEST(TxInfo, IdentityIsPrintedAsItArrivesAndIsEmptyWhenNothingDoes) {
    // Texts that fill their 16-byte fields print those 16 bytes and no more.
    Bench bench({.identity = {"SERIAL0123456789", "PRODUCT-\xC3\x85" "BCDEFG", "REVISION-XYZ-012",
                              "SOFTWARE-5.2.1-X", "0000000000000995"},
                 .failIoctlFromExchange = 3});
    TxSpi& link = bench.Link();
    std::array<uint8_t, kTransmitterInfoSize> info{};
    CapturedOutput first;
    EXPECT_EQ(link.GetInfo(info), 995);
    first.Finish();
    EXPECT_EQ(first.err, "---- Assume correct cid=0\n"
                         "Product:PRODUCT-\xC3\x85" "BCDEFG\nRev:    REVISION-XYZ-012\n"
                         "SNR:    SERIAL0123456789\nSW:SOFTWARE-5.2.1-X(0000000000000995)\n");
    EXPECT_EQ(bench.Requests(), (std::vector<Bytes>{{22, 1, 5, 8, 0, 0, 36, 0},
                                                    {9, 2, 5, 8, 1, 0, 25, 0}}));
    EXPECT_EQ(bench.TransferLengths(), (std::vector<uint32_t>{88, 88}));
    EXPECT_EQ(Bytes(info.begin(), info.end()), bench.board.Records()[1].reply);
    EXPECT_EQ(link.Info().bytes, info);

    // The transfers fail from here on: nothing arrives, and nothing of the
    // first identity is shown again.
    CapturedOutput second;
    EXPECT_EQ(link.GetInfo(info), 0);
    second.Finish();
    EXPECT_TRUE(second.err.ends_with("\nProduct:\nRev:    \nSNR:    \nSW:()\n")) << second.err;
    EXPECT_FALSE(link.FastTiming());
}

TEST(TxInfo, AutoSetupSendsItsArgumentAndTriesFourTimes) {
    Bench bench({.faultWord = 0x20});
    TxSpi& link = bench.Link();
    CapturedOutput output;
    ASSERT_TRUE(link.RequestReady());
    ASSERT_EQ(link.FaultWord(), 0x20u);
    EXPECT_EQ(link.AutoSetup(0x55), 0);
    EXPECT_EQ(link.FaultWord(), 0u);
    const std::vector<Bytes> requests = bench.Requests();
    EXPECT_EQ(std::vector<Bytes>(requests.begin() + 2, requests.end()),
              (std::vector<Bytes>{{18, 3, 5, 12, 2, 0, 125, 0, 0x55, 0, 0, 0},
                                  {9, 4, 5, 8, 3, 0, 29, 0}}));

    // Every exchange fails: four tries, the argument written anew for each.
    output.Finish();
    Bench failing({.failIoctlFromExchange = 1});
    TxSpi& failingLink = failing.Link();
    CapturedOutput failures;
    EXPECT_EQ(failingLink.AutoSetup(0x55), IOCTL_ERROR);
    std::vector<Bytes> expected;
    for (uint8_t i = 0; i < 4; ++i) {
        expected.push_back({18, uint8_t(2 * i + 1), 5, 12, 0, 0, uint8_t(121 + 2 * i), 0, 0x55, 0, 0, 0});
        expected.push_back({9, uint8_t(2 * i + 2), 5, 8, 0, 0, uint8_t(24 + 2 * i), 0});
    }
    EXPECT_EQ(failing.Requests(), expected);
}

TEST(TxInfo, SetPolaritySendsTheInvertedFlagAndTheValue) {
    Bench bench;
    TxSpi& link = bench.Link();
    CapturedOutput output;
    for (int polarity : {1, 2, 0}) EXPECT_EQ(link.SetPolarity(polarity, 7), 0) << polarity;
    EXPECT_EQ(bench.Requests(),
              (std::vector<Bytes>{{8, 1, 5, 16, 0, 0, 37, 0, 0, 0, 0, 0, 7, 0, 0, 0},
                                  {8, 2, 5, 16, 1, 0, 40, 0, 1, 0, 0, 0, 7, 0, 0, 0},
                                  {8, 3, 5, 16, 2, 0, 42, 0, 1, 0, 0, 0, 7, 0, 0, 0}}));
    EXPECT_EQ(bench.TransferLengths(), (std::vector<uint32_t>{88, 16, 16}));
}

TEST(TxInfo, ValueAndLimitQueriesSendTheirWordsAndReadTheReply) {
    using Query = std::function<int(TxSpi&, uint32_t&, uint32_t&)>;
    const struct {
        Query query;
        Bytes reply;  // the board sends it in every exchange
        std::vector<Bytes> requests;
        uint32_t first, second;
    } cases[] = {
        {[](TxSpi& l, uint32_t& f, uint32_t& s) { return l.RequestValue(7, f, s); },
         {29, 0x21, 5, 20, 1, 0, 0x34, 0x02, 0, 0, 0, 0, 0xDB, 0x0F, 0x49, 0x40, 0x45, 0x23, 1, 0},
         {{28, 1, 5, 12, 0, 0, 53, 0, 7, 0, 0, 0}, {9, 2, 5, 8, 0x21, 0, 57, 0}},
         0x00012345, 0x40490FDB},
        {[](TxSpi& l, uint32_t& f, uint32_t& s) { return l.RequestLimit(3, 0x10000, f, s); },
         {24, 0x22, 5, 20, 1, 0, 0x32, 0x05, 0, 0, 0, 0, 0xE8, 3, 0, 0, 0xF6, 0xFF, 0xFF, 0xFF},
         {{15, 1, 5, 16, 0, 0, 41, 0, 3, 0, 0, 0, 0, 0, 1, 0}, {9, 2, 5, 8, 0x22, 0, 58, 0}},
         1000, 0xFFFFFFF6},
    };
    for (const auto& c : cases) {
        Bench bench({.garbage = c.reply});
        TxSpi& link = bench.Link();
        uint32_t first = 0, second = 0;
        CapturedOutput output;
        EXPECT_EQ(c.query(link, first, second), 0);
        EXPECT_EQ(bench.Requests(), c.requests);
        EXPECT_EQ(std::tuple(first, second), std::tuple(c.first, c.second));
    }
}

}  // namespace
