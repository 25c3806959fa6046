#include "conformance/dump_ini.h"

#include "cli/dispatch.h"
#include "cli/usage.h"
#include "conformance/conformance_test_util.h"
#include "definition/definition_json.h"
#include "definition/ini_parser.h"
#include "json/json_writer.h"

namespace tk {
namespace {

class DumpIniTest : public test::ConformanceTest {
 protected:
  int run(const QStringList& args) {
    return ConformanceTest::run([&] {
      return cli::dispatch(QStringList{QStringLiteral("torvik-cli"), QStringLiteral("dump-ini")} +
                           args);
    });
  }
  const QString ini_ = test::dataPath(QStringLiteral("ini/small.ini"));
  const QString out_ = path("out.json");
};

TEST_F(DumpIniTest, WritesTheWholeDocumentOrAPresetNamedAnywhere) {
  const QString sections = QStringLiteral("--sections");
  const EcuDefinition definition = IniParser().parse(ini_);
  const std::pair<QStringList, JsonValue> cases[] = {
      {{ini_, out_}, definitionJson(definition)},
      {{sections, QStringLiteral("ui-defs"), ini_, out_}, uiDefsJson(definition)},
      {{ini_, sections, QStringLiteral("constants"), out_}, constantsJson(definition)}};
  for (const auto& [args, document] : cases) {
    EXPECT_EQ(run(args), 0);
    EXPECT_TRUE(io_.err.isEmpty());
    EXPECT_EQ(test::readFile(out_), serialize(document) + '\n') << args.join(u' ').toStdString();
  }
}

TEST_F(DumpIniTest, ArgumentErrors) {
  const QString sections = QStringLiteral("--sections");
  const std::pair<QStringList, QByteArray> cases[] = {
      {{ini_}, cli::usageText()},
      {{ini_, out_, QStringLiteral("extra")}, cli::usageText()},
      {{ini_, out_, sections}, "ERROR: --sections needs a preset name\n"},
      {{ini_, out_, sections, QStringLiteral("tables")},
       "ERROR: unknown --sections preset 'tables' (known: constants, ui-defs)\n"},
      {{ini_, out_, sections, QString()},
       "ERROR: unknown --sections preset '' (known: constants, ui-defs)\n"}};
  for (const auto& [args, message] : cases) {
    EXPECT_EQ(run(args), 1);
    EXPECT_EQ(io_.err, message);
  }
  EXPECT_FALSE(QFile::exists(out_));
}

}  // namespace
}  // namespace tk
