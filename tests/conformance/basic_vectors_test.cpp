#include "conformance/basic_vectors.h"

#include <gtest/gtest.h>

#include "json/json_writer.h"

namespace tk::conformance {
namespace {

TEST(Crc32VectorsTest, NamesLengthsAndStandardValues) {
  const JsonValue doc = crc32Vectors();
  ASSERT_EQ(doc.size(), 7u);
  const std::tuple<const char*, int, const char*> expected[] = {
      {"empty", 0, "0x00000000"},
      {"zero-byte", 1, "0xD202EF8D"},
      {"check-123456789", 9, "0xCBF43926"},
      {"ascending-256", 256, "0x29058C73"},
      {"mod7-1k", 1024, "0x28D29E67"},
      {"ff-64", 64, "0x0F6187BA"},
      {"combined-a100-b50", 150, "0x0189988F"},
  };
  for (std::size_t i = 0; i < 7; ++i) {
    const JsonValue& v = doc.elements()[i];
    EXPECT_EQ(v.find(QStringLiteral("name"))->toString(),
              QString::fromLatin1(std::get<0>(expected[i])));
    EXPECT_EQ(v.find(QStringLiteral("length"))->toInt(), std::get<1>(expected[i]));
    EXPECT_EQ(v.find(QStringLiteral("crc32"))->toString(),
              QString::fromLatin1(std::get<2>(expected[i])));
  }
}

TEST(JsonFormatVectorsTest, RendersEveryListedValue) {
  const QByteArray text = serialize(jsonFormatVectors());
  const char* fragments[] = {
      "\"bits\": \"0x8000000000000000\",\n      \"value\": -0\n",
      "\"bits\": \"0x3FF0000000000000\",\n      \"value\": 1\n",
      "\"value\": 4294967295\n",
      "\"value\": 0.3333333333333333\n",
      "\"value\": 1E-05\n",
      "\"value\": 123456789012345.6\n",
      "\"value\": 10000000000000000\n",
      "\"value\": 1E+17\n",
      "\"value\": 1E+21\n",
      "\"value\": 3.141592653589793\n",
      "\"value\": 6.02214076E+23\n",
      "\"value\": 1.7976931348623157E+308\n",
      "\"value\": 5E-324\n",
      "\"value\": 2.2250738585072014E-308\n",
      "\"value\": 1.0000000000000002\n",
      "\"value\": 12345678901234568\n",
      "\"bits\": \"0x3DCCCCCD\",\n      \"value\": 0.1\n",
      "\"value\": 0.33333334\n",
      "\"value\": 25.4\n",
      "\"value\": 3.1415927\n",
      "\"value\": 3.4028235E+38\n",
      "\"value\": 1E-45\n",
      "\"value\": 1.1754944E-38\n",
      "\"value\": 100000000\n",
      "\"value\": 1E+09\n",
      "\"value\": 1E+10\n",
      "\"value\": 16777216\n",
      "\"value\": 1E+16\n",
      "\"bits\": \"0x5BB1A2BC\",\n      \"value\": 1E+17\n",
      "\"ints\": [\n    0,\n    -1,\n    255,\n    -32768,\n    2147483647,\n    -2147483648,\n"
      "    9223372036854775807,\n    -9223372036854775808\n  ],\n",
      "\"quote\\u0022 backslash\\\\ slash/\"",
      "\"ctrl\\t\\r\\n\\u0001\\u001F\"",
      "\"\\u003Chtml\\u003E \\u0026 \\u0027plus\\u002B\\u0027\"",
      "\"punct !#$%()*,-./:;=?@[]^_\\u0060{|}~\"",
      "\"caf\\u00E9 \\u65E5\\u672C\\u8A9E\"",
      "\"emoji \\uD83D\\uDE00 end\"",
      "\"layout\": {\n    \"emptyObj\": {},\n    \"emptyArr\": [],\n    \"nested\": {\n"
      "      \"a\": [\n        1,\n        {\n          \"b\": null\n        }\n      ]\n    },\n"
      "    \"flags\": [\n      true,\n      false\n    ]\n  }\n}",
  };
  for (const char* f : fragments) {
    EXPECT_TRUE(text.contains(f)) << f;
  }
  const JsonValue doc = jsonFormatVectors();
  EXPECT_EQ(doc.find(QStringLiteral("doubles"))->size(), 38u);
  EXPECT_EQ(doc.find(QStringLiteral("singles"))->size(), 24u);
}

}  // namespace
}  // namespace tk::conformance
