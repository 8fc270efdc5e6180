// txdiag commands that drive the transmitter link.
#include "diag_command.h"

namespace diag {

std::span<const Command> LinkCommands() { return {}; }

}  // namespace diag
