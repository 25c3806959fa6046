#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <cmath>

#include "cli/edit_commands.h"
#include "cli/view_commands.h"
#include "json/number_format.h"
#include "project/project_manager.h"
#include "support/test_support.h"
#include "tune/field_codec.h"

namespace tk::project {
namespace {

// A value inside the constant's limits that is not a round number, so quantising shows.
double probeValue(const ConstantDef& constant) {
  if (constant.HasMin && constant.HasMax && std::isfinite(constant.Min) &&
      std::isfinite(constant.Max) && constant.Max > constant.Min) {
    return constant.Min + (constant.Max - constant.Min) * 0.37;
  }
  return constant.Translate + constant.Scale * 3.3;
}

void setOptions(cli::CommandOptions& o,
                std::initializer_list<std::pair<const char*, QString>> values) {
  for (const auto& [name, value] : values) {
    o.values.insert(QString::fromLatin1(name), value);
  }
}

// For each real definition: a new project, the all-zero page round trip, list-fields against
// the declared constants, and one cell of every table written and read back through the
// commands' own code (one loaded project per definition keeps this fast).
TEST(CorpusProjectTest, ProjectsOverRealDefinitions) {
  const QString corpus = test::corpusDir();
  if (corpus.isEmpty()) {
    GTEST_SKIP() << "corpus not found";
  }
  const QStringList inis =
      QDir(corpus + QStringLiteral("/ini")).entryList({QStringLiteral("*.ini")}, QDir::Files);
  ASSERT_FALSE(inis.isEmpty());
  for (const QString& name : inis) {
    SCOPED_TRACE(name.toStdString());
    QTemporaryDir folder;
    cli::CommandOptions options;
    {
      ProjectManager created;
      created.createProject(QStringLiteral("Corpus"), corpus + QStringLiteral("/ini/") + name,
                            folder.path());
      options.values.insert(QStringLiteral("project"), created.projectPath());
    }
    // The commands run on the project as the runner hands it to them.
    QByteArray diagnostics;
    cli::CommandContext context(options, diagnostics);
    context.loadProject(cli::ProjectAccess::Read);
    ProjectManager& manager = context.manager();
    const EcuDefinition& definition = *manager.definition();

    PageImages zero;
    for (int page = 1; page <= definition.NPages; ++page) {
      const int size = definition.pageSize(page);
      if (size >= 1 && size <= kMaxPageSize) {
        zero.insert(page, QByteArray(size, '\0'));
      }
    }
    ASSERT_FALSE(zero.isEmpty());
    EXPECT_EQ(encodeTune(decodePages(zero, definition), definition), zero);

    QStringList declared;
    for (const PageGroup& group : definition.Pages) {
      for (const ConstantDef& constant : group.Fields) {
        declared.append(constant.Name);
      }
    }
    const JsonValue fields = cli::listFields(context);
    QStringList listed;
    for (const JsonValue& field : fields.find("fields")->elements()) {
      listed.append(field.find("name")->toString());
    }
    EXPECT_EQ(listed, declared);
    EXPECT_EQ(fields.find("count")->toInt(), declared.size());

    int checked = 0;
    for (const auto& [id, table] : definition.Tables) {
      const std::optional<FieldRef> field = manager.findField(table.ZBinVariable);
      const TuneValue* z = manager.tune()->find(table.ZBinVariable);
      if (!field || z == nullptr || !z->arrayValues || z->arrayValues->isEmpty() ||
          field->constant->Type != ConstantType::Array) {
        continue;  // tables over constants this configuration does not declare
      }
      setOptions(options, {{"id", id}});
      const JsonValue before = cli::getTable(context);
      const int cols = static_cast<int>(before.find("cols")->toInt());
      const int last = static_cast<int>(z->arrayValues->size()) - 1;
      ASSERT_GT(cols, 0) << id.toStdString();
      const int row = last / cols;
      const int col = last % cols;
      const double value = probeValue(*field->constant);
      setOptions(options, {{"row", QString::number(row)},
                           {"col", QString::number(col)},
                           {"value", formatDouble(value)}});
      cli::setTableCell(context);
      const JsonValue after = cli::getTable(context);
      const JsonValue& cell = after.find("values")->elements().at(row).elements().at(col);
      EXPECT_EQ(cell.toDouble(), manager.quantizeValue(*field->constant, value))
          << id.toStdString() << " [" << row << "," << col << "]";
      ++checked;
    }
    EXPECT_GT(checked, 0);

    // The edited tune survives a save and a fresh open unchanged.
    manager.saveProject();
    ProjectManager reopened;
    reopened.openProject(manager.projectPath());
    EXPECT_EQ(reopened.tune()->fields, manager.tune()->fields);
  }
}

}  // namespace
}  // namespace tk::project
