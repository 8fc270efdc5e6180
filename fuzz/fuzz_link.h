// A transmitter link for the fuzz targets: a TxSpi whose spidev and ready-line
// requests are answered in process with the fuzzer's bytes, on a clock that
// never sleeps.
#pragma once

#include <fcntl.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <linux/spi/spidev.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "clock.h"
#include "device_paths.h"
#include "fuzz_check.h"
#include "gpio_port.h"
#include "monotonic_time.h"
#include "tx_spi.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The link reports every fault, a hex dump byte by byte: buffer it rather
    // than make a system call per byte (the fuzzer's own reports do not go
    // through this stream).
    setvbuf(stderr, nullptr, _IOFBF, 1 << 16);
    return 0;
}

// The link's time: a microsecond a reading while the input lasts, a second
// a reading once it is spent, and sleeps that return at once. A silent board
// has nothing more to show, and the waits of the link (eight seconds of
// polls, every poll a retried query) then reach their deadlines within a few
// exchanges instead of thousands.
struct FuzzClock final : Clock {
    explicit FuzzClock(FuzzedDataProvider& input) : data(input) {}
    timespec Now() override {
        AddNanoseconds(now, data.remaining_bytes() > 0 ? 1000 : 1000000000);
        return now;
    }
    void SleepUntil(const timespec& deadline) override {
        if (!TimeReached(now, deadline)) now = deadline;
    }
    void Sleep(int64_t nanoseconds) override { AddNanoseconds(now, nanoseconds); }

    FuzzedDataProvider& data;
    timespec now{1000, 0};
};

// The link's two nodes, answered in process. Both open on /dev/null (real
// descriptors that close like any other); the spidev set-up requests fail as
// on a driver that refuses them.
//
// Each SPI_IOC_MESSAGE(1) is answered from the fuzzer's bytes: first one
// control byte picks the driver's behaviour, mostly a full transfer, at times
// a failed ioctl (0xEE, EIO) or a short one (0xED). The reply bytes follow;
// when the input runs out the board clocks zeros. The ready line reads ready
// while the input lasts and busy once it is spent: a silent board never gets
// ready either.
struct FuzzNodes : DeviceDriver {
    explicit FuzzNodes(FuzzedDataProvider& input) : data(input) {}

    int Open(const char*, int) override { return ::open("/dev/null", O_RDWR | O_CLOEXEC); }

    int Ioctl(int, unsigned long request, void* arg) override {
        if (request == GPIO_PREPARE_PIN) return 0;
        if (request == GPIO_GET_PIN) {
            static_cast<uint8_t*>(arg)[kGpioPinRecordSize - 1] = data.remaining_bytes() > 0 ? 0 : 1;
            return 0;
        }
        // After the set-up, the link makes transfers only.
        FUZZ_CHECK(!linkUp || request == SPI_IOC_MESSAGE(1));
        if (request != SPI_IOC_MESSAGE(1)) return errno = ENOTTY, -1;
        const auto* t = static_cast<const spi_ioc_transfer*>(arg);
        // What the link promises the driver: one bounded transfer of its own
        // buffers, a request that carries a non-zero id and a sane length.
        FUZZ_CHECK(t->len > 0 && t->len <= kMaxTransfer);
        const auto* tx = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(t->tx_buf));
        auto* rx = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(t->rx_buf));
        FUZZ_CHECK(tx[1] != 0 && tx[3] >= 8);
        const uint8_t control = data.ConsumeIntegral<uint8_t>();
        if (control == 0xEE) return errno = EIO, -1;
        const size_t moved =
            control == 0xED ? data.ConsumeIntegralInRange<size_t>(0, t->len) : t->len;
        std::fill(rx + data.ConsumeData(rx, moved), rx + moved, 0);
        return static_cast<int>(moved);
    }

    FuzzedDataProvider& data;
    bool linkUp = false;
};

// A link whose nodes and clock are those above.
struct FuzzLink final : FuzzNodes, TxSpi {
    explicit FuzzLink(FuzzedDataProvider& input)
        : FuzzNodes(input), TxSpi(kSpidevPath, static_cast<FuzzNodes&>(*this)), clock(input) {
        SetClock(clock);
        linkUp = true;
    }

    FuzzClock clock;
};
