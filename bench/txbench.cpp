// txbench: runs programs against the emulated transmitter board and measures
// them against what the protocol allows.
//
//   txbench flow LABEL RUNS SOFTWARE_NUMBER ANSWER -- COMMAND...
//   txbench loop LABEL SOFTWARE_NUMBER -- COMMAND...
//   txbench plain LABEL RUNS FLOOR_MS -- COMMAND...
//
// Both first time single ioctls of each kind with bench/ioctl_probe (named by
// $TXBENCH_PROBE) against the same emulation, so that the emulation's own
// cost can be taken out of the figures of the same run.
//
// flow: RUNS runs of a boot-loader flow (exchanges, a 250 ms sleep after the
// second exchange and one after the last). ANSWER is written to the
// command's standard input ("-" for none). Prints one row of medians: wall
// time, the protocol floor derived from the catalogue and the bytes that
// went over the wire, the emulation's share, the overhead that remains, CPU
// time, peak resident memory and start-up time (start to first transfer).
//
// loop: one run of a long exchange loop (bench/link_loop). Prints the pause
// accuracy: transfers that started before the pause of the previous request
// had passed, and lateness (median, p99, max) over the required wait, with
// CPU time per exchange.
//
// plain: RUNS runs of a program that answers its own device requests
// (bench/inproc_board.cpp), without emulation: wall time against FLOOR_MS,
// CPU time and peak memory.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "gpio_model.h"
#include "pause_stats.h"
#include "protocol.h"
#include "testbed.h"
#include "tx_board_model.h"

extern char** environ;

namespace {

using benchstats::kReadyPollNs;
using benchstats::Ns;
using benchstats::PauseNs;
using benchstats::Percentile;

constexpr uint32_t kWireNsPerByte = 10000;       // 800 kHz
constexpr int64_t kToolSleepNs = 250000000;      // the flow's two sleeps
constexpr int kSleepAfterExchange = 2;           // the first identity read
constexpr const char* kPreload = "libumockdev-preload.so.0";

int64_t NowNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return Ns(t);
}

double Ms(int64_t ns) { return static_cast<double>(ns) / 1e6; }

struct Run {
    int64_t startNs = 0;
    int64_t wallNs = 0;
    int64_t cpuNs = 0;
    long maxRssKb = 0;
    int status = 0;
    std::vector<sim::BusRecord> records;
    sim::IoctlCounts ioctls;
};

// Per-ioctl cost of the emulation, from the probe.
struct EmulationCost {
    double setupNs = 0;
    double transferNs = 0;  // an 88-byte transfer, without wire time
    double gpioNs = 0;

    double Of(const sim::IoctlCounts& c) const {
        return setupNs * static_cast<double>(c.spiSetup) +
               transferNs * static_cast<double>(c.spiTransfers) +
               gpioNs * static_cast<double>(c.gpio);
    }
};

sim::IoctlCounts Minus(const sim::IoctlCounts& a, const sim::IoctlCounts& b) {
    return {a.spiTransfers - b.spiTransfers, a.spiSetup - b.spiSetup, a.gpio - b.gpio};
}

// Starts `command` with the environment `envp` and `answer` on its standard
// input; `output` receives its stdout when not null. Waits for it.
Run Spawn(char** command, char** envp, const std::string& answer, std::string* output) {
    int in[2];
    int out[2];
    if (pipe(in) != 0 || pipe(out) != 0) {
        perror("txbench: pipe");
        exit(125);
    }
    const int null = open("/dev/null", O_WRONLY);

    Run run;
    run.startNs = NowNs();
    const pid_t child = fork();
    if (child == 0) {
        dup2(in[0], 0);
        dup2(output != nullptr ? out[1] : null, 1);
        dup2(null, 2);
        close(in[0]);
        close(in[1]);
        close(out[0]);
        close(out[1]);
        close(null);
        execvpe(command[0], command, envp);
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(null);
    if (answer != "-") {
        ssize_t ignored = write(in[1], answer.data(), answer.size());
        (void)ignored;
    }
    close(in[1]);
    char buffer[4096];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0) {
        if (output != nullptr) output->append(buffer, static_cast<size_t>(n));
    }
    close(out[0]);

    rusage usage{};
    int status = 0;
    wait4(child, &status, 0, &usage);
    run.wallNs = NowNs() - run.startNs;
    run.cpuNs = (static_cast<int64_t>(usage.ru_utime.tv_sec) + usage.ru_stime.tv_sec) * 1000000000 +
                (static_cast<int64_t>(usage.ru_utime.tv_usec) + usage.ru_stime.tv_usec) * 1000;
    run.maxRssKb = usage.ru_maxrss;
    run.status = status;
    return run;
}

