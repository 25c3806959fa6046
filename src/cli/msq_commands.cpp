#include "cli/msq_commands.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QStringList>
#include <cmath>
#include <limits>
#include <optional>

#include "cli/command_support.h"
#include "cli/project_loader.h"
#include "formats/msq_overlay.h"
#include "formats/msq_reader.h"
#include "formats/msq_units.h"
#include "formats/msq_writer.h"
#include "project/json_document_file.h"
#include "project/project_file.h"
#include "tune/attribute_expression.h"
#include "tune/effective_attributes.h"
#include "tune/field_codec.h"
#include "tune/field_index.h"

namespace tk::cli {
namespace {

// Reports stay readable for an agent even when a whole foreign tune is skipped.
constexpr qsizetype kMaxListedNames = 50;
// Enough for limits that depend on constants whose own limits depend on others; a cycle of
// such dependencies ends here rather than going on for ever.
constexpr int kMaxStorePasses = 4;

// Names an import reports: each once, the first kMaxListedNames of them listed, all counted.
class NameReport {
 public:
  void add(const QString& name) {
    if (seen_.contains(name)) {
      return;
    }
    seen_.insert(name);
    if (listed_.size() < kMaxListedNames) {
      listed_.append(name);
    }
  }

  qsizetype size() const { return seen_.size(); }
  // The listed names, comma-separated.
  QString names() const { return listed_.join(QStringLiteral(", ")); }

  JsonValue json() const {
    JsonValue names = JsonValue::array();
    for (const QString& name : listed_) {
      names.append(name);
    }
    JsonValue report = JsonValue::object();
    report.insert(QStringLiteral("count"), static_cast<long long>(seen_.size()));
    report.insert(QStringLiteral("names"), std::move(names));
    return report;
  }

