// The FPGA's two start-up paths through the library, timed from inside the
// process: the bitstream load (FPGA::Configure) and the register operations.
// peer_fpga.c makes the same requests in plain C; bench/run prints both.
//
//   fpga_bench load FILE RUNS   RUNS loads of FILE; medians of wall time, CPU
//                               time, the sleeps asked for and allocations
//   fpga_bench regs OPS RUNS    OPS of each register operation, RUNS times;
//                               medians per operation
//
// Results on stdout, one line each; the library's own messages go to stderr.
// Built twice: against the real (or emulated) nodes, and with the nodes
// answered in-process (FPGA_BENCH_INPROC, inproc_bus.h), whose own
// allocations are not counted.
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <vector>

#include "clock.h"
#include "fpga.h"
#include "fpga_reg.h"
#ifdef FPGA_BENCH_INPROC
#include "inproc_bus.h"
#endif

// GCC cannot see that the replaced new and delete below pair malloc with free.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {

std::atomic<long> allocations{0};

void* Allocate(size_t size) {
#ifdef FPGA_BENCH_INPROC
    if (!inproc::answering) allocations.fetch_add(1, std::memory_order_relaxed);
#else
    allocations.fetch_add(1, std::memory_order_relaxed);
#endif
    return std::malloc(size == 0 ? 1 : size);
}

}  // namespace

void* operator new(size_t size) {
    if (void* p = Allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size) {
    if (void* p = Allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new(size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace {

int64_t Ns(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// The real clock, with the time the sleeps ask for added up: the floor of a
// load.
struct SummingClock final : Clock {
    timespec Now() override { return Clock::System().Now(); }
    void SleepUntil(const timespec& deadline) override {
        const timespec now = Now();
        askedNs += std::max<int64_t>(0, (static_cast<int64_t>(deadline.tv_sec) - now.tv_sec) * 1000000000 +
                                            (deadline.tv_nsec - now.tv_nsec));
        Clock::System().SleepUntil(deadline);
    }
    void Sleep(int64_t nanoseconds) override {
        askedNs += nanoseconds;
        Clock::System().Sleep(nanoseconds);
    }
    int64_t askedNs = 0;
};

template <typename T>
T Median(std::vector<T> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Sample {
    int64_t wallNs, cpuNs;
    long allocations;
};

Sample Measure(const std::function<void()>& body) {
    const long a0 = allocations.load();
    const int64_t c0 = Ns(CLOCK_PROCESS_CPUTIME_ID), w0 = Ns(CLOCK_MONOTONIC);
    body();
    const int64_t w1 = Ns(CLOCK_MONOTONIC), c1 = Ns(CLOCK_PROCESS_CPUTIME_ID);
    return {w1 - w0, c1 - c0, allocations.load() - a0};
}

int Load(const char* file, int runs) {
    std::vector<int64_t> wall, cpu, asked;
    std::vector<long> allocs;
    int result = 0;
    for (int run = 0; run < runs; ++run) {
        SummingClock clock;
        FPGA loader;
        loader.SetClock(clock);
        const Sample s = Measure([&] { result = loader.Configure(kFpgaConfigDevice, file); });
        wall.push_back(s.wallNs), cpu.push_back(s.cpuNs), allocs.push_back(s.allocations);
        asked.push_back(clock.askedNs);
    }
    // wall, CPU and sleeps asked for in microseconds; allocations per load.
    printf("load %.1f %.1f %.1f %ld %d\n", Median(wall) / 1e3, Median(cpu) / 1e3,
           Median(asked) / 1e3, Median(allocs), result);
    return result == 0 ? 0 : 1;
}

// `operation` OPS times, RUNS times over: operations per second, CPU ns per
// operation and allocations per operation (medians).
// FPGA_BENCH_ONLY=NAME runs only that operation (for instruction counts).
template <typename F>
void Operations(const char* name, long ops, int runs, F operation) {
    const char* only = getenv("FPGA_BENCH_ONLY");
    if (only != nullptr && strcmp(only, name) != 0) return;
    std::vector<int64_t> wall, cpu;
    std::vector<long> allocs;
    for (int run = 0; run < runs; ++run) {
        const Sample s = Measure([&] {
            for (long i = 0; i < ops; ++i) operation(i);
        });
        wall.push_back(s.wallNs), cpu.push_back(s.cpuNs), allocs.push_back(s.allocations);
    }
    printf("%s %.0f %.1f %.3f\n", name, ops * 1e9 / static_cast<double>(Median(wall)),
           static_cast<double>(Median(cpu)) / static_cast<double>(ops),
           static_cast<double>(Median(allocs)) / static_cast<double>(ops));
}

int Registers(long ops, int runs) {
    FPGAReg reg(kFpgaRegisterPath, "/nonexistent/bitstream.rbf");
    if (!reg.IsOpen()) return 1;
    uint8_t value = 0, in = 0, out = 0;
    Operations("WriteReg", ops, runs, [&](long i) { reg.WriteReg(5, static_cast<uint8_t>(i)); });
    Operations("ReadReg", ops, runs, [&](long) { reg.ReadReg(5, &value); });
    Operations("SetReg28Bit0", ops, runs, [&](long i) { reg.SetReg28Bit0(i & 1); });
    Operations("ScanKeyboard", ops, runs, [&](long) { reg.ScanKeyboard(&in, &out); });
    // What a register operation pays for its lock.
    Operations("lock", ops, runs, [&](long) { wxMutexLocker lock(reg.Mutex()); });
    // What the last scan found, to compare with the C program's.
    printf("keys %u %u\n", in, out);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && strcmp(argv[1], "load") == 0) return Load(argv[2], atoi(argv[3]));
    if (argc == 4 && strcmp(argv[1], "regs") == 0) return Registers(atol(argv[2]), atoi(argv[3]));
    fprintf(stderr, "usage: fpga_bench load FILE RUNS | regs OPS RUNS\n");
    return 2;
}
