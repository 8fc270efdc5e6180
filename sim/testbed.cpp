#include "testbed.h"

#include "node_faults.h"

#include <dlfcn.h>
#include <linux/spi/spidev.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

namespace sim {

namespace {

std::atomic<long> spiTransfersHandled{0};
std::atomic<long> spiSetupHandled{0};
std::atomic<long> gpioHandled{0};

// spidev refuses transfers longer than its buffer (4096 bytes by default).
constexpr uint32_t kSpidevBufferSize = 4096;

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
using DataPtr = std::unique_ptr<UMockdevIoctlData, GObjectUnref>;

// Resolves `len` bytes behind the pointer at `offset` of `data` into local
// memory; null on failure. The result is a new reference.
DataPtr Resolve(UMockdevIoctlData* data, size_t offset, size_t len) {
    GError* error = nullptr;
    DataPtr resolved(umockdev_ioctl_data_resolve(data, offset, len, &error));
    g_clear_error(&error);
    if (resolved && static_cast<size_t>(resolved->data_len) < len) resolved.reset();
    return resolved;
}

// Moves one byte or one 32-bit word between the ioctl argument and the model.
template <typename T>
bool ReadArg(UMockdevIoctlData* arg, T* value) {
    DataPtr data = Resolve(arg, 0, sizeof(T));
    if (!data) return false;
    std::memcpy(value, data->data, sizeof(T));
    return true;
}

template <typename T>
bool WriteArg(UMockdevIoctlData* arg, T value) {
    DataPtr data = Resolve(arg, 0, sizeof(T));
    if (!data) return false;
    // Modified local copies are synced back to the caller on completion.
    std::memcpy(data->data, &value, sizeof(T));
    return true;
}

// Counts the call for the fault sweep; when the sweep fails it, completes it
// with its error and returns true (the handler is done).
bool FailedBySweep(UMockdevIoctlClient* client, const char* node, NodeCall call,
                   bool canShorten, CallVerdict* verdict) {
    *verdict = CountNodeCall(node, call, canShorten);
    if (!verdict->fail) return false;
    umockdev_ioctl_client_complete(client, -1, verdict->error);
    return true;
}

// One SPI_IOC_MESSAGE(1): the transfer record, its tx and rx buffers, and
// the board model in between. Returns the ioctl result, errno in *err.
long SpiMessage(TxBoardModel& board, UMockdevIoctlData* arg, int* err) {
    DataPtr xfer = Resolve(arg, 0, sizeof(spi_ioc_transfer));
    if (!xfer) {
        *err = EFAULT;
        return -1;
    }
    // Native layout (the driver's struct), so a plain copy, not frame helpers.
    spi_ioc_transfer t{};
    std::memcpy(&t, xfer->data, sizeof t);
    if (t.len > kSpidevBufferSize) {
        *err = EMSGSIZE;
        return -1;
    }

    DataPtr tx;
    DataPtr rx;
    if (t.len > 0 && t.tx_buf != 0) {
        tx = Resolve(xfer.get(), offsetof(spi_ioc_transfer, tx_buf), t.len);
        if (!tx) {
            *err = EFAULT;
            return -1;
        }
    }
    if (t.len > 0 && t.rx_buf != 0) {
        rx = Resolve(xfer.get(), offsetof(spi_ioc_transfer, rx_buf), t.len);
        if (!rx) {
            *err = EFAULT;
            return -1;
        }
    }
    const long result = board.Transfer(tx ? tx->data : nullptr, rx ? rx->data : nullptr, t.len);
    *err = result < 0 ? EIO : 0;
    return result;
}

// The set-up requests both emulated spidev nodes answer alike: mode, word
// size and clock speed. False for a request that is none of them, or that
// the model cannot take (the register device's word size is fixed).
template <typename Model>
bool SpiSetupIoctl(Model& model, gulong request, UMockdevIoctlData* arg, int* err) {
    uint8_t byte = 0;
    uint32_t word = 0;
    bool ok = true;
    switch (request) {
    case SPI_IOC_WR_MODE:
        if ((ok = ReadArg(arg, &byte))) model.SetMode(byte);
        break;
    case SPI_IOC_RD_MODE:
        ok = WriteArg(arg, model.Mode());
        break;
    case SPI_IOC_WR_BITS_PER_WORD:
        if constexpr (requires { model.SetBitsPerWord(byte); }) {
            if ((ok = ReadArg(arg, &byte))) model.SetBitsPerWord(byte);
            break;
        } else {
            return false;
        }
    case SPI_IOC_RD_BITS_PER_WORD:
        ok = WriteArg(arg, model.BitsPerWord());
        break;
    case SPI_IOC_WR_MAX_SPEED_HZ:
        if ((ok = ReadArg(arg, &word))) model.SetMaxSpeedHz(word);
        break;
    case SPI_IOC_RD_MAX_SPEED_HZ:
        ok = WriteArg(arg, model.MaxSpeedHz());
        break;
    default:
        return false;
    }
    if (!ok) *err = EFAULT;
    return true;
}

gboolean OnSpidevIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user) {
    auto& board = *static_cast<TxBoardModel*>(user);
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);  // borrowed

