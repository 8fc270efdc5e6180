// The commands of txdiag, the service engineers' diagnostic program. Each
// group of commands lives in a file of its own (diag_link.cpp for the
// transmitter link, diag_fpga.cpp for the FPGA and the device registry) and
// hands txdiag a table; txdiag parses the global options, finds the command
// by name, checks its argument count and runs it.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "device_paths.h"

namespace diag {

// Exit statuses of txdiag and of every command.
constexpr int kExitOk = 0;       // the operation ran and the device answered
constexpr int kExitFailed = 1;   // the link or device failed
constexpr int kExitUsage = 2;    // bad command line; usage already printed

// Options that precede the command.
struct Options {
    // spidev node of the transmitter link (--device PATH).
    std::string device = kSpidevPath;
    // Where to report the time each step took (--timing DEST): empty for no
    // report, "-" for standard output, otherwise a file appended to.
    std::string timing;
    // spidev node of the FPGA's register file (--fpga-device PATH).
    std::string fpgaDevice = kFpgaRegisterPath;
};

struct Command {
    const char* name;
    const char* arguments;   // synopsis of the arguments, "" when none
    const char* summary;     // one line for the usage text
    int minArgs;
    int maxArgs;
    // Runs the command. Returns kExitOk, kExitFailed, or kExitUsage after
    // printing on standard error what was wrong with the arguments.
    int (*run)(const Options& options, const std::vector<std::string>& args);
};

// The transmitter link's commands.
std::span<const Command> LinkCommands();
// The FPGA, register and device-registry commands.
std::span<const Command> FpgaCommands();

}  // namespace diag
