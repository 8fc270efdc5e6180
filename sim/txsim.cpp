// txsim: runs a command against an emulated transmitter board.
//
//   txsim [options] -- COMMAND [ARGS...]
//
// Creates a umockdev testbed with /dev/spidev0.1 answered by TxBoardModel,
// /dev/fpga_config.0 answered by GpioDeviceModel (ready line and FPGA
// configuration) and /dev/spidev1.0 answered by FpgaRegisterModel, starts
// COMMAND under the umockdev preload library and exits with its status. stdout belongs to the
// command; txsim's own messages go to stderr.
#include <fcntl.h>
#include <getopt.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "board_options.h"
#include "fpga_reg_model.h"
#include "frame_log.h"
#include "gpio_model.h"
#include "monotonic_time.h"
#include "testbed.h"
#include "tx_board_model.h"

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitSetup = 125;  // txsim itself could not set up the nodes
constexpr int kExitNotRun = 127;
constexpr const char* kPreload = "libumockdev-preload.so.0";

const char kUsage[] =
    "Usage: txsim [OPTIONS] -- COMMAND [ARGS...]\n"
    "\n"
    "Runs COMMAND with the transmitter's device nodes emulated: /dev/spidev0.1\n"
    "answered by a model of the transmitter board, /dev/fpga_config.0 by a model\n"
    "of the GPIO node. COMMAND runs with LD_PRELOAD=libumockdev-preload.so.0 and\n"
    "keeps stdin, stdout and stderr. txsim exits with COMMAND's status, 128+N if\n"
    "it was killed by signal N, 127 if it could not be run, 125 if the nodes\n"
    "could not be set up and 2 for a bad option. SIGTERM, SIGHUP, SIGINT and\n"
    "SIGQUIT sent to txsim are passed on to COMMAND; if txsim itself dies,\n"
    "COMMAND gets SIGTERM and the emulated nodes are removed.\n"
    "\n"
    "N is a decimal number, or hexadecimal after 0x.\n"
    "\n"
    "Board identity (M_GET_INFO; each text fills at most 16 bytes):\n"
    "  --serial TEXT            serial number       (default TX0412-0077)\n"
    "  --product TEXT           product             (default TX-500)\n"
    "  --revision TEXT          revision            (default C)\n"
    "  --software TEXT          software version    (default 5.2.1)\n"
    "  --software-number TEXT   software number     (default 1020; above 994\n"
    "                           the host uses fast timing)\n"
    "  --protocol-version N     version byte of every reply (default 5)\n"
    "  --ready-word N           ready word of M_READY (default 1)\n"
    "  --fault-word N           fault word of M_READY and M_FAULTS (default 0)\n"
    "\n"
    "Bus:\n"
    "  --speed HZ               rate the driver reports back for\n"
    "                           SPI_IOC_RD_MAX_SPEED_HZ, 1 or more (default: the\n"
    "                           rate set)\n"
    "  --no-spidev              /dev/spidev0.1 is missing\n"
    "  --wire-time              hold each transfer for its time on the wire at\n"
    "                           800 kHz (10 us per byte)\n"
    "\n"
    "Faults (exchanges count from 1, the first SPI transfer; N is 1 or more):\n"
    "  --bad-checksum N         the reply of exchange N has a wrong checksum\n"
    "  --silent-from N          the board sends zeros from exchange N on\n"
    "  --fail-ioctl-from N      SPI transfers fail with EIO from exchange N on\n"
    "  --short-transfer N       exchange N moves one byte less than asked\n"
    "  --garbage HEX            the board sends these bytes instead of frames\n"
    "                           (hex digits, ':' or ' ' may separate bytes)\n"
    "  --silent-after-boot-load the board sends zeros once M_BOOT_LOAD_MODE\n"
    "                           has been acknowledged\n"
    "\n"
    "Ready line (PA15, level 0 = ready):\n"
    "  --ready yes|no|script:L,L,...\n"
    "                           yes: always ready (default); no: never ready;\n"
    "                           script: the levels (0 or 1) of the next pin\n"
    "                           readings, then ready. With no, a host with fast\n"
    "                           timing (software number above 994) waits 8 s\n"
    "                           before each exchange: a txbootload run takes\n"
    "                           about 25 s\n"
    "  --no-gpio                /dev/fpga_config.0 is missing; instead the sysfs\n"
    "                           file /sys/devices/platform/skarvik-gpio/spi0_int/\n"
    "                           value holds \"1\" (\"0\" with --ready no)\n"
    "  --no-sysfs-ready         with --no-gpio: leave that value file out\n"
    "\n"
    "Board state (status, faults, modes, read-outs):\n"
    "  --status FIELD=VALUE[,...]\n"
    "                           fields of the M_STATUS record, named as in the\n"
    "                           status dump: cg_current, vg_voltage, ad_value0..3,\n"
    "                           ad_raw0..3, temperature0..2, estimated_load (nan\n"
    "                           allowed), update_count, cg_current_da,\n"
    "                           vg_voltage_da, is_on, switch_state, cg_range,\n"
    "                           vg_range (its fault_flags is --fault-word)\n"
    "  --channel N=VALUE/RAW    reading of channel N (1 to 19), e.g. 4=12.5/255;\n"
    "                           RAW may be negative (repeatable)\n"
    "  --fail-ack TYPE[:COUNT]  acknowledge TYPE (e.g. M_STANDBY or 19) with a\n"
    "                           wrong request id COUNT times, or always\n"
    "  --mode-change N          a mode change (M_INIT, M_SETUP, M_AUTO_SETUP,\n"
    "                           M_STANDBY) keeps bit 28 set and the board not\n"
    "                           ready for N exchanges (default 0)\n"
    "\n"
    "Other:\n"
    "  --log FILE               write every exchange, decoded, to FILE\n"
    "  -h, --help               show this text and exit\n";

