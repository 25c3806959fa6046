#include "cli/live_commands.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <algorithm>

#include "cli/command_support.h"
#include "cli/ecu_link.h"
#include "cli/stop_signals.h"
#include "comms/clock.h"
#include "comms/datalog_recorder.h"
#include "comms/realtime_data.h"
#include "expr/computed_channels.h"
#include "formats/mlg_datalog.h"
#include "formats/mlg_writer.h"
#include "project/json_document_file.h"
#include "tune/tune_value.h"

namespace tk::cli {
namespace {

constexpr qint64 kPacingMs = 20;

using Reading = QList<std::pair<QString, double>>;

QString channelUnits(const EcuDefinition& definition, const QString& name) {
  const ConstantDef* channel = definition.OutputChannels.find(name);
  return channel != nullptr ? channel->Units : QString();
}

// The numbers of the tune's constants as expressions read them: a scalar's value, a bit field's
// raw value, an array's first element.
QHash<QString, double> constantNumbers(const Tune* tune) {
  QHash<QString, double> numbers;
  if (tune == nullptr) {
    return numbers;
  }
  for (const TuneValue& value : tune->fields) {
    if (value.scalarValue) {
      numbers.insert(value.name, *value.scalarValue);
    } else if (value.bitsRawValue) {
      numbers.insert(value.name, *value.bitsRawValue);
    } else if (value.arrayValues && !value.arrayValues->isEmpty()) {
      numbers.insert(value.name, value.arrayValues->constFirst());
    }
  }
  return numbers;
}

Reading keepRequested(const Reading& values, const QSet<QString>& names) {
  Reading reading;
  for (const auto& pair : values) {
    if (names.contains(pair.first)) {
      reading.append(pair);
    }
  }
  return reading;
}

JsonValue channelList(const EcuDefinition& definition, Reading reading) {
  std::stable_sort(reading.begin(), reading.end(), [](const auto& a, const auto& b) {
    return a.first.compare(b.first, Qt::CaseInsensitive) < 0;
  });
  JsonValue channels = JsonValue::array();
  for (const auto& [name, value] : reading) {
    JsonValue item = JsonValue::object();
    item.insert(QStringLiteral("name"), name);
    item.insert(QStringLiteral("value"), value);
    item.insert(QStringLiteral("units"), channelUnits(definition, name));
    channels.append(std::move(item));
  }
  JsonValue data = JsonValue::object();
  data.insert(QStringLiteral("channels"), std::move(channels));
  return data;
}

}  // namespace

std::unique_ptr<expr::ComputedChannels> computedChannels(const EcuDefinition& definition,
                                                         const Tune* tune) {
  return std::make_unique<expr::ComputedChannels>(
      definition, [numbers = constantNumbers(tune)](const QString& name) -> std::optional<double> {
        const auto it = numbers.constFind(name);
        return it == numbers.cend() ? std::nullopt : std::optional<double>(it.value());
      });
}

QSet<QString> requestedChannels(const EcuDefinition& definition, const CommandOptions& options) {
  QSet<QString> names;
  const QString channels = QStringLiteral("channels");
  if (options.has(channels)) {
    for (const QString& part : options.value(channels).split(QLatin1Char(','))) {
      if (const QString name = part.trimmed(); !name.isEmpty()) {
        names.insert(name);
      }
    }
  }
  if (names.isEmpty()) {
    for (const QString& ref : definition.FrontPage.GaugeRefs) {
      const GaugeDef* gauge = definition.Gauges.find(ref);
      if (gauge != nullptr && !gauge->Channel.isEmpty()) {
        names.insert(gauge->Channel);
      }
    }
  }
  if (names.isEmpty()) {
    names = {QStringLiteral("RPM"), QStringLiteral("MAP"), QStringLiteral("CLT"),
             QStringLiteral("IAT"), QStringLiteral("AFR"), QStringLiteral("Advance"),
             QStringLiteral("TPS")};
  }
  return names;
}

JsonValue sampleChannels(const EcuDefinition& definition, comms::EcuCommandService& commands,
                         int count, const QSet<QString>& names, const Tune* tune) {
  const std::unique_ptr<expr::ComputedChannels> computed = computedChannels(definition, tune);
  QList<Reading> readings;
  for (int i = 0; i < count; ++i) {
    const comms::RealtimeSnapshot snapshot = comms::readRealtimeSnapshot(definition, commands);
    if (snapshot.valid) {
      readings.append(keepRequested(computed->complete(snapshot.values), names));
    }
    // An agent session may cancel a long series (and hears of each reading on the way).
    if (i + 1 < count && !StopSignals::checkRequested()) {
      commands.clock().sleepMs(kPacingMs);
    } else {
      break;
    }
  }
  if (count == 1 && readings.size() == 1) {
    return channelList(definition, readings.constFirst());
  }
  JsonValue list = JsonValue::array();
  for (const Reading& reading : std::as_const(readings)) {
    JsonValue item = JsonValue::object();
    for (const auto& [name, value] : reading) {
      item.insert(name, value);
    }
    list.append(std::move(item));
  }
  JsonValue data = JsonValue::object();
  data.insert(QStringLiteral("readCount"), static_cast<long long>(readings.size()));
  data.insert(QStringLiteral("readings"), std::move(list));
  return data;
}

int datalogDuration(const QString& text) {
  // Whole seconds only: "0.2" or "1e3" read as 0 would record nothing and report success.
  bool ok = false;
  const int seconds = text.toInt(&ok, 10);
  if (!ok || seconds < 0 || (seconds == 0 && text.trimmed() != QLatin1String("0"))) {
    throw CommandError(
        QStringLiteral("Invalid duration: '%1' (expected whole seconds, e.g. 60)").arg(text));
  }
  return seconds;
}

QString datalogPath(const QString& output) {
  QString path = output;
  if (!path.endsWith(QLatin1String(".mlg"), Qt::CaseInsensitive)) {
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot > path.lastIndexOf(QLatin1Char('/')) && dot > path.lastIndexOf(QLatin1Char('\\'))) {
      path = path.left(dot) + QStringLiteral(".mlg");
    } else {
      path += QStringLiteral(".mlg");
    }
  }
  return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

JsonValue readChannels(CommandContext& context) {
  const EcuDefinition& definition = requireDefinition(context.manager());
  // The link's state is not checked: with no answering ECU every snapshot is invalid.
  EcuLink& link = context.openLink();
  const int count = context.options().intOrZero(QStringLiteral("count"), 1);
  const QSet<QString> names = requestedChannels(definition, context.options());
  // A name the definition lacks just shows no value; a near miss gets a hint.
  QStringList known;
  for (const auto& entry : definition.OutputChannels) {
    known.append(entry.first);
  }
  for (const QString& name : names) {
    if (definition.OutputChannels.find(name) == nullptr) {
      context.hintName(name, known);
    }
  }
  return sampleChannels(definition, *link.commands(), count, names, context.manager().tune());
}

RecordedLog recordDatalogFile(CommandContext& context, int duration, const QString& path,
                              StopSignals& stop) {
  const EcuDefinition& definition = requireDefinition(context.manager());
  EcuLink& link = context.openLink();
  QDir().mkpath(QFileInfo(path).absolutePath());

  MlgWriter writer(datalogFields(definition), kDatalogMlgVersion);
  writer.writeHeader(static_cast<std::uint32_t>(QDateTime::currentSecsSinceEpoch()),
                     QStringLiteral("Torvik CLI Datalog"));
  context.progress(
      QStringLiteral("[CLI] Datalogging for %1s to %2...").arg(QString::number(duration), path));
  comms::EcuCommandService& commands = *link.commands();
  const std::unique_ptr<expr::ComputedChannels> computed =
      computedChannels(definition, context.manager().tune());
  std::vector<double> values;
  comms::DatalogRecording recording;
  recording.durationMs = qint64{duration} * 1000;
  recording.stopRequested = [&stop] { return stop.requested(); };
  recording.complete = [&computed](const Reading& declared) {
    return computed->complete(declared);
  };
  recording.record = [&](double seconds, const Reading& channels) {
    datalogValues(definition, seconds, channels, values);
    writer.writeRecord(mlgTimestamp(seconds), values);
  };
  const comms::DatalogRun run = comms::recordDatalog(definition, commands, recording);
  stop.ignore();
  // Written beside the output and renamed over it: a full disk leaves the previous log whole.
  if (!project::replaceFileAtomically(path, writer.bytes())) {
    throw CommandError(QStringLiteral("Cannot write MLG file: ") + path);
  }
  RecordedLog log;
  log.records = run.records;
  log.channels = static_cast<qsizetype>(writer.fields().size());
  log.elapsedSeconds = static_cast<double>(commands.clock().nowMs() - run.startMs) / 1000.0;
  context.progress(QStringLiteral("[CLI] Datalog complete: %1 records in %2s")
                       .arg(log.records)
                       .arg(log.elapsedSeconds, 0, 'f', 1));
  return log;
}

JsonValue datalog(CommandContext& context) {
  const EcuDefinition& definition = requireDefinition(context.manager());
  if (definition.DatalogEntries.isEmpty()) {
    throw CommandError(QStringLiteral("No datalog entries defined in INI"));
  }
  const int duration = datalogDuration(context.options().value(QStringLiteral("duration")));
  // A stop signal ends the loop and the records so far are kept (none when it came while the
  // link was being opened: the file then holds the header); while they are being written a
  // further signal is ignored. The handlers are in place before the link is opened.
  StopSignals stop;
  const QString path = datalogPath(context.options().value(QStringLiteral("output")));
  const RecordedLog log = recordDatalogFile(context, duration, path, stop);

  JsonValue data = JsonValue::object();
  data.insert(QStringLiteral("file"), path);
  data.insert(QStringLiteral("durationSeconds"), duration);
  data.insert(QStringLiteral("records"), static_cast<long long>(log.records));
  data.insert(QStringLiteral("channels"), static_cast<long long>(log.channels));
  data.insert(QStringLiteral("elapsedSeconds"), log.elapsedSeconds);
  return data;
}

}  // namespace tk::cli