    long result = 0;
    int err = 0;
    (request == SPI_IOC_MESSAGE(1) ? spiTransfersHandled : spiSetupHandled)++;
    CallVerdict verdict;
    if (FailedBySweep(client, kSpidevPath, NodeCall::Ioctl, request == SPI_IOC_MESSAGE(1),
                      &verdict)) {
        return TRUE;
    }
    if (request == SPI_IOC_MESSAGE(1)) {
        result = SpiMessage(board, arg, &err);
    } else if (!SpiSetupIoctl(board, request, arg, &err)) {
        err = ENOTTY;
    }
    if (err != 0) result = -1;
    if (verdict.shorten && result > 0) --result;
    umockdev_ioctl_client_complete(client, result, err);
    return TRUE;
}

gboolean OnGpioIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user) {
    auto& gpio = *static_cast<GpioDeviceModel*>(user);
    const gulong request = umockdev_ioctl_client_get_request(client);
    const size_t need = GpioDeviceModel::ArgLength(request);
    gpioHandled++;
    CallVerdict verdict;
    if (FailedBySweep(client, kGpioDevicePath, NodeCall::Ioctl, false, &verdict)) return TRUE;

    int err = 0;
    int result = 0;
    if (need == 0) {
        result = gpio.Handle(request, nullptr, 0, &err);
    } else if (DataPtr data = Resolve(umockdev_ioctl_client_get_arg(client), 0, need)) {
        result = gpio.Handle(request, data->data, need, &err);
    } else {
        result = -1;
        err = EFAULT;
    }
    umockdev_ioctl_client_complete(client, result, err);
    return TRUE;
}

// A write on the FPGA configuration node: the bitstream, or part of it.
gboolean OnGpioWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user) {
    auto& gpio = *static_cast<GpioDeviceModel*>(user);
    UMockdevIoctlData* data = umockdev_ioctl_client_get_arg(client);  // borrowed
    size_t length = data->data_len;
    CallVerdict verdict;
    if (FailedBySweep(client, kGpioDevicePath, NodeCall::Write, length > 1, &verdict)) {
        return TRUE;
    }
    if (verdict.shorten) --length;  // the node takes one byte less
    int err = 0;
    const long result = gpio.Write(data->data, length, &err);
    umockdev_ioctl_client_complete(client, result, err);
    return TRUE;
}

// One SPI_IOC_MESSAGE(2) on the register node: the command byte alone, then
// the data byte with one byte clocked back. Records of another shape are
// refused with EINVAL, as a register access never takes them.
long RegisterMessage(FpgaRegisterModel& fpga, UMockdevIoctlData* arg, int* err) {
    DataPtr xfers = Resolve(arg, 0, 2 * sizeof(spi_ioc_transfer));
    if (!xfers) {
        *err = EFAULT;
        return -1;
    }
    spi_ioc_transfer t[2];
    std::memcpy(t, xfers->data, sizeof t);
    for (const spi_ioc_transfer& x : t) {
        if (x.len != 1 || x.tx_buf == 0 || x.bits_per_word != 8 || x.cs_change != 0 ||
            x.speed_hz != 0 || x.delay_usecs != 0) {
            *err = EINVAL;
            return -1;
        }
    }
    if (t[0].rx_buf != 0 || t[1].rx_buf == 0) {
        *err = EINVAL;
        return -1;
    }
    const size_t second = sizeof(spi_ioc_transfer);
    DataPtr command = Resolve(xfers.get(), offsetof(spi_ioc_transfer, tx_buf), 1);
    DataPtr data = Resolve(xfers.get(), second + offsetof(spi_ioc_transfer, tx_buf), 1);
    DataPtr reply = Resolve(xfers.get(), second + offsetof(spi_ioc_transfer, rx_buf), 1);
    if (!command || !data || !reply) {
        *err = EFAULT;
        return -1;
    }
    return fpga.Message(command->data[0], data->data[0], reply->data, err);
}

