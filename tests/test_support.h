// Shared pieces of the tests: captured standard streams, the emulated nodes
// with a link on them, a clock that walks through deadlines without waiting,
// a scratch directory and a runner for the built programs.
//
// A cross build runs its tests under the emulator named at configure time
// (CMAKE_CROSSCOMPILING_EMULATOR, passed in as SKARVIK_TEST_EMULATOR; empty
// in a native build). The kernel cannot start the target's programs by
// itself, so the programs of this build that a test starts go through that
// emulator too: the program itself (argv[0]) and the command txsim runs (the
// word after "--"). Programs of the host, such as /bin/sh under txsim, start
// as they are.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "fake_clock.h"
#include "testbed.h"
#include "tx_spi.h"

using Bytes = std::vector<uint8_t>;

// Without a Bench: say plainly when the preload library is missing.
#define REQUIRE_MOCK_ENVIRONMENT() \
    ASSERT_TRUE(sim::Testbed::InMockEnvironment()) << "needs LD_PRELOAD=libumockdev-preload.so.0"

// Captures stdout and stderr from construction until Finish().
struct CapturedOutput {
    CapturedOutput() {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
    }
    ~CapturedOutput() { Finish(); }
    void Finish() {
        if (std::exchange(finished, true)) return;
        fflush(nullptr);
        out = testing::internal::GetCapturedStdout();
        err = testing::internal::GetCapturedStderr();
    }
    std::string out, err;
    bool finished = false;
};

using OutErr = std::pair<std::string, std::string>;  // standard output, standard error

// What `run` printed on each stream.
template <class Run>
OutErr PrintedStreams(Run&& run) {
    CapturedOutput output;
    run();
    output.Finish();
    return {output.out, output.err};
}

// The emulated nodes (each optional) and the one way to open a link on them,
// running on a FakeClock; board_link.h adds the link's first exchange.
struct Bench {
    explicit Bench(sim::BoardConfig config = {}, bool spidev = true, bool gpioNode = true)
        : board(std::move(config)) {
        EXPECT_TRUE(sim::Testbed::InMockEnvironment()) << "needs umockdev's preload library";
        EXPECT_TRUE(!spidev || testbed.AddSpidev(board)) << testbed.LastError();
        EXPECT_TRUE(!gpioNode || testbed.AddGpioDevice(gpio)) << testbed.LastError();
    }
    // Opens the link on first use (not while output is captured); `out` and
    // `err` then hold what its construction printed.
    TxSpi& Link() {
        if (link) return *link;
        CapturedOutput output;
        link = std::make_unique<TxSpi>(sim::kSpidevPath);
        output.Finish();
        out = output.out;
        err = output.err;
        link->SetClock(clock);
        return *link;
    }
    // The requests the board received, cut to their declared length when
    // only zeros follow.
    std::vector<Bytes> Requests() const {
        std::vector<Bytes> requests;
        for (const sim::BusRecord& record : board.Records()) {
            Bytes r = record.request;
            const auto end = r.begin() + std::min<size_t>(r.empty() ? 0 : r[3], r.size());
            if (std::all_of(end, r.end(), [](uint8_t b) { return b == 0; })) r.erase(end, r.end());
            requests.push_back(r);
        }
        return requests;
    }
    std::vector<uint32_t> TransferLengths() const {
        std::vector<uint32_t> lengths;
        for (const sim::BusRecord& r : board.Records()) lengths.push_back(r.transferLength);
        return lengths;
    }

    sim::TxBoardModel board;
    sim::GpioDeviceModel gpio;
    sim::Testbed testbed;
    FakeClock clock;
    std::string out, err;
    std::unique_ptr<TxSpi> link;
};

// For tests that change the process-wide protocol version: it is restored
// when the test ends.
class KeepsProtocolVersion : public testing::Test {
protected:
    ~KeepsProtocolVersion() override { activeProtocol = saved_; }

private:
    const ProtocolDescriptor* saved_ = activeProtocol;
};

// A frame as it goes over the bus: the header, its checksum written out, then
// the payload.
inline Bytes Frame(const FrameHeader& header, const Bytes& payload = {}) {
    Bytes frame(8 + payload.size());
    header.Write(frame);
    std::ranges::copy(payload, frame.begin() + 8);
    return frame;
}

