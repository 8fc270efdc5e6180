// What the command-line programs share: the number parser of every command
// line and the JSON writer of txdiag --json, read back by a JSON parser (texts of
// the board in Latin-1 and UTF-8: txdiag_test; a value above the maximum and
// trailing characters: the option tests of txsim and txdiag).
#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>

#include "cli.h"
#include "json_writer.h"

namespace {

TEST(ParseInteger, DecimalWithLeadingZerosOrHexAfter0xWithinTheRange) {
    const struct { const char* text; long long min, max; std::optional<long long> value; } cases[]{
        {"010", 0, 255, 10}, {"0X1f", 0, 255, 31}, {"-0x10", -100, 100, -16}, {"+7", 0, 9, 7},
        {"255", 0, 255, 255}, {"-1", 0, 255, std::nullopt}, {"0x", 0, 9, std::nullopt},
        {" 1", 0, 9, std::nullopt}, {"99999999999999999999", 0, 9, std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(cli::ParseInteger(c.text, c.min, c.max), c.value) << c.text;
}

TEST(JsonWriter, ItsTextParsesBackToWhatWasWritten) {
    cli::JsonWriter json;
    json.BeginObject()
        .Key("text").String("quote \" backslash \\ tab \t nul")
        .Key("overlong").String("\xC0\xAF")
        .Key("numbers").BeginArray().Int(-5).UInt(4294967295u).Double(0.25).EndArray()
        .Key("nan").Double(std::nan(""))
        .Key("empty").BeginObject().EndObject()
        .Key("flags").BeginArray().Bool(true).Null().EndArray()
        .EndObject();
    // The overlong sequence is taken as the two Latin-1 characters it is made of.
    EXPECT_EQ(nlohmann::json::parse(json.Text()), nlohmann::json::parse(R"({
        "text": "quote \" backslash \\ tab \t nul", "overlong": "\u00c0\u00af",
        "numbers": [-5, 4294967295, 0.25], "nan": null, "empty": {}, "flags": [true, null]})"));
}

}  // namespace
