#include "definition/ini_text.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <cmath>

namespace tk {
namespace {

QStringList texts(std::initializer_list<const char*> items) {
  QStringList out;
  for (const char* item : items) {
    out.append(QString::fromUtf8(item));
  }
  return out;
}

TEST(IniTextTest, DecodesLinesByByteOrderMarkOrAsLatin1) {
  const std::pair<QByteArray, QStringList> cases[] = {
      {QByteArray("a\xB0=\xE9\r\n"), {QStringLiteral("a\u00B0=\u00E9")}},
      {QByteArray("\xEF\xBB\xBF\xC3\xA9x"), {QStringLiteral("\u00E9x")}},
      {QByteArray::fromHex("fffe61006200"), {QStringLiteral("ab")}},
      {QByteArray::fromHex("feff00610062"), {QStringLiteral("ab")}},
      // Every kind of line break splits; empty lines between breaks stay; a trailing break adds
      // no empty last line.
      {QByteArray("a\nb\rc\r\nd"), texts({"a", "b", "c", "d"})},
      {QByteArray("a\n\n\r\rb\n"), texts({"a", "", "", "", "b"})},
      {QByteArray(""), {}}};
  for (const auto& [bytes, lines] : cases) {
    EXPECT_EQ(decodeLines(bytes), lines) << bytes.toHex().toStdString();
  }
}

// The file reader works in blocks; whatever falls on a block edge, it must give exactly what
// decoding the whole file at once gives.
TEST(IniTextTest, FileReadersMatchDecodingTheWholeFile) {
  EXPECT_FALSE(readTrimmedLines(QStringLiteral("/nonexistent/dir/file.ini")).has_value());
  const IniLines missing = readLines(QStringLiteral("/nonexistent/dir/file.ini"));
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
  const QString path = dir.filePath(QStringLiteral("a.ini"));
  for (const QByteArray& bytes : contents) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
    f.close();
    const std::optional<QStringList> read = readTrimmedLines(path);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(*read, decodeLines(bytes, true)) << bytes.size() << " bytes";
  }
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(" x = 1\r\ny = 2");
  f.close();
  const IniLines read = readLines(path);
  EXPECT_TRUE(read.ok);
  EXPECT_EQ(read.lines, texts({" x = 1", "y = 2"}));
}

TEST(IniTextTest, TextPoolSharesEqualTexts) {
  TextPool pool;
  const QString a = pool.get(u"Off");
  const QString b = pool.get(QString(QStringLiteral("xOffx")).mid(1, 3));
  EXPECT_EQ(b, QStringLiteral("Off"));
  EXPECT_EQ(a.constData(), b.constData());
  EXPECT_NE(pool.get(u"On").constData(), a.constData());
  EXPECT_TRUE(pool.get(QStringView()).isEmpty());
}

TEST(IniTextTest, SplitListSplitsOnlyAtTopLevelCommas) {
  const std::pair<const char*, QStringList> cases[] = {
      {"", {QString()}},
      {"a,", texts({"a", ""})},
      {"a, \"b,c\" ,d", texts({"a", " \"b,c\" ", "d"})},
      {"[1,2],{x,y},(p,q),z", texts({"[1,2]", "{x,y}", "(p,q)", "z"})},
      // Brackets inside quotes do not count.
      {"\"{\",b", texts({"\"{\"", "b"})},
      // An unbalanced closing bracket keeps later commas from splitting.
      {"a),b,c", texts({"a),b,c"})}};
  for (const auto& [text, items] : cases) {
    EXPECT_EQ(splitList(QString::fromUtf8(text)), items) << text;
  }
}

TEST(IniTextTest, TrimCharsUnquoteAndBraces) {
  EXPECT_EQ(trimChars(QStringLiteral("\"\"x\"\""), QStringLiteral("\"")), QStringLiteral("x"));
  EXPECT_EQ(trimChars(QStringLiteral(", ,a b, "), QStringLiteral(", ")), QStringLiteral("a b"));
  EXPECT_EQ(unquote(QStringLiteral("  \" padded \"  ")), QStringLiteral(" padded "));
  EXPECT_EQ(stripBraces(QStringLiteral(" { a > 1 } ")), QStringLiteral("a > 1"));
}

TEST(IniTextTest, ParseIntAcceptsOnlyWholeDecimalInt32) {
  const std::pair<const char*, int> cases[] = {{" 42 ", 42},
                                               {"+7", 7},
                                               {"-7", -7},
                                               {"+-7", -7},
                                               {"2147483647", INT32_MAX},
                                               {"-2147483648", INT32_MIN}};
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
  EXPECT_TRUE(std::isnan(parseDouble(QStringLiteral("NaN")).value_or(0)));
}

}  // namespace
}  // namespace tk