// --- The FPGA devices: the configuration handshake and bitstream on
// /dev/fpga_config.0 and the register file on /dev/spidev1.0. ---

const char kFpgaUsage[] =
    "\n"
    "FPGA (configuration on /dev/fpga_config.0, registers on /dev/spidev1.0):\n"
    "  --fpga-partial-writes N  the configuration node takes at most N bytes\n"
    "                           per write\n"
    "  --fpga-no-done           the done input never comes (load fails, -104)\n"
    "  --fpga-no-signature      register 30 never reads 0x95 (Init times out)\n"
    "  --fpga-version N         firmware version in register 29 (default 0x21)\n"
    "  --fpga-fail-register N   every transfer of register N fails with EIO\n"
    "  --fpga-key OUT,IN        hold the key between output line OUT (0-2)\n"
    "                           and input line IN (0-4); may be repeated\n"
    "  --no-fpga-regs           /dev/spidev1.0 is missing\n";

struct FpgaOptions {
    size_t partialWrites = 0;
    bool noDone = false;
    bool noSignature = false;
    uint8_t version = 0x21;
    int failRegister = -1;
    std::vector<std::pair<int, int>> keys;
    bool registers = true;
};

enum FpgaOptionId {
    kFpgaPartialWrites = 512,
    kFpgaNoDone,
    kFpgaNoSignature,
    kFpgaVersion,
    kFpgaFailRegister,
    kFpgaKey,
    kNoFpgaRegs,
};

const option kFpgaLongOptions[] = {
    {"fpga-partial-writes", required_argument, nullptr, kFpgaPartialWrites},
    {"fpga-no-done", no_argument, nullptr, kFpgaNoDone},
    {"fpga-no-signature", no_argument, nullptr, kFpgaNoSignature},
    {"fpga-version", required_argument, nullptr, kFpgaVersion},
    {"fpga-fail-register", required_argument, nullptr, kFpgaFailRegister},
    {"fpga-key", required_argument, nullptr, kFpgaKey},
    {"no-fpga-regs", no_argument, nullptr, kNoFpgaRegs},
};

// A decimal or 0x hex number within [0, max]; -1 otherwise.
long FpgaNumber(const char* text, long max) {
    if (text == nullptr || *text == '\0' || *text == '-') return -1;
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 0);
    if (errno != 0 || *end != '\0' || value > max) return -1;
    return value;
}

