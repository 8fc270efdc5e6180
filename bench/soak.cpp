// Long runs of the link, the bitstream loader and the register layer, with
// resident memory, open descriptors and heap in use sampled after every tenth
// of the run. Time is a virtual clock: every pause is accounted for, none is
// slept, and a transfer that comes before its pause has passed is counted.
//
//   soak_inproc link-legacy|link-fast COUNT   the board answers in-process
//   soak link-emulated COUNT                  the board behind the emulated
//                                             nodes (umockdev, in-process)
//   soak loads COUNT                          bitstream loads
//   soak registers COUNT                      register operations
//
// Prints one row; exit status 0 when the run was flat (descriptors equal,
// heap within 4 KiB, resident memory within 256 KiB from the first tenth to
// the end), had no early pause and no error; 1 otherwise; 2 for a bad
// command line.
#include <dirent.h>
#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <malloc.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "clock.h"
#include "device_driver.h"
#include "device_paths.h"
#include "monotonic_time.h"
#include "pause_stats.h"
#include "tx_spi.h"

#ifdef SOAK_INPROC
#include "inproc_bus.h"
#else
#include <wx/init.h>

#include <map>

#include "fpga.h"
#include "fpga_reg.h"
#include "fpga_reg_model.h"
#include "gpio_model.h"
#include "testbed.h"
#endif

namespace {

constexpr int kSamples = 10;
constexpr long kHeapSlack = 4096;
constexpr long kRssSlackKiB = 256;

struct Sample {
    long rssKiB = 0;
    int fds = 0;
    long heap = 0;
};

Sample Measure() {
    Sample s;
    long pages = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%*d %ld", &pages) != 1) pages = 0;
        std::fclose(statm);
    }
    s.rssKiB = pages * (sysconf(_SC_PAGESIZE) / 1024);
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (const dirent* entry = readdir(dir)) s.fds += entry->d_name[0] != '.';
        closedir(dir);
    }
    // Chunks in the arenas and the large ones mapped on their own.
    const struct mallinfo2 heap = mallinfo2();
    s.heap = static_cast<long>(heap.uordblks + heap.hblkhd);
    return s;
}

// Monotonic time that moves only when it is read or slept on.
struct VirtualClock final : Clock {
    timespec Now() override {
        AddNanoseconds(now, 1000);
        return now;
    }
    void SleepUntil(const timespec& deadline) override {
        if (!TimeReached(now, deadline)) now = deadline;
    }
    void Sleep(int64_t ns) override { AddNanoseconds(now, ns); }
    timespec now{1000, 0};
};

// Passes the link's requests on (to the system calls, which the in-process
// bus or the emulation answers) and counts the transfers that start before
// the pause of the request before them has passed.
struct PauseCheck final : DeviceDriver {
    explicit PauseCheck(VirtualClock& clock) : time(clock) {}
    int Ioctl(int fd, unsigned long request, void* arg) override {
        if (request != SPI_IOC_MESSAGE(1)) return DeviceDriver::Ioctl(fd, request, arg);
        const auto* t = static_cast<const spi_ioc_transfer*>(arg);
        const int64_t start = benchstats::Ns(time.now);
        // The first transfers run before the identity has chosen the timing.
        if (++transfers > 3 && start - lastEnd < benchstats::PauseNs(lastType, fast)) ++early;
        const int result = DeviceDriver::Ioctl(fd, request, arg);
        lastType = t->len > 0 ? reinterpret_cast<const uint8_t*>(t->tx_buf)[0] : 0;
        lastEnd = benchstats::Ns(time.now);
        return result;
    }
    VirtualClock& time;
    bool fast = false;
    long transfers = 0;
    long early = 0;
    uint8_t lastType = 0;
    int64_t lastEnd = 0;
};

struct Result {
    long count = 0;
    long transfers = 0;  // what reached the device, to compare with count
    long early = 0;
    long errors = 0;
    std::array<Sample, kSamples + 1> samples{};  // [0] before, [i] after i tenths
};

// Runs `step` until `count` operations are done (it returns how many it
// did, and adds to errors), sampling after every tenth.
Result Drive(long count, const std::function<long(long&)>& step) {
    Result r;
    r.samples[0] = Measure();
    int next = 1;
    while (r.count < count) {
        r.count += step(r.errors);
        while (next <= kSamples && r.count * kSamples >= count * next) r.samples[next++] = Measure();
    }
    return r;
}

