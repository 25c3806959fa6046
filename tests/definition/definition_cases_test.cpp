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
#include "definition/ui_defs_json.h"
#include "json/json_writer.h"
#include "support/test_support.h"

namespace tk {
namespace {

QString casesDir() { return test::dataPath(QStringLiteral("ini/cases")); }

std::vector<std::string> caseNames() {
  std::vector<std::string> names;
  for (const QString& file : QDir(casesDir()).entryList({QStringLiteral("*.ini")}, QDir::Files)) {
    names.push_back(file.chopped(4).toStdString());
  }
  return names;
}

/// The members of doc that differ from the same member of reference.
JsonValue changedMembers(const JsonValue& doc, const JsonValue& reference) {
  JsonValue changed = JsonValue::object();
  for (const auto& [key, value] : doc.members()) {
    const JsonValue* before = reference.find(key);
    if (!before || !(*before == value)) {
      changed.insert(key, value);
    }
  }
  return changed;
}

/// A kind of record whose golden rendering leaves out the fields it has by default: recognised by
/// a member only it has; the member named keep always stays.
struct Compacted {
  const char* signature;
  const char* keep;
  JsonValue defaults;
};

const std::vector<Compacted>& compactedKinds() {
  static const std::vector<Compacted> kinds = [] {
    DialogDef dialog;
    dialog.Items.append(DialogItemDef());
    return std::vector<Compacted>{
        {"CachedDataTypeCode", "Name", constantJson(ConstantDef())},
        {"DeviceCanIdConstant", "Type",
         detail::dialogJson(dialog).find(QStringLiteral("Items"))->elements().at(0)},
    };
  }();
  return kinds;
}

/// The value with every constant and dialog item below it cut to the fields that differ from a
/// default record's, so that the golden files show what a declaration set.
JsonValue compactRecords(const JsonValue& value) {
  if (value.isArray()) {
    JsonValue out = JsonValue::array();
    for (const JsonValue& element : value.elements()) {
      out.append(compactRecords(element));
    }
    return out;
  }
  if (!value.isObject()) {
    return value;
  }
  const Compacted* kind = nullptr;
  for (const Compacted& k : compactedKinds()) {
    if (value.find(QLatin1String(k.signature))) {
      kind = &k;
    }
  }
  JsonValue out = JsonValue::object();
  for (const auto& [key, member] : value.members()) {
    const JsonValue* byDefault = kind ? kind->defaults.find(key) : nullptr;
    if (!byDefault || key == QLatin1String(kind->keep) || !(*byDefault == member)) {
      out.insert(key, compactRecords(member));
    }
  }
  return out;
}

class DefinitionCaseTest : public ::testing::TestWithParam<std::string> {};

TEST_P(DefinitionCaseTest, ReadsAsTheGoldenFileSays) {
  const QString name = QString::fromStdString(GetParam());
  const EcuDefinition d = IniParser().parse(casesDir() + u'/' + name + QStringLiteral(".ini"));
  const JsonValue changed =
      compactRecords(changedMembers(definitionJson(d), definitionJson(EcuDefinition())));
  EXPECT_TRUE(test::matchesGolden(serialize(changed) + '\n',
                                  QStringLiteral("ini/cases/") + name + QStringLiteral(".json")));
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
  EXPECT_TRUE(test::matchesGolden(text, QStringLiteral("ini/cases/empty-definition.golden")));
}

}  // namespace
}  // namespace tk
