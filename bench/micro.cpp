// Micro-benchmarks of the link: frame building and checksum, the checks of a
// received frame, the pause look-up, the status and fault texts, and whole
// exchanges answered in-process
// (inproc_bus.h), so that what is measured is the link's own work. Each
// exchange benchmark also counts the heap allocations the link makes.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>

#include "frame_io.h"
#include "inproc_bus.h"
#include "protocol.h"
#include "tx_spi.h"

// GCC cannot see that the replaced new and delete below pair malloc with free.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

// --- allocation counting: every operator new of the program, less what the
// in-process models allocate while they answer.
namespace {
std::atomic<long> allocations{0};
}  // namespace

void* operator new(size_t size) {
    if (!inproc::answering) allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace {

// Time goes on, but no pause or poll is slept through: the cost of an
// exchange without its waits.
class NoSleepClock final : public Clock {
public:
    timespec Now() override { return Clock::System().Now(); }
    void SleepUntil(const timespec&) override {}
    void Sleep(int64_t) override {}
};

NoSleepClock noSleep;

// Runs `body` with stdout and stderr sent to /dev/null: the link's messages
// would mix with the benchmark table.
template <typename F>
void Quietly(F body) {
    fflush(nullptr);
    const int out = dup(1);
    const int err = dup(2);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    body();
    fflush(nullptr);
    dup2(out, 1);
    dup2(err, 2);
    close(out);
    close(err);
    close(null);
}

// A link on the in-process board, identity read: legacy timing for a board
// software number of 994, fast for 1020.
std::unique_ptr<TxSpi> MakeLink(const char* softwareNumber) {
    sim::BoardConfig config;
    config.identity.softwareNumber = softwareNumber;
    config.keepRecords = false;
    inproc::Enable(config);
    std::unique_ptr<TxSpi> link;
    Quietly([&] {
        link = std::make_unique<TxSpi>("/dev/spidev0.1");
        link->SetClock(noSleep);
        std::array<uint8_t, kTransmitterInfoSize> info{};
        link->GetInfo(info);
    });
    return link;
}

void BM_FrameChecksum(benchmark::State& state) {
    std::array<uint8_t, 256> frame{};
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i * 7);
    const size_t length = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(frame.data());
        benchmark::DoNotOptimize(frameChecksum(frame, length));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * length));
}
BENCHMARK(BM_FrameChecksum)->Arg(8)->Arg(88)->Arg(200);

// The request header as the exchange writes it, with its checksum.
void BM_BuildRequest(benchmark::State& state) {
    std::array<uint8_t, 256> buffer{};
    std::span<uint8_t> tx(buffer);
    uint8_t cid = 0;
    for (auto _ : state) {
        WriteU8(tx, 0, M_REQ_INFO);
        WriteU8(tx, 1, ++cid);
        WriteU8(tx, 2, 5);
        WriteU8(tx, 3, 8);
        WriteU8(tx, 4, 3);
        WriteU16LE(tx, 6, 0);
        WriteU16LE(tx, 6, frameChecksum(tx, 8));
        benchmark::DoNotOptimize(buffer.data());
    }
}
BENCHMARK(BM_BuildRequest);

// The checks made on a received identity frame: type, length, checksum,
// expected type and echoed id.
void BM_ReceiveChecks(benchmark::State& state) {
    std::array<uint8_t, 256> buffer{};
    std::span<uint8_t> rx(buffer);
    FrameHeader header;
    header.type = M_GET_INFO;
    header.frameId = 2;
    header.version = 5;
    header.length = 88;
    header.ackId = 1;
    header.Write(rx);
    WriteU16LE(rx, 6, frameChecksum(rx, 88));
    const uint32_t expectedType = M_GET_INFO;
    const uint32_t expectedCid = 1;
    const size_t receiveLength = 88;
    for (auto _ : state) {
        benchmark::DoNotOptimize(buffer.data());
        const FrameHeader reply = FrameHeader::Read(rx);
        int flags = 0;
        bool odd = !IsReplyType(reply.type);
        odd |= reply.length != ReplyLength(reply.type);
        odd |= reply.length > receiveLength;
        if (frameChecksum(rx, reply.length) != reply.checksum) flags |= CHECKSUM_BAD;
        if (expectedType != reply.type) flags |= MESSAGE_TYPE_ERROR;
        if (expectedCid != reply.ackId) flags |= MISSING_ACK;
        benchmark::DoNotOptimize(flags);
        benchmark::DoNotOptimize(odd);
    }
}
BENCHMARK(BM_ReceiveChecks);