 private:
  QSet<QString> seen_;
  QStringList listed_;
};

// One entry of the file as the definition's constant takes it.
struct PlannedStore {
  const ConstantDef* constant = nullptr;
  // Scalar: its value; Array: every element in storage order; Bits: the raw value.
  QList<double> numbers;
  // String constants only.
  QString text;
};

// A NaN means nothing to keep, so the entry is refused; an infinity (also a number too large for
// a double) is as far as a value goes that way, so it ends at the constant's limit.
std::optional<PlannedStore> withExtremes(PlannedStore store) {
  for (double& number : store.numbers) {
    if (std::isnan(number)) {
      return std::nullopt;
    }
    if (std::isinf(number)) {
      number = std::copysign(std::numeric_limits<double>::max(), number);
    }
  }
  return store;
}

// What entry becomes for constant, or nothing when the constant cannot take it: a number count
// other than its element count (a table of another size from another firmware would land
// scrambled), a text where a number belongs, a bit label it does not list that is no number.
std::optional<PlannedStore> planStore(const ConstantDef& constant, const MsqConstant& entry) {
  PlannedStore store{&constant, {}, {}};
  switch (constant.Type) {
    case ConstantType::String:
      store.text = entry.StringValue;
      return store;
    case ConstantType::Bits:
      if (const std::optional<int> raw = constant.bitValueOf(entry.StringValue)) {
        store.numbers = {static_cast<double>(*raw)};
      } else if (!entry.IsArray && entry.IsNumeric) {
        store.numbers = {entry.NumericValue};
      } else {
        return std::nullopt;
      }
      return withExtremes(std::move(store));
    case ConstantType::Scalar:
    case ConstantType::Array:
      break;
  }
  // A one-element array without a shape is written without rows and cols, so it reads back as
  // a scalar: both sides are compared by their number count.
  const QList<double> numbers =
      entry.IsArray ? entry.ArrayValues
                    : (entry.IsNumeric ? QList<double>{entry.NumericValue} : QList<double>{});
  const int expected = constant.Type == ConstantType::Scalar ? 1 : elementCount(constant);
  // A token that is no number leaves the others where they stand only by accident: the whole
  // entry is refused rather than imported shifted by one.
  if (expected < 1 || numbers.size() != expected || entry.SkippedTokens > 0) {
    return std::nullopt;
  }
  store.numbers = numbers;
  return withExtremes(std::move(store));
}

// True when the store cannot keep value: not finite (kept as 0), outside the limits in force, or
// beyond what the field's storage holds (kept further away than rounding to a step would move
// it; for a bit field a step is 1).
bool outsideLimits(const ConstantDef& constant, double value, const AttributeScope& scope) {
  if (!std::isfinite(value) || clampValue(constant, value, scope) != value) {
    return true;
  }
  const double step =
      constant.Type == ConstantType::Bits ? 1.0 : std::abs(effectiveScale(constant, scope));
  const double kept = quantizeValue(constant, value, scope);
  // The margin absorbs the floating-point error of the quantising arithmetic.
  return std::abs(kept - value) > step / 2 * (1 + 1e-9) + std::abs(value) * 1e-12;
}

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

// Constants of the definition no entry of the file named; names equal but for case count once.
long long missingCount(const project::ProjectManager& manager, const EcuDefinition& definition,
                       const QSet<const ConstantDef*>& held) {
  QSet<const ConstantDef*> all;
  for (const PageGroup& group : definition.Pages) {
    for (const ConstantDef& constant : group.Fields) {
      if (const std::optional<FieldRef> ref = manager.findField(constant.Name)) {
        all.insert(ref->constant);
      }
    }
  }
  const qsizetype total = all.size();
  return static_cast<long long>(total - all.intersect(held).size());
}

// The elements the MSQ writer emits: every PC variable, and the other constants of the pages
// numbered from 1.
long long msqElementCount(const EcuDefinition& definition) {
  long long count = 0;
  for (const PageGroup& group : definition.Pages) {
    for (const ConstantDef& constant : group.Fields) {
      if (constant.IsPcVariable || group.PageNumber > 0) {
        ++count;
      }
    }
  }
  return count;
}

// entry in the units of the constant that takes it: temperatures converted, other units that
// differ noted and left as they are.
MsqConstant inProjectUnits(const project::ProjectManager& manager, const ConstantDef& constant,
                           const MsqConstant& entry, NameReport& converted,
                           NameReport& unitsDiffer) {
  MsqConstant adapted = entry;
  if (constant.Type != ConstantType::Scalar && constant.Type != ConstantType::Array) {
    return adapted;
  }
  switch (adaptMsqUnits(adapted, manager.editor().effectiveUnits(constant),
                        holdsTemperatureDifference(constant))) {
    case UnitsOutcome::Converted:
      converted.add(constant.Name);
      break;
    case UnitsOutcome::Differ:
      unitsDiffer.add(constant.Name);
      break;
    case UnitsOutcome::Same:
      break;
  }
  return adapted;
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
  QList<PlannedStore> stores;
  NameReport skipped;
  NameReport converted;
  NameReport unitsDiffer;
  QSet<const ConstantDef*> held;
  for (const QList<MsqConstant>* entries : {&document.Fields, &document.PcVariables}) {
    for (const MsqConstant& entry : *entries) {
      const std::optional<FieldRef> ref = manager.findField(entry.Name);
      if (ref) {
        held.insert(ref->constant);
      }
      std::optional<PlannedStore> store =
          ref ? planStore(*ref->constant,
                          inProjectUnits(manager, *ref->constant, entry, converted, unitsDiffer))
              : std::nullopt;
      if (store) {
        stores.append(std::move(*store));
      } else {
        skipped.add(entry.Name);
      }
    }
  }

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
  data.insert(QStringLiteral("skipped"), skipped.json());
  data.insert(QStringLiteral("clamped"), clamped.json());
  data.insert(QStringLiteral("missing"), missingCount(manager, definition, held));
  data.insert(QStringLiteral("converted"), converted.json());
  data.insert(QStringLiteral("unitsDiffer"), unitsDiffer.json());
  if (unitsDiffer.size() > 0) {
    context.warn(QStringLiteral("%1 constant(s) of the file have units other than the project's "
                                "and were imported as they are: %2")
                     .arg(QString::number(unitsDiffer.size()), unitsDiffer.names()));
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
