// A transmitter link for the fuzz targets: a TxSpi whose spidev requests are
// answered in process with the fuzzer's bytes, on a clock that never sleeps.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>
#include <linux/spi/spidev.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "fake_clock.h"
#include "fuzz_check.h"
#include "tx_spi.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The link reports every fault, a hex dump byte by byte: buffer it rather
    // than make a system call per byte (the fuzzer's own reports do not go
    // through this stream).
    setvbuf(stderr, nullptr, _IOFBF, 1 << 16);
    return 0;
}

// A link on /dev/null (an open descriptor that is not a spidev node: the
// set-up requests fail as on a driver that refuses them) that then answers
// its own spidev requests and keeps its own time.
//
// Each SPI_IOC_MESSAGE(1) is answered from the fuzzer's bytes: first one
// control byte picks the driver's behaviour, mostly a full transfer, at times
// a failed ioctl (0xEE, EIO) or a short one (0xED). The reply bytes follow;
// when the input runs out the board clocks zeros. Time moves only when the
// link sleeps or reads it.
struct FuzzLink final : DeviceDriver, TxSpi {
    explicit FuzzLink(FuzzedDataProvider& input) : TxSpi("/dev/null"), data(input) {
        SetDriver(*this);
        clock.now = timespec{1000, 0};
        SetClock(clock);
    }

    int Ioctl(int, unsigned long request, void* arg) override {
        const auto* t = static_cast<const spi_ioc_transfer*>(arg);
        // What the link promises the driver: one bounded transfer of its own
        // buffers, a request that carries a non-zero id and a sane length.
        FUZZ_CHECK(request == SPI_IOC_MESSAGE(1) && t->len > 0 && t->len <= kMaxTransfer);
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
    FakeClock clock;
};
