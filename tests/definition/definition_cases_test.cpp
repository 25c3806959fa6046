// Reading rules checked on small definitions: each tests/data/ini/cases/<name>.ini is read from its
// file (includes resolve against that folder) and the members of its canonical document that
// differ from an empty definition's are compared with <name>.json. The comment at the top of each
// case says what it pins down.
#include <gtest/gtest.h>

#include <QDir>
#include <algorithm>
#include <string>
#include <vector>

#include "definition/definition_json.h"
#include "definition/ini_parser.h"
#include "json/json_writer.h"
#include "support/test_support.h"

namespace tk {
namespace {

using namespace Qt::Literals::StringLiterals;

QString casesDir() { return test::dataPath(u"ini/cases"_s); }

std::vector<std::string> caseNames() {
  std::vector<std::string> names;
  for (const QString& file : QDir(casesDir()).entryList({u"*.ini"_s}, QDir::Files)) {
    names.push_back(file.chopped(4).toStdString());
  }
  return names;
}

/// The value without the members equal to those of defaults (except keep); every constant below
/// it is cut the same way against a default constant, so that a golden file shows what was set.
JsonValue withoutDefaults(const JsonValue& value, const JsonValue* defaults = nullptr,
                          QLatin1String keep = {}) {
  static const JsonValue defaultConstant = constantJson(ConstantDef());
  JsonValue out = value.isArray() ? JsonValue::array() : JsonValue::object();
  if (value.isArray()) {
    for (const JsonValue& element : value.elements()) {
      out.append(withoutDefaults(element));
    }
    return out;
  }
  if (!value.isObject()) {
    return value;
  }
  if (!defaults && value.find(u"CachedDataTypeCode"_s)) {
    defaults = &defaultConstant;
    keep = QLatin1String("Name");
  }
  for (const auto& [key, member] : value.members()) {
    const JsonValue* byDefault = defaults ? defaults->find(key) : nullptr;
    if (!byDefault || key == keep || !(*byDefault == member)) {
      out.insert(key, withoutDefaults(member));
    }
  }
  return out;
}

class DefinitionCaseTest : public ::testing::TestWithParam<std::string> {};

TEST_P(DefinitionCaseTest, ReadsAsTheGoldenFileSays) {
  const QString name = QString::fromStdString(GetParam());
  const EcuDefinition d = IniParser().parse(casesDir() + u'/' + name + u".ini"_s);
  const JsonValue empty = definitionJson(EcuDefinition());
  const JsonValue changed = withoutDefaults(definitionJson(d), &empty);
  EXPECT_TRUE(test::matchesGolden(serialize(changed) + '\n', u"ini/cases/"_s + name + u".json"_s));
}

INSTANTIATE_TEST_SUITE_P(Cases, DefinitionCaseTest, ::testing::ValuesIn(caseNames()),
                         [](const ::testing::TestParamInfo<std::string>& param) {
                           std::string name = param.param;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

// The defaults of the whole document, of both presets and of a constant, in their member order.
TEST(DefinitionJsonTest, EmptyDefinitionAndPresets) {
  const EcuDefinition empty;
  QByteArray text = serialize(definitionJson(empty)) + '\n';
  text += serialize(constantsJson(empty)) + '\n';
  text += serialize(uiDefsJson(empty)) + '\n';
  text += serialize(constantJson(ConstantDef())) + '\n';
  EXPECT_TRUE(test::matchesGolden(text, u"ini/cases/empty-definition.golden"_s));
}

}  // namespace
}  // namespace tk
