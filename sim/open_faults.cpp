// Preloaded into the command that txsim runs when a fault sweep setting is
// given (see call_fault.h): counts and fails what the node emulation cannot
// see, because it happens before or after a node exists for the caller.
//
//   open   opens of the emulated nodes and of the sysfs GPIO files: the
//          chosen one fails with its errno before anything is opened;
//   close  their closes: the chosen one closes and then reports EIO, as a
//          driver's release may;
//   read, write on the sysfs files (plain files, with no node emulation);
//   alloc  nothrow array allocations (the loader's chunk buffer): the
//          chosen one gives null.
//
// At exit, a node descriptor still open is logged as "PATH leak FD".
//
// Nothing here may allocate or print: it runs inside open(2) and
// operator new. The log is written with raw system calls. The counts are
// not guarded: the tools make their device calls from one thread.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "call_fault.h"
#include "device_paths.h"

namespace {

using sim::NodeCall;

constexpr const char* kHeap = "heap";
constexpr int kMaxFd = 4096;
constexpr int kNodes = 5;
constexpr int kCalls = 6;

struct State {
    bool loaded = false;
    bool armed = false;
    sim::CallFault fault;
    const char* logPath = nullptr;
    long counts[kNodes][kCalls] = {};
    const char* fdNode[kMaxFd] = {};
};
State state;

const char* const kNodeNames[kNodes] = {kSpidevPath, kGpioDevicePath, kFpgaRegisterPath,
                                        GpioSysfsRoot, kHeap};

int NodeIndex(const char* node) {
    for (int i = 0; i < kNodes; ++i) {
        if (std::strcmp(kNodeNames[i], node) == 0) return i;
    }
    return 0;
}

void Load() {
    if (state.loaded) return;
    state.loaded = true;
    state.armed = sim::ParseCallFault(std::getenv("TXSIM_FAIL_CALL"), &state.fault);
    state.logPath = std::getenv("TXSIM_CALL_LOG");
}

// Appends "NODE KIND N DETAIL\n" to the log, if there is one.
void Log(const char* node, const char* kind, long n, const char* detail) {
    if (state.logPath == nullptr) return;
    char line[192];
    const int length = std::snprintf(line, sizeof line, "%s %s %ld %s\n", node, kind, n, detail);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof line) return;
    const long fd = syscall(SYS_openat, AT_FDCWD, state.logPath,
                            O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    syscall(SYS_write, fd, line, length);
    syscall(SYS_close, fd);
}

// Counts one call; the errno to fail it with, 0 to let it through, -1 for a
// short transfer.
int Count(const char* node, NodeCall call, const char* detail) {
    Load();
    const int errnoSaved = errno;
    const long n = ++state.counts[NodeIndex(node)][static_cast<int>(call)];
    Log(node, sim::NodeCallName(call), n, detail);
    errno = errnoSaved;
    if (!state.armed || !sim::FaultMatches(state.fault, node, call, n)) return 0;
    return state.fault.error == 0 ? -1 : state.fault.error;
}

template <typename Fn>
Fn Next(const char* name) {
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

const char* Tracked(int fd) { return fd >= 0 && fd < kMaxFd ? state.fdNode[fd] : nullptr; }

int Opened(int fd, const char* node) {
    if (fd >= 0 && fd < kMaxFd) state.fdNode[fd] = node;
    return fd;
}

// The mode argument is there when the flags create a file.
mode_t ModeOf(int flags, va_list args) {
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(args, mode_t) : 0;
}

template <typename OpenFn>
int OpenCounted(const char* path, OpenFn open) {
    const char* node = sim::EmulatedNodeOf(path);
    if (node == nullptr) return open();
    const int error = Count(node, NodeCall::Open, "-");
    if (error > 0) {
        errno = error;
        return -1;
    }
    return Opened(open(), node);
}

ssize_t Moved(const char* node, NodeCall call, size_t length, ssize_t (*move)(size_t)) {
    const int error = Count(node, call, length > 1 ? "bytes" : "-");
    if (error > 0) {
        errno = error;
        return -1;
    }
    return move(error < 0 && length > 1 ? length - 1 : length);
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeOf(flags, args);
    va_end(args);
    static auto next = Next<int (*)(const char*, int, ...)>("open");
    return OpenCounted(path, [&] { return next(path, flags, mode); });
}

int open64(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeOf(flags, args);
    va_end(args);
    static auto next = Next<int (*)(const char*, int, ...)>("open64");
    return OpenCounted(path, [&] { return next(path, flags, mode); });
}

int openat(int dir, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeOf(flags, args);
    va_end(args);
    static auto next = Next<int (*)(int, const char*, int, ...)>("openat");
    return OpenCounted(path, [&] { return next(dir, path, flags, mode); });
}

int openat64(int dir, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeOf(flags, args);
    va_end(args);
    static auto next = Next<int (*)(int, const char*, int, ...)>("openat64");
    return OpenCounted(path, [&] { return next(dir, path, flags, mode); });
}

int close(int fd) {
    static auto next = Next<int (*)(int)>("close");
    const char* node = Tracked(fd);
    if (node == nullptr) return next(fd);
    state.fdNode[fd] = nullptr;
    const int error = Count(node, NodeCall::Close, "-");
    const int result = next(fd);
    if (error <= 0) return result;
    errno = error;  // closed all the same, as Linux does
    return -1;
}

ssize_t read(int fd, void* buffer, size_t length) {
    static auto next = Next<ssize_t (*)(int, void*, size_t)>("read");
    const char* node = Tracked(fd);
    if (node == nullptr || std::strcmp(node, GpioSysfsRoot) != 0) return next(fd, buffer, length);
    static thread_local int readFd;
    static thread_local void* readBuffer;
    readFd = fd;
    readBuffer = buffer;
    return Moved(node, NodeCall::Read, length,
                 [](size_t n) { return next(readFd, readBuffer, n); });
}

ssize_t write(int fd, const void* bytes, size_t length) {
    static auto next = Next<ssize_t (*)(int, const void*, size_t)>("write");
    const char* node = Tracked(fd);
    if (node == nullptr || std::strcmp(node, GpioSysfsRoot) != 0) return next(fd, bytes, length);
    static thread_local int writeFd;
    static thread_local const void* writeBytes;
    writeFd = fd;
    writeBytes = bytes;
    return Moved(node, NodeCall::Write, length,
                 [](size_t n) { return next(writeFd, writeBytes, n); });
}

}  // extern "C"

void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    using NewFn = void* (*)(std::size_t, const std::nothrow_t&) noexcept;
    static auto next = Next<NewFn>("_ZnamRKSt9nothrow_t");
    if (Count(kHeap, NodeCall::Alloc, "-") > 0) return nullptr;
    return next(size, tag);
}

// Descriptors of the nodes that the command left open.
__attribute__((destructor)) static void ReportLeaks() {
    for (int fd = 0; fd < kMaxFd; ++fd) {
        const char* node = state.fdNode[fd];
        if (node != nullptr && fcntl(fd, F_GETFD) != -1) Log(node, "leak", fd, "-");
    }
}
