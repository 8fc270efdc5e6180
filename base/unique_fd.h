// A move-only owner of one file descriptor.
#pragma once

#include <unistd.h>

#include <utility>

class UniqueFd {
public:
    UniqueFd() = default;
    // Takes ownership of `descriptor`; a negative value means "no descriptor".
    explicit UniqueFd(int descriptor) : fd(descriptor) {}
    ~UniqueFd() { Reset(); }

    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) Reset(std::exchange(other.fd, -1));
        return *this;
    }

    int Get() const { return fd; }
    bool Valid() const { return fd >= 0; }
    // Closes the descriptor held, if any, and takes `descriptor` instead.
    void Reset(int descriptor = -1) {
        if (fd >= 0) ::close(fd);
        fd = descriptor;
    }

private:
    int fd = -1;
};