// Handles one of the FPGA options: true when it was, false for a bad value,
// nullopt when `id` is not an FPGA option.
std::optional<bool> ParseFpgaOption(int id, const char* value, FpgaOptions& fpga) {
    long n = 0;
    switch (id) {
    case kFpgaPartialWrites:
        n = FpgaNumber(value, 1 << 20);
        if (n <= 0) return false;
        fpga.partialWrites = static_cast<size_t>(n);
        return true;
    case kFpgaNoDone: fpga.noDone = true; return true;
    case kFpgaNoSignature: fpga.noSignature = true; return true;
    case kFpgaVersion:
        if ((n = FpgaNumber(value, 255)) < 0) return false;
        fpga.version = static_cast<uint8_t>(n);
        return true;
    case kFpgaFailRegister:
        if ((n = FpgaNumber(value, 31)) < 0) return false;
        fpga.failRegister = static_cast<int>(n);
        return true;
    case kFpgaKey: {
        int out = -1, in = -1;
        char tail = 0;
        if (std::sscanf(value, "%d,%d%c", &out, &in, &tail) != 2 || out < 0 || out > 2 ||
            in < 0 || in > 4) {
            return false;
        }
        fpga.keys.emplace_back(out, in);
        return true;
    }
    case kNoFpgaRegs: fpga.registers = false; return true;
    default: return std::nullopt;
    }
}

// The transmitter's long options followed by the FPGA's, NUL-terminated.
std::vector<option> AllLongOptions(const option* first) {
    std::vector<option> all;
    for (const option* o = first; o->name != nullptr; ++o) all.push_back(*o);
    for (const option& o : kFpgaLongOptions) all.push_back(o);
    all.push_back(option{nullptr, 0, nullptr, 0});
    return all;
}

void ApplyFpgaOptions(const FpgaOptions& fpga, sim::GpioDeviceModel& config,
                      sim::FpgaRegisterModel& registers) {
    config.LimitWrite(fpga.partialWrites);
    if (fpga.noDone) config.ScriptDone(std::vector<uint8_t>(1 + 6, 0));
    registers.SignatureFromRead(fpga.noSignature ? 0 : 1);
    registers.SetRegister(29, fpga.version);
    if (fpga.failRegister >= 0) registers.FailRegister(static_cast<uint8_t>(fpga.failRegister));
    for (const auto& [out, in] : fpga.keys) registers.PressKey(out, in);
}

// --- end of the FPGA devices ---

enum class Ready { Yes, No, Script };

struct Options {
    sim::BoardConfig board;
    Ready ready = Ready::Yes;
    std::vector<uint8_t> readyScript;
    bool spidev = true;
    bool gpio = true;
    bool sysfsReady = true;
    std::string logPath;
    FpgaOptions fpga;
    char** command = nullptr;
};

enum OptionId {
    kSerial = 256,
    kProduct,
    kRevision,
    kSoftware,
    kSoftwareNumber,
    kProtocolVersion,
    kReadyWord,
    kFaultWord,
    kSpeed,
    kReadyOpt,
    kBadChecksum,
    kSilentFrom,
    kFailIoctlFrom,
    kShortTransfer,
    kGarbage,
    kNoSpidev,
    kNoGpio,
    kNoSysfsReady,
    kSilentAfterBootLoad,
    kLog,
    kWireTime,
    // Board state behind the status, fault, mode and read-out commands.
    kStatusFields,
    kChannel,
    kFailAck,
    kModeChange,
};

const option kLongOptions[] = {
    {"serial", required_argument, nullptr, kSerial},
    {"product", required_argument, nullptr, kProduct},
    {"revision", required_argument, nullptr, kRevision},
    {"software", required_argument, nullptr, kSoftware},
    {"software-number", required_argument, nullptr, kSoftwareNumber},
    {"protocol-version", required_argument, nullptr, kProtocolVersion},
    {"ready-word", required_argument, nullptr, kReadyWord},
    {"fault-word", required_argument, nullptr, kFaultWord},
    {"speed", required_argument, nullptr, kSpeed},
    {"ready", required_argument, nullptr, kReadyOpt},
    {"bad-checksum", required_argument, nullptr, kBadChecksum},
    {"silent-from", required_argument, nullptr, kSilentFrom},
    {"fail-ioctl-from", required_argument, nullptr, kFailIoctlFrom},
    {"short-transfer", required_argument, nullptr, kShortTransfer},
    {"garbage", required_argument, nullptr, kGarbage},
    {"no-spidev", no_argument, nullptr, kNoSpidev},
    {"no-gpio", no_argument, nullptr, kNoGpio},
    {"no-sysfs-ready", no_argument, nullptr, kNoSysfsReady},
    {"silent-after-boot-load", no_argument, nullptr, kSilentAfterBootLoad},
    {"log", required_argument, nullptr, kLog},
    {"wire-time", no_argument, nullptr, kWireTime},
    // Board state behind the status, fault, mode and read-out commands.
    {"status", required_argument, nullptr, kStatusFields},
    {"channel", required_argument, nullptr, kChannel},
    {"fail-ack", required_argument, nullptr, kFailAck},
    {"mode-change", required_argument, nullptr, kModeChange},
    {"help", no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

void Complain(const std::string& message) {
    std::fprintf(stderr, "txsim: %s\n", message.c_str());
}

// A whole decimal number (leading zeros allowed, "010" is ten) or a
// hexadecimal one after "0x", within [min, max]; nullopt otherwise.
std::optional<unsigned long> ParseNumber(const char* text, unsigned long min, unsigned long max) {
    if (text == nullptr) return std::nullopt;
    int base = 10;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text += 2;
    }
    if (!std::isxdigit(static_cast<unsigned char>(*text))) return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, base);
    if (errno != 0 || *end != '\0' || value < min || value > max) return std::nullopt;
    return value;
}

