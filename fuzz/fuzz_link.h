// A transmitter link for the fuzz targets: a TxSpi whose spidev requests are
// answered in process with the fuzzer's bytes, on a clock that never sleeps.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>
#include <linux/spi/spidev.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "fuzz_check.h"
#include "link_clock.h"
#include "protocol.h"
#include "tx_spi.h"

// Time moves only when the link sleeps.
class NoSleepClock final : public LinkClock {
public:
    timespec Now() override {
        AddNanoseconds(now_, 1000);
        return now_;
    }
    void SleepUntil(const timespec& deadline) override {
        if (!TimeReached(now_, deadline)) now_ = deadline;
    }
    void Sleep(int64_t nanoseconds) override { AddNanoseconds(now_, nanoseconds); }

private:
    timespec now_{1000, 0};
};

// Answers SPI_IOC_MESSAGE(1) from the fuzzer's bytes. Before each transfer
// one control byte picks the driver's behaviour: mostly a full transfer, at
// times a failed ioctl (EIO) or a short one. The reply bytes follow; when the
// input runs out the board clocks zeros.
class FuzzedSpiDriver final : public SpiDriver {
public:
    explicit FuzzedSpiDriver(FuzzedDataProvider& data) : data_(data) {}

    int Ioctl(int, unsigned long request, void* arg) override {
        if (request != SPI_IOC_MESSAGE(1)) {
            errno = ENOTTY;
            return -1;
        }
        const auto* t = static_cast<const spi_ioc_transfer*>(arg);
        // What the link promises the driver: one bounded transfer of its own
        // buffers, a request that carries a non-zero id and a sane length.
        FUZZ_CHECK(t->len > 0 && t->len <= kMaxTransfer);
        const auto* tx = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(t->tx_buf));
        auto* rx = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(t->rx_buf));
        FUZZ_CHECK(tx[1] != 0);
        FUZZ_CHECK(tx[3] >= 8);
        ++transfers;

        const uint8_t control = data_.ConsumeIntegral<uint8_t>();
        if (control == 0xEE) {
            errno = EIO;
            return -1;
        }
        size_t moved = t->len;
        if (control == 0xED) moved = data_.ConsumeIntegralInRange<size_t>(0, t->len);
        const size_t got = data_.ConsumeData(rx, moved);
        std::fill(rx + got, rx + moved, 0);
        return static_cast<int>(moved);
    }

    int transfers = 0;

private:
    FuzzedDataProvider& data_;
};

// A link on /dev/null (an open descriptor that is not a spidev node: the
// set-up requests fail as on a driver that refuses them), then switched to
// the fuzzed driver and the sleepless clock.
struct FuzzLink {
    explicit FuzzLink(FuzzedDataProvider& data) : driver(data), link("/dev/null") {
        link.SetDriver(driver);
        link.SetClock(clock);
    }
    FuzzedSpiDriver driver;
    NoSleepClock clock;
    TxSpi link;
};
