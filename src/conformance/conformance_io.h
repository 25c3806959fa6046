#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

#include "definition/ecu_definition.h"
#include "tune/tune_value.h"

namespace tk::conformance {

/// Exit code of a conformance command whose input or output file failed.
inline constexpr int kFileErrorExit = 2;

/// Writes one error line (a line feed is added) to standard error.
void printError(const QString& line);

/// 0 when the input file exists and can be opened; otherwise prints "ERROR: no such file: <path>"
/// or "ERROR: cannot read <path>" and returns 2.
int requireInputFile(const QString& path);

/// Reads a whole input file into bytes; returns 0, or 2 after printing "ERROR: no such file:
/// <path>" or "ERROR: cannot read <path>".
int readInputFile(const QString& path, QByteArray& bytes);

/// Writes bytes to a file; returns 0, or 2 after printing "ERROR: cannot write <path>".
int writeOutputFile(const QString& path, const QByteArray& bytes);

/// Characters of array values a definition may need per byte of the raw image it slices.
inline constexpr qint64 kArrayTextPerImageByte = 16;
/// Characters of array values a definition may need beyond those per image byte.
inline constexpr qint64 kArrayTextAllowance = qint64{64} * 1024;

/// Cuts a raw tune image (the definition's pages laid end to end, each its PageSizes entry long)
/// into page images keyed by page number from 1; pages of size 0 get no entry. A short image or
/// trailing bytes print their "ERROR: image ..." line and give no value; so does a definition
/// whose arrays would be written as more than kArrayTextPerImageByte characters per image byte
/// plus kArrayTextAllowance (each element counted as its decimals plus three).
std::optional<PageImages> sliceRawImage(const EcuDefinition& definition, const QByteArray& image);

}  // namespace tk::conformance