// The mix of link_loop: ready and fault queries, polarity commands, limits.
Result RunLink(long count, bool fast) {
    VirtualClock clock;
    PauseCheck check(clock);
    TxSpi link(kSpidevPath, check);
    link.SetClock(clock);
    std::array<uint8_t, kTransmitterInfoSize> info{};
    link.GetInfo(info);
    check.fast = link.FastTiming();
    long errors = (link.FastTiming() != fast) ? 1 : 0;

    // Whatever the link prints from now on reports a failure.
    std::fflush(stdout);
    std::fflush(stderr);
    char quiet[] = "/tmp/soak-output.XXXXXX";
    const int sink = mkstemp(quiet);
    unlink(quiet);
    const int out = dup(1);
    const int err = dup(2);
    dup2(sink, 1);
    dup2(sink, 2);

    uint32_t seed = 12345;
    Result r = Drive(count, [&](long& failed) -> long {
        seed = seed * 1103515245u + 12345u;
        const uint32_t pick = (seed >> 16) % 100;
        uint32_t first = 0;
        uint32_t second = 0;
        if (pick < 40) return failed += !link.RequestReady(), 2;
        if (pick < 55) return failed += link.RequestLimit(pick, 7, first, second) != 0, 2;
        if (pick < 70) return failed += link.RequestValue(1 + pick % 19, first, second) != 0, 2;
        if (pick < 90) return failed += link.SetPolarity(1, pick) != 0, 1;
        return failed += link.PollReply() != 0, 1;
    });
    r.errors += errors;

    std::fflush(stdout);
    std::fflush(stderr);
    const off_t printed = lseek(sink, 0, SEEK_END);
    dup2(out, 1);
    dup2(err, 2);
    close(out);
    close(err);
    close(sink);
    if (printed > 0) {
        std::fprintf(stderr, "soak: the link printed %ld bytes of diagnostics\n",
                     static_cast<long>(printed));
        r.errors += 1;
    }
    r.early = check.early;
    r.transfers = check.transfers;
    return r;
}

#ifndef SOAK_INPROC

// The configuration node and the register node answered by models in this
// process. Opens give descriptors of /dev/null, so that every descriptor the
// library holds is a real one and a leak shows in the count.
struct FpgaNodes final : DeviceDriver {
    int Open(const char* path, int flags) override {
        const int fd = ::open("/dev/null", flags);
        if (fd >= 0) nodes[fd] = std::strcmp(path, kGpioDevicePath) == 0;
        return fd;
    }
    int Close(int fd) override {
        nodes.erase(fd);
        return ::close(fd);
    }
    int Ioctl(int fd, unsigned long request, void* arg) override {
        int err = 0;
        long result = 0;
        if (nodes[fd]) {
            ++requests;
            result = config->Handle(request, static_cast<uint8_t*>(arg),
                                    sim::GpioDeviceModel::ArgLength(request), &err);
        } else if (request == SPI_IOC_MESSAGE(2)) {
            ++requests;
            const auto* t = static_cast<const spi_ioc_transfer*>(arg);
            result = registers.Message(*reinterpret_cast<const uint8_t*>(t[0].tx_buf),
                                       *reinterpret_cast<const uint8_t*>(t[1].tx_buf),
                                       reinterpret_cast<uint8_t*>(t[1].rx_buf), &err);
        } else {
            return 0;  // the register node's set-up requests
        }
        if (result < 0) errno = err;
        return static_cast<int>(result);
    }
    ssize_t Write(int fd, const void* bytes, size_t length) override {
        if (!nodes[fd]) return errno = EINVAL, -1;
        ++requests;
        int err = 0;
        const long result = config->Write(static_cast<const uint8_t*>(bytes), length, &err);
        if (result < 0) errno = err;
        return result;
    }
    std::map<int, bool> nodes;  // descriptor: the configuration node (else registers)
    std::optional<sim::GpioDeviceModel> config{std::in_place};
    sim::FpgaRegisterModel registers;
    long requests = 0;
};

Result RunLoads(long count) {
    char rbf[] = "/tmp/soak-rbf.XXXXXX";
    const int fd = mkstemp(rbf);
    const std::vector<uint8_t> bytes(3000, 0xA5);  // three chunks, the last one short
    const bool written = fd >= 0 && write(fd, bytes.data(), bytes.size()) == 3000;
    if (fd >= 0) close(fd);
    VirtualClock clock;
    FpgaNodes nodes;
    FPGA fpga;
    fpga.SetDriver(nodes);
    fpga.SetClock(clock);
    // The loader's lines on standard error, one or two per load, are expected.
    const int err = dup(2);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    close(null);
    Result r = Drive(count, [&](long& failed) -> long {
        nodes.config.emplace();  // a fresh FPGA for each load
        failed += !written || fpga.Configure(kGpioDevicePath, rbf) != 0 ||
                  nodes.config->Bitstream().size() != bytes.size();
        return 1;
    });
    dup2(err, 2);
    close(err);
    unlink(rbf);
    r.transfers = nodes.requests;
    return r;
}

