// A small JSON writer: builds one JSON text piece by piece, with the commas
// and escapes in their places. Misuse (a value where a key is due) is the
// caller's fault and is not checked.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

class JsonWriter {
public:
    JsonWriter& BeginObject();
    JsonWriter& EndObject();
    JsonWriter& BeginArray();
    JsonWriter& EndArray();
    // The name of the next member of the open object.
    JsonWriter& Key(std::string_view name);
    // Bytes that are not UTF-8 are taken as Latin-1 characters, so that a
    // device's text of any encoding comes out as valid JSON.
    JsonWriter& String(std::string_view text);
    JsonWriter& Int(int64_t value);
    JsonWriter& UInt(uint64_t value);
    // NaN and the infinities have no JSON form: they come out as null.
    JsonWriter& Double(double value);
    JsonWriter& Bool(bool value);
    JsonWriter& Null();

    const std::string& Text() const { return text_; }

private:
    // Puts the comma before a value or key that follows another.
    void Separate();
    JsonWriter& Raw(std::string_view token);

    std::string text_;
    // Per open object or array: whether it holds something yet.
    std::vector<bool> hasMembers_;
    bool afterKey_ = false;
};

}  // namespace cli
