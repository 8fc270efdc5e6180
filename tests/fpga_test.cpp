// The FPGA bitstream loader against the emulated configuration node: the
// handshake and closing sequence request by request, the bitstream byte for
// byte, every result code, and where the file name comes from.
#include <dlfcn.h>
#include <wx/config.h>
#include <wx/fileconf.h>
#include <wx/sstream.h>

#include <cerrno>
#include <cstdlib>
#include <new>
#include <memory>
#include <string>
#include <vector>

#include "fpga.h"
#include "fpga_support.h"
#include "test_support.h"

// The loader's transfer buffer comes from the non-throwing array new; this
// replacement fails it once when asked to.
namespace {
bool failNextBuffer = false;
}  // namespace

void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    if (failNextBuffer) {
        failNextBuffer = false;
        return nullptr;
    }
    // Otherwise the version this one stands in front of (the C++ library's,
    // or a sanitizer's), so that delete[] releases what new[] made.
    using NothrowNew = void* (*)(std::size_t, const std::nothrow_t&) noexcept;
    static const auto next = reinterpret_cast<NothrowNew>(dlsym(
        RTLD_NEXT, sizeof(std::size_t) == 8 ? "_ZnamRKSt9nothrow_t" : "_ZnajRKSt9nothrow_t"));
    return next != nullptr ? next(size, tag) : nullptr;
}

