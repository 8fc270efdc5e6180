#include "call_fault.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "device_paths.h"

namespace sim {

namespace {

struct NamedCall {
    NodeCall call;
    const char* name;
};
constexpr NamedCall kCalls[] = {
    {NodeCall::Open, "open"},   {NodeCall::Ioctl, "ioctl"}, {NodeCall::Read, "read"},
    {NodeCall::Write, "write"}, {NodeCall::Close, "close"}, {NodeCall::Alloc, "alloc"},
};

struct NamedError {
    int error;
    const char* name;
};
constexpr NamedError kErrors[] = {
    {0, "short"},         {EIO, "EIO"},     {EINTR, "EINTR"},   {EAGAIN, "EAGAIN"},
    {EACCES, "EACCES"},   {ENOENT, "ENOENT"}, {EBUSY, "EBUSY"}, {ENOMEM, "ENOMEM"},
};

bool EndsWith(const char* text, const char* tail) {
    const size_t n = std::strlen(text);
    const size_t m = std::strlen(tail);
    return n >= m && std::strcmp(text + n - m, tail) == 0;
}

}  // namespace

const char* NodeCallName(NodeCall call) {
    for (const NamedCall& c : kCalls) {
        if (c.call == call) return c.name;
    }
    return "?";
}

const char* FaultErrorName(int error) {
    for (const NamedError& e : kErrors) {
        if (e.error == error) return e.name;
    }
    return "?";
}

bool ParseCallFault(const char* text, CallFault* fault) {
    if (text == nullptr) return false;
    char node[sizeof fault->node];
    char kind[16];
    char error[16];
    long index = 0;
    char tail = 0;
    // The widths follow the buffers above.
    if (std::sscanf(text, "%95s %15s %ld %15s %c", node, kind, &index, error, &tail) != 4 ||
        index < 1) {
        return false;
    }
    const NamedCall* call = nullptr;
    for (const NamedCall& c : kCalls) {
        if (std::strcmp(c.name, kind) == 0) call = &c;
    }
    const NamedError* named = nullptr;
    for (const NamedError& e : kErrors) {
        if (std::strcmp(e.name, error) == 0) named = &e;
    }
    if (call == nullptr || named == nullptr) return false;
    std::memcpy(fault->node, node, sizeof node);
    fault->call = call->call;
    fault->index = index;
    fault->error = named->error;
    return true;
}

bool FaultMatches(const CallFault& fault, const char* node, NodeCall call, long index) {
    return fault.index == index && fault.call == call && std::strcmp(fault.node, node) == 0;
}

const char* EmulatedNodeOf(const char* path) {
    if (path == nullptr) return nullptr;
    for (const char* node : {kSpidevPath, kGpioDevicePath, kFpgaRegisterPath}) {
        if (EndsWith(path, node)) return node;
    }
    if (std::strstr(path, GpioSysfsRoot) != nullptr) return GpioSysfsRoot;
    return nullptr;
}

}  // namespace sim
