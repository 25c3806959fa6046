// The reader never fails: hostile and malformed input ends in a definition, never a crash.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
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

// Small generated files that once made the reader grow without bound; each read must end with a
// definition no larger than the expansion limits allow.
TEST(IniBadInputTest, HostileFilesEndWithBoundedOutput) {
  // A define that doubles every round, on 600 lines of three kinds of section: each such line
  // would pass 1 MiB and is dropped; the line after them is read.
  QByteArray doubling("#define X = $X$X\n");
  for (int i = 0; i < 200; ++i) {
    doubling += "[Constants]\nk" + QByteArray::number(i) +
                " = $X\n[Datalog]\nentry = c, \"$X\", int, \"\"\n[UserDefined]\ndialog = d, $X\n";
  }
  const EcuDefinition d1 = parseAndRender(doubling + "[Constants]\nafter = 1\n");
  EXPECT_EQ(d1.Constants.keys(), QStringList{u"after"_s});
  EXPECT_TRUE(d1.DatalogEntries.isEmpty() && d1.Dialogs.isEmpty());
  // Sixteen defines that double each other give 512 Ki characters, under the line limit, on 200
  // lines: the read's expansion allowance ends after a few of them.
  QByteArray chain("#define Da = xxxxxxxxxxxxxxxx\n");
  for (char c = 'b'; c <= 'p'; ++c) {
    chain += QByteArray("#define D") + c + " = $D" + char(c - 1) + "$D" + char(c - 1) + '\n';
  }
  for (int i = 0; i < 200; ++i) {
    chain += "[Constants]\nc" + QByteArray::number(i) + " = $Dp\n";
  }
  const EcuDefinition d2 = parseAndRender(chain);
  EXPECT_GT(d2.Constants.size(), 0);
  EXPECT_LT(d2.Constants.size(), 64);
  for (const QString& value : d2.Constants) {
    EXPECT_EQ(value.size(), 512 * 1024);
  }
  // One expansion of just under 1 MiB on lines that differ before it: the text ahead of the
  // reference counts towards the limit, so only the line with the short lead is kept.
  const QByteArray near(1024 * 1024 - 10, 'y');
  const EcuDefinition d3 = parseAndRender("#define Y = " + near +
                                          "\n[Constants]\na = $Y\n"
                                          "b = 0123456789abc $Y\nc = 0123456 $Y\n");
  EXPECT_EQ(d3.Constants.keys(), (QStringList{u"a"_s, u"c"_s}));
  // Files that include the next one twice, sixteen deep, and a device that never ends: at most
  // 256 includes are read per pass, and only regular files.
  QTemporaryDir dir;
  const auto write = [&dir](const QString& name, const QByteArray& text) {
    QFile f(dir.filePath(name));
    return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
  };
  for (int i = 0; i < 16; ++i) {
    const QByteArray next = "#include f" + QByteArray::number(i + 1) + ".inc\n";
    ASSERT_TRUE(write(u"f%1.inc"_s.arg(i), "entry = c, \"C\", int, \"\"\n" + next + next));
  }
  const QByteArray zero = QDir(dir.path()).relativeFilePath(u"/dev/zero"_s).toLatin1();
  ASSERT_TRUE(write(u"top.ini"_s, "[Datalog]\n#include f0.inc\n#include " + zero + '\n'));
  const qsizetype entries = IniParser().parse(dir.filePath(u"top.ini"_s)).DatalogEntries.size();
  EXPECT_GT(entries, 16);
  EXPECT_LE(entries, 1 + 256);
}

}  // namespace
}  // namespace tk
