#include "cli/analyze_commands.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHash>

#include "cli/command_support.h"
#include "cli/console.h"
#include "cli/live_commands.h"
#include "cli/stop_signals.h"
#include "comms/clock.h"
#include "expr/record_condition.h"
#include "formats/mlg_reader.h"
#include "formats/mlg_writer.h"
#include "project/json_document_file.h"
#include "tune/fuel_analysis_report.h"
#include "tune/fuel_analysis_setup.h"

namespace tk::cli {
namespace {

enum class Analysis { Ve, Wue };

constexpr double kDefaultMinWeight = 5.0;
constexpr double kDefaultMaxChange = 15.0;

double decimalOption(const CommandOptions& options, const QString& name, double fallback) {
  if (!options.has(name)) {
    return fallback;
  }
  const std::optional<double> value = parseDecimal(options.value(name));
  if (!value || *value < 0.0) {
    throw CommandError(QStringLiteral("Invalid --%1 '%2': expected a number of at least 0")
                           .arg(name, options.value(name)));
  }
  return *value;
}

QHash<QString, double> filterValues(const CommandOptions& options) {
  QHash<QString, double> values;
  for (const QString& text : options.all(QStringLiteral("filter"))) {
    const qsizetype eq = text.indexOf(u'=');
    const std::optional<double> value = eq > 0 ? parseDecimal(text.mid(eq + 1)) : std::nullopt;
    if (!value) {
      throw CommandError(QStringLiteral("Invalid --filter '%1': expected NAME=VALUE").arg(text));
    }
    values.insert(text.left(eq).trimmed(), *value);
  }
  return values;
}

/// Records seconds of live channels from the project's ECU into an MLG file at path, as datalog
/// does; returns the records written.
qsizetype recordLiveLog(CommandContext& context, int seconds, const QString& path) {
  const EcuDefinition& definition = requireDefinition(context.manager());
  if (definition.DatalogEntries.isEmpty()) {
    throw CommandError(QStringLiteral("No datalog entries defined in INI"));
  }
  StopSignals stop;
  return recordDatalogFile(context, seconds, path, stop).records;
}

QString livePath(CommandContext& context, const QString& command) {
  if (context.options().has(QStringLiteral("output"))) {
    return datalogPath(context.options().value(QStringLiteral("output")));
  }
  const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
  return datalogPath(QDir(projectLogsFolder(context.manager()))
                         .filePath(QStringLiteral("%1-%2.mlg").arg(command, stamp)));
}

JsonValue analyze(CommandContext& context, Analysis kind) {
  const CommandOptions& options = context.options();
  const QString command =
      kind == Analysis::Ve ? QStringLiteral("ve-analyze") : QStringLiteral("wue-analyze");
  project::ProjectManager& manager = context.manager();
  const EcuDefinition& definition = requireDefinition(manager);
  QStringList logs = options.all(QStringLiteral("log"));
  const bool live = options.has(QStringLiteral("live"));
  if (logs.isEmpty() && !live) {
    throw CommandError(QStringLiteral("%1 needs --log FILE.mlg or --live SECONDS").arg(command));
  }
  const double minWeight = decimalOption(options, QStringLiteral("min-weight"), kDefaultMinWeight);
  const double maxChange = decimalOption(options, QStringLiteral("max-change"), kDefaultMaxChange);
  const double lagMs = decimalOption(options, QStringLiteral("lag-ms"), 0.0);
  const int liveSeconds = live ? datalogDuration(options.value(QStringLiteral("live"))) : 0;

  AnalysisSetup setup = kind == Analysis::Ve
                            ? veAnalysisSetup(manager.editor(), filterValues(options))
                            : wueAnalysisSetup(manager.editor(), filterValues(options));
  setup.lagSeconds = lagMs / 1000.0;
  QHash<QString, QString> labels;
  for (const DatalogEntry& entry : definition.DatalogEntries) {
    labels.insert(entry.ChannelName.toLower(), entry.Label);
  }
  const auto labelOf = [labels](const QString& channel) { return labels.value(channel.toLower()); };
  const auto conditionOn = [labelOf](const QString& text) -> PredicateFactory {
    return [text, labelOf](const QStringList& columns) {
      return RecordPredicate(expr::recordCondition(text, columns, labelOf));
    };
  };
  if (options.has(QStringLiteral("custom"))) {
    setup.custom = conditionOn(options.value(QStringLiteral("custom")));
  }
  if (kind == Analysis::Ve && !definition.VeAnalyze.ActiveCondition.trimmed().isEmpty()) {
    setup.active = conditionOn(definition.VeAnalyze.ActiveCondition);
  }

  JsonValue liveData;
  if (live) {
    const QString path = livePath(context, command);
    const qsizetype records = recordLiveLog(context, liveSeconds, path);
    liveData = JsonValue::object();
    liveData.insert(QStringLiteral("file"), path);
    liveData.insert(QStringLiteral("seconds"), liveSeconds);
    liveData.insert(QStringLiteral("records"), static_cast<long long>(records));
    logs.append(path);
  }

  FuelAnalysis analysis(setup);
  JsonValue logList = JsonValue::array();
  for (const QString& file : std::as_const(logs)) {
    const QString path = QDir::toNativeSeparators(QFileInfo(file).absoluteFilePath());
    const MlgLog log = readMlgFile(path);
    // A logger writes the controller's signature first in the info text: "<signature>: ...".
    const QString firstLine = log.infoData.section(u'\n', 0, 0);
    const QString signature = firstLine.mid(1).section(u':', 0, 0).trimmed();
    if (firstLine.startsWith(u'"') && signature != definition.Signature.trimmed()) {
      context.warn(QStringLiteral("log '%1' was recorded from '%2', the project is for '%3'")
                       .arg(path, signature, definition.Signature));
    }
    QStringList columns;
    for (const MlgField& field : log.fields) {
      columns.append(field.name);
    }
    std::vector<double> times;
    times.reserve(log.records.size());
    for (const MlgRecord& record : log.records) {
      times.push_back(record.absoluteTimestamp);
    }
    AnalysisLog columnsOfLog{path, columns, log.values, times, {}, {}, labelOf};
    for (const MlgField& field : log.fields) {
      columnsOfLog.scales.push_back(field.scale);
      columnsOfLog.transforms.push_back(field.transform);
    }
    analysis.addLog(columnsOfLog);
    logList.append(path);
  }

  const std::vector<CellProposal> proposals =
      proposeCorrections(analysis, proposalLimits(manager.editor(), setup, minWeight, maxChange));
  const bool text = options.value(QStringLiteral("format")) == QLatin1String("text");
  JsonValue data = analysisReport(analysis, proposals, text);
  data.insert(QStringLiteral("logs"), std::move(logList));
  if (live) {
    data.insert(QStringLiteral("live"), std::move(liveData));
  }

  const QList<BatchEdit> edits = proposalEdits(analysis, proposals);
  const bool apply = options.has(QStringLiteral("apply"));
  if (!apply || edits.isEmpty()) {
    context.skipSave();
    data.insert(QStringLiteral("applied"), 0);
    return data;
  }
  // Every batch is checked before the first is stored: the cells are distinct, so a batch's
  // checks do not depend on the ones stored before it.
  QList<QList<BatchEdit>> batches;
  for (qsizetype i = 0; i < edits.size(); i += kMaxBatchEdits) {
    batches.append(edits.mid(i, kMaxBatchEdits));
  }
  for (const QList<BatchEdit>& batch : std::as_const(batches)) {
    if (const QString failure = manager.applyBatchEdits(batch, false); !failure.isEmpty()) {
      throw CommandError(failure);
    }
  }
  for (const QList<BatchEdit>& batch : std::as_const(batches)) {
    if (const QString failure = manager.applyBatchEdits(batch, true); !failure.isEmpty()) {
      throw CommandError(failure);
    }
  }
  data.insert(QStringLiteral("applied"), static_cast<long long>(edits.size()));
  context.setEditLabel(
      QStringLiteral("%1(%2, %3 cells)").arg(command, setup.tableId).arg(edits.size()));
  return data;
}

}  // namespace

JsonValue veAnalyze(CommandContext& context) { return analyze(context, Analysis::Ve); }

JsonValue wueAnalyze(CommandContext& context) { return analyze(context, Analysis::Wue); }

}  // namespace tk::cli
