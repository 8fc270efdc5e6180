// txdiag: runs one operation of the instrument library and shows what it
// prints, for the people who service the instrument.
//
//   txdiag [--device PATH] [--fpga-device PATH] [--timing DEST] COMMAND [ARGS]
#include <wx/init.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "diag_command.h"

namespace {

void PrintUsage(FILE* out, const char* program) {
    fprintf(out,
            "Usage: %s [--device PATH] [--fpga-device PATH] [--timing DEST] COMMAND [ARGS]\n"
            "\nCommands:\n",
            program);
    for (auto group : {diag::LinkCommands(), diag::FpgaCommands()}) {
        for (const diag::Command& c : group) {
            fprintf(out, "  %-12s %-10s %s\n", c.name, c.arguments, c.summary);
        }
    }
}

const diag::Command* FindCommand(const char* name) {
    for (auto group : {diag::LinkCommands(), diag::FpgaCommands()}) {
        for (const diag::Command& c : group) {
            if (strcmp(c.name, name) == 0) return &c;
        }
    }
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    // Texts from the devices are printed in the user's encoding; numbers keep
    // the C formatting.
    setlocale(LC_CTYPE, "");
    // Line by line even through a pipe, so that the library's lines on both
    // streams keep their order in a combined log.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    wxInitializer wx;

    diag::Options options;
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        const char* arg = argv[i];
        if (strcmp(arg, "-h") == 0 || strcmp(arg, "--help") == 0) {
            PrintUsage(stdout, argv[0]);
            return diag::kExitOk;
        }
        std::string* value = nullptr;
        if (strcmp(arg, "--device") == 0) value = &options.device;
        if (strcmp(arg, "--timing") == 0) value = &options.timing;
        if (strcmp(arg, "--fpga-device") == 0) value = &options.fpgaDevice;
        if (value == nullptr || i + 1 >= argc) {
            fprintf(stderr, "%s: %s: %s\n", argv[0], arg,
                    value == nullptr ? "unknown option" : "missing value");
            PrintUsage(stderr, argv[0]);
            return diag::kExitUsage;
        }
        *value = argv[++i];
    }
    if (i >= argc) {
        PrintUsage(stderr, argv[0]);
        return diag::kExitUsage;
    }
    const diag::Command* command = FindCommand(argv[i]);
    if (command == nullptr) {
        fprintf(stderr, "%s: unknown command '%s'\n", argv[0], argv[i]);
        PrintUsage(stderr, argv[0]);
        return diag::kExitUsage;
    }
    std::vector<std::string> args(argv + i + 1, argv + argc);
    if (static_cast<int>(args.size()) < command->minArgs ||
        static_cast<int>(args.size()) > command->maxArgs) {
        fprintf(stderr, "%s: %s: wrong number of arguments\n", argv[0], command->name);
        PrintUsage(stderr, argv[0]);
        return diag::kExitUsage;
    }
    const int status = command->run(options, args);
    // The command has said what was wrong with its arguments.
    if (status == diag::kExitUsage) PrintUsage(stderr, argv[0]);
    return status;
}
