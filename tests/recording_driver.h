// A device driver answered in this process: every open (path and flags) and
// request code recorded; opens of `missing` paths fail with ENOENT, the others
// give `descriptor`; requests succeed, a two-part SPI message with 2.
#pragma once

#include <linux/spi/spidev.h>

#include <cerrno>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "device_driver.h"

struct RecordingDriver final : DeviceDriver {
    int Open(const char* path, int flags) override {
        opens.emplace_back(path, flags);
        if (missing.count(path) != 0) {
            errno = ENOENT;
            return -1;
        }
        return descriptor;
    }
    int Close(int fd) override {
        closed.push_back(fd);
        return 0;
    }
    int Ioctl(int, unsigned long request, void*) override {
        codes.push_back(request);
        return request == SPI_IOC_MESSAGE(2) ? 2 : 0;
    }
    int descriptor = 5;
    std::set<std::string> missing;
    std::vector<std::pair<std::string, int>> opens;
    std::vector<int> closed;
    std::vector<unsigned long> codes;
};