// A fresh directory below $TMPDIR (or /tmp), removed with all it holds.
struct ScratchDir {
    ScratchDir() : path(std::filesystem::temp_directory_path() / "skarvik.XXXXXX") {
        EXPECT_NE(mkdtemp(path.data()), nullptr) << path;
    }
    ~ScratchDir() { std::error_code ec; std::filesystem::remove_all(path, ec); }
    std::string operator/(const std::string& name) const { return path + "/" + name; }
    std::string path;
};

// A fault of the sweep (TXSIM_FAIL_CALL, none for null) and its call log
// (TXSIM_CALL_LOG) in the environment while a testbed reads them; afterwards
// LD_PRELOAD, which the testbed extends, as it was.
struct SweepSetting {
    explicit SweepSetting(const char* fault, const std::string& log = "") {
        if (fault != nullptr) setenv("TXSIM_FAIL_CALL", fault, 1);
        if (!log.empty()) setenv("TXSIM_CALL_LOG", log.c_str(), 1);
    }
    ~SweepSetting() {
        unsetenv("TXSIM_FAIL_CALL");
        unsetenv("TXSIM_CALL_LOG");
        saved.empty() ? unsetenv("LD_PRELOAD") : setenv("LD_PRELOAD", saved.c_str(), 1);
    }
    const std::string saved = std::getenv("LD_PRELOAD") ? std::getenv("LD_PRELOAD") : "";
};

struct ProgramRun {
    int status = -1;  // exit status, 128 + N when killed by signal N
    std::string out, err;
};

// Standard descriptors that RunProgram leaves closed (`true` closes the input).
enum ClosedStreams : unsigned { kInputClosed = 1, kOutputClosed = 2, kErrorClosed = 4 };

// Runs `argv` (a program of this build) with `input` on its standard input
// and collects its status and output; `closed` names the standard descriptors
// it starts without, `stdoutPath` a file that takes its standard output
// instead, `setEnv` NAME=VALUE settings of its environment. `whileRunning` gets
// the process id. A board that never becomes ready costs seconds, not the
// whole test timeout.
inline ProgramRun RunProgram(std::vector<std::string> argv, const std::string& input = "",
                             unsigned closed = 0, void (*whileRunning)(pid_t) = nullptr,
                             const char* stdoutPath = nullptr,
                             const std::vector<std::string>& setEnv = {}) {
    std::istringstream words(SKARVIK_TEST_EMULATOR);
    const std::vector<std::string> emulator{std::istream_iterator<std::string>(words), {}};
    const auto at = std::ranges::find(argv, "--") - argv.begin() + 1;  // txsim's command
    if (at < std::ssize(argv) && (argv[at] == TXBOOTLOAD_PATH || argv[at] == TXDIAG_PATH))
        argv.insert(argv.begin() + at, emulator.begin(), emulator.end());
    argv.insert(argv.begin(), emulator.begin(), emulator.end());  // argv[0]: always one of ours
    ScratchDir dir;
    const std::string in = dir / "in", out = dir / "out", err = dir / "err";
    std::ofstream(in) << input;
    std::vector<char*> args(argv.size() + 1);  // ends with a null pointer
    std::ranges::transform(argv, args.begin(), [](std::string& a) { return a.data(); });
    const pid_t pid = fork();
    if (pid == 0) {
        const int fds[3] = {open(in.c_str(), O_RDONLY),
                            open(stdoutPath ? stdoutPath : out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600),
                            open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600)};
        for (int i = 0; i < 3; ++i) dup2(fds[i], i);
        for (int i = 0; i < 3; ++i) close(fds[i]);
        for (int i = 0; i < 3; ++i) {
            if (closed & (1u << i)) close(i);
        }
        for (const std::string& setting : setEnv) putenv(const_cast<char*>(setting.c_str()));
        alarm(15);  // still running after 15 s: the test fails with status 142
        execvp(args[0], args.data());
        _exit(127);
    }
    if (whileRunning != nullptr) whileRunning(pid);
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), sim::ReadFile(out),
            sim::ReadFile(err)};
}
