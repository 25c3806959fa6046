#include "json/json_writer.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cmath>
#include <limits>

#include "support/test_support.h"

namespace tk {
namespace {

// The dump-jsonfmt golden file covers the number forms, the escapes and the layout of a whole
// document; these tests cover the rest.

TEST(JsonWriterTest, ValuesAndEscapes) {
  JsonValue keyed = JsonValue::object();
  keyed.insert(QStringLiteral("a\"b"), 1);
  // clang-format off
  const std::pair<JsonValue, QByteArray> cases[] = {
      {-0.0, "-0"}, {123456789012345678.0, "1.2345678901234568E+17"}, {0.1f, "0.1"},
      {QStringLiteral("\u007F") + QChar(0) + QChar(0x0B) + QChar(0x08) + QChar(0x0C),
       "\"\\u007F\\u0000\\u000B\\b\\f\""},
      {keyed, "{\n  \"a\\u0022b\": 1\n}"}, {numberOrNonFinite(std::nan("")), "\"NaN\""},
      {numberOrNonFinite(-INFINITY), "\"-Infinity\""}, {numberOrNonFinite(2.5), "2.5"}};
  // clang-format on
  for (const auto& [value, text] : cases) {
    EXPECT_EQ(serialize(value), text);
  }
}

TEST(JsonWriterTest, NestedLayoutKeepsDuplicateKeysInInsertionOrder) {
  JsonValue inner = JsonValue::array();
  inner.append(true);
  inner.append(JsonValue::object());
  JsonValue o = JsonValue::object();
  o.insert(QStringLiteral("x"), 1);
  o.insert(QStringLiteral("b"), JsonValue::array());
  o.insert(QStringLiteral("c"), inner);
  o.insert(QStringLiteral("x"), 3);
  EXPECT_EQ(serialize(o),
            "{\n  \"x\": 1,\n  \"b\": [],\n  \"c\": [\n    true,\n    {}\n  ],\n"
            "  \"x\": 3\n}");
  EXPECT_EQ(o.find(QStringLiteral("x"))->toInt(), 1);
}

TEST(JsonWriterTest, NonFiniteNumbersFailTheWholeDocument) {
  for (const double bad : {std::nan(""), -double(INFINITY), double(INFINITY)}) {
    JsonValue doc = JsonValue::object();
    doc.insert(QStringLiteral("deep"), JsonValue::array());
    doc.members()[0].second.append(bad);
    EXPECT_THROW(serialize(doc), JsonWriteError);
  }
  EXPECT_TRUE(test::thrownMessage<JsonWriteError>([] {
                serialize(JsonValue(std::numeric_limits<float>::infinity()));
              }).contains(QStringLiteral("infinity cannot be written as valid JSON")));
}

// Every conformance command writes through writeJsonFile: their golden files pin the one line
// feed, and their file-error table the unwritable path.
TEST(JsonWriterTest, WriteJsonFileLeavesTheOldFileWhenTheTreeCannotBeWritten) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("out.json"));
  EXPECT_EQ(writeJsonFile(JsonValue::object(), path), 0);
  EXPECT_THROW(writeJsonFile(JsonValue(std::nan("")), path), JsonWriteError);
  EXPECT_EQ(test::readFile(path), "{}\n");
}

}  // namespace
}  // namespace tk
