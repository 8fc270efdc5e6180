// What the FPGA fuzz targets share: the input reader, the check and sleeps
// that return at once.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cerrno>

#include "fpga_clock.h"
#include "fuzz_check.h"

// From the first call on, every FPGA sleep of this process returns at once.
inline void SkipFpgaSleeps() {
    struct NoSleepClock final : FpgaClock {
        void SleepMicroseconds(uint32_t) override {}
        void SleepMilliseconds(uint32_t) override {}
    };
    static NoSleepClock clock;
    static ScopedFpgaClock noSleep(clock);
}
