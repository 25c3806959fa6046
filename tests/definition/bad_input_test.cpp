// The reader never fails: hostile and malformed input ends in a definition, never a crash.
#include <gtest/gtest.h>

#include <random>

#include "definition/definition_json.h"
#include "definition/ini_test_util.h"
#include "support/test_support.h"

namespace tk {
namespace {

using test::parseIni;

/// Parses bytes and renders the whole document, which must always succeed.
EcuDefinition parseAndRender(const QByteArray& bytes) {
  const EcuDefinition d = IniParser().parseBytes(bytes, QString());
  EXPECT_FALSE(serialize(definitionJson(d)).isEmpty());
  return d;
}

TEST(IniBadInputTest, RandomBytes) {
  std::mt19937 random(20261205);
  for (int round = 0; round < 200; ++round) {
    QByteArray bytes(static_cast<qsizetype>(random() % 4096), '\0');
    for (char& b : bytes) {
      b = static_cast<char>(random() & 0xFF);
    }
    parseAndRender(bytes);
  }
}

TEST(IniBadInputTest, MutatedRealisticText) {
  const QByteArray base = test::readFile(test::dataPath(QStringLiteral("ini/small.ini")));
  ASSERT_FALSE(base.isEmpty());
  std::mt19937 random(7);
  const char interesting[] = "=,;\"{}[]()#$:x\n\r\t ";
  for (int round = 0; round < 300; ++round) {
    QByteArray bytes = base;
    const int edits = 1 + static_cast<int>(random() % 16);
    for (int e = 0; e < edits; ++e) {
      const qsizetype at = static_cast<qsizetype>(random() % static_cast<unsigned>(bytes.size()));
      bytes[at] = interesting[random() % (sizeof interesting - 1)];
    }
    parseAndRender(bytes);
  }
}

TEST(IniBadInputTest, OneTenMegabyteLine) {
  QByteArray line("[Constants]\npage = 1\nk = scalar, U08, 0, \"");
  line.append(QByteArray(10 * 1024 * 1024, 'x'));
  const EcuDefinition d = parseAndRender(line);
  ASSERT_EQ(d.Pages.size(), 1);
  EXPECT_EQ(d.Pages.at(0).Fields.at(0).Units.size(), 10 * 1024 * 1024);
}

TEST(IniBadInputTest, TenThousandNestedConditions) {
  QByteArray text("#set A\n[Constants]\n");
  for (int i = 0; i < 10000; ++i) {
    text.append("#if A\n");
  }
  text.append("deep = 1\n#if B\nhidden = 1\n");
  for (int i = 0; i < 10001; ++i) {
    text.append("#endif\n");
  }
  text.append("after = 1\n");
  const EcuDefinition d = parseAndRender(text);
  EXPECT_EQ(d.Constants.value(QStringLiteral("deep")), QStringLiteral("1"));
  EXPECT_FALSE(d.Constants.contains(QStringLiteral("hidden")));
  EXPECT_EQ(d.Constants.value(QStringLiteral("after")), QStringLiteral("1"));
}

TEST(IniBadInputTest, DefinesThatGrowWithoutBound) {
  const EcuDefinition d =
      parseIni("#define a = $a$a$a$a\n#define b = $b\n[Constants]\nx = $a\ny = $b\n");
  const qsizetype grown = d.Constants.value(QStringLiteral("x")).size();
  EXPECT_GT(grown, 1000);
  EXPECT_LE(grown, (1 << 20) + 2);
  EXPECT_EQ(d.Constants.value(QStringLiteral("y")), QStringLiteral("$b"));
}

TEST(IniBadInputTest, HostileNumbersAndShapes) {
  const EcuDefinition d = parseIni(
      "[Constants]\npage = 1\nbig = array, U64, 2147483647, [2147483647x2147483647]\n"
      "next = scalar, U08, nextOffset\nneg = array, U08, -5, [-3]\npage = 99999999999\n"
      "page = -2\nonNeg = scalar, U08, 0\n[OutputChannels]\nc = array, U32, 2147483647, [65536]\n"
      "d = scalar, U08, nextOffset\n");
  const PageGroup* page = d.findPage(1);
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(fieldSize(page->Fields.at(0)), INT32_MAX);
  EXPECT_EQ(page->Fields.at(1).Offset, INT32_MAX);
  EXPECT_EQ(d.findPage(-2)->Fields.size(), 1);
  EXPECT_EQ(d.OutputChannels.find(QStringLiteral("d"))->Offset, INT32_MAX);
}

}  // namespace
}  // namespace tk
