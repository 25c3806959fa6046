#include "conformance/dump_ini.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QTemporaryDir>

#include "cli/dispatch.h"
#include "cli/usage.h"
#include "definition/definition_json.h"
#include "definition/ini_parser.h"
#include "json/json_writer.h"
#include "support/test_support.h"

namespace tk {
namespace {

class DumpIniTest : public ::testing::Test {
 protected:
  struct Run {
    int code;
    test::Captured io;
  };
  Run run(const QStringList& args) {
    QStringList all{QStringLiteral("torvik-cli"), QStringLiteral("dump-ini")};
    all.append(args);
    int code = -1;
    const test::Captured io = test::captureStdio([&] { code = cli::dispatch(all); });
    return {code, io};
  }
  QString ini() const { return test::dataPath(QStringLiteral("ini/small.ini")); }
  QString out() const { return dir_.filePath(QStringLiteral("out.json")); }
  QTemporaryDir dir_;
};

TEST_F(DumpIniTest, WritesTheWholeDocument) {
  const Run r = run({ini(), out()});
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(r.io.err.isEmpty());
  const QByteArray text = test::readFile(out());
  EXPECT_EQ(text, serialize(definitionJson(IniParser().parse(ini()))) + '\n');
  const QJsonDocument doc = QJsonDocument::fromJson(text);
  ASSERT_TRUE(doc.isObject());
  EXPECT_EQ(doc[QStringLiteral("Signature")].toString(), QStringLiteral("small 1.0"));
  EXPECT_EQ(doc[QStringLiteral("OutputChannelsCommand")].toString(), QStringLiteral("QQ=="));
}

TEST_F(DumpIniTest, PresetsMayStandAnywhere) {
  const Run r = run({QStringLiteral("--sections"), QStringLiteral("ui-defs"), ini(), out()});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(test::readFile(out()), serialize(uiDefsJson(IniParser().parse(ini()))) + '\n');
  const Run c = run({ini(), QStringLiteral("--sections"), QStringLiteral("constants"), out()});
  EXPECT_EQ(c.code, 0);
  EXPECT_EQ(test::readFile(out()), serialize(constantsJson(IniParser().parse(ini()))) + '\n');
}

TEST_F(DumpIniTest, ArgumentErrors) {
  const Run one = run({ini()});
  EXPECT_EQ(one.code, 1);
  EXPECT_EQ(one.io.err, QByteArray(cli::usageText()));
  const Run three = run({ini(), out(), QStringLiteral("extra")});
  EXPECT_EQ(three.code, 1);
  EXPECT_EQ(three.io.err, QByteArray(cli::usageText()));
  const Run bare = run({ini(), out(), QStringLiteral("--sections")});
  EXPECT_EQ(bare.code, 1);
  EXPECT_EQ(bare.io.err, "ERROR: --sections needs a preset name\n");
  const Run unknown = run({ini(), out(), QStringLiteral("--sections"), QStringLiteral("tables")});
  EXPECT_EQ(unknown.code, 1);
  EXPECT_EQ(unknown.io.err,
            "ERROR: unknown --sections preset 'tables' (known: constants, ui-defs)\n");
  const Run empty = run({ini(), out(), QStringLiteral("--sections"), QString()});
  EXPECT_EQ(empty.io.err, "ERROR: unknown --sections preset '' (known: constants, ui-defs)\n");
  EXPECT_FALSE(QFile::exists(out()));
}

TEST_F(DumpIniTest, FileErrors) {
  const QString missing = dir_.filePath(QStringLiteral("missing.ini"));
  const Run r = run({missing, out()});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.io.err, "ERROR: no such file: " + missing.toUtf8() + '\n');
  const Run unreadable = run({dir_.path(), out()});
  EXPECT_EQ(unreadable.code, 2);
  EXPECT_EQ(unreadable.io.err, "ERROR: cannot read " + dir_.path().toUtf8() + '\n');
  const QString badOut = dir_.filePath(QStringLiteral("no/such/dir/out.json"));
  const Run w = run({ini(), badOut});
  EXPECT_EQ(w.code, 2);
  EXPECT_EQ(w.io.err, "ERROR: cannot write " + badOut.toUtf8() + '\n');
}

TEST_F(DumpIniTest, UiPresetOfAFileWithoutTables) {
  QFile f(dir_.filePath(QStringLiteral("bare.ini")));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("[MegaTune]\nsignature = \"x\"\n");
  f.close();
  EXPECT_EQ(
      run({f.fileName(), out(), QStringLiteral("--sections"), QStringLiteral("ui-defs")}).code, 0);
  EXPECT_EQ(
      test::readFile(out()),
      "{\n  \"Tables\": {},\n  \"Curves\": {},\n  \"IndicatorPanels\": {},\n  \"Gauges\": {},\n"
      "  \"FrontPage\": {\n    \"GaugeRefs\": [],\n    \"Indicators\": [],\n"
      "    \"IndicatorTemplates\": []\n  }\n}\n");
}

}  // namespace
}  // namespace tk
