// Linked into a program together with inproc_bus.cpp: serves the nodes
// in-process from the start of the program, so that the program runs without
// any emulation process or preload library. The board's software number comes
// from TXBENCH_SOFTWARE_NUMBER (default 994: legacy timing); with
// TXBENCH_WIRE_TIME=1 each transfer is held for its wire time.
#include <cstdlib>
#include <cstring>

#include "inproc_bus.h"

namespace {

struct StartBoard {
    StartBoard() {
        sim::BoardConfig config;
        const char* number = std::getenv("TXBENCH_SOFTWARE_NUMBER");
        config.identity.softwareNumber = number != nullptr ? number : "994";
        const char* wire = std::getenv("TXBENCH_WIRE_TIME");
        if (wire != nullptr && std::strcmp(wire, "1") == 0) config.wireNsPerByte = 10000;
        inproc::Enable(config, true);
    }
};

StartBoard startBoard;

}  // namespace
