#include "cli/envelope.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace tk::cli {
namespace {

JsonValue object(std::initializer_list<std::pair<const char*, JsonValue>> members) {
  JsonValue o = JsonValue::object();
  for (const auto& [key, value] : members) {
    o.insert(QString::fromUtf8(key), value);
  }
  return o;
}

JsonValue array(std::initializer_list<JsonValue> elements) {
  JsonValue a = JsonValue::array();
  for (const JsonValue& e : elements) {
    a.append(e);
  }
  return a;
}

// Every kind of value at every place the text form treats differently.
TEST(EnvelopeTest, TextFormRendersEveryKindOfValue) {
  const JsonValue data = object({
      {"count", 1},
      {"tables",
       array({object({{"name", "reqFuel"},
                      {"value", 12.5},
                      {"axis", object({{"variable", "rpm"}, {"values", array({1000, 2000})}})}}),
              object({{"name", "\u00e9"}})})},
      {"rows",
       array({array({1, 2.5, "x"}), true, JsonValue(), JsonValue::array(), JsonValue::object()})},
      {"empty", JsonValue::array()},
      {"nothing", JsonValue::object()},
      {"flag", false},
      {"f", 0.1f},
      {"big", 1e17},
      {"none", JsonValue()},
      {"quote", "a \"q\""},
  });
  const Output text = renderSuccess(OutputFormat::Text, QStringLiteral("x"), data);
  EXPECT_EQ(text.stream, Stream::Out);
  EXPECT_TRUE(test::matchesGolden(text.bytes, QStringLiteral("cli/text-rendering.txt")));

  EXPECT_EQ(renderSuccess(OutputFormat::Text, QStringLiteral("x"), array({1, object({{"a", 2}})})),
            (Output{Stream::Out, "  1\n[1]:\n  a: 2\n"}));
  EXPECT_EQ(renderSuccess(OutputFormat::Text, QStringLiteral("x"), JsonValue(-0.5)),
            (Output{Stream::Out, "-0.5\n"}));
  EXPECT_EQ(renderSuccess(OutputFormat::Text, QStringLiteral("plain"), std::nullopt),
            (Output{Stream::Out, "[plain] OK\n"}));
}

TEST(EnvelopeTest, JsonFormAndErrors) {
  EXPECT_EQ(renderSuccess(OutputFormat::Json, QStringLiteral("plain"), std::nullopt),
            (Output{Stream::Out, "{\n  \"success\": true,\n  \"command\": \"plain\"\n}\n"}));
  EXPECT_EQ(renderSuccess(OutputFormat::Json, QStringLiteral("c"), array({})),
            (Output{Stream::Out,
                    "{\n  \"success\": true,\n  \"command\": \"c\",\n"
                    "  \"data\": []\n}\n"}));
  EXPECT_EQ(renderError(OutputFormat::Json, QStringLiteral("c"), QStringLiteral("bad 'x'")),
            (Output{Stream::Out,
                    "{\n  \"success\": false,\n  \"command\": \"c\",\n"
                    "  \"error\": \"bad \\u0027x\\u0027\"\n}\n"}));
  EXPECT_EQ(renderError(OutputFormat::Text, QStringLiteral("c"), QStringLiteral("bad 'x'")),
            (Output{Stream::Err, "ERROR [c]: bad 'x'\n"}));
}

}  // namespace
}  // namespace tk::cli
