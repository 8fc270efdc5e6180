// Linked into a program together with inproc_bus.cpp: serves the FPGA's
// configuration and register nodes in-process from the start of the program.
// With TXBENCH_KEY=1 a key of the matrix is held.
#include <cstdlib>
#include <cstring>

#include "inproc_bus.h"

namespace {

struct StartFpga {
    StartFpga() {
        const char* key = std::getenv("TXBENCH_KEY");
        inproc::EnableFpga(key != nullptr && std::strcmp(key, "1") == 0);
    }
};

StartFpga startFpga;

}  // namespace
