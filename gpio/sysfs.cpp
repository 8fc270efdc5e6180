#include "sysfs.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "unique_fd.h"

namespace {

constexpr size_t kPinPathSize = 128;

UniqueFd OpenOrComplain(const char* path, int flags) {
    UniqueFd fd(::open(path, flags));
    if (!fd.Valid()) printf("sysfs: Can not open %s\n", path);
    return fd;
}

// Formats the value path of `pin`; false when it does not fit.
bool PinPath(const char* pin, char (&path)[kPinPathSize]) {
    int n = snprintf(path, sizeof path, "%s/%s/value", GpioSysfsRoot, pin);
    return n >= 0 && static_cast<size_t>(n) < sizeof path;
}

}  // namespace

int sysfsReadText(const char* path, char* buffer, size_t size) {
    if (size == 0) return -1;
    UniqueFd fd = OpenOrComplain(path, O_RDONLY);
    if (!fd.Valid()) return -1;
    ssize_t count = ::read(fd.Get(), buffer, size - 1);
    if (count < 0) return -1;
    buffer[count] = '\0';
    return static_cast<int>(count);
}

int sysfsReadBool(const char* path) {
    char text[2];
    if (sysfsReadText(path, text, sizeof text) < 1) return -1;
    return text[0] == '0' ? 0 : 1;
}

int sysfsReadInt(const char* path) {
    char text[32];
    if (sysfsReadText(path, text, sizeof text) < 1) return -1;
    return static_cast<int>(strtol(text, nullptr, 10));
}

int sysfsWriteText(const char* path, const char* bytes, size_t length) {
    UniqueFd fd = OpenOrComplain(path, O_WRONLY);
    if (!fd.Valid()) return -1;
    ssize_t count = ::write(fd.Get(), bytes, length);
    return count >= 0 && static_cast<size_t>(count) == length ? 0 : -1;
}

int sysfsWriteBool(const char* path, bool value) {
    return sysfsWriteText(path, value ? "1" : "0", 1);
}

int sysfsWriteInt(const char* path, int value) {
    char text[32];
    int n = snprintf(text, sizeof text, "%d", value);
    if (n < 0 || n > 31) return -1;
    return sysfsWriteText(path, text, static_cast<size_t>(n));
}

int sysfsReadPin(const char* pin) {
    char path[kPinPathSize];
    if (!PinPath(pin, path)) return -1;
    return sysfsReadBool(path);
}

int sysfsWritePin(const char* pin, bool value) {
    char path[kPinPathSize];
    if (!PinPath(pin, path)) return -1;
    return sysfsWriteBool(path, value);
}
