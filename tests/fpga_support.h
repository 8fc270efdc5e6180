// Shared pieces of the FPGA, registry and timing tests: captured output and
// bitstream files.
#pragma once

#include <fstream>
#include <functional>

#include "test_support.h"

// What `run` printed: its standard output, then its standard error.
inline std::string Printed(const std::function<void()>& run) {
    const auto [out, err] = PrintedStreams(run);
    return out + err;
}

// `size` bytes in which neighbouring chunks of 1024 differ, so that a lost,
// doubled or reordered piece shows.
inline Bytes Bitstream(size_t size) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i % 251);
    return bytes;
}

// Writes Bitstream(size) to `name` in `dir`; returns the file's path.
inline std::string WriteBitstream(const ScratchDir& dir, const std::string& name, size_t size) {
    std::ofstream(dir / name).write(reinterpret_cast<const char*>(Bitstream(size).data()), size);
    return dir / name;
}
