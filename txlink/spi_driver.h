// The spidev driver as the link reaches it.
//
// Every request a TxSpi makes to its spidev node after construction goes
// through one SpiDriver. The system driver is ioctl(2); a program that has no
// spidev node (a fuzzer, a test) can answer the requests in its own process.
#pragma once

class SpiDriver {
public:
    virtual ~SpiDriver() = default;
    // ioctl(2) semantics: the result, -1 with errno set on failure.
    virtual int Ioctl(int fd, unsigned long request, void* arg) = 0;

    // ioctl(2) itself, shared by every link.
    static SpiDriver& System();
};
