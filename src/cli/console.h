#pragma once

#include <QByteArray>

namespace tk::cli {

/// One of the process's two standard streams.
enum class Stream { Out, Err };

/// Bytes meant for one standard stream.
struct Output {
  Stream stream = Stream::Out;
  QByteArray bytes;

  bool operator==(const Output&) const = default;
};

/// Writes the bytes to their stream, flushed; while a capture is set, standard-error bytes are
/// appended to it instead.
void write(const Output& output);

/// Sends what write() gives standard error into capture from now on (nullptr: to the stream
/// again). A session that reports a command's lines in its reply collects them so.
void captureErrorStream(QByteArray* capture);

}  // namespace tk::cli
