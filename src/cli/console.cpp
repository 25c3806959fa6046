#include "cli/console.h"

#include <cstdio>

namespace tk::cli {

namespace {
QByteArray* errorCapture = nullptr;
}  // namespace

void captureErrorStream(QByteArray* capture) { errorCapture = capture; }

void write(const Output& output) {
  if (output.stream == Stream::Err && errorCapture != nullptr) {
    errorCapture->append(output.bytes);
    return;
  }
  std::FILE* stream = output.stream == Stream::Err ? stderr : stdout;
  std::fwrite(output.bytes.constData(), 1, static_cast<std::size_t>(output.bytes.size()), stream);
  std::fflush(stream);
}

}  // namespace tk::cli
