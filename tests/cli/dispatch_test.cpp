#include "cli/dispatch.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "cli/usage.h"
#include "support/test_support.h"

namespace tk::cli {
namespace {

const QByteArray kUsage = QByteArray(usageText());

test::Captured dispatchCaptured(const QStringList& args, int* code) {
  return test::captureStdio(
      [&] { *code = dispatch(QStringList{QStringLiteral("torvik-cli")} + args); });
}

TEST(UsageTest, TextStartsWithNameAndVersionAndEndsWithTheAgentCommands) {
  EXPECT_TRUE(kUsage.startsWith("torvik-cli 0.8.14\nUsage:\n  dump-crc32 <out.json>     CRC32"));
  EXPECT_TRUE(kUsage.endsWith(
      "  datalog --duration S --output F.mlg, read-channels [--channels A,B] [--count N]\n"));
  EXPECT_TRUE(kUsage.contains("\n\nAI-agent tuning commands (all take\n"));
  EXPECT_EQ(kUsage.count('\n'), 72);
}

TEST(MainProcessTest, NoArgumentsPrintsUsageOnlyOnStandardError) {
  const auto r = test::runCli({});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.out.isEmpty());
  EXPECT_EQ(r.err, kUsage);
}

TEST(MainProcessTest, HostileArgumentsEndInUsageNeverACrash) {
  const QStringList hostile[] = {
      {QString()},        {QString(100000, QLatin1Char('x'))}, {QString::fromUtf8("\xff\xfe\xc3")},
      {"--project", "p"}, {"DUMP-CRC32", "out.json"},
  };
  for (const QStringList& args : hostile) {
    const auto r = test::runCli(args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_EQ(r.err, kUsage);
  }
}

TEST(DispatchTest, ConformanceNameWithWrongCountFallsThroughToUsage) {
  for (const QStringList& args : {QStringList{"dump-crc32"}, QStringList{"dump-crc32", "a", "b"},
                                  QStringList{"dump-jsonfmt"}}) {
    int code = 0;
    const auto c = dispatchCaptured(args, &code);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(c.err, kUsage);
    EXPECT_TRUE(c.out.isEmpty());
  }
}

TEST(DispatchTest, ConformanceCommandsWriteTheirFiles) {
  QTemporaryDir dir;
  const QString crc = dir.filePath(QStringLiteral("crc.json"));
  const QString fmt = dir.filePath(QStringLiteral("fmt.json"));
  int code = -1;
  auto c = dispatchCaptured({"dump-crc32", crc}, &code);
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(c.out.isEmpty());
  EXPECT_TRUE(test::readFile(crc).contains("\"crc32\": \"0xCBF43926\""));
  c = dispatchCaptured({"dump-jsonfmt", fmt}, &code);
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(test::readFile(fmt).startsWith("{\n  \"doubles\": [\n"));

  const QString unwritable = dir.filePath(QStringLiteral("no/such/dir.json"));
  c = dispatchCaptured({"dump-crc32", unwritable}, &code);
  EXPECT_EQ(code, 2);
  EXPECT_EQ(c.err, "ERROR: cannot write " + unwritable.toUtf8() + "\n");
}

}  // namespace
}  // namespace tk::cli
