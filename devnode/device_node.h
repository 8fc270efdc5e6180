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
    bool IsOpen() const { return fd >= 0; }
    int Descriptor() const { return fd; }

    // Sends the node's requests through `driver` from now on; the node is
    // still closed by the driver that opened it. `driver` must outlive its
    // use here.
    void SetDriver(DeviceDriver& driver) { driverInUse = &driver; }

    int Ioctl(unsigned long request, void* arg) { return driverInUse->Ioctl(fd, request, arg); }
    ssize_t Write(const void* bytes, size_t length) {
        return driverInUse->Write(fd, bytes, length);
    }

private:
    int fd = -1;
    DeviceDriver* driverInUse = &DeviceDriver::System();
    DeviceDriver* opener = nullptr;
};
