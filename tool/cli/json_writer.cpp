#include "json_writer.h"

#include <cmath>
#include <cstdio>

namespace cli {

namespace {

// The length of the UTF-8 sequence at `i`, or 0 when the bytes there are
// not one (overlong forms, surrogates and values above U+10FFFF included).
size_t Utf8Length(std::string_view s, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    size_t length = 0;
    uint32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) length = 2, code = lead & 0x1F;
    else if (lead >= 0xE0 && lead <= 0xEF) length = 3, code = lead & 0x0F;
    else if (lead >= 0xF0 && lead <= 0xF4) length = 4, code = lead & 0x07;
    else return 0;
    if (i + length > s.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    const uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return 0;
    }
    return length;
}

}  // namespace

void JsonWriter::Separate() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (hasMembers_.empty()) return;
    if (hasMembers_.back()) text_ += ',';
    hasMembers_.back() = true;
}

JsonWriter& JsonWriter::Raw(std::string_view token) {
    Separate();
    text_ += token;
    return *this;
}

JsonWriter& JsonWriter::BeginObject() {
    Raw("{");
    hasMembers_.push_back(false);
    return *this;
}

JsonWriter& JsonWriter::EndObject() {
    hasMembers_.pop_back();
    text_ += '}';
    return *this;
}

JsonWriter& JsonWriter::BeginArray() {
    Raw("[");
    hasMembers_.push_back(false);
    return *this;
}

JsonWriter& JsonWriter::EndArray() {
    hasMembers_.pop_back();
    text_ += ']';
    return *this;
}

JsonWriter& JsonWriter::Key(std::string_view name) {
    String(name);
    text_ += ':';
    afterKey_ = true;
    return *this;
}

JsonWriter& JsonWriter::String(std::string_view s) {
    Separate();
    text_ += '"';
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        char escape[8];
        if (c == '"' || c == '\\') {
            text_ += '\\';
            text_ += static_cast<char>(c);
        } else if (c < 0x20) {
            snprintf(escape, sizeof escape, "\\u%04x", c);
            text_ += escape;
        } else if (c < 0x80) {
            text_ += static_cast<char>(c);
        } else if (const size_t n = Utf8Length(s, i); n > 0) {
            text_.append(s.substr(i, n));
            i += n;
            continue;
        } else {
            snprintf(escape, sizeof escape, "\\u%04x", c);  // Latin-1
            text_ += escape;
        }
        ++i;
    }
    text_ += '"';
    return *this;
}

JsonWriter& JsonWriter::Int(int64_t value) { return Raw(std::to_string(value)); }

JsonWriter& JsonWriter::UInt(uint64_t value) { return Raw(std::to_string(value)); }

JsonWriter& JsonWriter::Double(double value) {
    if (!std::isfinite(value)) return Null();
    char number[32];
    snprintf(number, sizeof number, "%.9g", value);
    return Raw(number);
}

JsonWriter& JsonWriter::Bool(bool value) { return Raw(value ? "true" : "false"); }

JsonWriter& JsonWriter::Null() { return Raw("null"); }

}  // namespace cli
