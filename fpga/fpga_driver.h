// The FPGA's character devices as its code reaches them.
//
// Every request the loader makes to the configuration node (FpgaConfigPort)
// and every request an FPGAReg makes to its register device after
// construction goes through one FpgaDriver. The system driver is ioctl(2)
// and write(2); a program without these nodes (a fuzzer, a test) can answer
// them in its own process.
#pragma once

#include <sys/types.h>

#include <cstddef>

class FpgaDriver {
public:
    virtual ~FpgaDriver() = default;
    // ioctl(2) and write(2) semantics: the result, -1 with errno set on failure.
    virtual int Ioctl(int fd, unsigned long request, void* arg) = 0;
    virtual ssize_t Write(int fd, const void* bytes, size_t length) = 0;

    // The system calls themselves, shared by every user.
    static FpgaDriver& System();
};
