#pragma once

#include <QList>
#include <QString>
#include <stdexcept>

namespace tk {

/// Namespace URI of MSQ documents: written into the root element, used to select pages.
inline constexpr char kMsqNamespaceUri[] = "http://www.msefi.com/:msq";

/// A failure to read an MSQ file; the message is the user-facing text ("MSQ: ...").
class MsqError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// One constant or PC variable as an MSQ file holds it, without a definition.
struct MsqConstant {
  QString Name;
  QString Units;
  int Digits = 0;
  /// 0 when the attribute is absent or not an integer.
  int Rows = 0;
  /// 0 when the attribute is absent or not an integer.
  int Cols = 0;
  /// The enclosing page's number attribute as written (0 when absent).
  int PageNumber = 0;
  bool IsPcVariable = false;
  /// Rows > 0 or Cols > 0.
  bool IsArray = false;
  /// The element's text, trimmed; for scalars also without surrounding double quotes.
  QString StringValue;
  /// The scalar text as a number, when IsNumeric.
  double NumericValue = 0.0;
  bool IsNumeric = false;
  /// The numbers of an array's text, in order (tokens that are not numbers are skipped).
  QList<double> ArrayValues;
  /// How many tokens of an array's text were no number.
  int SkippedTokens = 0;

  bool operator==(const MsqConstant&) const = default;
};

/// Everything read from an MSQ file; absent elements and attributes leave empty texts and 0.
struct MsqDocument {
  QString Signature;
  QString FileFormat;
  QString FirmwareInfo;
  /// The nPages attribute.
  int PageCount = 0;
  QString Author;
  QString TuneComment;
  QString WriteDate;
  /// The constant elements of the pages, in document order.
  QList<MsqConstant> Fields;
  /// The pcVariable elements of the pages, in document order.
  QList<MsqConstant> PcVariables;

  bool operator==(const MsqDocument&) const = default;
};

}  // namespace tk
