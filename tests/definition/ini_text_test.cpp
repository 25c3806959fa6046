#include "definition/ini_text.h"

#include <QTemporaryDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cmath>

namespace tk {
namespace {

TEST(IniTextTest, DecodesLatin1WithoutByteOrderMark) {
  const QStringList lines = decodeLines(QByteArray("a\xB0=\xE9\r\n"));
  ASSERT_EQ(lines.size(), 1);
  EXPECT_EQ(lines.at(0), QString(QChar(u'a')) + QChar(0xB0) + u'=' + QChar(0xE9));
}

TEST(IniTextTest, DecodesByteOrderMarks) {
  EXPECT_EQ(decodeLines(QByteArray("\xEF\xBB\xBF\xC3\xA9x")), QStringList{QStringLiteral("\u00E9x")});
  EXPECT_EQ(decodeLines(QByteArray("\xFF\xFE" "a\0b\0", 6)), QStringList{QStringLiteral("ab")});
  EXPECT_EQ(decodeLines(QByteArray("\xFE\xFF\0a\0b", 6)), QStringList{QStringLiteral("ab")});
}

TEST(IniTextTest, SplitsAtEveryKindOfLineBreak) {
  EXPECT_EQ(decodeLines("a\nb\rc\r\nd"),
            (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"),
                         QStringLiteral("d")}));
  // Empty lines between breaks stay; a trailing break adds no empty last line.
  EXPECT_EQ(decodeLines("a\n\n\r\rb\n"),
            (QStringList{QStringLiteral("a"), QString(), QString(), QString(), QStringLiteral("b")}));
  EXPECT_TRUE(decodeLines("").isEmpty());
}

TEST(IniTextTest, ReadLinesReportsUnreadableFile) {
  const IniLines missing = readLines(QStringLiteral("/nonexistent/dir/file.ini"));
  EXPECT_FALSE(missing.ok);
  EXPECT_TRUE(missing.lines.isEmpty());
  QTemporaryDir dir;
  QFile f(dir.filePath(QStringLiteral("a.ini")));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("x = 1\r\ny = 2");
  f.close();
  const IniLines read = readLines(f.fileName());
  EXPECT_TRUE(read.ok);
  EXPECT_EQ(read.lines, (QStringList{QStringLiteral("x = 1"), QStringLiteral("y = 2")}));
}

struct SplitCase {
  const char* text;
  QStringList items;
};

class SplitListTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitListTest, SplitsOnlyAtTopLevelCommas) {
  EXPECT_EQ(splitList(QString::fromUtf8(GetParam().text)), GetParam().items);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitListTest,
    ::testing::Values(
        SplitCase{"", {QString()}}, SplitCase{"a,", {QStringLiteral("a"), QString()}},
        SplitCase{"a, \"b,c\" ,d",
                  {QStringLiteral("a"), QStringLiteral(" \"b,c\" "), QStringLiteral("d")}},
        SplitCase{"[1,2],{x,y},(p,q),z",
                  {QStringLiteral("[1,2]"), QStringLiteral("{x,y}"), QStringLiteral("(p,q)"),
                   QStringLiteral("z")}},
        // Brackets inside quotes do not count.
        SplitCase{"\"{\",b", {QStringLiteral("\"{\""), QStringLiteral("b")}},
        // An unbalanced closing bracket keeps later commas from splitting.
        SplitCase{"a),b,c", {QStringLiteral("a),b,c")}}));

TEST(IniTextTest, TrimCharsAndUnquote) {
  EXPECT_EQ(trimChars(QStringLiteral("\"\"x\"\""), QStringLiteral("\"")), QStringLiteral("x"));
  EXPECT_EQ(trimChars(QStringLiteral(", ,a b, "), QStringLiteral(", ")), QStringLiteral("a b"));
  EXPECT_EQ(unquote(QStringLiteral("  \" padded \"  ")), QStringLiteral(" padded "));
  EXPECT_EQ(stripBraces(QStringLiteral(" { a > 1 } ")), QStringLiteral("a > 1"));
}

struct IntCase {
  const char* text;
  std::optional<int> value;
};

class ParseIntTest : public ::testing::TestWithParam<IntCase> {};

TEST_P(ParseIntTest, AcceptsOnlyWholeDecimalInt32) {
  EXPECT_EQ(parseInt(QString::fromUtf8(GetParam().text)), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Cases, ParseIntTest,
                         ::testing::Values(IntCase{" 42 ", 42}, IntCase{"+7", 7}, IntCase{"-7", -7},
                                           IntCase{"+-7", -7}, IntCase{"2147483647", 2147483647},
                                           IntCase{"-2147483648", INT32_MIN},
                                           IntCase{"2147483648", std::nullopt},
                                           IntCase{"0x10", std::nullopt}, IntCase{"1.0", std::nullopt},
                                           IntCase{"", std::nullopt}, IntCase{"12ab", std::nullopt},
                                           IntCase{"-", std::nullopt}));

struct DoubleCase {
  const char* text;
  std::optional<double> value;
};

class ParseDoubleTest : public ::testing::TestWithParam<DoubleCase> {};

TEST_P(ParseDoubleTest, ParsesLocaleIndependentNumbers) {
  EXPECT_EQ(parseDouble(QString::fromUtf8(GetParam().text)), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseDoubleTest,
    ::testing::Values(DoubleCase{"0.1", 0.1}, DoubleCase{" 5. ", 5.0}, DoubleCase{"+2.5", 2.5},
                      DoubleCase{"-1e3", -1000.0}, DoubleCase{"1E-2", 0.01},
                      DoubleCase{"100", 100.0}, DoubleCase{"1,5", std::nullopt},
                      DoubleCase{"0x10", std::nullopt}, DoubleCase{"abc", std::nullopt},
                      DoubleCase{"", std::nullopt}, DoubleCase{"1.2.3", std::nullopt},
                      DoubleCase{"nan(1)", std::nullopt}));

TEST(IniTextTest, ParseDoubleAcceptsInfinityAndNanWords) {
  EXPECT_EQ(parseDouble(QStringLiteral("INF")), INFINITY);
  EXPECT_EQ(parseDouble(QStringLiteral("-Infinity")), -INFINITY);
  const auto nan = parseDouble(QStringLiteral("NaN"));
  ASSERT_TRUE(nan.has_value());
  EXPECT_TRUE(std::isnan(*nan));
}

}  // namespace
}  // namespace tk
