#include "fpga_config_port.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

namespace {

class SystemFpgaDriver final : public FpgaDriver {
public:
    int Ioctl(int fd, unsigned long request, void* arg) override {
        return ::ioctl(fd, request, arg);
    }
    ssize_t Write(int fd, const void* bytes, size_t length) override {
        return ::write(fd, bytes, length);
    }
};

}  // namespace

FpgaDriver& FpgaDriver::System() {
    static SystemFpgaDriver driver;
    return driver;
}

int FpgaConfigPort::Ioctl(unsigned long request, uint8_t* arg) {
    return driver_.Ioctl(fd_, request, arg);
}

int FpgaConfigPort::Drive(unsigned nr, uint8_t level) {
    return Ioctl(FpgaConfigWriteRequest(nr), &level);
}

int FpgaConfigPort::Read(unsigned nr, uint8_t* level) {
    return Ioctl(FpgaConfigReadRequest(nr), level);
}

bool FpgaConfigPort::WriteAll(const uint8_t* bytes, size_t length) {
    while (length > 0) {
        const ssize_t written = driver_.Write(fd_, bytes, length);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}
