// What every fuzz target shares: the check that stops a run, and the input
// as a file.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// Stops the run with a message when a property does not hold.
#define FUZZ_CHECK(cond) \
    ((cond) ? void()     \
            : (fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond), abort()))

// The current input as a file: an in-memory file of this process, rewritten
// with `bytes` on every call; returns the path that opens it.
inline const std::string& FuzzFile(const uint8_t* bytes, size_t size) {
    static const int fd = memfd_create("fuzz-input", 0);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    FUZZ_CHECK(fd >= 0 && ftruncate(fd, 0) == 0);
    FUZZ_CHECK(pwrite(fd, bytes, size, 0) == static_cast<ssize_t>(size));
    return path;
}
