// txdiag commands for the FPGA, its registers and the device registry.
#include "diag_command.h"

namespace diag {

std::span<const Command> FpgaCommands() { return {}; }

}  // namespace diag
