#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>
#include <utility>

namespace tk {

/// Kind of a constant; the numbers are the values a definition may write instead of the word.
enum class ConstantType { Scalar = 0, Bits = 1, Array = 2, String = 3 };

/// Special PC variables fed from an output channel.
enum class PcVariableType { Normal = 0, ChannelValueOnConnect = 1, ContinuousChannelValue = 2 };

/// Offsets written as words in a declaration, before resolution.
inline constexpr int kNextOffset = -1;
inline constexpr int kLastOffset = -2;

/// One option label of a bit field or an attribute list: (raw value, label).
using BitValue = std::pair<int, QString>;

/// One declared constant, PC variable, output channel or replay channel; fields in canonical order.
struct ConstantDef {
  QString Name;
  ConstantType Type = ConstantType::Scalar;
  QString DataType;
  int Offset = 0;
  QString Units;
  double Scale = 1.0;
  double Translate = 0.0;
  double Min = 0.0;
  double Max = 0.0;
  bool HasMin = false;
  bool HasMax = false;
  int Digits = 0;
  std::optional<QString> UnitsExpression;
  std::optional<QString> ScaleExpression;
  std::optional<QString> TranslateExpression;
  std::optional<QString> MinExpression;
  std::optional<QString> MaxExpression;
  std::optional<QString> DigitsExpression;
  int BitStart = 0;
  int BitEnd = 0;
  QList<BitValue> BitValues;
  QList<int> Shape;
  bool IsPcVariable = false;
  bool IsOddArray = false;
  bool DisplayInHex = false;
  bool NoMsqSave = false;
  bool ControllerPriority = false;
  std::optional<QString> ShapeColsExpression;
  std::optional<QString> ShapeRowsExpression;
  tk::PcVariableType PcVariableType = tk::PcVariableType::Normal;
  std::optional<QString> ReferencedChannel;
  std::optional<QString> Expression;
  int CachedElementSize = 0;
  int CachedDataTypeCode = 0;

  /// The label stored under value, or nullptr.
  const QString* bitValueLabel(int value) const;
  /// The value of the option labelled label: the exact label first, then one equal ignoring case.
  std::optional<int> bitValueOf(const QString& label) const;
};

}  // namespace tk

// Every member is a Qt value type or a plain value, so lists may move constants with memcpy.
Q_DECLARE_TYPEINFO(tk::ConstantDef, Q_RELOCATABLE_TYPE);

namespace tk {

/// Kinds of [ConstantsExtensions] lines, numbered as written in the canonical JSON.
enum class ExtensionType {
  RequiresPowerCycle = 0,
  DefaultValue = 1,
  RawValue = 2,
  ControllerPriority = 3,
  ReadOnly = 4,
  ReverseIndex = 5,
  OppositeEndian = 6,
  UseMappingTable = 7,
  MaintainConstantValue = 8,
  MaximumElements = 9,
  NoMsqSave = 10,
  DisplayInHex = 11,
};

/// One [ConstantsExtensions] line.
struct ConstantExtension {
  QString ConstantName;
  tk::ExtensionType ExtensionType = tk::ExtensionType::RequiresPowerCycle;
  QString Value;
  QList<double> ArrayValues;
};

/// The constants of one controller page (PageNumber 0 holds the PC variables).
struct PageGroup {
  int PageNumber = 0;
  QList<ConstantDef> Fields;
  /// Always 0 as read; the byte size is PageSizes[PageNumber - 1] of the definition.
  int Size = 0;
};

/// Bytes per element from the last characters of a data type: "8" 1, "16" 2, "32" 4, "64" 8,
/// else 1.
int elementSize(const QString& dataType);
/// Bytes a constant occupies in its page (arrays: elements x count, doubled for odd arrays).
int fieldSize(const ConstantDef& constant);

/// Canonical text of a constant kind ("Scalar", "Bits", "Array", "String").
QString constantTypeText(ConstantType type);
/// Canonical text of a PC variable kind.
QString pcVariableTypeText(PcVariableType type);
/// Canonical text of an extension kind.
QString extensionTypeText(ExtensionType type);

}  // namespace tk
