// The reader never fails: hostile and malformed input ends in a definition, never a crash.
#include <gtest/gtest.h>

#include <random>

#include "definition/definition_json.h"
#include "definition/ini_parser.h"
#include "json/json_writer.h"
#include "support/test_support.h"

namespace tk {
namespace {

using namespace Qt::Literals::StringLiterals;

/// Parses bytes and renders the whole document, which must always succeed.
EcuDefinition parseAndRender(const QByteArray& bytes) {
  const EcuDefinition d = IniParser().parseBytes(bytes, QString());
  EXPECT_FALSE(serialize(definitionJson(d)).isEmpty());
  return d;
}

// Realistic text with random edits, the kind of damage a hand-edited file shows.
TEST(IniBadInputTest, MutatedText) {
  std::mt19937 random(20261205);
  const QByteArray base = test::readFile(test::dataPath(u"ini/small.ini"_s));
  ASSERT_FALSE(base.isEmpty());
  const char interesting[] = "=,;\"{}[]()#$:x\n\r\t ";
  for (int round = 0; round < 300; ++round) {
    QByteArray bytes = base;
    for (int e = 1 + static_cast<int>(random() % 16); e > 0; --e) {
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
  EXPECT_EQ(d.Constants.keys(), (QStringList{u"after"_s, u"deep"_s}));
}

TEST(IniBadInputTest, DefinesThatGrowWithoutBound) {
  const EcuDefinition d = IniParser().parseBytes(
      "#define a = $a$a$a$a\n#define b = $b\n[Constants]\nx = $a\ny = $b\n", QString());
  const qsizetype grown = d.Constants.value(u"x"_s).size();
  EXPECT_GT(grown, 1000);
  EXPECT_LE(grown, (1 << 20) + 2);
  EXPECT_EQ(d.Constants.value(u"y"_s), u"$b"_s);
}

}  // namespace
}  // namespace tk
