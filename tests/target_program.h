// Starting the programs of this build from a test.
//
// A cross build runs its tests under the emulator named at configure time
// (CMAKE_CROSSCOMPILING_EMULATOR, passed in as SKARVIK_TEST_EMULATOR; empty
// in a native build). The kernel cannot start the target's programs by
// itself, so a program the tests start goes through that emulator too when it
// is built for the test's own machine: the program itself (argv[0]) and the
// command txsim runs (the word after "--"). Programs of the host, such as
// /bin/sh under txsim, start as they are.
#pragma once

#include <algorithm>
#include <array>
#include <cstdio>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#ifndef SKARVIK_TEST_EMULATOR
#define SKARVIK_TEST_EMULATOR ""
#endif

// Bytes 0 to 19 of an ELF file: its magic, class, byte order and machine.
// Empty when `path` is no ELF file.
inline std::string ElfIdentity(const std::string& path) {
    std::array<char, 20> header{};
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return "";
    const size_t got = std::fread(header.data(), 1, header.size(), file);
    std::fclose(file);
    if (got != header.size() || std::string(header.data(), 4) != "\x7f" "ELF") return "";
    // Leave out the OS ABI, version and file type (bytes 7 to 17).
    return std::string(header.data(), 7) + std::string(header.data() + 18, 2);
}

// `argv` with the emulator in front of every program in it that is built for
// the machine this test runs on; `argv` itself in a native build.
inline std::vector<std::string> UnderEmulator(std::vector<std::string> argv) {
    std::istringstream words(SKARVIK_TEST_EMULATOR);
    const std::vector<std::string> emulator{std::istream_iterator<std::string>(words), {}};
    if (emulator.empty()) return argv;
    static const std::string self = ElfIdentity("/proc/self/exe");
    auto prefix = [&](size_t at) {
        if (at < argv.size() && !self.empty() && ElfIdentity(argv[at]) == self) {
            argv.insert(argv.begin() + static_cast<std::ptrdiff_t>(at), emulator.begin(), emulator.end());
        }
    };
    // The later position first, so that the earlier one stays where it is.
    const auto end = std::find(argv.begin(), argv.end(), "--");
    if (end != argv.end()) prefix(static_cast<size_t>(end - argv.begin()) + 1);
    prefix(0);
    return argv;
}
