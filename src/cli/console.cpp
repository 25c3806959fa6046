#include "cli/console.h"

#include <cstdio>

namespace tk::cli {
namespace {

void writeTo(std::FILE* stream, const QByteArray& bytes) {
  std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
  std::fflush(stream);
}

}  // namespace

void printOut(const QString& line) { writeTo(stdout, line.toUtf8() + '\n'); }

void printErr(const QString& line) { writeTo(stderr, line.toUtf8() + '\n'); }

void writeOut(const QByteArray& bytes) { writeTo(stdout, bytes); }

}  // namespace tk::cli