void BM_MinDelayNs(benchmark::State& state) {
    static std::unique_ptr<TxSpi> legacy = MakeLink("994");
    static std::unique_ptr<TxSpi> fast = MakeLink("1020");
    TxSpi& link = state.range(0) ? *fast : *legacy;
    uint32_t type = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(link.MinDelayNs(type));
        type = (type + 1) % 48;  // every catalogue entry and a few beyond
    }
    state.SetLabel(state.range(0) ? "fast" : "legacy");
}
BENCHMARK(BM_MinDelayNs)->Arg(0)->Arg(1);

// One query (request and M_NULL) per iteration, pauses skipped, the board
// answering in-process. Reported per exchange, with allocations.
void BM_Exchange(benchmark::State& state) {
    std::unique_ptr<TxSpi> link = MakeLink(state.range(0) ? "1020" : "994");
    long exchanges = 0;
    const long before = allocations.load();
    for (auto _ : state) {
        benchmark::DoNotOptimize(link->RequestFaults());
        exchanges += 2;
    }
    const long allocated = allocations.load() - before;
    state.counters["exchanges"] = benchmark::Counter(static_cast<double>(exchanges),
                                                     benchmark::Counter::kIsRate |
                                                         benchmark::Counter::kInvert);
    state.counters["allocs/exchange"] =
        static_cast<double>(allocated) / static_cast<double>(exchanges);
    state.SetLabel(state.range(0) ? "fast" : "legacy");
}
BENCHMARK(BM_Exchange)->Arg(0)->Arg(1);

// The status text of a fault word: the number and the text of every bit set,
// built as a wxString (none, one, and many bits).
void BM_TxStatusText(benchmark::State& state) {
    static std::unique_ptr<TxSpi> link = MakeLink("1020");  // version 5 in force
    const uint32_t word = static_cast<uint32_t>(state.range(0));
    for (auto _ : state) benchmark::DoNotOptimize(TxSpi::TxStatusText(word));
}
BENCHMARK(BM_TxStatusText)->Arg(0)->Arg(0x10000000)->Arg(0x0400FF03);

// The fault line of a fault word, printed (to /dev/null here).
void BM_PrintFault(benchmark::State& state) {
    static std::unique_ptr<TxSpi> link = MakeLink("1020");
    const uint32_t word = static_cast<uint32_t>(state.range(0));
    fflush(stderr);
    const int err = dup(2);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    for (auto _ : state) link->PrintFault(word);
    fflush(stderr);
    dup2(err, 2);
    close(err);
    close(null);
}
BENCHMARK(BM_PrintFault)->Arg(0x00000002)->Arg(0x80000000);

// The status record's tab-separated trace line, printed (to /dev/null here).
void BM_PrintStatusTraceLine(benchmark::State& state) {
    StatusTraceSample sample;
    for (size_t i = 0; i < sample.bytes.size(); ++i) sample.bytes[i] = static_cast<uint8_t>(i * 13);
    fflush(stdout);
    const int out = dup(1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    for (auto _ : state) PrintStatusTraceLine(sample);
    fflush(stdout);
    dup2(out, 1);
    close(out);
    close(null);
}
BENCHMARK(BM_PrintStatusTraceLine);

// The in-process answer alone (an 8-byte transfer through the stand-in
// driver), to be taken out of BM_Exchange.
void BM_InprocTransfer(benchmark::State& state) {
    sim::BoardConfig config;
    config.keepRecords = false;
    inproc::Enable(config);
    const int fd = open("/dev/spidev0.1", O_RDWR);
    std::array<uint8_t, 88> tx{9, 1, 5, 8, 0, 0, 23, 0};
    std::array<uint8_t, 88> rx{};
    for (auto _ : state) {
        spi_ioc_transfer t{};
        t.tx_buf = reinterpret_cast<uintptr_t>(tx.data());
        t.rx_buf = reinterpret_cast<uintptr_t>(rx.data());
        t.len = 8;
        benchmark::DoNotOptimize(ioctl(fd, SPI_IOC_MESSAGE(1), &t));
    }
    close(fd);
}
BENCHMARK(BM_InprocTransfer);

}  // namespace

BENCHMARK_MAIN();