std::optional<std::vector<uint8_t>> ParseHex(const char* text) {
    std::string digits;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p == ':' || *p == ' ') continue;
        if (!std::isxdigit(static_cast<unsigned char>(*p))) return std::nullopt;
        digits.push_back(*p);
    }
    if (digits.empty() || digits.size() % 2 != 0) return std::nullopt;
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < digits.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

bool ParseReady(const std::string& text, Options& options) {
    if (text == "yes") {
        options.ready = Ready::Yes;
        return true;
    }
    if (text == "no") {
        options.ready = Ready::No;
        return true;
    }
    const std::string prefix = "script:";
    if (text.compare(0, prefix.size(), prefix) != 0 || text.size() == prefix.size()) return false;
    std::vector<uint8_t> levels;
    size_t pos = prefix.size();
    for (;;) {
        const size_t comma = text.find(',', pos);
        const std::string item = text.substr(pos, comma - pos);
        if (item != "0" && item != "1") return false;
        levels.push_back(static_cast<uint8_t>(item[0] - '0'));
        if (comma == std::string::npos) break;
        pos = comma + 1;
    }
    options.ready = Ready::Script;
    options.readyScript = std::move(levels);
    return true;
}

enum class Parse { Run, Help, Error };

Parse ParseOptions(int argc, char** argv, Options& options) {
    sim::BoardConfig& board = options.board;
    opterr = 0;  // messages of our own, with the txsim: prefix
    int c;
    int index = -1;
    // "+": stop at the first non-option, the command's options are its own;
    // ":": report a missing value as ':'.
    const std::vector<option> longOptions = AllLongOptions(kLongOptions);
    while ((c = getopt_long(argc, argv, "+:h", longOptions.data(), &index)) != -1) {
        // The option as typed: a long one by its entry, a short one by its
        // letter (it may sit in a cluster such as -xh), else the argument.
        std::string name = index >= 0  ? std::string("--") + longOptions[index].name
                           : optopt > 0 && optopt < 256 ? std::string("-") + char(optopt)
                                                       : std::string(argv[optind - 1]);
        index = -1;
        // "--" ends the options; an option before it has no value.
        if (optarg != nullptr && std::strcmp(optarg, "--") == 0) c = ':';
        auto number = [&](unsigned long max) { return ParseNumber(optarg, 0, max); };
        auto exchange = [&](int& field) {
            const auto n = ParseNumber(optarg, 1, INT_MAX);
            if (n) field = static_cast<int>(*n);
            return n.has_value();
        };
        bool ok = true;
        switch (c) {
        case 'h':
            return Parse::Help;
        case kSerial: board.identity.serialNumber = optarg; break;
        case kProduct: board.identity.product = optarg; break;
        case kRevision: board.identity.revision = optarg; break;
        case kSoftware: board.identity.software = optarg; break;
        case kSoftwareNumber: board.identity.softwareNumber = optarg; break;
        case kProtocolVersion: {
            const auto n = number(255);
            if ((ok = n.has_value())) board.protocolVersion = static_cast<uint8_t>(*n);
            break;
        }
        case kReadyWord: {
            const auto n = number(UINT32_MAX);
            if ((ok = n.has_value())) board.readyWord = static_cast<uint32_t>(*n);
            break;
        }
        case kFaultWord: {
            const auto n = number(UINT32_MAX);
            if ((ok = n.has_value())) board.faultWord = static_cast<uint32_t>(*n);
            break;
        }
        case kSpeed: {
            const auto n = ParseNumber(optarg, 1, UINT32_MAX);
            if ((ok = n.has_value())) board.reportedSpeedHz = static_cast<uint32_t>(*n);
            break;
        }
        case kReadyOpt: ok = ParseReady(optarg, options); break;
        case kBadChecksum: ok = exchange(board.badChecksumOnExchange); break;
        case kSilentFrom: ok = exchange(board.silentFromExchange); break;
        case kFailIoctlFrom: ok = exchange(board.failIoctlFromExchange); break;
        case kShortTransfer: ok = exchange(board.shortTransferOnExchange); break;
        case kGarbage: {
            auto bytes = ParseHex(optarg);
            if ((ok = bytes.has_value())) board.garbage = std::move(*bytes);
            break;
        }
        case kNoSpidev: options.spidev = false; break;
        case kNoGpio: options.gpio = false; break;
        case kNoSysfsReady: options.sysfsReady = false; break;
        case kSilentAfterBootLoad: board.silentAfterBootLoad = true; break;
        case kLog: options.logPath = optarg; break;
        case kWireTime: board.wireNsPerByte = 10000; break;
        // Board state behind the status, fault, mode and read-out commands.
        case kStatusFields: ok = sim::ParseStatusFields(optarg, board); break;
        case kChannel: ok = sim::ParseChannel(optarg, board); break;
        case kFailAck: ok = sim::ParseFailAck(optarg, board); break;
        case kModeChange: ok = sim::ParseModeChange(optarg, board); break;
        case ':':
            Complain("option " + name + " needs a value" +
                     (optarg != nullptr ? " before --, which ends the options" : " (see --help)"));
            return Parse::Error;
        default:
            if (const auto fpgaOk = ParseFpgaOption(c, optarg, options.fpga)) {
                ok = *fpgaOk;
                break;
            }
            Complain("unknown option " + name + " (see --help)");
            return Parse::Error;
        }
        if (!ok) {
            Complain("bad value '" + std::string(optarg) + "' for " + name);
            return Parse::Error;
        }
    }
    if (optind >= argc) {
        Complain("no command given (usage: txsim [OPTIONS] -- COMMAND [ARGS...])");
        return Parse::Error;
    }
    if (options.gpio && !options.sysfsReady) {
        Complain("--no-sysfs-ready needs --no-gpio");
        return Parse::Error;
    }
    if (!options.gpio && options.ready == Ready::Script) {
        Complain("--ready script: needs the GPIO node (not with --no-gpio)");
        return Parse::Error;
    }
    options.command = argv + optind;
    return Parse::Run;
}

