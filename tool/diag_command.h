// The commands of txdiag, the service engineers' diagnostic program. Each
// group of commands lives in a file of its own (diag_link.cpp for the
// transmitter link, diag_fpga.cpp for the FPGA and its registers) and hands
// txdiag a table; txdiag parses the options, finds the command by name,
// checks its argument count, asks before a command that changes the
// instrument's state, and runs it with a Report that carries its result.
#pragma once

#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "device_paths.h"
#include "json_writer.h"
#include "lap_timer.h"

class TxSpi;

namespace diag {

// Exit statuses of txdiag and of every command.
constexpr int kExitOk = 0;       // the operation ran and every step of it succeeded
constexpr int kExitFailed = 1;   // a device, the link or the output failed
constexpr int kExitUsage = 2;    // bad command line, unusable argument, or refused

struct Options {
    // spidev node of the transmitter link (--device PATH).
    std::string device = kSpidevPath;
    // spidev node of the FPGA's register file (--fpga-device PATH).
    std::string fpgaDevice = kFpgaRegisterPath;
    // Where to append the time each step took (--timing DEST): empty for no
    // report, "-" for standard output, otherwise a file.
    std::string timing;
    bool json = false;       // --json: the result as one JSON object
    bool assumeYes = false;  // -y: no question before a state change
};

// What one command found out, and the report of its steps.
//
// In text form each result line goes to standard output as it comes; with
// --json the lines are left out and the values make up one object, printed
// at the end: {"command": NAME, "ok": BOOL, ["error": TEXT,] VALUES...,
// ["steps": [{"step": NAME, "ms": TIME}...]]}. A failure is said on standard
// error in both forms ("txdiag: COMMAND: WHY").
class Report {
public:
    // `timing`: the open destination of the step report, or null.
    Report(std::string command, bool json, FILE* timing);

    const std::string& Command() const { return command_; }
    bool Json() const { return json_; }

    // One result line in text form; nothing with --json.
    void Line(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // The JSON members of the result, between "ok" and "steps".
    cli::JsonWriter& Values() { return values_; }
    // Says why the command failed and keeps it for the JSON object.
    // Returns kExitFailed.
    int Fail(const std::string& why);
    // Marks the end of step `name`.
    void Step(const char* name);
    // Prints the JSON object and appends the step report, as asked for.
    // Returns `status`, or kExitFailed when the step report was lost.
    int Finish(int status);

private:
    std::string command_;
    bool json_;
    FILE* timing_;
    cli::JsonWriter values_;
    std::string error_;
    LapTimer laps_;
    std::vector<const char*> stepNames_;
};

struct Invocation {
    const Options& options;
    const std::vector<std::string>& args;
    Report& report;
};

struct Command {
    const char* name;
    const char* arguments;   // synopsis of the arguments, "" when none
    const char* summary;     // one line for the usage text
    int minArgs;
    int maxArgs;
    // Whether the command changes the instrument's state (asks first).
    bool changesState;
    // Checks the arguments before any device is touched: kExitOk, or
    // kExitUsage after saying on standard error what is wrong. May be null.
    int (*check)(const std::vector<std::string>& args);
    // Runs the command: kExitOk or kExitFailed (after Report::Fail).
    int (*run)(Invocation& call);
};

// The transmitter link's commands.
std::span<const Command> LinkCommands();
// The FPGA and register commands.
std::span<const Command> FpgaCommands();
// Why `path` cannot serve as a spidev node ("No such file or directory",
// "not an SPI device"), or empty when it can.
std::string ProbeSpiNode(const std::string& path);
// The command called `name`, or null.
const Command* FindCommand(const std::string& name);

// The body of a link command on an open link: reads the identity, then runs
// the command's operation. Every exchange and ready-line wait counts: any
// failure among them fails the command. For the tests, which drive a link
// of their own.
int RunOnLink(const std::string& command, TxSpi& link, Invocation& call);

}  // namespace diag
