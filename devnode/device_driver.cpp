#include "device_driver.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

int DeviceDriver::Open(const char* path, int flags) { return ::open(path, flags); }

int DeviceDriver::Close(int fd) { return ::close(fd); }

int DeviceDriver::Ioctl(int fd, unsigned long request, void* arg) {
    return ::ioctl(fd, request, arg);
}

ssize_t DeviceDriver::Write(int fd, const void* bytes, size_t length) {
    return ::write(fd, bytes, length);
}

DeviceDriver& DeviceDriver::System() {
    static DeviceDriver driver;
    return driver;
}
