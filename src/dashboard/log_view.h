#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <memory>
#include <stdexcept>

#include "formats/mlg_model.h"
#include "json/json_value.h"

namespace tk {

/// Raised when the log view cannot give what the page asked for; the message is the page's text.
class LogViewError : public std::runtime_error {
 public:
  /// notFound tells a log or channel that is not offered from one that cannot be read.
  LogViewError(const QString& message, bool notFound)
      : std::runtime_error(message.toStdString()), notFound_(notFound) {}
  bool notFound() const { return notFound_; }

 private:
  bool notFound_;
};

/// The logs the dashboard's page may open: the .mlg files of one folder (the project's logs
/// folder) and one more file named on the command line. A log is asked for by its file name
/// alone, and only a name this shelf lists is opened, so that no request reaches a file beyond
/// them ("../", absolute paths and the like are not found). The log last opened is kept parsed
/// while the page uses it and read again once its file changes.
class LogShelf {
 public:
  /// folder may be empty or missing (no logs); extraFile empty for none.
  LogShelf(QString folder, QString extraFile);
  ~LogShelf();
  LogShelf(const LogShelf&) = delete;
  LogShelf& operator=(const LogShelf&) = delete;

  /// The command line's log first, then the folder's .mlg files by name.
  QStringList names() const;
  /// The parsed log of that name. Throws LogViewError "Log '<name>' is not offered" (notFound)
  /// for a name not listed and "Cannot read log '<name>': <reason>" for a damaged file.
  const MlgLog& open(const QString& name);

 private:
  QString pathOf(const QString& name) const;

  QString folder_;
  QString extraFile_;
  QString openPath_;
  qint64 openSize_ = -1;
  QDateTime openModified_;
  std::unique_ptr<MlgLog> open_;
};

/// What the page needs to offer a log's channels: "records", "start" and "end" (seconds), the
/// "fields" (name, units, digits) and the "markers" (time, text).
JsonValue logFieldsJson(const MlgLog& log);

/// The named channels (matched ignoring case) of every record as one compact little-endian
/// body: uint32 record count n, uint32 channel count k, n float64 times in seconds, then for
/// each channel n float32 values in its physical units ((stored + transform) x scale). Throws
/// LogViewError "Channel '<name>' not found in log" (notFound).
QByteArray logColumns(const MlgLog& log, const QStringList& channels);

}  // namespace tk
