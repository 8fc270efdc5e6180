// The FPGA bitstream loader against the emulated configuration node: the
// handshake and closing sequence request by request, the bitstream byte for
// byte, every result code, and where the file name comes from.
#include "fpga.h"

#include <dlfcn.h>
#include <wx/config.h>
#include <wx/fileconf.h>
#include <wx/sstream.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

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
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

struct LoaderBench {
    LoaderBench() { EXPECT_TRUE(testbed.AddGpioDevice(gpio)) << testbed.LastError(); }
    // Loads `rbf`; standard error lands in `err`, nothing may go to standard output.
    int Configure(const char* rbf) {
        CapturedOutput output;
        const int result = fpga.Configure(sim::kGpioDevicePath, rbf);
        output.Finish();
        EXPECT_EQ(output.out, "");
        err = output.err;
        return result;
    }
    sim::GpioDeviceModel gpio;
    sim::Testbed testbed;
    RecordingFpgaClock clock;
    ScopedFpgaClock useClock{clock};
    TempDir dir;
    FPGA fpga;
    std::string err;
};

const std::string kDefaultFileMissing =
    "*****FPGA: Can't open RBF file /usr/share/skarvik/data/fpga_s2.rbf\n";

std::string LoadedLines(const std::string& rbf) {
    return "FPGA: Use RBF file: " + rbf + "\nFPGA configuration success!\n";
}

TEST(FpgaLoader, HandshakeDataAndClosingSequenceOfAGoodLoad) {
    REQUIRE_MOCK_ENVIRONMENT();
    LoaderBench bench;
    const std::string rbf = bench.dir.Write("fpga.rbf", Bitstream(2500));
    EXPECT_EQ(bench.Configure(rbf.c_str()), 0);
    EXPECT_EQ(bench.gpio.WriteCount(), 3);  // 1024 + 1024 + 452
    const std::vector<std::pair<unsigned, int>> expected = {
        {7, 0}, {7, 0}, {8, 0},  {5, 0}, {6, 0}, {8, 1}, {5, 1},  // handshake
        {5, 1}, {5, 1}, {5, 1},                                   // status after each chunk
        {6, 1},                                                   // done
        {8, 1}, {7, 0}, {10, 0}, {9, 0}, {20, 1}};                // closing
    EXPECT_EQ(Sequence(bench.gpio.ConfigRequests()), expected);
    EXPECT_EQ(bench.clock.micros, (std::vector<uint32_t>{50, 10, 50, 10}));
    // The lines rest where the closing sequence left them.
    EXPECT_EQ((std::vector<int>{bench.gpio.OutputLevel(7), bench.gpio.OutputLevel(8),
                                bench.gpio.OutputLevel(9), bench.gpio.OutputLevel(10)}),
              (std::vector<int>{0, 1, 0, 0}));
}

