#include "conformance/conformance_io.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "support/test_support.h"

namespace tk::conformance {
namespace {

EcuDefinition twoPages() {
  EcuDefinition d;
  d.NPages = 2;
  d.PageSizes = {4, 2};
  return d;
}

TEST(SliceRawImageTest, CutsPagesEndToEnd) {
  std::optional<PageImages> pages;
  const auto c = test::captureStdio(
      [&] { pages = sliceRawImage(twoPages(), QByteArray::fromHex("010203040506")); });
  ASSERT_TRUE(pages.has_value());
  EXPECT_EQ(pages->size(), 2);
  EXPECT_EQ(pages->value(1), QByteArray::fromHex("01020304"));
  EXPECT_EQ(pages->value(2), QByteArray::fromHex("0506"));
  EXPECT_TRUE(c.err.isEmpty());
}

TEST(SliceRawImageTest, ReportsShortImagesAndTrailingBytes) {
  const std::pair<QByteArray, QByteArray> cases[] = {
      {QByteArray::fromHex("01020304050607"),
       "ERROR: image has 1 trailing bytes beyond the declared pages\n"},
      {QByteArray::fromHex("010203"),
       "ERROR: image too short: page 1 needs 4 bytes at 0, image is 3\n"},
      {QByteArray::fromHex("0102030405"),
       "ERROR: image too short: page 2 needs 2 bytes at 4, image is 5\n"},
  };
  for (const auto& [image, message] : cases) {
    std::optional<PageImages> pages;
    const auto c = test::captureStdio([&] { pages = sliceRawImage(twoPages(), image); });
    EXPECT_FALSE(pages.has_value());
    EXPECT_EQ(c.err, message);
  }
}

TEST(SliceRawImageTest, MissingOrNegativeSizesAreEmptyPages) {
  EcuDefinition d = twoPages();
  d.NPages = 4;
  d.PageSizes = {2, -5, 1};
  std::optional<PageImages> pages;
  test::captureStdio([&] { pages = sliceRawImage(d, QByteArray::fromHex("aabbcc")); });
  ASSERT_TRUE(pages.has_value());
  EXPECT_EQ(pages->keys(), (QList<int>{1, 3}));
  EXPECT_EQ(pages->value(3), QByteArray::fromHex("cc"));
}

TEST(ConformanceIoTest, InputAndOutputFileErrors) {
  QTemporaryDir dir;
  const QString missing = dir.filePath(QStringLiteral("missing.bin"));
  QByteArray bytes;
  int code = 0;
  auto c = test::captureStdio([&] { code = readInputFile(missing, bytes); });
  EXPECT_EQ(code, 2);
  EXPECT_EQ(c.err, "ERROR: no such file: " + missing.toUtf8() + "\n");

  const QString unwritable = dir.filePath(QStringLiteral("no/dir/out.csv"));
  c = test::captureStdio([&] { code = writeOutputFile(unwritable, "x"); });
  EXPECT_EQ(code, 2);
  EXPECT_EQ(c.err, "ERROR: cannot write " + unwritable.toUtf8() + "\n");

  const QString out = dir.filePath(QStringLiteral("out.bin"));
  EXPECT_EQ(writeOutputFile(out, "abc"), 0);
  EXPECT_EQ(readInputFile(out, bytes), 0);
  EXPECT_EQ(bytes, "abc");
}

}  // namespace
}  // namespace tk::conformance
