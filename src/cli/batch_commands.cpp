#include "cli/batch_commands.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <cmath>
#include <limits>

#include "cli/project_loader.h"
#include "json/input_file.h"
#include "project/project_manager.h"
#include "tune/batch_edits.h"

namespace tk::cli {
namespace {

CommandError invalidJson(const QString& what) {
  return CommandError(QStringLiteral("Invalid edits JSON: ") + what);
}

// The edits text from exactly one of the two options.
QString editsText(const CommandOptions& options) {
  const QString inlineOption = QStringLiteral("edits");
  const QString file = QStringLiteral("edits-file");
  if (options.has(inlineOption) && options.has(file)) {
    throw CommandError(QStringLiteral("Give either '--edits' or '--edits-file', not both."));
  }
  if (options.has(inlineOption)) {
    return options.value(inlineOption);
  }
  if (!options.has(file)) {
    throw CommandError(QStringLiteral("Option '--edits' or '--edits-file' is required."));
  }
  const QString path = absoluteNativePath(options.value(file));
  if (const std::optional<QString> problem = inputFileProblem(path, kMaxInputFileBytes)) {
    throw CommandError(QStringLiteral("Cannot read edits file: %1: %2").arg(path, *problem));
  }
  QFile input(path);
  if (!input.open(QIODevice::ReadOnly)) {
    throw CommandError(QStringLiteral("Cannot read edits file: ") + path);
  }
  return QString::fromUtf8(input.readAll());
}

double number(const QJsonObject& object, const QString& where, const char* key) {
  const QJsonValue value = object.value(QLatin1String(key));
  if (!value.isDouble()) {
    throw invalidJson(QStringLiteral("%1.%2 must be a number").arg(where, QLatin1String(key)));
  }
  return value.toDouble();
}

BatchEdit parseEdit(const QJsonValue& entry, qsizetype position) {
  const QString where = QStringLiteral("edits[%1]").arg(position);
  if (!entry.isObject()) {
    throw invalidJson(where + QStringLiteral(" is not an object"));
  }
  const QJsonObject object = entry.toObject();
  // A misspelt key would otherwise be a silent default.
  static const QStringList kKeys{QStringLiteral("name"), QStringLiteral("index"),
                                 QStringLiteral("expected"), QStringLiteral("value")};
  for (const QString& key : object.keys()) {
    if (!kKeys.contains(key)) {
      throw invalidJson(QStringLiteral("%1 has an unknown key '%2'").arg(where, key));
    }
  }
  BatchEdit edit;
  const QJsonValue name = object.value(QLatin1String("name"));
  if (!name.isString()) {
    throw invalidJson(where + QStringLiteral(".name must be a string"));
  }
  edit.name = name.toString();
  if (object.contains(QLatin1String("index"))) {
    const double index = number(object, where, "index");
    if (std::trunc(index) != index || index < std::numeric_limits<int>::min() ||
        index > std::numeric_limits<int>::max()) {
      throw invalidJson(where + QStringLiteral(".index must be a whole number"));
    }
    edit.index = static_cast<int>(index);
  }
  edit.expectedValue = number(object, where, "expected");
  edit.value = number(object, where, "value");
  return edit;
}

QList<BatchEdit> parseEdits(const QString& text) {
  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
  if (error.error != QJsonParseError::NoError) {
    throw invalidJson(QStringLiteral("%1 at offset %2").arg(error.errorString()).arg(error.offset));
  }
  if (!document.isArray()) {
    throw invalidJson(QStringLiteral("expected a list of edit objects"));
  }
  const QJsonArray entries = document.array();
  QList<BatchEdit> edits;
  for (qsizetype i = 0; i < entries.size(); ++i) {
    edits.append(parseEdit(entries.at(i), i));
  }
  return edits;
}

JsonValue appliedJson(const QList<AppliedEdit>& applied) {
  JsonValue list = JsonValue::array();
  for (const AppliedEdit& edit : applied) {
    JsonValue entry = JsonValue::object();
    entry.insert(QStringLiteral("name"), edit.name);
    entry.insert(QStringLiteral("index"), edit.index);
    entry.insert(QStringLiteral("expected"), edit.expectedValue);
    entry.insert(QStringLiteral("value"), edit.value);
    list.append(std::move(entry));
  }
  return list;
}

}  // namespace

JsonValue applyEdits(CommandContext& context) {
  const QList<BatchEdit> edits = parseEdits(editsText(context.options()));
  const bool dryRun = context.options().has(QStringLiteral("dry-run"));
  QList<AppliedEdit> applied;
  const QString failure = context.manager().applyBatchEdits(edits, !dryRun, &applied);
  if (!failure.isEmpty()) {
    throw CommandError(failure);
  }

  JsonValue data = JsonValue::object();
  data.insert(QStringLiteral("applied"), appliedJson(applied));
  data.insert(QStringLiteral("dryRun"), dryRun);
  if (dryRun) {
    // The project stays as it was on disk: no save (which would stamp new times into both
    // files) and no label, so nothing is pushed either.
    context.skipSave();
    data.insert(QStringLiteral("saved"), false);
  } else {
    QStringList elements;
    for (const AppliedEdit& edit : std::as_const(applied)) {
      elements.append(QStringLiteral("%1[%2]").arg(edit.name).arg(edit.index));
    }
    context.setEditLabel(QStringLiteral("apply-edits(%1)").arg(elements.join(u',')));
  }
  return data;
}

}  // namespace tk::cli