Result RunRegisters(long count) {
    VirtualClock clock;
    FpgaNodes nodes;
    const int out = dup(1);
    const int err = dup(2);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    close(null);
    std::optional<FPGAReg> reg;
    reg.emplace(kFpgaRegisterPath, nullptr, clock, nodes);  // no bitstream file: no load
    dup2(out, 1);
    dup2(err, 2);
    close(out);
    close(err);

    uint32_t seed = 777;
    long sinceClear = 0;
    Result r = Drive(count, [&](long& failed) -> long {
        seed = seed * 1103515245u + 12345u;
        const uint8_t index = static_cast<uint8_t>((seed >> 16) % 30);  // not the self-test pair
        uint8_t value = 0;
        uint8_t in = 0;
        uint8_t outLines = 0;
        switch ((seed >> 24) % 4) {
        case 0: failed += reg->WriteReg(index, static_cast<uint8_t>(seed)) != 2; break;
        case 1: failed += reg->ReadReg(index, &value) != 2; break;
        case 2: failed += reg->SetAdcEnable(static_cast<int32_t>(seed & 0xFF)) != 2; break;
        default: failed += reg->ScanKeyboard(&in, &outLines) != 0; break;
        }
        // The model keeps every transfer for tests; keep its list short.
        if (++sinceClear == 10000) {
            nodes.registers.ClearTransfers();
            sinceClear = 0;
        }
        return 1;
    });
    r.transfers = nodes.requests;
    return r;
}

#endif  // !SOAK_INPROC

bool Flat(const Result& r) {
    const Sample& tenth = r.samples[1];
    const Sample& end = r.samples[kSamples];
    for (int i = 1; i <= kSamples; ++i) {
        const Sample& s = r.samples[i];
        if (s.fds != tenth.fds || s.heap - tenth.heap > kHeapSlack ||
            s.rssKiB - tenth.rssKiB > kRssSlackKiB) {
            return false;
        }
    }
    return end.fds == tenth.fds;
}

}  // namespace

int main(int argc, char** argv) {
    const char* usage =
        "usage: soak_inproc link-legacy|link-fast COUNT\n"
        "       soak link-emulated|loads|registers COUNT\n";
    if (argc != 3) {
        std::fputs(usage, stderr);
        return 2;
    }
    const std::string run = argv[1];
    char* end = nullptr;
    const long count = std::strtol(argv[2], &end, 10);
    if (*end != '\0' || count < kSamples) {
        std::fputs(usage, stderr);
        return 2;
    }

    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    Result r;
#ifdef SOAK_INPROC
    if (run != "link-legacy" && run != "link-fast") {
        std::fputs(usage, stderr);
        return 2;
    }
    sim::BoardConfig config;
    config.keepRecords = false;
    config.identity.softwareNumber = run == "link-fast" ? "1020" : "994";
    inproc::Enable(config);
    r = RunLink(count, run == "link-fast");
#else
    wxInitializer wx;
    if (run == "link-emulated") {
        if (!sim::Testbed::InMockEnvironment()) {
            std::fputs("soak: link-emulated needs LD_PRELOAD=libumockdev-preload.so.0\n", stderr);
            return 2;
        }
        sim::BoardConfig config;
        config.keepRecords = false;
        sim::TxBoardModel board(config);
        sim::GpioDeviceModel gpio;
        gpio.KeepRequests(false);
        sim::Testbed testbed;
        if (!testbed.AddSpidev(board) || !testbed.AddGpioDevice(gpio)) {
            std::fprintf(stderr, "soak: %s\n", testbed.LastError().c_str());
            return 2;
        }
        r = RunLink(count, true);
    } else if (run == "loads") {
        r = RunLoads(count);
    } else if (run == "registers") {
        r = RunRegisters(count);
    } else {
        std::fputs(usage, stderr);
        return 2;
    }
#endif
    timespec finish{};
    clock_gettime(CLOCK_MONOTONIC, &finish);
    const double seconds = static_cast<double>(benchstats::Ns(finish) - benchstats::Ns(start)) / 1e9;

    const Sample& tenth = r.samples[1];
    const Sample& last = r.samples[kSamples];
    const bool flat = Flat(r);
    // Every sample, for the record of a run that is not flat.
    std::fprintf(stderr, "soak: %s rss KiB / fds / heap bytes after each tenth:", run.c_str());
    for (int i = 1; i <= kSamples; ++i) {
        const Sample& s = r.samples[i];
        std::fprintf(stderr, " %ld/%d/%ld", s.rssKiB, s.fds, s.heap);
    }
    std::fputc('\n', stderr);
    std::printf("%-14s %9ld %9ld %7ld %7ld %4d %4d %9ld %9ld %6ld %6ld %8.1f  %s\n", run.c_str(),
                r.count, r.transfers, tenth.rssKiB, last.rssKiB, tenth.fds, last.fds, tenth.heap, last.heap,
                r.early, r.errors, seconds, flat && r.early == 0 && r.errors == 0 ? "ok" : "FAIL");
    return flat && r.early == 0 && r.errors == 0 ? 0 : 1;
}
