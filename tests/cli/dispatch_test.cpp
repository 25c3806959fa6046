#include "cli/dispatch.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <new>
#include <stdexcept>

#include "cli/usage.h"
#include "support/test_support.h"

namespace tk::cli {
namespace {

TEST(UsageTest, TextIsFixedAndCarriesTheVersion) {
  EXPECT_TRUE(test::matchesGolden(QByteArray(usageText()), QStringLiteral("cli/usage.txt")));
}

// The whole program: whatever names no command ends in the usage text on standard error. A
// conformance name with another argument count falls through to the agent runner, which does
// not know it either.
TEST(DispatchTest, AnythingElseEndsInUsage) {
  const QByteArray usage = test::readFile(test::dataPath(QStringLiteral("cli/usage.txt")));
  const QStringList cases[] = {
      {},
      {QString()},
      {QString(100000, QLatin1Char('x'))},
      {QString::fromUtf8("\xff\xfe\xc3")},
      {"--project", "p"},
      {"DUMP-CRC32", "out.json"},
      {"dump-crc32"},
      {"dump-crc32", "a", "b"},
      {"dump-jsonfmt"},
      {"dump-msq-export", "a.ini", "b.bin"},
  };
  for (const QStringList& args : cases) {
    const auto r = test::runCli(args);
    EXPECT_EQ(r.exitCode, 1) << args.join(u' ').left(40).toStdString();
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_EQ(r.err, usage);
  }
}

// A conformance row hands its arguments over in order.
TEST(DispatchTest, ConformanceCommandsGetTheirArgumentsInOrder) {
  // The document itself is the conformance tests' (dumpCrc32 and the others are called directly).
  QTemporaryDir dir;
  const QString msq = dir.filePath(QStringLiteral("out.msq"));
  EXPECT_EQ(
      dispatch({"torvik-cli", "dump-msq-export", test::dataPath(QStringLiteral("tunefields.ini")),
                test::dataPath(QStringLiteral("tuneimg-synthetic.bin")), msq}),
      0);
  EXPECT_TRUE(test::matchesGolden(test::readFile(msq),
                                  QStringLiteral("golden/dump-msq-export-synthetic.msq")));
}

// Nothing a conformance command throws leaves the program: running out of memory (a hostile file
// asking for more than there is) has its own exit code, anything else is a failed command.
TEST(DispatchTest, ConformanceFailuresEndInAnErrorLine) {
  struct Case {
    std::function<int()> command;
    const char* err;
    int exitCode;
  };
  const Case cases[] = {
      {[]() -> int { throw std::bad_alloc(); }, "ERROR: out of memory\n", kOutOfMemoryExitCode},
      {[]() -> int { throw std::length_error("vector too long"); }, "ERROR: vector too long\n", 2},
      {[]() -> int { throw 7; }, "ERROR: unexpected failure\n", 2},
      {[] { return 0; }, "", 0},
  };
  for (const Case& c : cases) {
    int code = -1;
    const test::Captured captured =
        test::captureStdio([&] { code = runConformanceGuarded(c.command); });
    EXPECT_EQ(code, c.exitCode) << c.err;
    EXPECT_EQ(captured.err, c.err);
    EXPECT_TRUE(captured.out.isEmpty());
  }
}

}  // namespace
}  // namespace tk::cli
