#include "json/json_writer.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cmath>
#include <limits>

#include "support/test_support.h"

namespace tk {
namespace {

QByteArray text(const JsonValue& v) { return serialize(v); }

TEST(JsonWriterTest, ScalarsAndEmptyContainers) {
  EXPECT_EQ(text(JsonValue()), "null");
  EXPECT_EQ(text(true), "true");
  EXPECT_EQ(text(false), "false");
  EXPECT_EQ(text(0), "0");
  EXPECT_EQ(text(-0.0), "-0");
  EXPECT_EQ(text(123456789012345678LL), "123456789012345678");
  EXPECT_EQ(text(123456789012345678.0), "1.2345678901234568E+17");
  EXPECT_EQ(text(std::numeric_limits<long long>::min()), "-9223372036854775808");
  EXPECT_EQ(text(0.1f), "0.1");
  EXPECT_EQ(text(JsonValue::object()), "{}");
  EXPECT_EQ(text(JsonValue::array()), "[]");
}

TEST(JsonWriterTest, NestedLayoutIndentsTwoBlanksPerLevel) {
  JsonValue c = JsonValue::array();
  c.append(true);
  JsonValue o = JsonValue::object();
  o.insert(QStringLiteral("a"), 1);
  o.insert(QStringLiteral("b"), JsonValue::array());
  o.insert(QStringLiteral("c"), c);
  EXPECT_EQ(text(o), "{\n  \"a\": 1,\n  \"b\": [],\n  \"c\": [\n    true\n  ]\n}");

  JsonValue inner = JsonValue::object();
  inner.insert(QStringLiteral("k"), JsonValue::object());
  JsonValue list = JsonValue::array();
  list.append(inner);
  list.append(JsonValue());
  EXPECT_EQ(text(list), "[\n  {\n    \"k\": {}\n  },\n  null\n]");
}

TEST(JsonWriterTest, DuplicateKeysAreKeptInInsertionOrder) {
  JsonValue o = JsonValue::object();
  o.insert(QStringLiteral("x"), 1);
  o.insert(QStringLiteral("y"), 2);
  o.insert(QStringLiteral("x"), 3);
  EXPECT_EQ(text(o), "{\n  \"x\": 1,\n  \"y\": 2,\n  \"x\": 3\n}");
  EXPECT_EQ(o.find(QStringLiteral("x"))->toInt(), 1);
}

TEST(JsonWriterTest, StringEscapes) {
  EXPECT_EQ(text(QStringLiteral("a\tb\rc\nd")), "\"a\\tb\\rc\\nd\"");
  EXPECT_EQ(text(QStringLiteral("say \"hi\"")), "\"say \\u0022hi\\u0022\"");
  EXPECT_EQ(text(QStringLiteral("<html> & 'plus+'")),
            "\"\\u003Chtml\\u003E \\u0026 \\u0027plus\\u002B\\u0027\"");
  EXPECT_EQ(text(QStringLiteral("`back` \\ /")), "\"\\u0060back\\u0060 \\\\ /\"");
  EXPECT_EQ(text(QString(QChar(0x00E9))), "\"\\u00E9\"");
  EXPECT_EQ(text(QString(QChar(0x007F))), "\"\\u007F\"");
  EXPECT_EQ(text(QString(QChar(0x000B)) + QChar(0x0008) + QChar(0x000C)), "\"\\u000B\\b\\f\"");
  EXPECT_EQ(text(QString::fromUtf8("\xF0\x9F\x98\x80")), "\"\\uD83D\\uDE00\"");
  EXPECT_EQ(text(QString(QChar(0))), "\"\\u0000\"");
  JsonValue keyed = JsonValue::object();
  keyed.insert(QStringLiteral("a\"b"), 1);
  EXPECT_EQ(text(keyed), "{\n  \"a\\u0022b\": 1\n}");
}

TEST(JsonWriterTest, NonFiniteNumbersFailTheWholeDocument) {
  for (double bad : {std::nan(""), double(INFINITY), -double(INFINITY)}) {
    JsonValue inner = JsonValue::array();
    inner.append(1);
    inner.append(bad);
    JsonValue doc = JsonValue::object();
    doc.insert(QStringLiteral("ok"), 1);
    doc.insert(QStringLiteral("deep"), inner);
    EXPECT_THROW(serialize(doc), JsonWriteError);
  }
  EXPECT_THROW(serialize(JsonValue(std::numeric_limits<float>::infinity())), JsonWriteError);
  try {
    serialize(JsonValue(INFINITY));
    ADD_FAILURE() << "no JsonWriteError";
  } catch (const JsonWriteError& e) {
    EXPECT_NE(std::string(e.what()).find("infinity cannot be written as valid JSON"),
              std::string::npos);
  }
}

TEST(JsonWriterTest, WriteJsonFileAddsOneLineFeedAndReportsUnwritablePaths) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("out.json"));
  EXPECT_EQ(writeJsonFile(JsonValue::object(), path), 0);
  EXPECT_EQ(test::readFile(path), "{}\n");

  const QString bad = dir.filePath(QStringLiteral("missing/out.json"));
  int code = 0;
  const auto captured = test::captureStdio([&] { code = writeJsonFile(JsonValue(), bad); });
  EXPECT_EQ(code, 2);
  EXPECT_EQ(captured.err, "ERROR: cannot write " + bad.toUtf8() + "\n");
  EXPECT_TRUE(captured.out.isEmpty());
}

TEST(JsonWriterTest, WriteJsonFileLeavesTheOldFileWhenTheTreeCannotBeWritten) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("out.json"));
  ASSERT_EQ(writeJsonFile(JsonValue(1), path), 0);
  EXPECT_THROW(writeJsonFile(JsonValue(std::nan("")), path), JsonWriteError);
  EXPECT_EQ(test::readFile(path), "1\n");
}

TEST(JsonWriterTest, NumberOrNonFiniteUsesStringsForNonFinite) {
  EXPECT_EQ(text(numberOrNonFinite(std::nan(""))), "\"NaN\"");
  EXPECT_EQ(text(numberOrNonFinite(-INFINITY)), "\"-Infinity\"");
  EXPECT_EQ(text(numberOrNonFinite(2.5)), "2.5");
}

}  // namespace
}  // namespace tk
