#pragma once

#include <QByteArray>
#include <QString>

namespace tk::cli {

/// Writes the text as UTF-8 plus one line feed to standard output, flushed.
void printOut(const QString& line);
/// Writes the text as UTF-8 plus one line feed to standard error, flushed.
void printErr(const QString& line);
/// Writes raw bytes to standard output, flushed.
void writeOut(const QByteArray& bytes);

}  // namespace tk::cli
