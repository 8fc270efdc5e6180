// txsim's command line: the options that shape the emulated board, its
// ready line and the FPGA's devices, and the usage text that lists them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tx_board_model.h"

namespace sim {

enum class Ready { Yes, No, Script };

// The FPGA's devices: the configuration node and the register file.
struct FpgaOptions {
    size_t partialWrites = 0;
    bool noDone = false;
    bool noSignature = false;
    uint8_t version = 0x21;
    int failRegister = -1;
    std::vector<std::pair<int, int>> keys;
    bool registers = true;
};

struct TxsimOptions {
    BoardConfig board;
    Ready ready = Ready::Yes;
    std::vector<uint8_t> readyScript;
    bool spidev = true;
    bool gpio = true;
    bool sysfsReady = true;
    std::string logPath;
    FpgaOptions fpga;
    char** command = nullptr;  // the command and its arguments, null-terminated
};

enum class Parse { Run, Help, Version, Error };

// Parses argv up to the command. On Error a message prefixed "txsim: " has
// gone to standard error.
Parse ParseTxsimOptions(int argc, char** argv, TxsimOptions& options);

// The whole usage text.
extern const char kTxsimUsage[];

}  // namespace sim
