// One open device node: its descriptor and the driver its requests go to.
// The descriptor is closed, through the driver that opened it, when the
// node closes or goes away.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <utility>

#include "device_driver.h"

class DeviceNode {
public:
    DeviceNode() = default;
    ~DeviceNode() { Close(); }

    DeviceNode(const DeviceNode&) = delete;
    DeviceNode& operator=(const DeviceNode&) = delete;

    // Closes what is open, then opens `path` with `flags` through `driver`,
    // which answers the node's requests from then on. False with errno set
    // when the open failed; the node is closed then.
    bool Open(const char* path, int flags, DeviceDriver& driver = DeviceDriver::System());
    void Close();
    // Any descriptor, 0 included, is an open node.
    bool IsOpen() const { return fd_ >= 0; }
    int Descriptor() const { return fd_; }

    // Sends the node's requests through `driver` from now on; the node is
    // still closed by the driver that opened it. `driver` must outlive its
    // use here.
    void SetDriver(DeviceDriver& driver) { driver_ = &driver; }

    int Ioctl(unsigned long request, void* arg) { return driver_->Ioctl(fd_, request, arg); }
    ssize_t Write(const void* bytes, size_t length) { return driver_->Write(fd_, bytes, length); }

private:
    int fd_ = -1;
    DeviceDriver* driver_ = &DeviceDriver::System();
    DeviceDriver* opener_ = nullptr;
};