gboolean OnRegisterIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user) {
    auto& fpga = *static_cast<FpgaRegisterModel*>(user);
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);  // borrowed

    long result = 0;
    int err = 0;
    CallVerdict verdict;
    if (FailedBySweep(client, kFpgaRegisterPath, NodeCall::Ioctl,
                      request == SPI_IOC_MESSAGE(2), &verdict)) {
        return TRUE;
    }
    if (request == SPI_IOC_MESSAGE(2)) {
        result = RegisterMessage(fpga, arg, &err);
    } else if (!SpiSetupIoctl(fpga, request, arg, &err)) {
        err = ENOTTY;
    }
    if (err != 0) result = -1;
    if (verdict.shorten && result > 0) --result;
    umockdev_ioctl_client_complete(client, result, err);
    return TRUE;
}

}  // namespace

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Testbed::Impl {
    UMockdevTestbed* testbed = nullptr;
    std::string root;
    std::string lastError;
    // The handlers attached so far, with their nodes; detached in ~Testbed.
    std::vector<std::pair<std::string, UMockdevIoctlBase*>> handlers;

    std::filesystem::path SysfsDir() const {
        // GpioSysfsRoot is absolute; drop its leading '/' to put it below root.
        return std::filesystem::path(root) / (GpioSysfsRoot + 1);
    }

    bool AddNode(const char* description, const char* node, GCallback handler, gpointer model,
                 GCallback writeHandler = nullptr) {
        GError* error = nullptr;
        if (!umockdev_testbed_add_from_string(testbed, description, &error)) {
            lastError = std::string("cannot add ") + node + ": " +
                        (error != nullptr ? error->message : "unknown error");
            g_clear_error(&error);
            return false;
        }
        UMockdevIoctlBase* base = umockdev_ioctl_base_new();
        g_signal_connect(base, "handle-ioctl", handler, model);
        if (writeHandler != nullptr) g_signal_connect(base, "handle-write", writeHandler, model);
        if (!umockdev_testbed_attach_ioctl(testbed, node, base, &error)) {
            lastError = std::string("cannot emulate ") + node + ": " +
                        (error != nullptr ? error->message : "unknown error");
            g_clear_error(&error);
            g_object_unref(base);
            return false;
        }
        handlers.emplace_back(node, base);
        lastError.clear();
        return true;
    }
};

Testbed::Testbed() : impl(std::make_unique<Impl>()) {
    // Before umockdev starts its worker thread: this may set LD_PRELOAD.
    LoadNodeFaults();
    // Creating the testbed points UMOCKDEV_DIR at its temporary root, which is
    // what the preload library of this process and its children follows.
    impl->testbed = umockdev_testbed_new();
    gchar* root = umockdev_testbed_get_root_dir(impl->testbed);
    impl->root = root;
    g_free(root);
}

Testbed::~Testbed() {
    // Detach first so no handler runs against a model that is going away.
    for (auto& [node, base] : impl->handlers) {
        umockdev_testbed_detach_ioctl(impl->testbed, node.c_str(), nullptr);
        g_object_unref(base);
    }
    // The last reference removes the temporary root and its files.
    g_object_unref(impl->testbed);
}

bool Testbed::InMockEnvironment() {
    // umockdev_in_mock_environment() answers FALSE even in a preloaded process
    // with a live testbed (umockdev 0.17), so ask the dynamic linker whether
    // the preload library is mapped.
    void* preload = dlopen("libumockdev-preload.so.0", RTLD_LAZY | RTLD_NOLOAD);
    if (preload == nullptr) return false;
    dlclose(preload);  // RTLD_NOLOAD still took a reference
    return true;
}

bool Testbed::AddSpidev(TxBoardModel& board) {
    return impl->AddNode(
        "P: /devices/platform/spi0/spidev0.1\n"
        "N: spidev0.1\n"
        "E: SUBSYSTEM=spidev\n"
        "A: dev=153:1\n",
        kSpidevPath, G_CALLBACK(OnSpidevIoctl), &board);
}

bool Testbed::AddGpioDevice(GpioDeviceModel& gpio) {
    return impl->AddNode(
        "P: /devices/platform/fpga_config.0\n"
        "N: fpga_config.0\n"
        "E: SUBSYSTEM=misc\n"
        "A: dev=10:60\n",
        kGpioDevicePath, G_CALLBACK(OnGpioIoctl), &gpio, G_CALLBACK(OnGpioWrite));
}

bool Testbed::AddFpgaRegisterDevice(FpgaRegisterModel& fpga) {
    return impl->AddNode(
        "P: /devices/platform/spi1/spidev1.0\n"
        "N: spidev1.0\n"
        "E: SUBSYSTEM=spidev\n"
        "A: dev=153:2\n",
        kFpgaRegisterPath, G_CALLBACK(OnRegisterIoctl), &fpga);
}

bool Testbed::AddSysfsRoot() {
    std::error_code ec;
    std::filesystem::create_directories(impl->SysfsDir(), ec);
    if (ec) {
        impl->lastError = "cannot create " + impl->SysfsDir().string() + ": " + ec.message();
        return false;
    }
    impl->lastError.clear();
    return true;
}

bool Testbed::SetSysfsPin(const std::string& name, const std::string& text) {
    const std::filesystem::path dir = impl->SysfsDir() / name;
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        impl->lastError = "cannot create " + dir.string() + ": " + ec.message();
        return false;
    }
    std::ofstream out(dir / "value", std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        impl->lastError = "cannot write " + (dir / "value").string();
        return false;
    }
    impl->lastError.clear();
    return true;
}

std::string Testbed::SysfsPin(const std::string& name) const {
    return ReadFile(impl->SysfsDir() / name / "value");
}

void Testbed::RemoveSysfsPin(const std::string& name) {
    std::error_code ec;
    std::filesystem::remove(impl->SysfsDir() / name / "value", ec);
}

IoctlCounts Testbed::HandledIoctls() {
    return {spiTransfersHandled.load(), spiSetupHandled.load(), gpioHandled.load()};
}

std::string Testbed::RootDir() const { return impl->root; }

std::string Testbed::LastError() const { return impl->lastError; }

}  // namespace sim
