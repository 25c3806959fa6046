#include "dashboard/log_view.h"

#include <QDir>
#include <QFileInfo>
#include <QtEndian>
#include <cstring>

#include "formats/mlg_reader.h"

namespace tk {
namespace {

template <typename T>
void appendLittleEndian(QByteArray& out, T value) {
  const qsizetype at = out.size();
  out.resize(at + static_cast<qsizetype>(sizeof(T)));
  qToLittleEndian(value, out.data() + at);
}

}  // namespace

LogShelf::LogShelf(QString folder, QString extraFile)
    : folder_(std::move(folder)), extraFile_(std::move(extraFile)) {}

LogShelf::~LogShelf() = default;

QStringList LogShelf::names() const {
  QStringList names;
  if (!extraFile_.isEmpty()) {
    names.append(QFileInfo(extraFile_).fileName());
  }
  if (!folder_.isEmpty()) {
    const QStringList files =
        QDir(folder_).entryList({QStringLiteral("*.mlg"), QStringLiteral("*.MLG")},
                                QDir::Files | QDir::Readable, QDir::Name);
    for (const QString& file : files) {
      if (!names.contains(file)) {
        names.append(file);
      }
    }
  }
  return names;
}

QString LogShelf::pathOf(const QString& name) const {
  if (name.isEmpty() || !names().contains(name)) {
    return {};
  }
  if (!extraFile_.isEmpty() && QFileInfo(extraFile_).fileName() == name) {
    return extraFile_;
  }
  return QDir(folder_).filePath(name);
}

const MlgLog& LogShelf::open(const QString& name) {
  const QString path = pathOf(name);
  if (path.isEmpty()) {
    throw LogViewError(QStringLiteral("Log '%1' is not offered").arg(name), true);
  }
  const QFileInfo info(path);
  if (open_ && path == openPath_ && info.size() == openSize_ &&
      info.lastModified() == openModified_) {
    return *open_;
  }
  // The log in use is let go first: a long log and its successor need not fit at once.
  open_.reset();
  openPath_.clear();
  try {
    open_ = std::make_unique<MlgLog>(readMlgFile(path));
  } catch (const MlgError& e) {
    throw LogViewError(
        QStringLiteral("Cannot read log '%1': %2").arg(name, QString::fromUtf8(e.what())), false);
  }
  openPath_ = path;
  openSize_ = info.size();
  openModified_ = info.lastModified();
  return *open_;
}

JsonValue logFieldsJson(const MlgLog& log) {
  JsonValue data = JsonValue::object();
  data.insert(QStringLiteral("records"), static_cast<long long>(log.records.size()));
  data.insert(QStringLiteral("start"),
              log.records.empty() ? 0.0 : log.records.front().absoluteTimestamp);
  data.insert(QStringLiteral("end"),
              log.records.empty() ? 0.0 : log.records.back().absoluteTimestamp);
  JsonValue fields = JsonValue::array();
  for (const MlgField& field : log.fields) {
    JsonValue item = JsonValue::object();
    item.insert(QStringLiteral("name"), field.name);
    item.insert(QStringLiteral("units"), field.units);
    item.insert(QStringLiteral("digits"), static_cast<int>(field.digits));
    fields.append(std::move(item));
  }
  data.insert(QStringLiteral("fields"), std::move(fields));
  JsonValue markers = JsonValue::array();
  for (const MlgMarker& marker : log.markers) {
    JsonValue item = JsonValue::object();
    item.insert(QStringLiteral("time"), marker.absoluteTimestamp);
    item.insert(QStringLiteral("text"), marker.message);
    markers.append(std::move(item));
  }
  data.insert(QStringLiteral("markers"), std::move(markers));
  return data;
}

QByteArray logColumns(const MlgLog& log, const QStringList& channels) {
  std::vector<std::size_t> columns;
  for (const QString& name : channels) {
    const int column = findField(log, name);
    if (column < 0) {
      throw LogViewError(QStringLiteral("Channel '%1' not found in log").arg(name), true);
    }
    columns.push_back(static_cast<std::size_t>(column));
  }
  const std::size_t n = log.records.size();
  const std::size_t width = log.fields.size();
  QByteArray out;
  const std::size_t bytes = 8 + n * 8 + columns.size() * n * 4;
  out.reserve(static_cast<qsizetype>(bytes));
  appendLittleEndian(out, static_cast<quint32>(n));
  appendLittleEndian(out, static_cast<quint32>(columns.size()));
  for (const MlgRecord& record : log.records) {
    appendLittleEndian(out, record.absoluteTimestamp);
  }
  for (const std::size_t column : columns) {
    const MlgField& field = log.fields[column];
    for (std::size_t r = 0; r < n; ++r) {
      appendLittleEndian(out,
                         static_cast<float>(physicalValue(field, log.values[r * width + column])));
    }
  }
  return out;
}

}  // namespace tk
