#include "board_options.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "cli.h"
#include "frame_io.h"
#include "protocol.h"

namespace sim {

namespace {

enum class Kind { F32, I32, I16, U8 };

struct Field {
    const char* name;
    size_t offset;
    Kind kind;
};

const Field kStatusFields[] = {
    {"cg_current", 12, Kind::F32},     {"vg_voltage", 16, Kind::F32},
    {"ad_value0", 20, Kind::F32},      {"ad_value1", 24, Kind::F32},
    {"ad_value2", 28, Kind::F32},      {"ad_value3", 32, Kind::F32},
    {"temperature0", 36, Kind::F32},   {"temperature1", 40, Kind::F32},
    {"temperature2", 44, Kind::F32},   {"estimated_load", 52, Kind::F32},
    {"update_count", 56, Kind::I32},   {"ad_raw0", 60, Kind::I16},
    {"ad_raw1", 62, Kind::I16},        {"ad_raw2", 64, Kind::I16},
    {"ad_raw3", 66, Kind::I16},        {"cg_current_da", 68, Kind::I16},
    {"vg_voltage_da", 70, Kind::I16},  {"is_on", 72, Kind::U8},
    {"switch_state", 73, Kind::U8},    {"cg_range", 74, Kind::U8},
    {"vg_range", 75, Kind::U8},
};

// Whole numbers: decimal or 0x hexadecimal, as on the rest of the line.
std::optional<long long> Integer(const std::string& text, long long min, long long max) {
    return cli::ParseInteger(text, min, max);
}

std::optional<float> Float(const std::string& text) {
    if (text.empty()) return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const float value = std::strtof(text.c_str(), &end);
    if (errno == ERANGE || *end != '\0') return std::nullopt;
    return value;
}

bool SetField(StatusRecord& record, const std::string& assignment) {
    const size_t equals = assignment.find('=');
    if (equals == std::string::npos) return false;
    const std::string name = assignment.substr(0, equals);
    const std::string value = assignment.substr(equals + 1);
    for (const Field& field : kStatusFields) {
        if (name != field.name) continue;
        std::span<uint8_t> bytes(record);
        switch (field.kind) {
        case Kind::F32: {
            const auto f = Float(value);
            return f && WriteF32LE(bytes, field.offset, *f);
        }
        case Kind::I32: {
            const auto n = Integer(value, INT32_MIN, INT32_MAX);
            return n && WriteU32LE(bytes, field.offset, static_cast<uint32_t>(*n));
        }
        case Kind::I16: {
            const auto n = Integer(value, INT16_MIN, INT16_MAX);
            return n && WriteU16LE(bytes, field.offset, static_cast<uint16_t>(*n));
        }
        case Kind::U8: {
            const auto n = Integer(value, 0, UINT8_MAX);
            return n && WriteU8(bytes, field.offset, static_cast<uint8_t>(*n));
        }
        }
    }
    return false;
}

}  // namespace

bool ParseStatusFields(std::string_view text, BoardConfig& board) {
    StatusRecord record = board.status;
    std::string rest(text);
    for (;;) {
        const size_t comma = rest.find(',');
        if (!SetField(record, rest.substr(0, comma))) return false;
        if (comma == std::string::npos) break;
        rest.erase(0, comma + 1);
    }
    board.status = record;
    return true;
}

bool ParseChannel(std::string_view text, BoardConfig& board) {
    const std::string s(text);
    const size_t equals = s.find('=');
    const size_t slash = s.find('/', equals == std::string::npos ? 0 : equals);
    if (equals == std::string::npos || slash == std::string::npos) return false;
    const auto channel = Integer(s.substr(0, equals), 1, 19);
    const auto value = Float(s.substr(equals + 1, slash - equals - 1));
    const auto raw = Integer(s.substr(slash + 1), INT32_MIN, INT32_MAX);
    if (!channel || !value || !raw) return false;
    board.channels[static_cast<uint32_t>(*channel)] = {*value, static_cast<int32_t>(*raw)};
    return true;
}

bool ParseFailAck(std::string_view text, BoardConfig& board) {
    const std::string s(text);
    const size_t colon = s.find(':');
    const std::string type = s.substr(0, colon);
    std::optional<long long> number;
    for (uint32_t t = 0; t < kMessageTypeCount; ++t) {
        if (type == MessageName(t)) number = t;
    }
    if (!number) number = Integer(type, 0, kMessageTypeCount - 1);
    if (!number) return false;
    int count = kAlways;
    if (colon != std::string::npos) {
        const auto n = Integer(s.substr(colon + 1), 1, INT_MAX);
        if (!n) return false;
        count = static_cast<int>(*n);
    }
    board.failAckType = static_cast<uint8_t>(*number);
    board.failAckCount = count;
    return true;
}

bool ParseModeChange(std::string_view text, BoardConfig& board) {
    const auto n = Integer(std::string(text), 0, INT_MAX);
    if (!n) return false;
    board.modeChangeExchanges = static_cast<int>(*n);
    return true;
}

}  // namespace sim
