#include "config_node.h"

#include <fcntl.h>

#include <cerrno>

bool ConfigNode::Open(const char* path, DeviceDriver& driver) {
    return node.Open(path, O_RDWR | O_CLOEXEC, driver);
}

int ConfigNode::Drive(unsigned nr, uint8_t level) {
    return node.Ioctl(FpgaConfigWriteRequest(nr), &level);
}

int ConfigNode::Read(unsigned nr, uint8_t* level) {
    return node.Ioctl(FpgaConfigReadRequest(nr), level);
}

int ConfigNode::Send(unsigned nr, uint8_t* record) {
    return node.Ioctl(FpgaConfigWriteRequest(nr), record);
}

bool ConfigNode::WriteAll(const uint8_t* bytes, size_t length) {
    while (length > 0) {
        const ssize_t written = node.Write(bytes, length);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}
