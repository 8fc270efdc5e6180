// Shared pieces of the FPGA, registry and timing tests: captured output,
// bitstream files, the loader's success lines and a clock that records the
// FPGA code's sleeps instead of sleeping.
#pragma once

#include <cstdint>
#include <fstream>
#include <functional>
#include <string>

#include "fpga_clock.h"
#include "test_support.h"

// What `run` printed: its standard output, then its standard error.
inline std::string Printed(const std::function<void()>& run) {
    CapturedOutput output;
    run();
    output.Finish();
    return output.out + output.err;
}

// `size` bytes in which neighbouring chunks differ, so a lost, doubled or
// reordered piece shows.
inline Bytes Bitstream(size_t size) {
    Bytes bytes(size);
    uint32_t x = 0x12345678;
    for (uint8_t& b : bytes) x = x * 1103515245u + 12345u, b = static_cast<uint8_t>(x >> 16);
    return bytes;
}

// Writes Bitstream(size) to `name` in `dir`; returns the file's path.
inline std::string WriteBitstream(const ScratchDir& dir, const std::string& name, size_t size) {
    const Bytes bytes = Bitstream(size);
    std::ofstream(dir / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(size));
    return dir / name;
}

inline std::string Loaded(const std::string& rbf) {
    return "FPGA: Use RBF file: " + rbf + "\nFPGA configuration success!\n";
}

struct RecordingFpgaClock final : FpgaClock {
    void SleepMicroseconds(uint32_t microseconds) override { micros.push_back(microseconds); }
    void SleepMilliseconds(uint32_t milliseconds) override { millis.push_back(milliseconds); }
    std::vector<uint32_t> micros, millis;
};