namespace {

using sim::ConfigRequest;

// Requests 5 to 10 and 20 as (nr, byte) pairs.
std::vector<std::pair<unsigned, int>> Sequence(const std::vector<ConfigRequest>& requests) {
    std::vector<std::pair<unsigned, int>> pairs;
    for (const ConfigRequest& r : requests) pairs.emplace_back(r.nr, r.value);
    return pairs;
}

const std::vector<std::pair<unsigned, int>> kClosing = {{8, 1}, {7, 0}, {10, 0}, {9, 0}, {20, 1}};

std::vector<std::pair<unsigned, int>> Tail(const std::vector<std::pair<unsigned, int>>& all,
                                           size_t n) {
    return {all.end() - static_cast<std::ptrdiff_t>(std::min(n, all.size())), all.end()};
}

// Descriptors open in this process.
size_t OpenDescriptors() {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

struct LoaderBench {
    LoaderBench() { EXPECT_TRUE(testbed.AddGpioDevice(gpio)) << testbed.LastError(); }
    sim::GpioDeviceModel gpio;
    sim::Testbed testbed;
    RecordingFpgaClock clock;
    ScopedFpgaClock useClock{clock};
    TempDir dir;
};

TEST(FpgaLoader, HandshakeDataAndClosingSequenceOfAGoodLoad) {
    REQUIRE_MOCK_ENVIRONMENT();
    LoaderBench bench;
    const std::vector<uint8_t> bits = Bitstream(2500);
    const std::string rbf = bench.dir.Write("fpga.rbf", bits);

    CapturedOutput output;
    FPGA fpga;
    EXPECT_EQ(fpga.Configure(sim::kGpioDevicePath, rbf.c_str()), 0);
    output.Finish();
    EXPECT_TRUE(fpga.IsConfigured());
    EXPECT_EQ(output.err, "FPGA: Use RBF file: " + rbf + "\nFPGA configuration success!\n");
    EXPECT_EQ(output.out, "");

    EXPECT_EQ(bench.gpio.Bitstream(), bits);
    EXPECT_EQ(bench.gpio.WriteCount(), 3);  // 1024 + 1024 + 452
    const std::vector<std::pair<unsigned, int>> expected = {
        {7, 0}, {7, 0}, {8, 0}, {5, 0}, {6, 0}, {8, 1}, {5, 1},  // handshake
        {5, 1}, {5, 1}, {5, 1},                                  // status after each chunk
        {6, 1},                                                  // done
        {8, 1}, {7, 0}, {10, 0}, {9, 0}, {20, 1}};               // closing
    EXPECT_EQ(Sequence(bench.gpio.ConfigRequests()), expected);
    EXPECT_EQ(bench.clock.micros, (std::vector<uint32_t>{50, 10, 50, 10}));
    // The lines rest where the closing sequence left them.
    EXPECT_EQ(bench.gpio.OutputLevel(7), 0);
    EXPECT_EQ(bench.gpio.OutputLevel(8), 1);
    EXPECT_EQ(bench.gpio.OutputLevel(9), 0);
    EXPECT_EQ(bench.gpio.OutputLevel(10), 0);
}

// The bitstream arrives whole and in order whatever the file size and
// however the device takes the writes.
TEST(FpgaLoader, BitstreamArrivesWholeFromPartialAndInterruptedWrites) {
    REQUIRE_MOCK_ENVIRONMENT();
    struct Case {
        size_t size;
        size_t writeLimit;  // bytes the device takes per write, 0: all
        int interruptedWrite;
        int writes;
    } cases[] = {
        {2048, 0, 0, 2},    // an exact multiple ends with a read of 0 bytes
        {1, 0, 0, 1},
        {2500, 700, 0, 5},  // 700 + 324, 700 + 324, 452
        {1500, 1, 0, 1500},
        {2500, 0, 2, 4},    // the second write is interrupted and repeated
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "size " << c.size << " limit " << c.writeLimit);
        LoaderBench bench;
        bench.gpio.ExpectBitstreamSize(c.size);
        bench.gpio.LimitWrite(c.writeLimit);
        if (c.interruptedWrite > 0) bench.gpio.FailWrite(c.interruptedWrite, -1, EINTR);
        const std::vector<uint8_t> bits = Bitstream(c.size);
        const std::string rbf = bench.dir.Write("fpga.rbf", bits);
        CapturedOutput output;
        FPGA fpga;
        EXPECT_EQ(fpga.Configure(sim::kGpioDevicePath, rbf.c_str()), 0);
        output.Finish();
        EXPECT_EQ(bench.gpio.Bitstream(), bits);
        EXPECT_EQ(bench.gpio.WriteCount(), c.writes);
    }
}

// Each way a load fails gives its code, the failure line, the closing
// sequence and request 20; `configured` stays false.
TEST(FpgaLoader, ResultCodesOfFailedLoads) {
    REQUIRE_MOCK_ENVIRONMENT();
    struct Case {
        const char* what;
        std::function<void(sim::GpioDeviceModel&)> arrange;
        size_t size;
        int result;
        size_t bytesDelivered;
    };
    const Case cases[] = {
        {"status set after reset", [](auto& m) { m.ScriptStatus({1}); }, 2500, -101, 0},
        {"done set before data", [](auto& m) { m.ScriptDone({1}); }, 2500, -102, 0},
        {"status never set", [](auto& m) { m.ScriptStatus({0, 0, 0, 0, 0, 0, 0}); }, 2500, -103,
         0},
        {"done never set", [](auto& m) { m.ScriptDone({0, 0, 0, 0, 0, 0, 0}); }, 2500, -104,
         2500},
        {"empty bitstream", [](auto&) {}, 0, -104, 0},
        {"write takes nothing", [](auto& m) { m.FailWrite(2, 0, 0); }, 2500, -105, 1024},
        {"write fails", [](auto& m) { m.FailWrite(1, -1, EIO); }, 2500, -105, 0},
        {"status drops after chunk 2", [](auto& m) { m.ScriptStatus({0, 1, 1, 0}); }, 2500, -106,
         2048},
        {"second reset of output 7 fails", [](auto& m) { m.FailRequest(7, 2); }, 2500, -1, 0},
        {"output 8 to 1 fails", [](auto& m) { m.FailRequest(8, 2); }, 2500, -1, 0},
        {"done read fails", [](auto& m) { m.FailRequest(6, 2); }, 2500, -1, 2500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LoaderBench bench;
        c.arrange(bench.gpio);
        const std::vector<uint8_t> bits = Bitstream(c.size);
        const std::string rbf = bench.dir.Write("fpga.rbf", bits);
        CapturedOutput output;
        FPGA fpga;
        EXPECT_EQ(fpga.Configure(sim::kGpioDevicePath, rbf.c_str()), c.result);
        output.Finish();
        EXPECT_FALSE(fpga.IsConfigured());
        EXPECT_EQ(output.err, "FPGA: Use RBF file: " + rbf +
                                  "\n******FPGA config failed. Error code = " +
                                  std::to_string(c.result) + "\n");
        EXPECT_EQ(bench.gpio.Bitstream(),
                  std::vector<uint8_t>(bits.begin(), bits.begin() + c.bytesDelivered));
        EXPECT_EQ(Tail(Sequence(bench.gpio.ConfigRequests()), 5), kClosing);
    }
}

TEST(FpgaLoader, NoTransferBufferMeansOnlyTheClosingSequence) {
    REQUIRE_MOCK_ENVIRONMENT();
    LoaderBench bench;
    const std::string rbf = bench.dir.Write("fpga.rbf", Bitstream(100));
    CapturedOutput output;
    failNextBuffer = true;
    EXPECT_EQ(FPGA().Configure(sim::kGpioDevicePath, rbf.c_str()), -107);
    output.Finish();
    EXPECT_EQ(output.err, "FPGA: Use RBF file: " + rbf +
                              "\n******FPGA config failed. Error code = -107\n");
    EXPECT_EQ(Sequence(bench.gpio.ConfigRequests()), kClosing);
}

TEST(FpgaLoader, OnlyTheFirstResetAndTheClosingRequestsMayFailWithoutStoppingTheLoad) {
    REQUIRE_MOCK_ENVIRONMENT();
    {
        LoaderBench bench;
        bench.gpio.FailRequest(7, 1);
        bench.gpio.FailRequest(9, 1);
        const std::string rbf = bench.dir.Write("fpga.rbf", Bitstream(100));
        CapturedOutput output;
        EXPECT_EQ(FPGA().Configure(sim::kGpioDevicePath, rbf.c_str()), 0);
    }
    {
        // Request 20 failing alone turns a good load into its result.
        LoaderBench bench;
        bench.gpio.FailRequest(20, 1);
        const std::string rbf = bench.dir.Write("fpga.rbf", Bitstream(100));
        CapturedOutput output;
        FPGA fpga;
        EXPECT_EQ(fpga.Configure(sim::kGpioDevicePath, rbf.c_str()), -1);
        output.Finish();
        EXPECT_TRUE(fpga.IsConfigured());
        EXPECT_EQ(output.err, "FPGA: Use RBF file: " + rbf + "\nFPGA configuration success!\n");
    }
}

TEST(FpgaLoader, MissingDeviceOrFile) {
    REQUIRE_MOCK_ENVIRONMENT();
    {
        sim::Testbed bed;  // no configuration node
        CapturedOutput output;
        EXPECT_EQ(FPGA().Configure(sim::kGpioDevicePath, "/no/such.rbf"), -1);
        output.Finish();
        EXPECT_EQ(output.err,
                  "FPGA: Use RBF file: /no/such.rbf\n"
                  "***** FPGA::Configure: Open /dev/fpga_config.0 failed!\n");
    }
    LoaderBench bench;
    CapturedOutput output;
    EXPECT_EQ(FPGA().Configure(sim::kGpioDevicePath, "/no/such.rbf"), -1);
    output.Finish();
    EXPECT_EQ(output.err,
              "FPGA: Use RBF file: /no/such.rbf\n*****FPGA: Can't open RBF file /no/such.rbf\n");
    EXPECT_TRUE(bench.gpio.ConfigRequests().empty());
}

// Thirty loads that succeed or fail in different places leave no
// descriptor behind. The emulation closes its side of a connection when it
// gets round to it, so one or two may still be open; a leak shows as ten.
TEST(FpgaLoader, EveryOutcomeClosesBothDescriptors) {
    REQUIRE_MOCK_ENVIRONMENT();
    LoaderBench bench;
    const std::string rbf = bench.dir.Write("fpga.rbf", Bitstream(100));
    CapturedOutput output;
    // The emulation keeps a descriptor of its own from the first request on.
    FPGA().Configure(sim::kGpioDevicePath, rbf.c_str());
    const size_t before = OpenDescriptors();
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(FPGA().Configure(sim::kGpioDevicePath, rbf.c_str()), 0);
        EXPECT_EQ(FPGA().Configure(sim::kGpioDevicePath, "/no/such.rbf"), -1);
        bench.gpio.ScriptStatus({1});
        EXPECT_EQ(FPGA().Configure(sim::kGpioDevicePath, rbf.c_str()), -101);
    }
    const size_t after = OpenDescriptors();
    output.Finish();
    EXPECT_LE(after, before + 2);
}

// Installs a configuration of the test's own as the global one.
class OwnConfig {
public:
    explicit OwnConfig(const std::string& text) {
        wxStringInputStream in(wxString::FromUTF8(text));
        config_ = std::make_unique<wxFileConfig>(in);
        previous_ = wxConfigBase::Set(config_.get());
    }
    ~OwnConfig() { wxConfigBase::Set(previous_); }

private:
    std::unique_ptr<wxFileConfig> config_;
    wxConfigBase* previous_ = nullptr;
};

TEST(FpgaLoader, FileNameFromTheConfigurationUnlessGiven) {
    REQUIRE_MOCK_ENVIRONMENT();
    LoaderBench bench;
    const std::vector<uint8_t> bits = Bitstream(1100);
    const std::string configured = bench.dir.Write("configured.rbf", bits);
    const std::string given = bench.dir.Write("given.rbf", Bitstream(10));
    {
        OwnConfig config("[FPGA]\nrbfFilePath=" + configured + "\n");
        CapturedOutput output;
        EXPECT_EQ(FPGA().Configure(sim::kGpioDevicePath, nullptr), 0);
        output.Finish();
        EXPECT_EQ(output.err, "FPGA configuration success!\n");
        EXPECT_EQ(bench.gpio.Bitstream(), bits);

        CapturedOutput second;
        EXPECT_EQ(FPGA().Configure(sim::kGpioDevicePath, given.c_str()), 0);
        second.Finish();
        EXPECT_EQ(second.err, "FPGA: Use RBF file: " + given + "\nFPGA configuration success!\n");
        EXPECT_EQ(bench.gpio.Bitstream(), Bitstream(10));
    }
    OwnConfig empty("[Other]\nrbfFilePath=/elsewhere.rbf\n");
    CapturedOutput output;
    EXPECT_EQ(FPGA().Configure(sim::kGpioDevicePath, nullptr), -1);
    output.Finish();
    EXPECT_EQ(output.err, "*****FPGA: Can't open RBF file /usr/share/skarvik/data/fpga_s2.rbf\n");
}

// This test process never initialised wxWidgets: there is no application
// object and no default configuration can be made.
TEST(FpgaLoader, WithoutWxInitialisationTheDefaultFileIsUsed) {
    REQUIRE_MOCK_ENVIRONMENT();
    ASSERT_EQ(wxConfigBase::Set(nullptr), nullptr);
    LoaderBench bench;
    CapturedOutput output;
    EXPECT_EQ(FPGA().Configure(sim::kGpioDevicePath, nullptr), -1);
    output.Finish();
    EXPECT_EQ(output.err, "*****FPGA: Can't open RBF file /usr/share/skarvik/data/fpga_s2.rbf\n");
}

}  // namespace