// Puts the preload library in front of whatever the caller preloads, once.
void SetPreload() {
    const char* current = std::getenv("LD_PRELOAD");
    std::string value = kPreload;
    if (current != nullptr && *current != '\0') {
        if (std::strstr(current, kPreload) != nullptr) return;
        value += ":";
        value += current;
    }
    setenv("LD_PRELOAD", value.c_str(), 1);
}

// Starts a helper that removes `dir` once txsim has ended, however it ended
// (a SIGKILL included): the helper waits for the end of a pipe that only
// txsim holds open. It inherits txsim's blocked signals, so the signals that
// end txsim's process group leave it to its work.
void RemoveWhenGone(const std::string& dir) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    const pid_t helper = fork();
    if (helper == 0) {
        // Only async-signal-safe calls until exec.
        close(fds[1]);
        char byte;
        while (read(fds[0], &byte, 1) < 0 && errno == EINTR) {
        }
        const char* const argv[] = {"rm", "-rf", "--", dir.c_str(), nullptr};
        execv("/bin/rm", const_cast<char* const*>(argv));
        _exit(0);
    }
    close(fds[0]);
    if (helper < 0) close(fds[1]);
    // Otherwise the write end stays open, and closes with txsim.
}

// Starts the command and waits for it. Signals in `handled` are blocked in
// every thread of txsim and taken here with sigwaitinfo, so none is lost
// between fork and wait.
int RunCommand(char** command, const sigset_t& handled, const sigset_t& originalMask) {
    // The child reports a failed exec through this pipe; a successful exec
    // closes it.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        Complain(std::string("cannot create pipe: ") + std::strerror(errno));
        return kExitSetup;
    }
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child < 0) {
        Complain(std::string("cannot fork: ") + std::strerror(errno));
        close(report[0]);
        close(report[1]);
        return kExitSetup;
    }
    if (child == 0) {
        // Only async-signal-safe calls until exec: the parent has threads.
        close(report[0]);
        // If txsim dies, so does the command: it would talk to nodes that
        // are gone.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(kExitNotRun);
        sigprocmask(SIG_SETMASK, &originalMask, nullptr);
        execvp(command[0], command);
        const int err = errno;
        ssize_t ignored = write(report[1], &err, sizeof err);
        (void)ignored;
        _exit(kExitNotRun);
    }
    close(report[1]);

    int execErr = 0;
    ssize_t n;
    do {
        n = read(report[0], &execErr, sizeof execErr);
    } while (n < 0 && errno == EINTR);
    close(report[0]);

    int status = 0;
    for (;;) {
        const pid_t r = waitpid(child, &status, WNOHANG);
        if (r == child) break;
        if (r < 0 && errno != EINTR) {
            Complain(std::string("cannot wait for the command: ") + std::strerror(errno));
            return kExitSetup;
        }
        siginfo_t info{};
        const int sig = sigwaitinfo(&handled, &info);
        // Signals sent to txsim are passed on. Those the terminal sends to
        // the whole process group (SI_KERNEL) have reached the command already.
        if (sig != SIGCHLD && sig > 0 && info.si_code != SI_KERNEL) kill(child, sig);
    }

    if (n == static_cast<ssize_t>(sizeof execErr)) {
        Complain(std::string("cannot run '") + command[0] + "': " + std::strerror(execErr));
        return kExitNotRun;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return kExitSetup;
}

}  // namespace