// Runs `command` with the emulated nodes of a fresh board; `output` receives
// what it printed on stdout when not null.
Run RunOnce(char** command, const sim::BoardConfig& config, const std::string& answer,
            std::string* output = nullptr) {
    sim::TxBoardModel board(config);
    sim::GpioDeviceModel gpio;
    gpio.SetLevel(0);
    sim::Testbed testbed;
    if (!testbed.AddSpidev(board) || !testbed.AddGpioDevice(gpio)) {
        fprintf(stderr, "txbench: %s\n", testbed.LastError().c_str());
        exit(125);
    }

    // The environment of the child: ours (which now names the testbed) with
    // the preload library in front.
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        if (strncmp(*e, "LD_PRELOAD=", 11) != 0) env.emplace_back(*e);
    }
    env.push_back(std::string("LD_PRELOAD=") + kPreload);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    const sim::IoctlCounts before = sim::Testbed::HandledIoctls();
    Run run = Spawn(command, envp.data(), answer, output);
    run.records = board.Records();
    run.ioctls = Minus(sim::Testbed::HandledIoctls(), before);
    return run;
}

EmulationCost ProbeEmulation() {
    const char* probe = getenv("TXBENCH_PROBE");
    if (probe == nullptr) {
        fprintf(stderr, "txbench: set TXBENCH_PROBE to the ioctl_probe program\n");
        exit(2);
    }
    std::string count = "400";
    char* command[] = {const_cast<char*>(probe), count.data(), nullptr};
    std::string output;
    sim::BoardConfig config;  // no wire time: the emulation alone
    const Run run = RunOnce(command, config, "-", &output);
    if (run.status != 0) {
        fprintf(stderr, "txbench: the ioctl probe failed\n");
        exit(1);
    }
    EmulationCost cost;
    char kind[32];
    int n;
    long long median;
    long long mean;
    const char* p = output.c_str();
    int used = 0;
    while (sscanf(p, "%31s %d %lld %lld%n", kind, &n, &median, &mean, &used) == 4) {
        p += used;
        if (strcmp(kind, "spi_setup") == 0) cost.setupNs = static_cast<double>(median);
        if (strcmp(kind, "spi_transfer") == 0) cost.transferNs = static_cast<double>(median);
        if (strcmp(kind, "gpio") == 0) cost.gpioNs = static_cast<double>(median);
    }
    printf("# emulation per ioctl (median of 400): setup %.3f ms, 88-byte transfer %.3f ms, "
           "gpio %.3f ms\n",
           cost.setupNs / 1e6, cost.transferNs / 1e6, cost.gpioNs / 1e6);
    return cost;
}

sim::BoardConfig Board(const char* softwareNumber) {
    sim::BoardConfig config;
    config.identity.softwareNumber = softwareNumber;
    config.wireNsPerByte = kWireNsPerByte;
    return config;
}

