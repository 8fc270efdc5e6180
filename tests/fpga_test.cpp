// The FPGA bitstream loader against the emulated configuration node: the
// handshake and closing sequence request by request, the bitstream byte for
// byte, every result code, and where the file name comes from.
#include "fpga.h"

#include <dlfcn.h>
#include <wx/config.h>
#include <wx/fileconf.h>
#include <wx/sstream.h>

#include <cerrno>
#include <new>

#include "fpga_support.h"

namespace {
bool failNextBuffer = false;
}  // namespace

// The loader's transfer buffer comes from the non-throwing array new: this
// one fails once when asked to, else hands on to the one it stands in front
// of (the C++ library's, or a sanitizer's), so that delete[] matches.
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    if (std::exchange(failNextBuffer, false)) return nullptr;
    using NothrowNew = void* (*)(std::size_t, const std::nothrow_t&) noexcept;
    static const auto next = reinterpret_cast<NothrowNew>(dlsym(
        RTLD_NEXT, sizeof(std::size_t) == 8 ? "_ZnamRKSt9nothrow_t" : "_ZnajRKSt9nothrow_t"));
    return next != nullptr ? next(size, tag) : nullptr;
}

namespace {

using Requests = std::vector<std::pair<unsigned, int>>;  // (nr, byte) of requests 5 to 10, 20
const Requests kClosing = {{8, 1}, {7, 0}, {10, 0}, {9, 0}, {20, 1}};

size_t OpenDescriptors() {
    const auto fds = std::filesystem::directory_iterator("/proc/self/fd");
    return static_cast<size_t>(std::distance(begin(fds), end(fds)));
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
    Requests Sent() const {
        Requests sent;
        for (const sim::ConfigRequest& r : gpio.ConfigRequests()) sent.emplace_back(r.nr, r.value);
        return sent;
    }
    sim::GpioDeviceModel gpio;
    sim::Testbed testbed;
    RecordingFpgaClock clock;
    ScopedFpgaClock useClock{clock};
    ScratchDir dir;
    FPGA fpga;
    std::string err;
};

TEST(FpgaLoader, HandshakeDataAndClosingSequenceOfAGoodLoad) {
    REQUIRE_MOCK_ENVIRONMENT();
    LoaderBench bench;
    EXPECT_EQ(bench.Configure(WriteBitstream(bench.dir, "fpga.rbf", 2500).c_str()), 0);
    EXPECT_EQ(bench.gpio.WriteCount(), 3);  // 1024 + 1024 + 452
    EXPECT_EQ(bench.Sent(), (Requests{{7, 0}, {7, 0}, {8, 0}, {5, 0}, {6, 0}, {8, 1}, {5, 1},
                                      {5, 1}, {5, 1}, {5, 1},  // status after each chunk
                                      {6, 1}, {8, 1}, {7, 0}, {10, 0}, {9, 0}, {20, 1}}));
    EXPECT_EQ(bench.clock.micros, (std::vector<uint32_t>{50, 10, 50, 10}));
}

// Every outcome: result, status lines, the bitstream as far as it got (whole
// and in order however the device takes the writes), and the closing
// sequence with request 20 at the end.
TEST(FpgaLoader, OutcomesOfLoads) {
    REQUIRE_MOCK_ENVIRONMENT();
    using Model = sim::GpioDeviceModel;
    constexpr size_t kAll = SIZE_MAX;
    const auto none = [](Model&) {};
    const struct {
        const char* what;
        size_t size;
        int result;
        bool configured;
        size_t delivered;
        std::function<void(Model&)> arrange;
    } cases[] = {
        {"exact multiple, ends with a read of 0", 2048, 0, true, kAll, none},
        {"one byte", 1, 0, true, kAll, none},
        {"700 per write", 2500, 0, true, kAll, [](Model& m) { m.LimitWrite(700); }},
        {"1 per write", 1500, 0, true, kAll, [](Model& m) { m.LimitWrite(1); }},
        {"write 2 halted", 2500, 0, true, kAll, [](Model& m) { m.FailWrite(2, -1, EINTR); }},
        {"first reset, output 9 fail", 100, 0, true, kAll,
         [](Model& m) { m.FailRequest(7, 1), m.FailRequest(9, 1); }},
        {"request 20 fails", 100, -1, true, kAll, [](Model& m) { m.FailRequest(20, 1); }},
        {"status after reset", 2500, -101, false, 0, [](Model& m) { m.ScriptStatus({1}); }},
        {"done before data", 2500, -102, false, 0, [](Model& m) { m.ScriptDone({1}); }},
        {"no status", 100, -103, false, 0, [](Model& m) { m.ScriptStatus({0, 0, 0, 0, 0, 0, 0}); }},
        {"no done", 2500, -104, false, kAll, [](Model& m) { m.ScriptDone({0, 0, 0, 0, 0, 0, 0}); }},
        {"empty bitstream", 0, -104, false, 0, none},
        {"write takes none", 2500, -105, false, 1024, [](Model& m) { m.FailWrite(2, 0, 0); }},
        {"write fails", 2500, -105, false, 0, [](Model& m) { m.FailWrite(1, -1, EIO); }},
        {"status drops", 2500, -106, false, 2048, [](Model& m) { m.ScriptStatus({0, 1, 1, 0}); }},
        {"no transfer buffer", 100, -107, false, 0, [](Model&) { failNextBuffer = true; }},
        {"second reset of 7 fails", 2500, -1, false, 0, [](Model& m) { m.FailRequest(7, 2); }},
        {"output 8 to 1 fails", 2500, -1, false, 0, [](Model& m) { m.FailRequest(8, 2); }},
        {"done read fails", 2500, -1, false, kAll, [](Model& m) { m.FailRequest(6, 2); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LoaderBench bench;
        bench.gpio.ExpectBitstreamSize(c.size);
        c.arrange(bench.gpio);
        const std::string rbf = WriteBitstream(bench.dir, "fpga.rbf", c.size);
        EXPECT_EQ(bench.Configure(rbf.c_str()), c.result);
        EXPECT_EQ(bench.fpga.IsConfigured(), c.configured);
        EXPECT_EQ(bench.err, c.configured ? Loaded(rbf)
                                          : "FPGA: Use RBF file: " + rbf +
                                                "\n******FPGA config failed. Error code = " +
                                                std::to_string(c.result) + "\n");
        EXPECT_EQ(bench.gpio.Bitstream(), Bitstream(std::min(c.delivered, c.size)));
        // The closing sequence ends every load; without a transfer buffer it is all.
        const Requests sent = bench.Sent();
        const size_t tail = c.result == -107 ? sent.size() : std::min<size_t>(5, sent.size());
        EXPECT_EQ(Requests(sent.end() - static_cast<ptrdiff_t>(tail), sent.end()), kClosing);
    }
}

TEST(FpgaLoader, MissingDevice) {
    REQUIRE_MOCK_ENVIRONMENT();
    sim::Testbed bed;  // no configuration node
    EXPECT_EQ(Printed([] { EXPECT_EQ(FPGA().Configure(sim::kGpioDevicePath, "/x.rbf"), -1); }),
              "FPGA: Use RBF file: /x.rbf\n"
              "***** FPGA::Configure: Open /dev/fpga_config.0 failed!\n");
}

// Thirty loads that succeed or fail in different places leave no descriptor
// behind. The emulation closes its side of a connection when it gets round
// to it (and keeps one from the first request on): a leak shows as ten.
TEST(FpgaLoader, EveryOutcomeClosesBothDescriptors) {
    REQUIRE_MOCK_ENVIRONMENT();
    LoaderBench bench;
    const std::string rbf = WriteBitstream(bench.dir, "fpga.rbf", 100);
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

// This process never set wxWidgets up: no default configuration can be made.
TEST(FpgaLoader, FileNameFromTheConfigurationUnlessGiven) {
    REQUIRE_MOCK_ENVIRONMENT();
    const std::string missing =
        "*****FPGA: Can't open RBF file /usr/share/skarvik/data/fpga_s2.rbf\n";
    LoaderBench bench;
    ASSERT_EQ(wxConfigBase::Set(nullptr), nullptr);
    EXPECT_EQ(bench.Configure(nullptr), -1);
    EXPECT_EQ(bench.err, missing);
    EXPECT_TRUE(bench.gpio.ConfigRequests().empty());

    wxStringInputStream text("[FPGA]\nrbfFilePath=" + WriteBitstream(bench.dir, "c.rbf", 1100));
    wxFileConfig config(text);
    wxConfigBase::Set(&config);
    EXPECT_EQ(bench.Configure(nullptr), 0);
    EXPECT_EQ(bench.err, "FPGA configuration success!\n");
    EXPECT_EQ(bench.gpio.Bitstream(), Bitstream(1100));
    EXPECT_EQ(bench.Configure(WriteBitstream(bench.dir, "given.rbf", 10).c_str()), 0);
    EXPECT_EQ(bench.gpio.Bitstream(), Bitstream(10));

    wxStringInputStream otherText("[Other]\nrbfFilePath=/elsewhere.rbf\n");
    wxFileConfig other(otherText);
    wxConfigBase::Set(&other);
    EXPECT_EQ(bench.Configure(nullptr), -1);
    EXPECT_EQ(bench.err, missing);
    wxConfigBase::Set(nullptr);
}

}  // namespace
