#include "cli/msq_commands.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <optional>

#include "cli/command_support.h"
#include "cli/project_loader.h"
#include "formats/msq_import_plan.h"
#include "formats/msq_reader.h"
#include "formats/msq_writer.h"
#include "project/json_document_file.h"
#include "project/project_file.h"
#include "tune/attribute_expression.h"
#include "tune/effective_attributes.h"
#include "tune/field_index.h"

namespace tk::cli {
namespace {

// Enough for limits that depend on constants whose own limits depend on others; a cycle of
// such dependencies ends here rather than going on for ever.
constexpr int kMaxStorePasses = 4;

// Stores every number of stores and names the constants of which a value was outside limits.
NameReport storeNumbers(project::ProjectManager& manager, const QList<PlannedStore>& stores,
                        const AttributeScope& scope) {
  NameReport clamped;
  for (const PlannedStore& store : stores) {
    const ConstantDef& constant = *store.constant;
    for (int i = 0; i < store.numbers.size(); ++i) {
      const double number = store.numbers.at(i);
      if (outsideLimits(constant, number, scope)) {
        clamped.add(constant.Name);
      }
      // A value already held is not stored again: each store queues a page write until the
      // run ends, and the passes would otherwise queue one per element every time.
      if (manager.tune()->find(constant.Name) == nullptr ||
          manager.getValue(constant.Name, i) != quantizeValue(constant, number, scope)) {
        manager.setValue(constant.Name, i, number);
      }
    }
  }
  return clamped;
}

// The store keeps no strings (they have no number to quantise), so the text goes into the
// constant's record directly, made as the store makes a missing one.
void storeText(project::ProjectManager& manager, const ConstantDef& constant, const QString& text) {
  const QString units = manager.editor().effectiveUnits(constant);
  const int digits = manager.editor().effectiveDigits(constant);
  Tune& tune = *manager.mutableTune();
  TuneValue* record = tune.find(constant.Name);
  if (record == nullptr) {
    TuneValue value;
    value.name = constant.Name;
    value.units = units;
    value.digits = digits;
    record = &tune.upsert(std::move(value));
  }
  record->stringValue = text;
}

// An export goes to a file of the user's, never over one the project is made of (an MSQ in
// place of the tune would leave a project that no longer opens), and over an existing file only
// when asked to.
void checkExportTarget(const project::ProjectManager& manager, const QString& path, bool force) {
  const QFileInfo target(path);
  if (target.isDir()) {
    throw CommandError(QStringLiteral("Cannot write MSQ file: ") + path);
  }
  const QString canonical = target.canonicalFilePath();
  const QString projectPath = manager.projectPath();
  const project::ProjectFile* project = manager.project();
  const QDir folder = QFileInfo(projectPath).absoluteDir();
  for (const QString& own :
       {projectPath, manager.tunePath(), manager.settingsPath(),
        projectPath + QStringLiteral(".lock"),
        project != nullptr ? folder.absoluteFilePath(project->iniFilePath) : QString()}) {
    const QFileInfo file(own);
    if (!own.isEmpty() && (file.absoluteFilePath() == target.absoluteFilePath() ||
                           (!canonical.isEmpty() && file.canonicalFilePath() == canonical))) {
      throw CommandError(
          QStringLiteral("Refusing to write the MSQ file over the project's own file: ") + path);
    }
  }
  if (target.exists() && !force) {
    throw CommandError(QStringLiteral("File exists: %1; give --force to replace it").arg(path));
  }
}

}  // namespace

JsonValue importMsq(CommandContext& context) {
  project::ProjectManager& manager = context.manager();
  const CommandOptions& options = context.options();
  const EcuDefinition& definition = requireDefinition(manager);
  requireTune(manager);
  const QString path = absoluteNativePath(options.value(QStringLiteral("file")));

  const MsqDocument document = readMsq(path);
  // Any well-formed XML reads as an MSQ document; one without a single value is not a tune.
  if (document.Fields.isEmpty() && document.PcVariables.isEmpty()) {
    throw CommandError(
        QStringLiteral("Not an MSQ tune: %1 holds no constant or pcVariable elements").arg(path));
  }
  if (document.Signature.trimmed() != definition.Signature.trimmed() &&
      !options.has(QStringLiteral("force"))) {
    throw CommandError(QStringLiteral("MSQ signature '%1' differs from the project's INI "
                                      "signature '%2'; give --force to import it anyway")
                           .arg(document.Signature, definition.Signature));
  }

  // Every entry is looked up and checked before the first store.
  const MsqImportPlan plan = planMsqImport(document, manager.editor());
  const QList<PlannedStore>& stores = plan.stores;

  // Limits and scales given by expressions name other constants, which the file may hold
  // further on: the stores are repeated until a pass changes nothing, so that every value is
  // quantised and clamped against the imported tune, not the one it replaces.
  const FieldIndex index(definition);
  const AttributeScope scope(definition, index, *manager.tune());
  NameReport clamped;
  manager.beginDeferredEdits();
  for (int pass = 0; pass < kMaxStorePasses; ++pass) {
    const Tune before = *manager.tune();
    clamped = storeNumbers(manager, stores, scope);
    if (*manager.tune() == before) {
      break;
    }
  }
  manager.endDeferredEdits();
  for (const PlannedStore& store : std::as_const(stores)) {
    if (store.constant->Type == ConstantType::String) {
      storeText(manager, *store.constant, store.text);
    }
  }
  // The push names the file as the edit commands name their constant.
  context.setEditLabel(QStringLiteral("import-msq(%1)").arg(QFileInfo(path).fileName()));

  JsonValue data = JsonValue::object();
  data.insert(QStringLiteral("file"), path);
  data.insert(QStringLiteral("msqSignature"), document.Signature);
  data.insert(QStringLiteral("iniSignature"), definition.Signature);
  data.insert(QStringLiteral("imported"), static_cast<long long>(stores.size()));
  data.insert(QStringLiteral("skipped"), plan.skipped.json());
  data.insert(QStringLiteral("clamped"), clamped.json());
  data.insert(QStringLiteral("missing"), plan.missing);
  data.insert(QStringLiteral("converted"), plan.converted.json());
  data.insert(QStringLiteral("unitsDiffer"), plan.unitsDiffer.json());
  if (plan.unitsDiffer.size() > 0) {
    context.warn(QStringLiteral("%1 constant(s) of the file have units other than the project's "
                                "and were imported as they are: %2")
                     .arg(QString::number(plan.unitsDiffer.size()), plan.unitsDiffer.names()));
  }
  return data;
}

JsonValue exportMsq(CommandContext& context) {
  project::ProjectManager& manager = context.manager();
  const EcuDefinition& definition = requireDefinition(manager);
  const Tune& tune = requireTune(manager);
  const QString path = absoluteNativePath(context.options().value(QStringLiteral("output")));
  checkExportTarget(manager, path, context.options().has(QStringLiteral("force")));

  const project::ProjectFile* project = manager.project();
  const QByteArray bytes =
      writeMsq(definition, tune, QStringLiteral("torvik-cli"),
               project != nullptr ? project->tuneComments : QString(), project::currentTimestamp());
  // The folder is made as datalog makes its own; a failure shows as the write's.
  QDir().mkpath(QFileInfo(path).absolutePath());
  if (!project::replaceFileAtomically(path, bytes)) {
    throw CommandError(QStringLiteral("Cannot write MSQ file: ") + path);
  }

  JsonValue data = JsonValue::object();
  data.insert(QStringLiteral("file"), path);
  data.insert(QStringLiteral("constants"), msqElementCount(definition));
  data.insert(QStringLiteral("bytes"), static_cast<long long>(bytes.size()));
  return data;
}

}  // namespace tk::cli
