// txdiag: runs one operation of the instrument library and shows what it
// prints, for the people who service the instrument.
//
//   txdiag [OPTIONS] COMMAND [ARGS]   (options may come anywhere; -- ends them)
#include <getopt.h>
#include <unistd.h>
#include <wx/init.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"
#include "diag_command.h"

namespace {

const char kProgram[] = "txdiag";

void PrintUsage(FILE* out) {
    fprintf(out,
            "Usage: %s [OPTIONS] COMMAND [ARGS]\n"
            "\n"
            "Runs one operation of the instrument's library against its devices and shows\n"
            "what it prints. Results go to standard output, diagnostics to standard error.\n"
            "\n"
            "Options (anywhere on the line; -- ends them):\n"
            "  -d, --device PATH       spidev node of the transmitter (default %s)\n"
            "  -f, --fpga-device PATH  spidev node of the FPGA's registers (default %s)\n"
            "  -t, --timing DEST       append each step's time to DEST (- for standard output)\n"
            "  -j, --json              the result as one JSON object on standard output\n"
            "  -y, --yes               change the instrument's state without asking\n"
            "  -h, --help              show this text and exit\n"
            "  -V, --version           show the version and exit\n"
            "\nCommands (* changes the instrument's state: asks first on a terminal):\n",
            kProgram, kSpidevPath, kFpgaRegisterPath);
    for (auto group : {diag::LinkCommands(), diag::FpgaCommands()}) {
        for (const diag::Command& c : group) {
            fprintf(out, "  %-12s %-6s %c %s\n", c.name, c.arguments, c.changesState ? '*' : ' ',
                    c.summary);
        }
    }
    fprintf(out,
            "\nExit status: 0 the command succeeded, 1 a device, the link or the output\n"
            "failed, 2 bad command line, unusable argument, or a state change refused.\n");
}

int Usage(const std::string& message) {
    fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
    fprintf(stderr, "Try '%s --help' for more information.\n", kProgram);
    return diag::kExitUsage;
}

// Asks on the terminal before a command that changes the instrument's state.
// kExitOk to go on, kExitUsage (after saying why) otherwise.
int Confirm(const diag::Command& command) {
    if (!isatty(STDIN_FILENO)) {
        fprintf(stderr,
                "%s: %s changes the instrument's state: give -y to run it without a terminal\n",
                kProgram, command.name);
        return diag::kExitUsage;
    }
    fprintf(stderr, "%s: %s: %s. Go on? [y/N] ", kProgram, command.name, command.summary);
    fflush(stderr);
    char answer[16] = "";
    if (fgets(answer, sizeof answer, stdin) == nullptr ||
        (strcmp(answer, "y\n") != 0 && strcmp(answer, "yes\n") != 0)) {
        fprintf(stderr, "%s: %s: not confirmed, nothing done\n", kProgram, command.name);
        return diag::kExitUsage;
    }
    return diag::kExitOk;
}

int Run(int argc, char** argv) {
    diag::Options options;
    const option longOptions[] = {
        {"device", required_argument, nullptr, 'd'},
        {"fpga-device", required_argument, nullptr, 'f'},
        {"timing", required_argument, nullptr, 't'},
        {"json", no_argument, nullptr, 'j'},
        {"yes", no_argument, nullptr, 'y'},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},
        {nullptr, 0, nullptr, 0},
    };
    opterr = 0;  // messages of our own, with our prefix
    int c;
    while ((c = getopt_long(argc, argv, ":d:f:t:jyhV", longOptions, nullptr)) != -1) {
        switch (c) {
        case 'd': options.device = optarg; break;
        case 'f': options.fpgaDevice = optarg; break;
        case 't': options.timing = optarg; break;
        case 'j': options.json = true; break;
        case 'y': options.assumeYes = true; break;
        case 'h': PrintUsage(stdout); return diag::kExitOk;
        case 'V': cli::PrintVersion(kProgram); return diag::kExitOk;
        case ':': return Usage(std::string("option '") + argv[optind - 1] + "' needs a value");
        default: return Usage(std::string("unknown option '") + argv[optind - 1] + "'");
        }
    }
    if (optind >= argc) return Usage("no command given");
    const diag::Command* command = diag::FindCommand(argv[optind]);
    if (command == nullptr) return Usage(std::string("unknown command '") + argv[optind] + "'");
    const std::vector<std::string> args(argv + optind + 1, argv + argc);
    if (static_cast<int>(args.size()) < command->minArgs ||
        static_cast<int>(args.size()) > command->maxArgs) {
        return Usage(std::string(command->name) + ": wrong number of arguments");
    }
    if (command->check != nullptr) {
        if (int status = command->check(args)) return status;
    }
    // The step report's destination is checked before any device is touched.
    FILE* timing = nullptr;
    if (options.timing == "-") {
        timing = stdout;
    } else if (!options.timing.empty()) {
        timing = fopen(options.timing.c_str(), "ae");
        if (timing == nullptr) {
            fprintf(stderr, "%s: cannot open %s: %s\n", kProgram, options.timing.c_str(),
                    strerror(errno));
            return diag::kExitFailed;
        }
    }
    int status = diag::kExitOk;
    if (command->changesState && !options.assumeYes) status = Confirm(*command);
    if (status == diag::kExitOk) {
        diag::Report report(command->name, options.json, timing);
        diag::Invocation call{options, args, report};
        status = report.Finish(command->run(call));
    }
    if (timing != nullptr && timing != stdout && fclose(timing) != 0) {
        fprintf(stderr, "%s: %s: %s\n", kProgram, options.timing.c_str(), strerror(errno));
        status = diag::kExitFailed;
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    // Before anything opens a device node: a closed standard stream must not
    // hand its number to one.
    if (!cli::KeepStandardStreams()) return diag::kExitFailed;
    // Texts from the devices are printed in the user's encoding; numbers keep
    // the C formatting.
    setlocale(LC_CTYPE, "");
    // Line by line even through a pipe, so that the library's lines on both
    // streams keep their order in a combined log.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    wxInitializer wx;
    int status = Run(argc, argv);
    if (!cli::CloseStandardOutput(kProgram) && status == diag::kExitOk) status = diag::kExitFailed;
    return status;
}
