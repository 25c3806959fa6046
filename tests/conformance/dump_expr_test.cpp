#include "conformance/dump_expr.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "../expr/expr_test_hosts.h"
#include "json/json_writer.h"
#include "support/test_support.h"

namespace tk::conformance {
namespace {

class VectorScriptTest : public ::testing::Test {
 protected:
  VectorScriptTest() { view.named = {{QStringLiteral("rpmK"), QStringLiteral("rpm / 1000")}}; }
  QByteArray run(const char* script) {
    return serialize(runVectorScript(QString::fromUtf8(script), &view));
  }
  QString errorOf(const char* script) {
    try {
      runVectorScript(QString::fromUtf8(script), &view);
    } catch (const VectorScriptError& e) {
      return QString::fromUtf8(e.what());
    }
    return QString();
  }

  expr::test::TableDefinitionView view;
};

QByteArray item(const char* kind, const char* text, const char* value) {
  return QByteArray("  {\n    \"Kind\": \"") + kind + "\",\n    \"Expr\": \"" + text +
         "\",\n    \"Value\": " + value + "\n  }";
}

TEST_F(VectorScriptTest, EveryKeywordInOneScript) {
  const QByteArray out =
      run("# variables and lookups\n"
          "set rpm 3000\n"
          "  set map 95.5  \n"
          "lset rpm 1000\n"
          "\n"
          "expr rpm / 100\n"
          "cond map > 100\n"
          "lookup rpm / 100\n"
          "expr rpmK\n"
          "lookup rpmK\n"
          "record rpm 1000\n"
          "record rpm 3000\n"
          "expr maxvalue(rpm) - minvalue(rpm)\n"
          "cycle\n"
          "expr lastvalue(map) + getlogtime()\n"
          "expr accumulate(rpm)\n"
          "resetstate\n"
          "expr maxvalue(rpm)\n"
          "expr persistentaccumulate(rpm)\n"
          "cond -2\n");
  const QByteArray expected =
      "[\n" + item("expr", "rpm / 100", "30") + ",\n" + item("cond", "map \\u003E 100", "false") +
      ",\n" + item("lookup", "rpm / 100", "10") + ",\n" + item("expr", "rpmK", "3") + ",\n" +
      item("lookup", "rpmK", "1") + ",\n" + item("expr", "maxvalue(rpm) - minvalue(rpm)", "2000") +
      ",\n" + item("expr", "lastvalue(map) \\u002B getlogtime()", "96.5") + ",\n" +
      item("expr", "accumulate(rpm)", "7000") + ",\n" + item("expr", "maxvalue(rpm)", "0") + ",\n" +
      item("expr", "persistentaccumulate(rpm)", "7000") + ",\n" + item("cond", "-2", "true") +
      "\n]";
  EXPECT_EQ(out, expected);
}

TEST_F(VectorScriptTest, NonFiniteValuesAreWrittenAsText) {
  const QByteArray out =
      run("expr 7 % 0\n"
          "expr 1e308 * 10\n"
          "lookup -1e308 * 10\n"
          "set junk abc\n"
          "expr junk\n"
          "cond nan\n");
  const QByteArray expected = "[\n" + item("expr", "7 % 0", "\"NaN\"") + ",\n" +
                              item("expr", "1e308 * 10", "\"Infinity\"") + ",\n" +
                              item("lookup", "-1e308 * 10", "\"-Infinity\"") + ",\n" +
                              item("expr", "junk", "0") + ",\n" + item("cond", "nan", "false") +
                              "\n]";
  EXPECT_EQ(out, expected);
}

TEST_F(VectorScriptTest, LinesMayEndWithCarriageReturns) {
  EXPECT_EQ(run("set x 4\r\nexpr x * 2\r\n"), "[\n" + item("expr", "x * 2", "8") + "\n]");
  EXPECT_EQ(run("expr\n"), "[\n" + item("expr", "", "0") + "\n]");
  EXPECT_EQ(run("# nothing\n\n"), "[]");
}

TEST_F(VectorScriptTest, UnknownKeywordNamesItsLineCountingEveryLine) {
  EXPECT_EQ(errorOf("# one\n# two\nbogus thing\nexpr 1\n"),
            QStringLiteral("ERROR: bad vector script line 3: bogus thing"));
  EXPECT_EQ(errorOf("set a 1\n\n  Set b 2  \n"),
            QStringLiteral("ERROR: bad vector script line 3: Set b 2"));
  EXPECT_EQ(errorOf("expr\t1\n"), QStringLiteral("ERROR: bad vector script line 1: expr\t1"));
  EXPECT_EQ(errorOf("expr 1\n"), QString());
}

class DumpExprFileTest : public ::testing::Test {
 protected:
  QString ini() const { return test::dataPath(QStringLiteral("expr/expr_channels.ini")); }
  QString vectors() const { return test::dataPath(QStringLiteral("expr/expr_vectors.txt")); }
  QString out() const { return dir.filePath(QStringLiteral("out.json")); }
  QString writeScript(const QByteArray& text) {
    const QString path = dir.filePath(QStringLiteral("script.txt"));
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
    return path;
  }

