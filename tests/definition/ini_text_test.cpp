#include "definition/ini_text.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <cmath>

namespace tk {
namespace {

using namespace Qt::Literals::StringLiterals;

/// A list of texts written with '|' between them.
QStringList texts(const char16_t* joined) { return QString::fromUtf16(joined).split(u'|'); }

TEST(IniTextTest, DecodesLinesByByteOrderMarkOrAsLatin1) {
  const std::pair<QByteArray, QStringList> cases[] = {
      {QByteArray("a\xB0=\xE9\r\n"), {u"a\u00B0=\u00E9"_s}},
      {QByteArray("\xEF\xBB\xBF\xC3\xA9x"), {u"\u00E9x"_s}},
      {QByteArray::fromHex("fffe61006200"), {u"ab"_s}},
      {QByteArray::fromHex("feff00610062"), {u"ab"_s}},
      // Every kind of line break splits; empty lines between breaks stay; a trailing break adds
      // no empty last line.
      {QByteArray("a\nb\rc\r\nd"), texts(u"a|b|c|d")},
      {QByteArray("a\n\n\r\rb\n"), texts(u"a||||b")},
      {QByteArray(""), {}}};
  for (const auto& [bytes, lines] : cases) {
    EXPECT_EQ(decodeLines(bytes), lines) << bytes.toHex().toStdString();
  }
}

// The file reader works in blocks; whatever falls on a block edge, it must give exactly what
// decoding the whole file at once gives.
TEST(IniTextTest, FileReadersMatchDecodingTheWholeFile) {
  EXPECT_FALSE(readTrimmedLines(u"/nonexistent/dir/file.ini"_s).has_value());
  const IniLines missing = readLines(u"/nonexistent/dir/file.ini"_s);
  EXPECT_FALSE(missing.ok);
  EXPECT_TRUE(missing.lines.isEmpty());
  constexpr qsizetype kBlock = 64 * 1024;
  QList<QByteArray> contents = {QByteArray("\xEF\xBB\xBF k = \xC3\xA9 \r\nx"),
                                QByteArray::fromHex("fffe20006100200d000a006200"),
                                QByteArray("  a\xB0  \n\n\rb\t\r\n"), QByteArray()};
  for (const char* brk : {"\r\n", "\r", "\n", "\r\r\n"}) {
    for (qsizetype at = kBlock - 3; at <= kBlock + 1; ++at) {
      QByteArray bytes(at, 'x');
      bytes[0] = ' ';
      bytes[at / 2] = '\n';
      bytes += brk;
      bytes += " tail\xE9 ";
      contents.append(bytes);
    }
  }
  QTemporaryDir dir;
  const QString path = dir.filePath(u"a.ini"_s);
  const auto write = [&path](const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
  };
  for (const QByteArray& bytes : contents) {
    ASSERT_TRUE(write(bytes));
    const std::optional<QStringList> read = readTrimmedLines(path);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(*read, decodeLines(bytes, true)) << bytes.size() << " bytes";
  }
  ASSERT_TRUE(write(" x = 1\r\ny = 2"));
  const IniLines read = readLines(path);
  EXPECT_TRUE(read.ok);
  EXPECT_EQ(read.lines, texts(u" x = 1|y = 2"));
}

TEST(IniTextTest, SplitListSplitsOnlyAtTopLevelCommas) {
  const std::pair<const char*, QStringList> cases[] = {
      {"", {QString()}},
      {"a,", texts(u"a|")},
      {"a, \"b,c\" ,d", texts(u"a| \"b,c\" |d")},
      {"[1,2],{x,y},(p,q),z", texts(u"[1,2]|{x,y}|(p,q)|z")},
      // Brackets inside quotes do not count.
      {"\"{\",b", texts(u"\"{\"|b")},
      // An unbalanced closing bracket keeps later commas from splitting.
      {"a),b,c", texts(u"a),b,c")}};
  for (const auto& [text, items] : cases) {
    EXPECT_EQ(splitList(QString::fromUtf8(text)), items) << text;
  }
}

TEST(IniTextTest, TrimCharsUnquoteAndBraces) {
  EXPECT_EQ(trimChars(u"\"\"x\"\""_s, u"\""_s), u"x"_s);
  EXPECT_EQ(trimChars(u", ,a b, "_s, u", "_s), u"a b"_s);
  EXPECT_EQ(unquote(u"  \" padded \"  "_s), u" padded "_s);
  EXPECT_EQ(stripBraces(u" { a > 1 } "_s), u"a > 1"_s);
}

TEST(IniTextTest, ParseIntAcceptsOnlyWholeDecimalInt32) {
  // clang-format off
  const std::pair<const char*, int> cases[] = {
      {" 42 ", 42}, {"+7", 7}, {"-7", -7}, {"+-7", -7}, {"2147483647", INT32_MAX},
      {"-2147483648", INT32_MIN}};
  // clang-format on
  for (const auto& [text, value] : cases) {
    EXPECT_EQ(parseInt(QString::fromUtf8(text)), value) << text;
  }
  for (const char* text : {"2147483648", "0x10", "1.0", "", "12ab", "-"}) {
    EXPECT_EQ(parseInt(QString::fromUtf8(text)), std::nullopt) << text;
  }
}

TEST(IniTextTest, ParseDoubleParsesLocaleIndependentNumbers) {
  const std::pair<const char*, double> cases[] = {
      {"0.1", 0.1},   {" 5. ", 5.0},  {"+2.5", 2.5},     {"-1e3", -1000.0},
      {"1E-2", 0.01}, {"100", 100.0}, {"INF", INFINITY}, {"-Infinity", -INFINITY}};
  for (const auto& [text, value] : cases) {
    EXPECT_EQ(parseDouble(QString::fromUtf8(text)), value) << text;
  }
  for (const char* text : {"1,5", "0x10", "abc", "", "1.2.3", "nan(1)"}) {
    EXPECT_EQ(parseDouble(QString::fromUtf8(text)), std::nullopt) << text;
  }
  EXPECT_TRUE(std::isnan(parseDouble(u"NaN"_s).value_or(0)));
}

}  // namespace
}  // namespace tk
