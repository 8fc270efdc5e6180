// How txsim runs its command: the environment it hands on, the child's
// supervision with signals passed on, and the clean-up of the emulated
// nodes however txsim ends.
#pragma once

#include <signal.h>

#include <string>

namespace sim {

constexpr int kExitSetup = 125;   // txsim itself could not set up the nodes
constexpr int kExitNotRun = 127;  // the command could not be started

// Puts the umockdev preload library in front of whatever the caller
// preloads, once.
void SetPreload();

// Starts a helper that removes `dir` once txsim has ended, however it ended
// (a SIGKILL included).
void RemoveWhenGone(const std::string& dir);

// Starts `command` and waits for it. Signals in `handled` are blocked in
// every thread and taken here, and passed on to the command; the command
// gets `originalMask` back and none of txsim's descriptors beyond 0 to 2.
// Returns the command's exit status, 128+N when signal N ended it,
// kExitNotRun when it could not be started, kExitSetup when txsim could not
// fork or wait.
int RunCommand(char** command, const sigset_t& handled, const sigset_t& originalMask);

}  // namespace sim
