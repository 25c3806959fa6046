#include "conformance/dump_msq.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "support/test_support.h"

namespace tk::conformance {
namespace {

class DumpMsqTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

  QString path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }

  QString writeInput(const char* name, const QByteArray& bytes) const {
    QFile f(path(name));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    return f.fileName();
  }

  int dump(const QString& in, const QString& out) {
    int code = -1;
    captured_ = test::captureStdio([&] { code = dumpMsq(in, out); });
    return code;
  }

  QTemporaryDir dir_;
  test::Captured captured_;
};

TEST_F(DumpMsqTest, WritesTheReferenceRenderingOfTheSample) {
  ASSERT_EQ(dump(test::dataPath(QStringLiteral("msq/dump-sample.msq")), path("out.json")), 0);
  EXPECT_TRUE(captured_.out.isEmpty());
  EXPECT_TRUE(captured_.err.isEmpty());
  EXPECT_EQ(test::readFile(path("out.json")),
            test::readFile(test::dataPath(QStringLiteral("golden/dump-msq-sample.json"))));
}

TEST_F(DumpMsqTest, EmptyDocumentGivesDefaults) {
  ASSERT_EQ(dump(writeInput("e.msq", "<msq/>"), path("e.json")), 0);
  EXPECT_EQ(test::readFile(path("e.json")),
            "{\n"
            "  \"Signature\": \"\",\n"
            "  \"FileFormat\": \"\",\n"
            "  \"FirmwareInfo\": \"\",\n"
            "  \"PageCount\": 0,\n"
            "  \"Author\": \"\",\n"
            "  \"TuneComment\": \"\",\n"
            "  \"WriteDate\": \"\",\n"
            "  \"Fields\": {},\n"
            "  \"PcVariables\": {}\n"
            "}\n");
}

struct InputErrorCase {
  const char* name;
  QByteArray content;
  const char* message;
};

class DumpMsqInputErrorTest : public DumpMsqTest,
                              public ::testing::WithParamInterface<InputErrorCase> {};

TEST_P(DumpMsqInputErrorTest, ReportsAndWritesNothing) {
  const InputErrorCase& c = GetParam();
  const QString in = writeInput("in.msq", c.content);
  EXPECT_EQ(dump(in, path("out.json")), 2);
  EXPECT_EQ(captured_.err, QByteArray(c.message) + "\n");
  EXPECT_TRUE(captured_.out.isEmpty());
  EXPECT_FALSE(QFileInfo::exists(path("out.json")));
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, DumpMsqInputErrorTest,
    ::testing::Values(
        InputErrorCase{"malformed", "<msq><page></msq>",
                       "ERROR: MSQ: XML parse error: Opening and ending tag mismatch."},
        InputErrorCase{"encoding", "<?xml version=\"1.0\" encoding=\"windows-1252\"?><msq/>",
                       "ERROR: MSQ: unsupported XML encoding 'windows-1252'"},
        InputErrorCase{"empty", "", "ERROR: MSQ: XML parse error: Premature end of document."}),
    [](const ::testing::TestParamInfo<InputErrorCase>& param) {
      return std::string(param.param.name);
    });

TEST_F(DumpMsqTest, MissingUnreadableInputAndUnwritableOutput) {
  const QString missing = path("missing.msq");
  EXPECT_EQ(dump(missing, path("out.json")), 2);
  EXPECT_EQ(captured_.err, "ERROR: no such file: " + missing.toUtf8() + "\n");

  // A folder exists but cannot be read as a file.
  EXPECT_EQ(dump(dir_.path(), path("out.json")), 2);
  EXPECT_EQ(captured_.err, "ERROR: cannot read " + dir_.path().toUtf8() + "\n");
  EXPECT_FALSE(QFileInfo::exists(path("out.json")));

  const QString unwritable = path("no/such/dir/out.json");
  EXPECT_EQ(dump(writeInput("ok.msq", "<msq/>"), unwritable), 2);
  EXPECT_EQ(captured_.err, "ERROR: cannot write " + unwritable.toUtf8() + "\n");
}

TEST_F(DumpMsqTest, CommandLineRouteTakesTwoPaths) {
  const QString out = path("cli.json");
  test::ProcessResult r = test::runCli(
      {QStringLiteral("dump-msq"), test::dataPath(QStringLiteral("msq/dump-sample.msq")), out});
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_EQ(test::readFile(out),
            test::readFile(test::dataPath(QStringLiteral("golden/dump-msq-sample.json"))));
  // With one path too many the name is not a conformance command: usage text, exit code 1.
  r = test::runCli(
      {QStringLiteral("dump-msq"), QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.err.startsWith("torvik-cli 0.8.14\nUsage:\n"));
}

}  // namespace
}  // namespace tk::conformance
