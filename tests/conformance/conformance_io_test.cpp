#include "conformance/conformance_io.h"

#include "cli/dispatch.h"
#include "conformance/conformance_test_util.h"

namespace tk::conformance {
namespace {

class ConformanceIoTest : public test::ConformanceTest {};

TEST_F(ConformanceIoTest, SliceRawImageCutsPagesEndToEndOrNamesTheMismatch) {
  EcuDefinition d;
  d.NPages = 4;
  d.PageSizes = {4, -5, 2};  // a negative and a missing size are empty pages
  const std::pair<const char*, QByteArray> cases[] = {
      {"01020304 050607", "ERROR: image has 1 trailing bytes beyond the declared pages\n"},
      {"010203", "ERROR: image too short: page 1 needs 4 bytes at 0, image is 3\n"},
      {"", "ERROR: image too short: page 1 needs 4 bytes at 0, image is 0\n"},
      {"01020304 05", "ERROR: image too short: page 3 needs 2 bytes at 4, image is 5\n"},
      {"01020304 0506", ""}};
  std::optional<PageImages> pages;
  for (const auto& [image, message] : cases) {
    run([&] {
      pages = sliceRawImage(d, QByteArray::fromHex(QByteArray(image)));
      return 0;
    });
    EXPECT_EQ(io_.err, message) << image;
    EXPECT_EQ(pages.has_value(), message.isEmpty()) << image;
  }
  // The last case fits.
  EXPECT_EQ(pages,
            (PageImages{{1, QByteArray::fromHex("01020304")}, {3, QByteArray::fromHex("0506")}}));
  // The arrays' values may take 16 characters per image byte plus 64 Ki (here 4 per element).
  ConstantDef array;
  array.Type = ConstantType::Array;
  array.Shape = {16408};
  d.Pages = {PageGroup{2, {array}}};
  run([&] { return sliceRawImage(d, QByteArray(6, '\0')).has_value() ? 0 : 2; });
  EXPECT_TRUE(io_.err.isEmpty());
  d.Pages[0].Fields[0].Shape = {1, 16409};
  EXPECT_EQ(run([&] { return sliceRawImage(d, QByteArray(6, '\0')).has_value() ? 0 : 2; }), 2);
  EXPECT_EQ(io_.err,
            "ERROR: definition arrays need 65636 characters of values, more than the 65632 a "
            "6-byte image allows\n");
}

// Every command reports a missing or unreadable input and an unwritable output the same way,
// routed by its argument count; "IN" stands for the input under test, "OUT" for the output.
TEST_F(ConformanceIoTest, EveryCommandReportsFileErrorsTheSameWay) {
  const QString ini = test::dataPath(QStringLiteral("tunefields.ini"));
  const QString image = test::dataPath(QStringLiteral("tuneimg-synthetic.bin"));
  const std::pair<QStringList, QString> commands[] = {
      {{"dump-ini", "IN", "OUT"}, ini},
      {{"dump-expr", ini, "IN", "OUT"}, test::dataPath(QStringLiteral("expr/expr_vectors.txt"))},
      {{"dump-expr", "IN", test::dataPath(QStringLiteral("expr/expr_vectors.txt")), "OUT"}, ini},
      {{"dump-tunefields", "IN", image, "OUT"}, ini},
      {{"dump-tunefields", ini, "IN", "OUT"}, image},
      {{"dump-project-legacy", "IN", image, "OUT"}, ini},
      {{"dump-msq-export", ini, "IN", "OUT"}, image},
      {{"dump-tunediff", ini, image, "IN", "OUT"}, image},
      {{"dump-project-legacy", ini, "IN", "OUT"}, image},
      {{"dump-msq", "IN", "OUT"}, test::dataPath(QStringLiteral("msq/dump-sample.msq"))},
      {{"dump-mlg", "IN", "OUT"}, test::dataPath(QStringLiteral("mlg/seed-v2-types.mlg"))},
      {{"dump-project", "IN", "OUT"}, QString()}};
  const QString missing = path("missing");
  const QString unwritable = path("no/such/dir/out");
  const std::tuple<bool, QString, QString, QByteArray> cases[] = {
      {false, missing, path("out"), "ERROR: no such file: " + missing.toUtf8()},
      {false, dir_.path(), path("out"), "ERROR: cannot read " + dir_.path().toUtf8()},
      {true, QString(), unwritable, "ERROR: cannot write " + unwritable.toUtf8()}};
  for (const auto& [args, goodInput] : commands) {
    for (const auto& [useGood, input, output, message] : cases) {
      if (useGood && goodInput.isEmpty()) {
        continue;
      }
      QStringList all = QStringList{QStringLiteral("torvik-cli")} + args;
      all.replace(all.indexOf(QStringLiteral("IN")), useGood ? goodInput : input);
      all.replace(all.indexOf(QStringLiteral("OUT")), output);
      EXPECT_EQ(run([&] { return cli::dispatch(all); }), 2) << all.join(u' ').toStdString();
      EXPECT_EQ(io_.err, message + '\n');
    }
  }
  EXPECT_FALSE(QFile::exists(path("out")));
}

}  // namespace
}  // namespace tk::conformance
