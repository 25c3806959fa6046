#pragma once

#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>
#include <span>

namespace tk::expr {

class ExpressionHost;
class ExpressionState;

/// The built-in functions of the expression language.
enum class FunctionId : std::uint8_t {
  Sin,
  Cos,
  Tan,
  Asin,
  Acos,
  Atan,
  Sqrt,
  Abs,
  Log,
  Log10,
  Exp,
  Pow,
  Recip,
  Round,
  Floor,
  Ceil,
  IsNan,
  TimeNow,
  Min,
  Max,
  ArrayValue,
  SelectExpression,
  TableLookup,
  Table,
  MinValue,
  MaxValue,
  LastValue,
  HistoricalValue,
  Accumulate,
  SmoothBasic,
  SmoothFiltered,
  GetLogTime,
  HighSpeedRecordNumber,
  PersistentAccumulate,
  AccelHp,
  AerodynamicDragHp,
  RollingDragHp,
  GetChannelValueByOffset,
  GetChannelScaleByOffset,
  GetChannelTranslateByOffset,
  GetChannelDigitsByOffset,
  GetChannelMinByOffset,
  GetChannelMaxByOffset,
  IsOnline,
  GetWorkingLocalCanId,
  IsAdvancedMathAvailable,
};

/// Length of the longest built-in function name.
inline constexpr int kMaxFunctionNameLength = 27;

/// The built-in function with exactly this lower-case name.
std::optional<FunctionId> findFunction(QStringView lowerName);
/// Whether the function reads its first argument's text (a channel, array or memory name).
bool readsArgumentText(FunctionId id);

/// Calls a built-in function. values and texts are parallel (texts trimmed); a call with fewer
/// arguments than the function reads gives 0, and so do the history functions without a state.
double callFunction(FunctionId id, std::span<const double> values, std::span<const QString> texts,
                    const ExpressionHost& host, ExpressionState* state);
/// The same by name, matched ignoring case; an unknown name gives 0.
double callFunction(QStringView name, std::span<const double> values,
                    std::span<const QString> texts, const ExpressionHost& host,
                    ExpressionState* state);

/// NaN -> 0, otherwise truncation toward zero saturated to the 32-bit range.
std::int32_t toInt32Saturated(double x);

}  // namespace tk::expr
