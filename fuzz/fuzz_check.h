// What every fuzz target shares: the check that stops a run, and a file of
// this process under $TMPDIR that holds the current input.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// Stops the run with a message when a property does not hold.
#define FUZZ_CHECK(cond)                                                             \
    do {                                                                             \
        if (!(cond)) {                                                               \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            abort();                                                                 \
        }                                                                            \
    } while (0)

// Rewrites the process's file with `bytes` and returns its path. The file
// is removed when the process ends normally.
inline const std::string& FuzzFile(const uint8_t* bytes, size_t size) {
    static const struct File {
        File() {
            const char* dir = getenv("TMPDIR");
            path = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/fuzz.XXXXXX";
            const int fd = mkstemp(path.data());
            FUZZ_CHECK(fd >= 0);
            close(fd);
        }
        ~File() { unlink(path.c_str()); }
        std::string path;
    } file;
    const int fd = open(file.path.c_str(), O_WRONLY | O_TRUNC);
    FUZZ_CHECK(fd >= 0 && write(fd, bytes, size) == static_cast<ssize_t>(size));
    close(fd);
    return file.path;
}
