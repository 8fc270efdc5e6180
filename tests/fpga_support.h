// Shared pieces of the FPGA tests: a temporary directory, bitstream files
// and a clock that records the FPGA code's sleeps instead of sleeping.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fpga_clock.h"

// A fresh directory below $TMPDIR (or /tmp), removed with everything in it
// when the test ends, passed or failed.
class TempDir {
public:
    TempDir() {
        const char* base = getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                              "/fpgatest.XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string File(const std::string& name) const { return path_ + "/" + name; }

    // Writes `bytes` to `name` in the directory; returns the file's path.
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
        const std::string path = File(name);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }

private:
    std::string path_;
};

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// `size` bytes in which neighbouring chunks differ, so a lost, doubled or
// reordered piece shows.
inline std::vector<uint8_t> Bitstream(size_t size) {
    std::vector<uint8_t> bytes(size);
    uint32_t x = 0x12345678;
    for (uint8_t& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return bytes;
}

// Records every sleep of the FPGA code and returns at once.
class RecordingFpgaClock final : public FpgaClock {
public:
    void SleepMicroseconds(uint32_t microseconds) override { micros.push_back(microseconds); }
    void SleepMilliseconds(uint32_t milliseconds) override { millis.push_back(milliseconds); }
    std::vector<uint32_t> micros;
    std::vector<uint32_t> millis;
};
