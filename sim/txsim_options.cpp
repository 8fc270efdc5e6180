#include "txsim_options.h"

#include <getopt.h>

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <optional>
#include <type_traits>

#include "board_options.h"
#include "cli.h"

namespace sim {

const char kTxsimUsage[] =
    "Usage: txsim [OPTIONS] -- COMMAND [ARGS...]\n"
    "\n"
    "Runs COMMAND with the transmitter's device nodes emulated: /dev/spidev0.1\n"
    "answered by a model of the transmitter board, /dev/fpga_config.0 by a model\n"
    "of the GPIO node. COMMAND runs with LD_PRELOAD=libumockdev-preload.so.0 and\n"
    "keeps stdin, stdout and stderr. txsim exits with COMMAND's status, 128+N if\n"
    "it was killed by signal N, 127 if it could not be run, 125 if the nodes\n"
    "could not be set up (the temporary directory\n"
    "included) and 2 for a bad option. Descriptors other than 0 to 2 are not\n"
    "passed on to COMMAND. SIGTERM, SIGHUP, SIGINT and\n"
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
    "  --no-fpga-regs           /dev/spidev1.0 is missing\n"
    "\n"
    "Other:\n"
    "  --log FILE               write every exchange, decoded, to FILE\n"
    "  -h, --help               show this text and exit\n"
    "  -V, --version            show the version and exit\n";

namespace {

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
    kStatusFields,
    kChannel,
    kFailAck,
    kModeChange,
    kFpgaPartialWrites,
    kFpgaNoDone,
    kFpgaNoSignature,
    kFpgaVersion,
    kFpgaFailRegister,
    kFpgaKey,
    kNoFpgaRegs,
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
    {"status", required_argument, nullptr, kStatusFields},
    {"channel", required_argument, nullptr, kChannel},
    {"fail-ack", required_argument, nullptr, kFailAck},
    {"mode-change", required_argument, nullptr, kModeChange},
    {"fpga-partial-writes", required_argument, nullptr, kFpgaPartialWrites},
    {"fpga-no-done", no_argument, nullptr, kFpgaNoDone},
    {"fpga-no-signature", no_argument, nullptr, kFpgaNoSignature},
    {"fpga-version", required_argument, nullptr, kFpgaVersion},
    {"fpga-fail-register", required_argument, nullptr, kFpgaFailRegister},
    {"fpga-key", required_argument, nullptr, kFpgaKey},
    {"no-fpga-regs", no_argument, nullptr, kNoFpgaRegs},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

// The bytes of an identity text: at most a whole field, never cut.
constexpr size_t kIdentityTextMax = 16;

void Complain(const std::string& message) {
    std::fprintf(stderr, "txsim: %s\n", message.c_str());
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

bool ParseReady(const std::string& text, TxsimOptions& options) {
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

bool ParseKey(const char* value, FpgaOptions& fpga) {
    const std::string text(value);
    const size_t comma = text.find(',');
    if (comma == std::string::npos) return false;
    const auto out = cli::ParseInteger(text.substr(0, comma), 0, 2);
    const auto in = cli::ParseInteger(text.substr(comma + 1), 0, 4);
    if (!out || !in) return false;
    fpga.keys.emplace_back(static_cast<int>(*out), static_cast<int>(*in));
    return true;
}

// "give a number from MIN to MAX"
std::string Range(long long min, long long max) {
    return "give a number from " + std::to_string(min) + " to " + std::to_string(max);
}

}  // namespace

Parse ParseTxsimOptions(int argc, char** argv, TxsimOptions& options) {
    BoardConfig& board = options.board;
    FpgaOptions& fpga = options.fpga;
    opterr = 0;  // messages of our own, with the txsim: prefix
    int c;
    int index = -1;
    // "+": stop at the first non-option, the command's options are its own;
    // ":": report a missing value as ':'.
    while ((c = getopt_long(argc, argv, "+:hV", kLongOptions, &index)) != -1) {
        // The option as typed: a long one by its entry, a short one by its
        // letter (it may sit in a cluster such as -xh), else the argument.
        const std::string name = index >= 0 ? std::string("--") + kLongOptions[index].name
                                 : optopt > 0 && optopt < 256 ? std::string("-") + char(optopt)
                                                             : std::string(argv[optind - 1]);
        index = -1;
        // "--" ends the options; an option before it has no value.
        if (optarg != nullptr && std::strcmp(optarg, "--") == 0) c = ':';
        // What a good value looks like, for the message about a bad one.
        std::string hint;
        auto number = [&](auto& field, long long min, long long max) {
            hint = Range(min, max);
            const auto n = cli::ParseInteger(optarg, min, max);
            if (n) field = static_cast<std::remove_reference_t<decltype(field)>>(*n);
            return n.has_value();
        };
        auto text = [&](std::string& field) {
            hint = "at most " + std::to_string(kIdentityTextMax) + " bytes";
            if (std::strlen(optarg) > kIdentityTextMax) return false;
            field = optarg;
            return true;
        };
        bool ok = true;
        switch (c) {
        case 'h': return Parse::Help;
        case 'V': return Parse::Version;
        case kSerial: ok = text(board.identity.serialNumber); break;
        case kProduct: ok = text(board.identity.product); break;
        case kRevision: ok = text(board.identity.revision); break;
        case kSoftware: ok = text(board.identity.software); break;
        case kSoftwareNumber: ok = text(board.identity.softwareNumber); break;
        case kProtocolVersion: ok = number(board.protocolVersion, 0, UINT8_MAX); break;
        case kReadyWord: ok = number(board.readyWord, 0, UINT32_MAX); break;
        case kFaultWord: ok = number(board.faultWord, 0, UINT32_MAX); break;
        case kSpeed: ok = number(board.reportedSpeedHz, 1, UINT32_MAX); break;
        case kReadyOpt:
            hint = "give yes, no or script: with levels 0 or 1, e.g. script:1,1,0";
            ok = ParseReady(optarg, options);
            break;
        case kBadChecksum: ok = number(board.badChecksumOnExchange, 1, INT_MAX); break;
        case kSilentFrom: ok = number(board.silentFromExchange, 1, INT_MAX); break;
        case kFailIoctlFrom: ok = number(board.failIoctlFromExchange, 1, INT_MAX); break;
        case kShortTransfer: ok = number(board.shortTransferOnExchange, 1, INT_MAX); break;
        case kGarbage: {
            hint = "give pairs of hex digits, e.g. ff:00:17";
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
        case kStatusFields:
            hint = "give FIELD=VALUE[,...] with the fields of --help";
            ok = ParseStatusFields(optarg, board);
            break;
        case kChannel:
            hint = "give N=VALUE/RAW with N from 1 to 19";
            ok = ParseChannel(optarg, board);
            break;
        case kFailAck:
            hint = "give TYPE[:COUNT], TYPE a name such as M_STANDBY or a number from 0 to 40";
            ok = ParseFailAck(optarg, board);
            break;
        case kModeChange:
            hint = Range(0, INT_MAX);
            ok = ParseModeChange(optarg, board);
            break;
        case kFpgaPartialWrites: ok = number(fpga.partialWrites, 1, 1 << 20); break;
        case kFpgaNoDone: fpga.noDone = true; break;
        case kFpgaNoSignature: fpga.noSignature = true; break;
        case kFpgaVersion: ok = number(fpga.version, 0, UINT8_MAX); break;
        case kFpgaFailRegister: ok = number(fpga.failRegister, 0, 31); break;
        case kFpgaKey:
            hint = "give OUT,IN with OUT from 0 to 2 and IN from 0 to 4";
            ok = ParseKey(optarg, fpga);
            break;
        case kNoFpgaRegs: fpga.registers = false; break;
        case ':':
            Complain("option " + name + " needs a value" +
                     (optarg != nullptr ? " before --, which ends the options" : " (see --help)"));
            return Parse::Error;
        default:
            Complain("unknown option " + name + " (see --help)");
            return Parse::Error;
        }
        if (!ok) {
            Complain("bad value '" + std::string(optarg) + "' for " + name + ": " + hint);
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

}  // namespace sim
