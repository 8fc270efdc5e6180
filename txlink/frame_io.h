// Bounds-checked little-endian access to frame bytes.
//
// Every read and write of a frame field goes through these helpers; a buffer
// is never cast to a struct. A read outside the buffer yields std::nullopt, a
// write outside it changes nothing and returns false.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>


inline std::optional<uint8_t> ReadU8(std::span<const uint8_t> buf, size_t offset) {
    if (offset >= buf.size()) return std::nullopt;
    return buf[offset];
}

inline std::optional<uint16_t> ReadU16LE(std::span<const uint8_t> buf, size_t offset) {
    if (offset > buf.size() || buf.size() - offset < 2) return std::nullopt;
    return static_cast<uint16_t>(buf[offset] | (buf[offset + 1] << 8));
}

inline std::optional<uint32_t> ReadU32LE(std::span<const uint8_t> buf, size_t offset) {
    if (offset > buf.size() || buf.size() - offset < 4) return std::nullopt;
    return static_cast<uint32_t>(buf[offset]) | static_cast<uint32_t>(buf[offset + 1]) << 8 |
           static_cast<uint32_t>(buf[offset + 2]) << 16 |
           static_cast<uint32_t>(buf[offset + 3]) << 24;
}

inline std::optional<int16_t> ReadI16LE(std::span<const uint8_t> buf, size_t offset) {
    const auto value = ReadU16LE(buf, offset);
    if (!value) return std::nullopt;
    return static_cast<int16_t>(*value);
}

inline std::optional<int32_t> ReadI32LE(std::span<const uint8_t> buf, size_t offset) {
    const auto value = ReadU32LE(buf, offset);
    if (!value) return std::nullopt;
    return static_cast<int32_t>(*value);
}

// An IEEE single-precision float stored little-endian.
inline std::optional<float> ReadF32LE(std::span<const uint8_t> buf, size_t offset) {
    const auto value = ReadU32LE(buf, offset);
    if (!value) return std::nullopt;
    return std::bit_cast<float>(*value);
}

inline bool WriteU8(std::span<uint8_t> buf, size_t offset, uint8_t value) {
    if (offset >= buf.size()) return false;
    buf[offset] = value;
    return true;
}

inline bool WriteU16LE(std::span<uint8_t> buf, size_t offset, uint16_t value) {
    if (offset > buf.size() || buf.size() - offset < 2) return false;
    buf[offset] = static_cast<uint8_t>(value);
    buf[offset + 1] = static_cast<uint8_t>(value >> 8);
    return true;
}

inline bool WriteU32LE(std::span<uint8_t> buf, size_t offset, uint32_t value) {
    if (offset > buf.size() || buf.size() - offset < 4) return false;
    for (int i = 0; i < 4; ++i) buf[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    return true;
}

inline bool WriteF32LE(std::span<uint8_t> buf, size_t offset, float value) {
    return WriteU32LE(buf, offset, std::bit_cast<uint32_t>(value));
}
