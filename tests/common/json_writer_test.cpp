#include "common/json_writer.h"

#include <gtest/gtest.h>

#include <cmath>

namespace tarnwick {
namespace {

struct QuoteCase {
  const char* what;
  std::string text;
  std::string json;
};

TEST(JsonQuoted, EscapesWhatJsonNeedsAndReplacesWhatIsNotUtf8) {
  const QuoteCase cases[] = {
      {"plain", "card.img", "\"card.img\""},
      {"quote and backslash", "a\"b\\c", "\"a\\\"b\\\\c\""},
      {"line ends and tab", "a\nb\rc\td", "\"a\\nb\\rc\\td\""},
      {"other controls and DEL", std::string("\x01\x1f\x7f", 3) + std::string(1, '\0'),
       "\"\\u0001\\u001f\\u007f\\u0000\""},
      {"UTF-8 kept", "烧写完成 é 😀", "\"烧写完成 é 😀\""},
      {"lone continuation byte", "a\x80z", "\"a\xEF\xBF\xBDz\""},
      {"cut sequence at the end", "a\xE7\x83", "\"a\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"overlong slash", "\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"surrogate", "\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80",
       "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"Latin-1 name from a device", "Kingst\xF3n", "\"Kingst\xEF\xBF\xBDn\""},
  };
  for (const QuoteCase& c : cases) EXPECT_EQ(JsonQuoted(c.text), c.json) << c.what;
}

TEST(JsonWriter, CompactAndPrettyDocumentsOfNestedValues) {
  auto write = [](JsonWriter json) {
    json.BeginObject().Key("n").Int(-3).Key("u").UInt(18446744073709551615u);
    json.Key("list").BeginArray().Bool(true).Null().String("x").EndArray();
    json.Key("empty").BeginObject().EndObject().Key("none").BeginArray().EndArray();
    json.EndObject();
    return json.Text();
  };
  EXPECT_EQ(write(JsonWriter(false)),
            "{\"n\":-3,\"u\":18446744073709551615,\"list\":[true,null,\"x\"],\"empty\":{},"
            "\"none\":[]}");
  EXPECT_EQ(write(JsonWriter(true)),
            "{\n  \"n\": -3,\n  \"u\": 18446744073709551615,\n  \"list\": [\n    true,\n    "
            "null,\n    \"x\"\n  ],\n  \"empty\": {},\n  \"none\": []\n}\n");
}

TEST(JsonWriter, NumbersHaveAtMostThreeDecimalsAndNoInfinities) {
  const std::pair<double, const char*> cases[] = {
      {0, "0"},       {2.5, "2.5"},        {3.0, "3"},    {0.1234, "0.123"},  {120.9996, "121"},
      {-0.0001, "0"}, {1e9, "1000000000"}, {NAN, "null"}, {INFINITY, "null"},
  };
  for (const auto& [value, text] : cases) {
    JsonWriter json(false);
    json.BeginArray().Number(value).EndArray();
    EXPECT_EQ(json.Text(), std::string("[") + text + "]") << value;
  }
}

}  // namespace
}  // namespace tarnwick
