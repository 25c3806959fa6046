#include "conformance/conformance_io.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cstdio>

#include "json/number_text.h"
#include "tune/field_codec.h"

namespace tk::conformance {

void printError(const QString& line) {
  const QByteArray bytes = line.toUtf8() + '\n';
  std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stderr);
  std::fflush(stderr);
}

namespace {

// Opens an input file, printing the conformance error line when it is missing or unreadable.
int openInputFile(const QString& path, QFile& file) {
  if (!QFileInfo::exists(path)) {
    printError(QStringLiteral("ERROR: no such file: ") + path);
    return kFileErrorExit;
  }
  file.setFileName(path);
  if (!file.open(QIODevice::ReadOnly)) {
    printError(QStringLiteral("ERROR: cannot read ") + path);
    return kFileErrorExit;
  }
  return 0;
}

}  // namespace

int requireInputFile(const QString& path) {
  QFile file;
  return openInputFile(path, file);
}

int readInputFile(const QString& path, QByteArray& bytes) {
  QFile file;
  if (const int code = openInputFile(path, file)) {
    return code;
  }
  bytes = file.readAll();
  return 0;
}

int writeOutputFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    printError(QStringLiteral("ERROR: cannot write ") + path);
    return kFileErrorExit;
  }
  file.write(bytes);
  return 0;
}

namespace {

// Text the values of the definition's arrays take when written: each element its decimals (the
// MSQ export's precision, at least one and capped as the number text caps it) and a digit, a
// point and a separator. The commands that slice an image write every element of every array.
qint64 arrayTextLength(const EcuDefinition& definition) {
  qint64 length = 0;
  for (const PageGroup& group : definition.Pages) {
    for (const ConstantDef& constant : group.Fields) {
      if (constant.Type == ConstantType::Array) {
        length += qint64{elementCount(constant)} *
                  (std::clamp(constant.Digits, 1, kMaxFixedPrecision) + 3);
      }
    }
  }
  return length;
}

}  // namespace

std::optional<PageImages> sliceRawImage(const EcuDefinition& definition, const QByteArray& image) {
  // Real definitions need about as much text for their arrays as their pages have bytes; a few
  // lines declaring huge arrays would make the commands build gigabytes from a tiny image.
  const qint64 arrayText = arrayTextLength(definition);
  const qint64 allowed = kArrayTextPerImageByte * image.size() + kArrayTextAllowance;
  if (arrayText > allowed) {
    printError(QStringLiteral("ERROR: definition arrays need %1 characters of values, more than "
                              "the %2 a %3-byte image allows")
                   .arg(arrayText)
                   .arg(allowed)
                   .arg(image.size()));
    return std::nullopt;
  }
  PageImages pages;
  qsizetype offset = 0;
  for (int index = 0; index < definition.NPages; ++index) {
    // A negative size in a malformed definition counts as an empty page.
    const qsizetype size = std::max(0, definition.pageSize(index + 1));
    if (offset + size > image.size()) {
      printError(QStringLiteral("ERROR: image too short: page %1 needs %2 bytes at %3, image is %4")
                     .arg(index + 1)
                     .arg(size)
                     .arg(offset)
                     .arg(image.size()));
      return std::nullopt;
    }
    if (size > 0) {
      pages.insert(index + 1, image.mid(offset, size));
    }
    offset += size;
  }
  if (offset < image.size()) {
    printError(QStringLiteral("ERROR: image has %1 trailing bytes beyond the declared pages")
                   .arg(image.size() - offset));
    return std::nullopt;
  }
  return pages;
}

}  // namespace tk::conformance