// What the protocol and the flow demand at the least: the wire time of every
// transfer, each pause (or the flow's sleep, when longer), the ready-line
// poll period before each fast-timing transfer, and the final sleep.
int64_t FlowFloorNs(const std::vector<sim::BusRecord>& records, bool fastBoard) {
    if (records.empty()) return 0;  // a program that never talks to the board
    int64_t total = kToolSleepNs;
    for (size_t i = 0; i < records.size(); ++i) {
        const int exchange = static_cast<int>(i) + 1;
        total += static_cast<int64_t>(records[i].transferLength) * kWireNsPerByte;
        if (i == 0) continue;
        // Timing is chosen by the first identity read (exchanges 1 and 2).
        const bool fastBefore = fastBoard && exchange - 1 > 2;
        const bool fastNow = fastBoard && exchange > 2;
        int64_t wait = PauseNs(records[i - 1].request.empty() ? 0 : records[i - 1].request[0],
                               fastBefore);
        if (exchange - 1 == kSleepAfterExchange) wait = std::max(wait, kToolSleepNs);
        if (fastNow) wait += kReadyPollNs;
        total += wait;
    }
    return total;
}

int Flow(const char* label, int runs, const char* softwareNumber, const std::string& answer,
         char** command) {
    const EmulationCost cost = ProbeEmulation();
    const bool fast = atoi(softwareNumber) > 994;
    std::vector<double> wall, floor, emulation, overhead, ratio, cpu, rss, startup;
    long early = 0;
    sim::IoctlCounts ioctls;
    int exchanges = 0;
    for (int r = 0; r < runs; ++r) {
        const Run run = RunOnce(command, Board(softwareNumber), answer);
        if (!WIFEXITED(run.status) || WEXITSTATUS(run.status) != 0) {
            fprintf(stderr, "txbench: %s: run %d failed (status %d, %zu exchanges)\n", label, r,
                    run.status, run.records.size());
            return 1;
        }
        const int64_t floorNs = FlowFloorNs(run.records, fast);
        const double emulationNs = cost.Of(run.ioctls);
        wall.push_back(Ms(run.wallNs));
        floor.push_back(Ms(floorNs));
        emulation.push_back(emulationNs / 1e6);
        overhead.push_back(Ms(run.wallNs - floorNs) - emulationNs / 1e6);
        ratio.push_back(floorNs == 0 ? 0.0
                                     : (static_cast<double>(run.wallNs) - emulationNs) /
                                           static_cast<double>(floorNs));
        cpu.push_back(Ms(run.cpuNs));
        rss.push_back(static_cast<double>(run.maxRssKb) / 1024.0);
        startup.push_back(run.records.empty() ? Ms(run.wallNs)
                                              : Ms(Ns(run.records.front().time) - run.startNs));
        for (size_t i = 1; i < run.records.size(); ++i) {
            const bool fastBefore = fast && i > 2;
            const int64_t gap = Ns(run.records[i].time) - Ns(run.records[i - 1].finished);
            if (gap < PauseNs(run.records[i - 1].request[0], fastBefore)) early++;
        }
        ioctls = run.ioctls;
        exchanges = static_cast<int>(run.records.size());
    }
    printf("%-22s %4d %3d %3ld/%ld/%-3ld %8.1f %8.1f %6.1f %7.1f %7.1f %6.3f %7.1f %7.1f %7.1f %5ld\n",
           label, runs, exchanges, ioctls.spiTransfers, ioctls.spiSetup, ioctls.gpio,
           Percentile(wall, 0.5), Percentile(floor, 0.5), Percentile(emulation, 0.5),
           Percentile(overhead, 0.5), Percentile(overhead, 0.0), Percentile(ratio, 0.5),
           Percentile(cpu, 0.5),
           Percentile(rss, 0.5), Percentile(startup, 0.5), early);
    return 0;
}

int Loop(const char* label, const char* softwareNumber, char** command) {
    const EmulationCost cost = ProbeEmulation();
    const bool fast = atoi(softwareNumber) > 994;
    const Run run = RunOnce(command, Board(softwareNumber), "-");
    if (!WIFEXITED(run.status) || WEXITSTATUS(run.status) != 0) {
        fprintf(stderr, "txbench: %s: the loop failed (status %d)\n", label, run.status);
        return 1;
    }
    const benchstats::PauseStats stats = benchstats::Analyse(run.records, fast);
    const std::vector<int64_t>& lateness = stats.lateness;
    const long early = stats.early;
    const double n = static_cast<double>(run.records.size());
    const double emulationPerExchangeMs = cost.Of(run.ioctls) / n / 1e6;
    printf("%-22s %6zu %5ld %8.3f %8.3f %8.3f %8.3f %9.1f %6.2f\n", label, run.records.size(),
           early, Ms(Percentile(lateness, 0.5)), Ms(Percentile(lateness, 0.99)),
           Ms(*std::max_element(lateness.begin(), lateness.end())), emulationPerExchangeMs,
           static_cast<double>(run.cpuNs) / 1e3 / n,
           100.0 * static_cast<double>(run.cpuNs) / static_cast<double>(run.wallNs));
    return 0;
}

