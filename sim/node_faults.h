// The node emulation's half of the fault sweep: counts the ioctl, read and
// write calls the emulated nodes answer and fails the one that the setting
// in TXSIM_FAIL_CALL names (see call_fault.h).
#pragma once

#include "call_fault.h"

namespace sim {

// What a node does with the call it is about to answer.
struct CallVerdict {
    bool fail = false;     // complete it with -1 and `error`, untouched
    int error = 0;
    bool shorten = false;  // answer it, but move one byte less
};

// Reads TXSIM_FAIL_CALL and TXSIM_CALL_LOG and restarts the counts. When
// either is set, puts the library that counts and fails open and close into
// LD_PRELOAD, for the commands started afterwards. Call before any thread
// is started (it changes the environment).
void LoadNodeFaults();

// Counts one `call` on `node` and says how to answer it. `canShorten`: the
// call moves bytes (a transfer, a write of more than one byte), so a short
// answer makes sense; the log says so, for the sweep to try it.
CallVerdict CountNodeCall(const char* node, NodeCall call, bool canShorten);

}  // namespace sim