int main(int argc, char** argv) {
    const timespec start = MonotonicNow();

    Options options;
    switch (ParseOptions(argc, argv, options)) {
    case Parse::Help:
        std::fputs(kUsage, stdout);
        std::fputs(kFpgaUsage, stdout);
        return 0;
    case Parse::Error:
        return kExitUsage;
    case Parse::Run:
        break;
    }

    // Before any thread exists (the testbed starts umockdev's worker): the
    // environment the command inherits, and the signal mask every thread
    // inherits. An inherited SIG_IGN for SIGCHLD would make waitpid fail.
    SetPreload();
    signal(SIGCHLD, SIG_DFL);
    sigset_t handled;
    sigemptyset(&handled);
    for (int sig : {SIGCHLD, SIGTERM, SIGHUP, SIGINT, SIGQUIT}) sigaddset(&handled, sig);
    sigset_t originalMask;
    sigprocmask(SIG_BLOCK, &handled, &originalMask);

    sim::FrameLog log(start);
    if (!options.logPath.empty() && !log.Open(options.logPath)) {
        Complain("cannot open log " + options.logPath + ": " + std::strerror(errno));
        return kExitSetup;
    }

    // The models outlive the testbed that serves them.
    sim::TxBoardModel board(options.board);
    sim::GpioDeviceModel gpio;
    sim::FpgaRegisterModel fpgaRegisters;
    ApplyFpgaOptions(options.fpga, gpio, fpgaRegisters);
    switch (options.ready) {
    case Ready::Yes: gpio.SetLevel(0); break;
    case Ready::No: gpio.NeverReady(); break;
    case Ready::Script: gpio.ScriptLevels(options.readyScript); break;
    }
    if (!options.logPath.empty()) {
        board.SetObserver([&log](const sim::BusRecord& r) { log.Write(r, MonotonicNow()); });
    }

    sim::Testbed testbed;
    RemoveWhenGone(testbed.RootDir());
    if (options.spidev && !testbed.AddSpidev(board)) {
        Complain(testbed.LastError());
        return kExitSetup;
    }
    if (options.gpio && !testbed.AddGpioDevice(gpio)) {
        Complain(testbed.LastError());
        return kExitSetup;
    }
    if (options.fpga.registers && !testbed.AddFpgaRegisterDevice(fpgaRegisters)) {
        Complain(testbed.LastError());
        return kExitSetup;
    }
    if (!options.gpio) {
        bool ok = testbed.AddSysfsRoot();
        if (ok && options.sysfsReady) {
            ok = testbed.SetSysfsPin("spi0_int", options.ready == Ready::No ? "0\n" : "1\n");
        }
        if (!ok) {
            Complain(testbed.LastError());
            return kExitSetup;
        }
    }

    return RunCommand(options.command, handled, originalMask);
}
