#include "inproc_bus.h"

#include <fcntl.h>
#include <linux/spi/spidev.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <memory>

#include "device_paths.h"

extern "C" {
int __real_open(const char* path, int flags, ...);
int __real_open64(const char* path, int flags, ...);
int __real_ioctl(int fd, unsigned long request, ...);
int __real_close(int fd);
ssize_t __real_write(int fd, const void* bytes, size_t length);
}

namespace inproc {

namespace {

std::unique_ptr<sim::TxBoardModel> board;
bool enabled = false;
int spiFd = -1;
int gpioFd = -1;
// The FPGA's nodes, when EnableFpga() chose them.
std::unique_ptr<sim::GpioDeviceModel> configNode;
std::unique_ptr<sim::FpgaRegisterModel> registerNode;
int configFd = -1;
int registerFd = -1;
long registerMessages = 0;

int Claim(const char* path, int& slot) {
    // A real descriptor keeps the numbering honest and closes like any other.
    slot = __real_open("/dev/null", O_RDWR);
    (void)path;
    return slot;
}

int OpenNode(const char* path, bool* handled) {
    if (configNode) {
        *handled = strcmp(path, kGpioDevicePath) == 0 || strcmp(path, kFpgaRegisterPath) == 0;
        if (!*handled) return -1;
        return strcmp(path, kGpioDevicePath) == 0 ? Claim(path, configFd) : Claim(path, registerFd);
    }
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

// The register node's requests: its set-up, and one two-record message per
// register access (the command byte, then the data byte with one byte back).
int RegisterRequest(unsigned long request, void* arg) {
    int err = 0;
    long result = 0;
    if (request == SPI_IOC_MESSAGE(2)) {
        const auto* t = static_cast<const spi_ioc_transfer*>(arg);
        result = registerNode->Message(*reinterpret_cast<const uint8_t*>(t[0].tx_buf),
                                       *reinterpret_cast<const uint8_t*>(t[1].tx_buf),
                                       reinterpret_cast<uint8_t*>(t[1].rx_buf), &err);
        // The model keeps every message; a long run keeps only the latest.
        if (++registerMessages % 4096 == 0) registerNode->ClearTransfers();
    } else {
        auto* byte = static_cast<uint8_t*>(arg);
        auto* word = static_cast<uint32_t*>(arg);
        switch (request) {
        case SPI_IOC_WR_MODE: registerNode->SetMode(*byte); break;
        case SPI_IOC_RD_MODE: *byte = registerNode->Mode(); break;
        case SPI_IOC_RD_BITS_PER_WORD: *byte = registerNode->BitsPerWord(); break;
        case SPI_IOC_WR_MAX_SPEED_HZ: registerNode->SetMaxSpeedHz(*word); break;
        case SPI_IOC_RD_MAX_SPEED_HZ: *word = registerNode->MaxSpeedHz(); break;
        default: err = ENOTTY;
        }
    }
    if (err != 0) errno = err;
    return err != 0 ? -1 : static_cast<int>(result);
}

int ConfigRequest(unsigned long request, void* arg) {
    int err = 0;
    const size_t length = sim::GpioDeviceModel::ArgLength(request);
    const int result = configNode->Handle(request, static_cast<uint8_t*>(arg), length, &err);
    if (err != 0) errno = err;
    return result;
}

}  // namespace

void EnableFpga(bool keyHeld) {
    configNode = std::make_unique<sim::GpioDeviceModel>();
    registerNode = std::make_unique<sim::FpgaRegisterModel>();
    if (keyHeld) registerNode->PressKey(1, 3);
    enabled = true;
}

sim::GpioDeviceModel& ConfigNode() { return *configNode; }
sim::FpgaRegisterModel& RegisterNode() { return *registerNode; }

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
    if (inproc::enabled && fd >= 0 && (fd == inproc::configFd || fd == inproc::registerFd)) {
        inproc::CountedCall(fd, request);
        inproc::answering = true;
        const int result = fd == inproc::configFd ? inproc::ConfigRequest(request, arg)
                                                  : inproc::RegisterRequest(request, arg);
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

ssize_t __wrap_write(int fd, const void* bytes, size_t length) {
    if (!inproc::enabled || fd < 0 || fd != inproc::configFd) return __real_write(fd, bytes, length);
    inproc::answering = true;
    int err = 0;
    const long taken = inproc::configNode->Write(static_cast<const uint8_t*>(bytes), length, &err);
    inproc::answering = false;
    if (err != 0) errno = err;
    return taken;
}

int __wrap_close(int fd) {
    if (fd >= 0 && fd == inproc::configFd) inproc::configFd = -1;
    if (fd >= 0 && fd == inproc::registerFd) inproc::registerFd = -1;
    if (fd >= 0 && fd == inproc::spiFd) inproc::spiFd = -1;
    if (fd >= 0 && fd == inproc::gpioFd) inproc::gpioFd = -1;
    return __real_close(fd);
}

}  // extern "C"
