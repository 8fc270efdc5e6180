// What the command-line programs share: the number parser of every command
// line and the JSON writer of txdiag --json, read back by a JSON parser (texts of
// the board in Latin-1 and UTF-8: txdiag_test).
#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>

#include "cli.h"
#include "json_writer.h"

namespace {

TEST(ParseInteger, DecimalWithLeadingZerosOrHexAfter0xWithinTheRange) {
    const struct { const char* text; long long min, max; std::optional<long long> value; } cases[] = {
        {"010", 0, 255, 10},         {"0x1F", 0, 255, 31},      {"0X1f", 0, 255, 31},
        {"-0x10", -100, 100, -16},   {"+7", 0, 9, 7},           {"255", 0, 255, 255},
        {"256", 0, 255, std::nullopt}, {"-1", 0, 255, std::nullopt},
        {"", 0, 9, std::nullopt},    {"0x", 0, 9, std::nullopt}, {" 1", 0, 9, std::nullopt},
        {"1 ", 0, 9, std::nullopt},  {"--1", -9, 9, std::nullopt}, {"1x", 0, 9, std::nullopt},
        {"99999999999999999999", 0, 9, std::nullopt},
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
    const nlohmann::json parsed = nlohmann::json::parse(json.Text());
    EXPECT_EQ(parsed["text"], "quote \" backslash \\ tab \t nul");
    EXPECT_EQ(parsed["overlong"], "\xC3\x80\xC2\xAF");
    EXPECT_EQ(parsed["numbers"], nlohmann::json::parse("[-5, 4294967295, 0.25]"));
    EXPECT_TRUE(parsed["nan"].is_null());
    EXPECT_TRUE(parsed["empty"].empty());
    EXPECT_EQ(parsed["flags"], nlohmann::json::parse("[true, null]"));
}

}  // namespace
