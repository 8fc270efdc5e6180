#include "node_faults.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "unique_fd.h"

namespace sim {

namespace {

struct NodeFaults {
    std::mutex lock;
    bool armed = false;
    CallFault fault;
    std::string logPath;
    std::map<std::pair<std::string, NodeCall>, long> counts;
};

NodeFaults& State() {
    static NodeFaults state;
    return state;
}

void AppendLine(const std::string& path, const std::string& line) {
    UniqueFd log(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
    if (!log.Valid()) return;
    // One write per line: the command's process appends to the same file.
    ssize_t written = ::write(log.Get(), line.data(), line.size());
    (void)written;
}

}  // namespace

void LoadNodeFaults() {
    NodeFaults& state = State();
    std::lock_guard<std::mutex> hold(state.lock);
    state.counts.clear();
    const char* setting = std::getenv("TXSIM_FAIL_CALL");
    state.armed = ParseCallFault(setting, &state.fault);
    if (setting != nullptr && !state.armed) {
        std::fprintf(stderr, "txsim: ignoring TXSIM_FAIL_CALL '%s' (PATH KIND N ERROR)\n",
                     setting);
    }
    const char* log = std::getenv("TXSIM_CALL_LOG");
    state.logPath = log != nullptr ? log : "";
    if (setting == nullptr && log == nullptr) return;

    // In front of umockdev's library, which calls the C library's open
    // directly: behind it, the open of a node would never be seen.
    const char* current = std::getenv("LD_PRELOAD");
    std::string preload = current != nullptr ? current : "";
    if (preload.find(SIM_OPEN_FAULTS_LIBRARY) == std::string::npos) {
        preload = SIM_OPEN_FAULTS_LIBRARY + (preload.empty() ? "" : ":" + preload);
        setenv("LD_PRELOAD", preload.c_str(), 1);
    }
}

CallVerdict CountNodeCall(const char* node, NodeCall call, bool canShorten) {
    NodeFaults& state = State();
    std::lock_guard<std::mutex> hold(state.lock);
    const long index = ++state.counts[{node, call}];
    if (!state.logPath.empty()) {
        AppendLine(state.logPath, std::string(node) + " " + NodeCallName(call) + " " +
                                      std::to_string(index) + (canShorten ? " bytes\n" : " -\n"));
    }
    CallVerdict verdict;
    if (!state.armed || !FaultMatches(state.fault, node, call, index)) return verdict;
    if (state.fault.error == 0) {
        verdict.shorten = canShorten;
    } else {
        verdict.fail = true;
        verdict.error = state.fault.error;
    }
    return verdict;
}

}  // namespace sim
