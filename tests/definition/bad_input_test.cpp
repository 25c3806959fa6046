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

// Lines declaring more than a definition may hold are left out, each with a message naming it;
// what came before them stays.
TEST(IniBudgetTest, LinesOverBudgetAreLeftOutAndNamed) {
  const std::pair<const char*, const char*> cases[] = {
      {"more = array, U08, 0, [1001]", "the constants need more than 1000000 elements together"},
      {"wrap = array, U08, 0, [65536x65536]",
       "the constants need more than 1000000 elements together"},
      {"big = array, U08, 0, [4294967297x1]",
       "the constants need more than 1000000 elements together"},
      {"pageSize = 40000000, 40000000", "the pages need more than 64 MiB"},
      {"[OutputChannels]\nochBlockSize = 2147483647",
       "the realtime block would need more than 65536 bytes"}};
  for (const auto& [line, reason] : cases) {
    // Page settings come before the first page line, constants after it.
    const bool pages = QByteArray(line).startsWith("pageSize");
    const EcuDefinition d =
        parseAndRender("[Constants]\nnPages = 1\n" + QByteArray(pages ? line : "pageSize = 64") +
                       "\npage = 1\nkept = array, F32, 0, [1000x999], \"\", 1, 0, 0, 1, 0\n" +
                       QByteArray(pages ? "" : line) + '\n');
    const QString shown = QString::fromLatin1(line).section(u'\n', -1);
    EXPECT_EQ(d.Refused, QStringList{u"definition line \"%1\" left out: %2"_s.arg(
                             shown, QString::fromLatin1(reason))});
    ASSERT_EQ(d.Pages.size(), 1);
    EXPECT_EQ(d.Pages.at(0).Fields.size(), 1) << line;
    EXPECT_EQ(d.OchBlockSize, 0);
  }
}

// Included text counts against one budget however often a file is included; a device or pipe
// given as the definition itself is not read at all.
TEST(IniBudgetFilesTest, IncludesAndDevicesStayBounded) {
  QTemporaryDir dir;
  QFile big(dir.filePath(u"big.inc"_s));
  ASSERT_TRUE(big.open(QIODevice::WriteOnly));
  const QByteArray line = "; " + QByteArray(1022, 'x') + '\n';
  for (int i = 0; i < 1024; ++i) {
    big.write(line);
  }
  big.close();
  QFile top(dir.filePath(u"top.ini"_s));
  ASSERT_TRUE(top.open(QIODevice::WriteOnly));
  for (int i = 0; i < 17; ++i) {
    top.write("#include big.inc\n");
  }
  top.close();
  EXPECT_EQ(IniParser().parse(top.fileName()).Refused,
            QStringList{u"definition line \"#include big.inc\" left out: the included files hold "
                        "more than 16 MiB of text"_s});
  EXPECT_EQ(IniParser().parse(u"/dev/zero"_s).Refused,
            QStringList{u"definition file /dev/zero not read: not a regular file"_s});
}

}  // namespace
}  // namespace tk
