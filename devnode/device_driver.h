// The driver seam: every system call the library makes on a device node
// (the spidev nodes, the configuration node) goes through a DeviceDriver.
// The default is the system calls themselves; a program without the nodes
// (a test, a fuzzer, a benchmark) answers them in its own process by
// overriding what it needs.
#pragma once

#include <sys/types.h>

#include <cstddef>

class DeviceDriver {
public:
    virtual ~DeviceDriver() = default;
    // open(2), close(2), ioctl(2), write(2) semantics: the result, -1 with
    // errno set on failure.
    virtual int Open(const char* path, int flags);
    virtual int Close(int fd);
    virtual int Ioctl(int fd, unsigned long request, void* arg);
    virtual ssize_t Write(int fd, const void* bytes, size_t length);

    // The system calls, shared by every user.
    static DeviceDriver& System();
};