// Every outcome: result, status line, the bitstream as far as it got (whole
// and in order however the device takes the writes), and the closing
// sequence with request 20 at the end.
TEST(FpgaLoader, OutcomesOfLoads) {
    REQUIRE_MOCK_ENVIRONMENT();
    constexpr size_t kAll = SIZE_MAX;
    using Model = sim::GpioDeviceModel;
    struct Case {
        const char* what;
        size_t size;
        int result;
        bool configured;
        size_t bytesDelivered;
        int writes;  // -1: not counted
        std::function<void(Model&)> arrange;
    };
    const auto none = [](Model&) {};
    const Case cases[] = {
        {"exact multiple, ends with a read of 0", 2048, 0, true, kAll, 2, none},
        {"one byte", 1, 0, true, kAll, 1, none},
        {"700 per write", 2500, 0, true, kAll, 5, [](Model& m) { m.LimitWrite(700); }},
        {"1 per write", 1500, 0, true, kAll, 1500, [](Model& m) { m.LimitWrite(1); }},
        {"write 2 halted", 2500, 0, true, kAll, 4, [](Model& m) { m.FailWrite(2, -1, EINTR); }},
        {"first reset, output 9 fail", 100, 0, true, kAll, -1,
         [](Model& m) { m.FailRequest(7, 1), m.FailRequest(9, 1); }},
        {"request 20 fails", 100, -1, true, kAll, -1, [](Model& m) { m.FailRequest(20, 1); }},
        {"status after reset", 2500, -101, false, 0, -1, [](Model& m) { m.ScriptStatus({1}); }},
        {"done before data", 2500, -102, false, 0, -1, [](Model& m) { m.ScriptDone({1}); }},
        {"status never set", 2500, -103, false, 0, -1,
         [](Model& m) { m.ScriptStatus({0, 0, 0, 0, 0, 0, 0}); }},
        {"done never set", 2500, -104, false, kAll, -1,
         [](Model& m) { m.ScriptDone({0, 0, 0, 0, 0, 0, 0}); }},
        {"empty bitstream", 0, -104, false, 0, -1, none},
        {"write takes none", 2500, -105, false, 1024, -1, [](Model& m) { m.FailWrite(2, 0, 0); }},
        {"write fails", 2500, -105, false, 0, -1, [](Model& m) { m.FailWrite(1, -1, EIO); }},
        {"status drops after chunk 2", 2500, -106, false, 2048, -1,
         [](Model& m) { m.ScriptStatus({0, 1, 1, 0}); }},
        {"no transfer buffer", 100, -107, false, 0, -1, [](Model&) { failNextBuffer = true; }},
        {"second reset of 7 fails", 2500, -1, false, 0, -1, [](Model& m) { m.FailRequest(7, 2); }},
        {"output 8 to 1 fails", 2500, -1, false, 0, -1, [](Model& m) { m.FailRequest(8, 2); }},
        {"done read fails", 2500, -1, false, kAll, -1, [](Model& m) { m.FailRequest(6, 2); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LoaderBench bench;
        bench.gpio.ExpectBitstreamSize(c.size);
        c.arrange(bench.gpio);
        const std::vector<uint8_t> bits = Bitstream(c.size);
        const std::string rbf = bench.dir.Write("fpga.rbf", bits);
        EXPECT_EQ(bench.Configure(rbf.c_str()), c.result);
        EXPECT_EQ(bench.fpga.IsConfigured(), c.configured);
        EXPECT_EQ(bench.err, c.configured ? LoadedLines(rbf)
                                          : "FPGA: Use RBF file: " + rbf +
                                                "\n******FPGA config failed. Error code = " +
                                                std::to_string(c.result) + "\n");
        const size_t delivered = std::min(c.bytesDelivered, bits.size());
        EXPECT_EQ(bench.gpio.Bitstream(),
                  std::vector<uint8_t>(bits.begin(), bits.begin() + delivered));
        if (c.writes >= 0) {
            EXPECT_EQ(bench.gpio.WriteCount(), c.writes);
        }
        const auto requests = Sequence(bench.gpio.ConfigRequests());
        EXPECT_EQ(Tail(requests, 5), kClosing);
        // Without a transfer buffer nothing but the closing sequence is sent.
        if (c.result == -107) {
            EXPECT_EQ(requests, kClosing);
        }
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
    EXPECT_EQ(bench.Configure("/no/such.rbf"), -1);
    EXPECT_EQ(bench.err,
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
    // The emulation keeps a descriptor of its own from the first request on.
    bench.Configure(rbf.c_str());
    const size_t before = OpenDescriptors();
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(bench.Configure(rbf.c_str()), 0);
        EXPECT_EQ(bench.Configure("/no/such.rbf"), -1);
        bench.gpio.ScriptStatus({1});
        EXPECT_EQ(bench.Configure(rbf.c_str()), -101);
    }
    EXPECT_LE(OpenDescriptors(), before + 2);
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

// This test process never initialised wxWidgets: there is no application
// object and no default configuration can be made.
TEST(FpgaLoader, FileNameFromTheConfigurationUnlessGiven) {
    REQUIRE_MOCK_ENVIRONMENT();
    LoaderBench bench;
    ASSERT_EQ(wxConfigBase::Set(nullptr), nullptr);
    EXPECT_EQ(bench.Configure(nullptr), -1);
    EXPECT_EQ(bench.err, kDefaultFileMissing);

    const std::string configured = bench.dir.Write("configured.rbf", Bitstream(1100));
    const std::string given = bench.dir.Write("given.rbf", Bitstream(10));
    {
        OwnConfig config("[FPGA]\nrbfFilePath=" + configured + "\n");
        EXPECT_EQ(bench.Configure(nullptr), 0);
        EXPECT_EQ(bench.err, "FPGA configuration success!\n");
        EXPECT_EQ(bench.gpio.Bitstream(), Bitstream(1100));
        EXPECT_EQ(bench.Configure(given.c_str()), 0);
        EXPECT_EQ(bench.err, LoadedLines(given));
        EXPECT_EQ(bench.gpio.Bitstream(), Bitstream(10));
    }
    OwnConfig other("[Other]\nrbfFilePath=/elsewhere.rbf\n");
    EXPECT_EQ(bench.Configure(nullptr), -1);
    EXPECT_EQ(bench.err, kDefaultFileMissing);
}

}  // namespace
