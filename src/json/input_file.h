#pragma once

#include <QString>
#include <optional>

namespace tk {

/// The largest MSQ tune, edits file or definition a command reads.
inline constexpr qint64 kMaxInputFileBytes = qint64{16} << 20;
/// The largest MLG log a command reads.
inline constexpr qint64 kMaxLogFileBytes = qint64{256} << 20;

/// Why path cannot be read as an input file of at most maxBytes: "not a regular file" (a
/// folder, a device such as /dev/zero, a pipe, which may never end) or "larger than N MiB";
/// nothing when it is fine or absent (opening it then reports the absence). Checked before
/// anything is read.
std::optional<QString> inputFileProblem(const QString& path, qint64 maxBytes);

}  // namespace tk