  QTemporaryDir dir;
};

TEST_F(DumpExprFileTest, VectorsAgainstTheDefinitionMatchTheWorkedOutDocument) {
  const test::Captured io =
      test::captureStdio([&] { EXPECT_EQ(dumpExpr(ini(), vectors(), out()), 0); });
  EXPECT_TRUE(io.err.isEmpty());
  EXPECT_EQ(test::readFile(out()),
            test::readFile(test::dataPath(QStringLiteral("expr/expr_vectors.expected.json"))));
}

TEST_F(DumpExprFileTest, BadLineFailsWithoutWritingOutput) {
  const QString script = writeScript("# first\n\nexpr 1\nfrobnicate 2\n");
  const test::Captured io =
      test::captureStdio([&] { EXPECT_EQ(dumpExpr(ini(), script, out()), 2); });
  EXPECT_EQ(io.err, "ERROR: bad vector script line 4: frobnicate 2\n");
  EXPECT_FALSE(QFile::exists(out()));
}

TEST_F(DumpExprFileTest, MissingUnreadableInputsAndUnwritableOutput) {
  const QString missing = dir.filePath(QStringLiteral("none.ini"));
  test::Captured io =
      test::captureStdio([&] { EXPECT_EQ(dumpExpr(missing, vectors(), out()), 2); });
  EXPECT_EQ(io.err, ("ERROR: no such file: " + missing + "\n").toUtf8());
  const QString noScript = dir.filePath(QStringLiteral("none.txt"));
  io = test::captureStdio([&] { EXPECT_EQ(dumpExpr(ini(), noScript, out()), 2); });
  EXPECT_EQ(io.err, ("ERROR: no such file: " + noScript + "\n").toUtf8());
  // A folder exists but cannot be read as a file.
  io = test::captureStdio([&] { EXPECT_EQ(dumpExpr(ini(), dir.path(), out()), 2); });
  EXPECT_EQ(io.err, ("ERROR: cannot read " + dir.path() + "\n").toUtf8());
  EXPECT_FALSE(QFile::exists(out()));
  const QString bad = dir.filePath(QStringLiteral("no/such/folder/out.json"));
  io = test::captureStdio([&] { EXPECT_EQ(dumpExpr(ini(), vectors(), bad), 2); });
  EXPECT_EQ(io.err, ("ERROR: cannot write " + bad + "\n").toUtf8());
}

TEST_F(DumpExprFileTest, ProgramRoutesFiveArguments) {
  const QString script = writeScript("set x 2\nexpr x << 3\n");
  test::ProcessResult r = test::runCli({QStringLiteral("dump-expr"), ini(), script, out()});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(test::readFile(out()), "[\n" + item("expr", "x \\u003C\\u003C 3", "16") + "\n]\n");
  r = test::runCli({QStringLiteral("dump-expr"), ini(), script});
  EXPECT_EQ(r.exitCode, 1);  // wrong argument count: not this command
  r = test::runCli({QStringLiteral("dump-expr"), ini(), writeScript("oops\n"), out()});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err, "ERROR: bad vector script line 1: oops\n");
}

}  // namespace
}  // namespace tk::conformance
