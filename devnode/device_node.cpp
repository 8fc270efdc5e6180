#include "device_node.h"

#include <cerrno>

bool DeviceNode::Open(const char* path, int flags, DeviceDriver& driver) {
    Close();
    driver_ = &driver;
    fd_ = driver.Open(path, flags);
    if (fd_ < 0) return false;
    opener_ = &driver;
    return true;
}

void DeviceNode::Close() {
    if (fd_ < 0) return;
    const int saved = errno;  // a close never hides why something else failed
    opener_->Close(std::exchange(fd_, -1));
    errno = saved;
}
