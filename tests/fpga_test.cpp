// The FPGA bitstream loader against the emulated configuration node: the
// handshake and closing sequence request by request, the bitstream byte for
// byte, every result code, and where the file name comes from.
#include "fpga.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <wx/fileconf.h>
#include <wx/sstream.h>

#include <cerrno>
#include <new>
#include <optional>

#include "fpga_support.h"

static bool failNextBuffer = false;

// The loader's transfer buffer comes from the non-throwing array new: this
// one fails once when asked to, else hands on to the one it stands in front
// of (the C++ library's, or a sanitizer's), so that delete[] matches.
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    if (std::exchange(failNextBuffer, false)) return nullptr;
    using NothrowNew = void* (*)(std::size_t, const std::nothrow_t&) noexcept;
    static const auto next = reinterpret_cast<NothrowNew>(
        dlsym(RTLD_NEXT, sizeof(std::size_t) == 8 ? "_ZnamRKSt9nothrow_t" : "_ZnajRKSt9nothrow_t"));
    return next != nullptr ? next(size, tag) : nullptr;
}

namespace {

namespace fs = std::filesystem;
using Requests = std::vector<std::pair<unsigned, int>>;  // (nr, byte) of requests 5 to 10, 20
const Requests kClosing = {{8, 1}, {7, 0}, {10, 0}, {9, 0}, {20, 1}};

struct LoaderBench {
    LoaderBench() {
        EXPECT_TRUE(testbed.AddGpioDevice(gpio)) << testbed.LastError();
        fpga.SetClock(clock);
    }
    // Loads `rbf`; what it printed lands in `err`.
    int Configure(const char* rbf) {
        int result = 0;
        err = Printed([&] { result = fpga.Configure(sim::kGpioDevicePath, rbf); });
        return result;
    }
    sim::GpioDeviceModel gpio;
    sim::Testbed testbed;
    FakeClock clock;
    ScratchDir dir;
    FPGA fpga;
    std::string err;
};

using Model = sim::GpioDeviceModel;
constexpr size_t kAll = SIZE_MAX;

// Loads a bitstream of `size` bytes on a node that `arrange` set up, and
// checks the result, whether the FPGA counts as configured, the status lines,
// the bitstream as far as it got (whole and in order however the device takes
// the writes), the pauses of a load that went through, and the closing
// sequence with request 20 that ends every load (without a transfer buffer it
// is all). Returns the requests sent.
Requests Load(size_t size, int result, bool configured, size_t delivered,
              const std::function<void(Model&)>& arrange) {
    LoaderBench bench;
    bench.gpio.ExpectBitstreamSize(size);
    arrange(bench.gpio);
    const std::string rbf = WriteBitstream(bench.dir, "fpga.rbf", size);
    EXPECT_EQ(bench.Configure(rbf.c_str()), result);
    EXPECT_EQ(bench.fpga.IsConfigured(), configured);
    const auto failed = "******FPGA config failed. Error code = " + std::to_string(result);
    EXPECT_EQ(bench.err, "FPGA: Use RBF file: " + rbf + "\n" +
                             (configured ? "FPGA configuration success!" : failed) + "\n");
    EXPECT_EQ(bench.gpio.Bitstream(), Bitstream(std::min(delivered, size)));
    if (configured) {
        // Status and done come at once.
        EXPECT_EQ(bench.clock.sleeps, (std::vector<int64_t>{50000, 10000, 50000, 10000}));
    }
    Requests sent;
    for (const auto& r : bench.gpio.ConfigRequests()) sent.emplace_back(r.nr, r.value);
    EXPECT_EQ(Requests(sent.end() - std::min<ptrdiff_t>(sent.size(), 5), sent.end()), kClosing);
    EXPECT_EQ(sent.size() == 5, result == -107);
    return sent;
}

void Nothing(Model&) {}

// The handshake up to the data phase, with the status read once.
const Requests kHandshake = {{7, 0}, {7, 0}, {8, 0}, {5, 0}, {6, 0}, {8, 1}, {5, 1}};

Requests Then(Requests first, const Requests& more) {
    first.insert(first.end(), more.begin(), more.end());
    return first;
}

// A load (see Load) and, where they tell it apart, all the requests it sends.
struct LoadRow {
    const char* behaviour;
    size_t size;
    int result;
    bool configured;
    size_t delivered;
    void (*arrange)(Model&);
    Requests sent{};
};

const LoadRow kLoads[] = {
    // Two chunks, each followed by a status read.
    {"ABitstreamOfWholeChunksIsSentChunkByChunkUntilAReadOfNothing", 2048, 0, true, kAll, Nothing,
     Then(kHandshake, Then({{5, 1}, {5, 1}, {6, 1}}, kClosing))},
    {"AStatusStill0AfterSixReadsIsMinus103", 100, -103, false, 0,
     [](Model& m) { m.ScriptStatus(Bytes(7, 0)); },
     Then(Requests(kHandshake.begin(), kHandshake.end() - 1), Then(Requests(6, {5, 0}), kClosing))},
    {"DoneStill0AfterSixReadsFollowingTheLastChunkIsMinus104", 2500, -104, false, kAll,
     [](Model& m) { m.ScriptDone(Bytes(7, 0)); },
     Then(kHandshake, Then(Requests(3, {5, 1}), Then(Requests(6, {6, 0}), kClosing)))},
    {"ADeviceThatTakesPartOfAChunkGetsTheRest", 2500, 0, true, kAll,
     [](Model& m) { m.LimitWrite(700); }},
    {"AnInterruptedWriteIsRepeated", 2500, 0, true, kAll,
     [](Model& m) { m.FailWrite(2, -1, EINTR); }},
    {"TheFirstResetOfOutput7AndTheClosingRequestsMayFail", 100, 0, true, kAll,
     [](Model& m) { m.FailRequest(7, 1), m.FailRequest(9, 1); }},
    {"AFailedRequest20IsTheResultOfAGoodLoad", 100, -1, true, kAll,
     [](Model& m) { m.FailRequest(20, 1); }},
    {"AStatusRightAfterOutput8WentLowIsMinus101", 2500, -101, false, 0,
     [](Model& m) { m.ScriptStatus({1}); }},
    {"DoneBeforeAnyDataIsMinus102", 2500, -102, false, 0, [](Model& m) { m.ScriptDone({1}); }},
    {"AWriteThatTakesNothingIsMinus105", 2500, -105, false, 1024,
     [](Model& m) { m.FailWrite(2, 0, 0); }},
    {"AStatusThatDropsAfterAChunkIsMinus106", 2500, -106, false, 2048,
     [](Model& m) { m.ScriptStatus({0, 1, 1, 0}); }},
    {"NoTransferBufferIsMinus107WithOnlyTheClosingSequence", 100, -107, false, 0,
     [](Model&) { failNextBuffer = true; }},
    // A failed handshake request is the result.
    {"AFailedSecondResetOfOutput7IsTheResult", 2500, -1, false, 0,
     [](Model& m) { m.FailRequest(7, 2); }},
};

class FpgaLoad : public testing::TestWithParam<LoadRow> {};
void PrintTo(const LoadRow& row, std::ostream* os) { *os << row.behaviour; }

TEST_P(FpgaLoad, EndsAsItShould) {
    const LoadRow& row = GetParam();
    const Requests sent = Load(row.size, row.result, row.configured, row.delivered, row.arrange);
    if (!row.sent.empty()) {
        EXPECT_EQ(sent, row.sent);
    }
}

INSTANTIATE_TEST_SUITE_P(FpgaLoader, FpgaLoad, testing::ValuesIn(kLoads),
                         [](const auto& row) { return std::string(row.param.behaviour); });

// Where the file name comes from when none is given. This process never set
// wxWidgets up: no default configuration can be made.
TEST(FpgaLoader, WithoutAConfigurationTheBuiltInFileIsTried) {
    REQUIRE_MOCK_ENVIRONMENT();
    LoaderBench bench;
    ASSERT_EQ(wxConfigBase::Set(nullptr), nullptr);
    EXPECT_EQ(bench.Configure(nullptr), -1);
    EXPECT_EQ(bench.err, "*****FPGA: Can't open RBF file /usr/share/skarvik/data/fpga_s2.rbf\n");
    EXPECT_TRUE(bench.gpio.ConfigRequests().empty());
}

TEST(FpgaLoader, TheConfiguredFileIsLoadedWhenNoneIsGiven) {
    REQUIRE_MOCK_ENVIRONMENT();
    LoaderBench bench;
    wxStringInputStream text{"[FPGA]\nrbfFilePath=" + WriteBitstream(bench.dir, "c.rbf", 1100)};
    wxFileConfig config{text};
    EXPECT_EQ(wxConfigBase::Set(&config), nullptr);
    EXPECT_EQ(bench.Configure(nullptr), 0);
    wxConfigBase::Set(nullptr);
    EXPECT_EQ(bench.err, "FPGA configuration success!\n");
}

TEST(FpgaLoader, AMissingDeviceIsMinus1AndSaysWhich) {
    REQUIRE_MOCK_ENVIRONMENT();
    LoaderBench bench;
    EXPECT_EQ(Printed([&] { EXPECT_EQ(bench.fpga.Configure("/dev/none", "/x.rbf"), -1); }),
              "FPGA: Use RBF file: /x.rbf\n***** FPGA::Configure: Open /dev/none failed!\n");
}

// A configuration node in this process that reports done at once and looks,
// at each bitstream write, at whether the file being loaded is close-on-exec.
struct InspectingConfigNode final : DeviceDriver {
    int Open(const char*, int flags) override {
        openFlags = flags;
        return 9;
    }
    int Close(int fd) override {
        closed = fd;
        return 0;
    }
    int Ioctl(int, unsigned long request, void* arg) override {
        if (request == 0x80046B05 || request == 0x80046B06) *static_cast<uint8_t*>(arg) = levels;
        if (request == 0x40046B08) levels = *static_cast<uint8_t*>(arg);  // status, done follow 8
        return 0;
    }
    ssize_t Write(int, const void*, size_t length) override {
        for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
            std::error_code error;
            if (fs::read_symlink(entry.path(), error) != rbf) continue;
            const int fd = std::stoi(entry.path().filename());
            rbfCloseOnExec = (fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0;
        }
        return static_cast<ssize_t>(length);
    }
    std::string rbf;
    int openFlags = 0, closed = -1;
    uint8_t levels = 0;
    std::optional<bool> rbfCloseOnExec;
};

// A program that starts children does not hand them the node or the file.
// The given path is used as the bytes it is, whatever the locale can convert:
// here a Latin-1 byte under the "C" locale.
TEST(FpgaLoaderInProcess, NodeAndBitstreamAreCloseOnExecAndANonAsciiPathIsUsedAsGiven) {
    ScratchDir dir;
    InspectingConfigNode node;
    node.rbf = WriteBitstream(dir, "caf\xe9.rbf", 10);
    FakeClock clock;
    FPGA fpga;
    fpga.SetDriver(node);
    fpga.SetClock(clock);
    EXPECT_EQ(Printed([&] { EXPECT_EQ(fpga.Configure("/dev/fpga_config.0", node.rbf.c_str()), 0); }),
              "FPGA: Use RBF file: " + node.rbf + "\nFPGA configuration success!\n");
    EXPECT_EQ(node.openFlags, O_RDWR | O_CLOEXEC);
    EXPECT_EQ(node.rbfCloseOnExec, true);
    EXPECT_EQ(node.closed, 9);
}

}  // namespace
