#include "cli/envelope.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace tk::cli {
namespace {

class TextEnvelopeTest : public ::testing::Test {
 protected:
  void SetUp() override { setTextOutput(true); }
  void TearDown() override { setTextOutput(false); }
};

TEST_F(TextEnvelopeTest, RendersNestedObjectsAndArrays) {
  JsonValue cell = JsonValue::object();
  cell.insert(QStringLiteral("name"), QStringLiteral("reqFuel"));
  cell.insert(QStringLiteral("value"), 12.5);
  JsonValue tables = JsonValue::array();
  tables.append(cell);
  JsonValue row = JsonValue::array();
  row.append(1);
  row.append(2.5);
  row.append(QStringLiteral("x"));
  JsonValue rows = JsonValue::array();
  rows.append(row);
  rows.append(true);
  rows.append(JsonValue());
  JsonValue data = JsonValue::object();
  data.insert(QStringLiteral("count"), 1);
  data.insert(QStringLiteral("tables"), tables);
  data.insert(QStringLiteral("rows"), rows);
  data.insert(QStringLiteral("empty"), JsonValue::array());
  data.insert(QStringLiteral("flag"), false);
  data.insert(QStringLiteral("f"), 0.1f);
  data.insert(QStringLiteral("none"), JsonValue());

  const auto c = test::captureStdio([&] { emitSuccess(QStringLiteral("list"), data); });
  EXPECT_EQ(c.out,
            "count: 1\ntables:\n  [0]:\n    name: reqFuel\n    value: 12.5\nrows:\n"
            "    [1, 2.5, x]\n    True\n    \nempty:\nflag: False\nf: 0.1\nnone: \n");
  EXPECT_TRUE(c.err.isEmpty());
}

TEST_F(TextEnvelopeTest, ScalarDataIsOneLine) {
  const auto c = test::captureStdio([&] { emitSuccess(QStringLiteral("x"), JsonValue(1e17)); });
  EXPECT_EQ(c.out, "1E+17\n");
}

TEST(ValueTextTest, KindsTexts) {
  EXPECT_EQ(valueText(JsonValue()), QString());
  EXPECT_EQ(valueText(true), QStringLiteral("True"));
  EXPECT_EQ(valueText(-12), QStringLiteral("-12"));
  EXPECT_EQ(valueText(0.30000000000000004), QStringLiteral("0.30000000000000004"));
  EXPECT_EQ(valueText(QStringLiteral("a \"q\"")), QStringLiteral("a \"q\""));
  EXPECT_EQ(valueText(JsonValue::object()), QString());
}

}  // namespace
}  // namespace tk::cli
