#include "inproc_bus.h"

#include <fcntl.h>
#include <linux/spi/spidev.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <memory>

#include "gpio_model.h"

extern "C" {
int __real_open(const char* path, int flags, ...);
int __real_open64(const char* path, int flags, ...);
int __real_ioctl(int fd, unsigned long request, ...);
int __real_close(int fd);
}

namespace inproc {

namespace {

std::unique_ptr<sim::TxBoardModel> board;
bool enabled = false;
int spiFd = -1;
int gpioFd = -1;

int Claim(const char* path, int& slot) {
    // A real descriptor keeps the numbering honest and closes like any other.
    slot = __real_open("/dev/null", O_RDWR);
    (void)path;
    return slot;
}

int OpenNode(const char* path, bool* handled) {
    *handled = enabled && (strcmp(path, "/dev/spidev0.1") == 0 ||
                           strcmp(path, "/dev/fpga_config.0") == 0);
    if (!*handled) return -1;
    return strcmp(path, "/dev/spidev0.1") == 0 ? Claim(path, spiFd) : Claim(path, gpioFd);
}

bool systemCalls = false;

void CountedCall(int fd, unsigned long request) {
    if (systemCalls) __real_ioctl(fd, request, nullptr);
}

int SpiRequest(unsigned long request, void* arg) {
    if (request == SPI_IOC_MESSAGE(1)) {
        const auto* t = static_cast<const spi_ioc_transfer*>(arg);
        const long moved = board->Transfer(reinterpret_cast<const uint8_t*>(t->tx_buf),
                                           reinterpret_cast<uint8_t*>(t->rx_buf), t->len);
        if (moved < 0) errno = EIO;
        return static_cast<int>(moved);
    }
    auto* byte = static_cast<uint8_t*>(arg);
    auto* word = static_cast<uint32_t*>(arg);
    switch (request) {
    case SPI_IOC_WR_MODE: board->SetMode(*byte); return 0;
    case SPI_IOC_RD_MODE: *byte = board->Mode(); return 0;
    case SPI_IOC_WR_BITS_PER_WORD: board->SetBitsPerWord(*byte); return 0;
    case SPI_IOC_RD_BITS_PER_WORD: *byte = board->BitsPerWord(); return 0;
    case SPI_IOC_WR_MAX_SPEED_HZ: board->SetMaxSpeedHz(*word); return 0;
    case SPI_IOC_RD_MAX_SPEED_HZ: *word = board->MaxSpeedHz(); return 0;
    default: errno = ENOTTY; return -1;
    }
}

}  // namespace

void Enable(const sim::BoardConfig& config, bool withSystemCalls) {
    board = std::make_unique<sim::TxBoardModel>(config);
    systemCalls = withSystemCalls;
    enabled = true;
}

thread_local bool answering = false;

sim::TxBoardModel& Board() { return *board; }

}  // namespace inproc

extern "C" {

int __wrap_open(const char* path, int flags, ...) {
    bool handled = false;
    const int fd = inproc::OpenNode(path, &handled);
    if (handled) return fd;
    va_list args;
    va_start(args, flags);
    const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? va_arg(args, mode_t) : 0;
    va_end(args);
    return __real_open(path, flags, mode);
}

int __wrap_open64(const char* path, int flags, ...) {
    bool handled = false;
    const int fd = inproc::OpenNode(path, &handled);
    if (handled) return fd;
    va_list args;
    va_start(args, flags);
    const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? va_arg(args, mode_t) : 0;
    va_end(args);
    return __real_open64(path, flags, mode);
}

int __wrap_ioctl(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    if (inproc::enabled && fd >= 0 && fd == inproc::spiFd) {
        inproc::CountedCall(fd, request);
        inproc::answering = true;
        const int result = inproc::SpiRequest(request, arg);
        inproc::answering = false;
        return result;
    }
    if (inproc::enabled && fd >= 0 && fd == inproc::gpioFd) {
        inproc::CountedCall(fd, request);
        // The pin record's level byte: 0, the ready level.
        if (request == GPIO_GET_PIN) {
            static_cast<uint8_t*>(arg)[kGpioPinRecordSize - 1] = 0;
        }
        return 0;
    }
    return __real_ioctl(fd, request, arg);
}

int __wrap_close(int fd) {
    if (fd >= 0 && fd == inproc::spiFd) inproc::spiFd = -1;
    if (fd >= 0 && fd == inproc::gpioFd) inproc::gpioFd = -1;
    return __real_close(fd);
}

}  // extern "C"
