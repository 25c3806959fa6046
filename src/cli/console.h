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

/// Writes the bytes to their stream, flushed.
void write(const Output& output);

}  // namespace tk::cli
