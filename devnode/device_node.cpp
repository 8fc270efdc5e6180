#include "device_node.h"

#include <cerrno>

bool DeviceNode::Open(const char* path, int flags, DeviceDriver& driver) {
    Close();
    driverInUse = &driver;
    fd = driver.Open(path, flags);
    if (fd < 0) return false;
    opener = &driver;
    return true;
}

void DeviceNode::Close() {
    if (fd < 0) return;
    const int saved = errno;  // a close never hides why something else failed
    opener->Close(std::exchange(fd, -1));
    errno = saved;
}
