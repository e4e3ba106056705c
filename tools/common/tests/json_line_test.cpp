#include "tools/common/json_line.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "tools/common/json_read.h"

namespace kv58 {
namespace {

// A name, path or message with bytes a strict reader chokes on, and how the line must carry
// it: as it is when it is valid UTF-8, each stray byte as \u00nn otherwise.
struct HostileName {
  const char* label;
  std::string bytes;
  std::string escaped; // the inside of the name's JSON string in the line
  bool validUtf8;
};

const std::vector<HostileName>& HostileNames() {
  static const std::vector<HostileName> names{
      {"OverlongSlash", "a\xc0\xaf", R"(a\u00c0\u00af)", false},
      {"OverlongThreeBytes", "\xe0\x80\xaf", R"(\u00e0\u0080\u00af)", false},
      {"SurrogateHigh", "\xed\xa0\x80", R"(\u00ed\u00a0\u0080)", false},
      {"PastU10FFFF", "\xf4\x90\x80\x80", R"(\u00f4\u0090\u0080\u0080)", false},
      {"LeadsFCToFF", "\xfc\xfd\xfe\xff", R"(\u00fc\u00fd\u00fe\u00ff)", false},
      {"LoneContinuation", "a\x80z", R"(a\u0080z)", false},
      {"TruncatedAtTheEnd", "za\xc5", R"(za\u00c5)", false},
      {"Windows1250Letters", "za\xbf\xf3\xb3\xe6", R"(za\u00bf\u00f3\u00b3\u00e6)", false},
      {"StrayByteBetweenLetters", "\xc5\xbc\xff\xc5\xbc", "\xc5\xbc\\u00ff\xc5\xbc", false},
      {"Polish", "za\xc5\xbc\xc3\xb3\xc5\x82\xc4\x87 g\xc4\x99\xc5\x9bl\xc4\x85",
       "za\xc5\xbc\xc3\xb3\xc5\x82\xc4\x87 g\xc4\x99\xc5\x9bl\xc4\x85", true},
      {"FourByteLetter", "\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80", true},
      {"ControlBytes", "\x01\x1b[0m", R"(\u0001\u001b[0m)", true},
      {"QuotesAndBackslashes", R"(say "hi" \ to C:\x)", R"(say \"hi\" \\ to C:\\x)", true},
  };
  return names;
}

// Each hostile name as a name, a key, a list entry and line data, beside numbers: the line is
// strict JSON, a valid name comes back as it was, and line data comes back byte for byte.
TEST(JsonLineTest, HostileNamesGiveStrictJsonAndKeepWhatTheyCan) {
  for (const HostileName& name : HostileNames()) {
    SCOPED_TRACE(name.label);
    EXPECT_EQ(JsonEscape(name.bytes, HighBytes::AsText), name.escaped);

    const std::string line = JsonLine()
                                 .Add("t_ms", 12)
                                 .Add("name", name.bytes)
                                 .Add("data", name.bytes, HighBytes::AsCodePoints)
                                 .Add("seconds", 1.25)
                                 .Add("notes", std::vector<std::string>{"first", name.bytes})
                                 .Add("pages", std::vector<int>{3, 4})
                                 .Add("ok", true)
                                 .Close();
    EXPECT_NE(line.find("\"name\":\"" + name.escaped + "\""), std::string::npos) << line;
    std::string error;
    const auto parsed = ParseJson(line, &error);
    ASSERT_TRUE(parsed.has_value()) << error << " in " << line;
    ASSERT_TRUE(parsed->is_object());
    const auto text = (*parsed)["name"].get<std::string>();
    if (name.validUtf8) {
      EXPECT_EQ(text, name.bytes);
    }
    EXPECT_EQ((*parsed)["notes"][1].get<std::string>(), text);
    EXPECT_EQ(BytesFromCodePoints((*parsed)["data"].get<std::string>()), name.bytes);

    const auto keyed = ParseJson(JsonLine().Add(name.bytes, 1).Close(), &error);
    ASSERT_TRUE(keyed.has_value()) << error;
    EXPECT_EQ(keyed->begin().key(), text);
  }
}

// Seconds keep three decimals; JSON has no NaN or infinity, so those become null.
TEST(JsonLineTest, NumbersWithAFractionAreJsonWhateverTheirValue) {
  EXPECT_EQ(JsonLine().Add("s", 1.5).Add("t", 0.0004).Add("u", -2.0).Close(),
            R"({"s":1.500,"t":0.000,"u":-2.000})");
  const std::string line = JsonLine()
                               .Add("nan", std::numeric_limits<double>::quiet_NaN())
                               .Add("inf", std::numeric_limits<double>::infinity())
                               .Add("big", 1e300)
                               .Close();
  const auto parsed = ParseJson(line);
  ASSERT_TRUE(parsed.has_value()) << line;
  EXPECT_TRUE((*parsed)["nan"].is_null());
  EXPECT_TRUE((*parsed)["inf"].is_null());
  EXPECT_DOUBLE_EQ((*parsed)["big"].get<double>(), 1e300);
}

struct BadJson {
  const char* label;
  std::string text;
};

// The reader takes only strict JSON, and its message never echoes the input's bytes.
TEST(ParseJsonTest, RefusesWhatIsNotStrictJsonWithAMessageOfItsOwn) {
  const std::vector<BadJson> bad{{"Empty", ""},
                                 {"StrayByteInAString", "{\"a\":\"\xff\"}"},
                                 {"LoneSurrogateEscape", R"(["\ud800"])"},
                                 {"TrailingText", "{} \x1b[31m\xff"},
                                 {"NaN", "[NaN]"},
                                 {"NumberPastADouble", "[15100e900]"}};
  for (const BadJson& json : bad) {
    SCOPED_TRACE(json.label);
    std::string error;
    EXPECT_FALSE(ParseJson(json.text, &error).has_value());
    EXPECT_EQ(error.rfind("not JSON ", 0), 0U) << error;
    for (const char c : error) {
      EXPECT_TRUE(c >= 0x20 && c < 0x7F) << "byte " << int{static_cast<unsigned char>(c)} << " in " << error;
    }
  }
  EXPECT_EQ(ParseJson(" {\"b\":[1,\"\\u00e9\"],\"a\":null}\n")->dump(), R"({"b":[1,"é"],"a":null})");
}

TEST(BytesFromCodePointsTest, TakesOnlyWhatAsCodePointsWrites) {
  EXPECT_EQ(BytesFromCodePoints("a\xc3\xbf\xc2\x80"), std::string("a\xff\x80"));
  EXPECT_EQ(BytesFromCodePoints("\xc4\x85"), std::nullopt); // U+0105, past U+00FF
  EXPECT_EQ(BytesFromCodePoints("\xc3"), std::nullopt);
}

} // namespace
} // namespace kv58
