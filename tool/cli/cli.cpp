#include "cli.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "version.h"

namespace cli {

bool KeepStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free descriptor is the one missing. The system call
        // itself, not the C library's open: a preloaded wrapper of open (as
        // the device emulation of the tests has) may take a descriptor of its
        // own on first use, which would then be the standard stream.
        const int opened = static_cast<int>(
            syscall(SYS_openat, AT_FDCWD, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY));
        if (opened < 0) return false;
        if (opened != fd) {
            close(opened);
            return false;
        }
    }
    return true;
}

bool CloseStandardOutput(const char* program) {
    const bool lost = fflush(stdout) != 0 || ferror(stdout) != 0;
    const int err = errno;
    const bool closed = fclose(stdout) == 0;
    if (lost || !closed) {
        fprintf(stderr, "%s: write error on standard output: %s\n", program,
                strerror(lost ? err : errno));
    }
    fflush(stderr);
    return !lost && closed;
}

void PrintVersion(const char* program) { printf("%s %s\n", program, SKARVIK_VERSION); }

std::optional<long long> ParseInteger(std::string_view text, long long min, long long max) {
    std::string digits(text);
    const size_t sign = !digits.empty() && (digits[0] == '-' || digits[0] == '+') ? 1 : 0;
    const bool hex = digits.compare(sign, 2, "0x") == 0 || digits.compare(sign, 2, "0X") == 0;
    const size_t first = sign + (hex ? 2 : 0);
    // strtoll would take blanks and a second sign; a digit must come first.
    if (first >= digits.size() ||
        !(hex ? isxdigit(static_cast<unsigned char>(digits[first]))
              : isdigit(static_cast<unsigned char>(digits[first])))) {
        return std::nullopt;
    }
    errno = 0;
    char* end = nullptr;
    const long long value = strtoll(digits.c_str(), &end, hex ? 16 : 10);
    if (errno != 0 || *end != '\0' || value < min || value > max) return std::nullopt;
    return value;
}

}  // namespace cli
