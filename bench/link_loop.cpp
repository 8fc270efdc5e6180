// Drives one link through a long run of mixed exchanges, for the pause
// measurements of txbench: the board model records when each transfer
// arrived and when it was let go.
//
//   link_loop EXCHANGES [--timerslack NS]
//
// The identity is read first, so the board's software number decides the
// timing. Then queries and commands follow in a fixed pseudo-random order
// until at least EXCHANGES exchanges have been made.
//
// Built as link_loop_inproc (with inproc_board.cpp) the board answers
// in-process and the program prints its own row of pause figures, free of
// any emulation cost.
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tx_spi.h"

#ifdef LINK_LOOP_INPROC
#include "inproc_bus.h"
#include "pause_stats.h"

namespace {

int64_t CpuNs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (static_cast<int64_t>(usage.ru_utime.tv_sec) + usage.ru_stime.tv_sec) * 1000000000 +
           (static_cast<int64_t>(usage.ru_utime.tv_usec) + usage.ru_stime.tv_usec) * 1000;
}

// One row in txbench's loop format.
void PrintRow(FILE* out, const char* label, bool fast, int64_t wallNs, int64_t cpuNs) {
    const auto records = inproc::Board().Records();
    if (records.size() < 4) return;
    const benchstats::PauseStats stats = benchstats::Analyse(records, fast);
    const double n = static_cast<double>(records.size());
    fprintf(out, "%-22s %6zu %5ld %8.3f %8.3f %8.3f %8s %9.1f %6.2f\n", label, records.size(),
           stats.early, benchstats::Percentile(stats.lateness, 0.5) / 1e6,
           benchstats::Percentile(stats.lateness, 0.99) / 1e6,
           static_cast<double>(*std::max_element(stats.lateness.begin(), stats.lateness.end())) / 1e6,
           "-", static_cast<double>(cpuNs) / 1e3 / n,
           100.0 * static_cast<double>(cpuNs) / static_cast<double>(wallNs));
}

}  // namespace
#endif

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: link_loop EXCHANGES [--timerslack NS [LABEL]]\n");
        return 2;
    }
    const long wanted = atol(argv[1]);
    if (argc > 3 && strcmp(argv[2], "--timerslack") == 0) {
        if (prctl(PR_SET_TIMERSLACK, strtoul(argv[3], nullptr, 10), 0, 0, 0) != 0) {
            perror("prctl");
            return 1;
        }
    }

#ifdef LINK_LOOP_INPROC
    const char* label = argc > 4 ? argv[4] : "in-process";
    // The link's messages would mix with the row.
    FILE* row = fdopen(dup(1), "w");
    if (row == nullptr || freopen("/dev/null", "w", stdout) == nullptr ||
        freopen("/dev/null", "w", stderr) == nullptr) {
        return 1;
    }
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
#endif
    TxSpi link("/dev/spidev0.1");
    std::array<uint8_t, kTransmitterInfoSize> info{};
    link.GetInfo(info);
    long exchanges = 2;

    uint32_t seed = 12345;
    uint32_t first = 0;
    uint32_t second = 0;
    while (exchanges < wanted) {
        seed = seed * 1103515245u + 12345u;
        const uint32_t pick = (seed >> 16) % 100;
        if (pick < 45) {
            link.RequestReady();  // M_REQ_READY, M_NULL
            exchanges += 2;
        } else if (pick < 65) {
            link.RequestFaults();  // M_REQ_FAULTS, M_NULL
            exchanges += 2;
        } else if (pick < 90) {
            link.SetPolarity(1, pick);  // M_SETPOLARITY
            exchanges += 1;
        } else {
            link.RequestLimit(pick, 7, first, second);  // M_REQ_LIMIT, M_NULL
            exchanges += 2;
        }
    }
#ifdef LINK_LOOP_INPROC
    timespec end{};
    clock_gettime(CLOCK_MONOTONIC, &end);
    PrintRow(row, label, link.FastTiming(), benchstats::Ns(end) - benchstats::Ns(start), CpuNs());
    fclose(row);
#else
    printf("exchanges %ld\n", exchanges);
#endif
    return 0;
}