// Runs of a program that serves its own devices (the in-process builds):
// wall time against a floor given by the caller, CPU time, peak memory.
int Plain(const char* label, int runs, double floorMs, char** command) {
    std::vector<double> wall, overhead, ratio, cpu, rss;
    for (int r = 0; r < runs; ++r) {
        const Run run = Spawn(command, environ, "-", nullptr);
        if (!WIFEXITED(run.status) || WEXITSTATUS(run.status) != 0) {
            fprintf(stderr, "txbench: %s: run %d failed (status %d)\n", label, r, run.status);
            return 1;
        }
        wall.push_back(Ms(run.wallNs));
        overhead.push_back(Ms(run.wallNs) - floorMs);
        ratio.push_back(floorMs > 0 ? Ms(run.wallNs) / floorMs : 0.0);
        cpu.push_back(Ms(run.cpuNs));
        rss.push_back(static_cast<double>(run.maxRssKb) / 1024.0);
    }
    printf("%-22s %4d %3s %-11s %8.1f %8.1f %6s %7.1f %7.1f %6.3f %7.1f %7.1f\n", label, runs, "-",
           "in-process", Percentile(wall, 0.5), floorMs, "-", Percentile(overhead, 0.5),
           Percentile(overhead, 0.0), Percentile(ratio, 0.5), Percentile(cpu, 0.5),
           Percentile(rss, 0.5));
    return 0;
}

int Usage() {
    fprintf(stderr,
            "usage: txbench flow LABEL RUNS SOFTWARE_NUMBER ANSWER -- COMMAND...\n"
            "       txbench loop LABEL SOFTWARE_NUMBER -- COMMAND...\n"
            "       txbench plain LABEL RUNS FLOOR_MS -- COMMAND...\n"
            "       txbench header flow|loop\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "header") == 0) {
        if (strcmp(argv[2], "flow") == 0) {
            printf("%-22s %4s %3s %-11s %8s %8s %6s %7s %7s %6s %7s %7s %7s %5s\n", "flow", "runs",
                   "exc", "ioctls", "wall", "floor", "emul", "over", "overMin", "ratio", "cpu",
                   "rssMB", "start", "early");
            printf("%-22s %4s %3s %-11s %8s %8s %6s %7s %7s %6s %7s %7s %7s %5s\n", "", "", "",
                   "xfer/set/gp", "ms", "ms", "ms", "ms", "ms", "", "ms", "", "ms", "");
        } else {
            printf("%-22s %6s %5s %8s %8s %8s %8s %9s %6s\n", "loop", "exch", "early", "late50",
                   "late99", "lateMax", "emul/ex", "cpu/ex", "cpu%");
            printf("%-22s %6s %5s %8s %8s %8s %8s %9s %6s\n", "", "", "", "ms", "ms", "ms", "ms",
                   "us", "");
        }
        return 0;
    }
    int dashes = 0;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--") == 0) {
            dashes = i;
            break;
        }
    }
    if (dashes == 0 || dashes + 1 >= argc) return Usage();
    char** command = argv + dashes + 1;
    if (strcmp(argv[1], "flow") == 0 && dashes == 6) {
        return Flow(argv[2], atoi(argv[3]), argv[4], argv[5], command);
    }
    if (strcmp(argv[1], "loop") == 0 && dashes == 4) return Loop(argv[2], argv[3], command);
    if (strcmp(argv[1], "plain") == 0 && dashes == 5) {
        return Plain(argv[2], atoi(argv[3]), atof(argv[4]), command);
    }
    return Usage();
}
