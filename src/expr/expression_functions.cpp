#include "expr/expression_functions.h"

#include <QDateTime>
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string_view>

#include "expr/expression_host.h"
#include "expr/expression_state.h"

namespace tk::expr {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct FunctionRow {
  std::string_view name;
  FunctionId id;
  int arity;  // arguments the function reads; fewer give 0
};

// Sorted by name for the binary search in findFunction.
constexpr std::array kFunctions = std::to_array<FunctionRow>({
    {"abs", FunctionId::Abs, 1},
    {"accelhp", FunctionId::AccelHp, 4},
    {"accumulate", FunctionId::Accumulate, 1},
    {"acos", FunctionId::Acos, 1},
    {"aerodynamicdraghp", FunctionId::AerodynamicDragHp, 4},
    {"arrayvalue", FunctionId::ArrayValue, 2},
    {"asin", FunctionId::Asin, 1},
    {"atan", FunctionId::Atan, 1},
    {"ceil", FunctionId::Ceil, 1},
    {"cos", FunctionId::Cos, 1},
    {"exp", FunctionId::Exp, 1},
    {"floor", FunctionId::Floor, 1},
    {"getchanneldigitsbyoffset", FunctionId::GetChannelDigitsByOffset, 1},
    {"getchannelmaxbyoffset", FunctionId::GetChannelMaxByOffset, 1},
    {"getchannelminbyoffset", FunctionId::GetChannelMinByOffset, 1},
    {"getchannelscalebyoffset", FunctionId::GetChannelScaleByOffset, 1},
    {"getchanneltranslatebyoffset", FunctionId::GetChannelTranslateByOffset, 1},
    {"getchannelvaluebyoffset", FunctionId::GetChannelValueByOffset, 1},
    {"getlogtime", FunctionId::GetLogTime, 0},
    {"getworkinglocalcanid", FunctionId::GetWorkingLocalCanId, 0},
    {"highspeedrecordnumber", FunctionId::HighSpeedRecordNumber, 0},
    {"historicalvalue", FunctionId::HistoricalValue, 2},
    {"isadvancedmathavaliable", FunctionId::IsAdvancedMathAvailable, 0},
    {"isnan", FunctionId::IsNan, 1},
    {"isonline", FunctionId::IsOnline, 0},
    {"lastvalue", FunctionId::LastValue, 1},
    {"log", FunctionId::Log, 1},
    {"log10", FunctionId::Log10, 1},
    {"max", FunctionId::Max, 1},
    {"maxvalue", FunctionId::MaxValue, 1},
    {"min", FunctionId::Min, 1},
    {"minvalue", FunctionId::MinValue, 1},
    {"pastvalue", FunctionId::HistoricalValue, 2},
    {"persistentaccumulate", FunctionId::PersistentAccumulate, 1},
    {"pow", FunctionId::Pow, 2},
    {"recip", FunctionId::Recip, 1},
    {"rollingdraghp", FunctionId::RollingDragHp, 3},
    {"round", FunctionId::Round, 1},
    {"selectexpression", FunctionId::SelectExpression, 2},
    {"sin", FunctionId::Sin, 1},
    {"smoothbasic", FunctionId::SmoothBasic, 2},
    {"smoothfiltered", FunctionId::SmoothFiltered, 1},
    {"sqrt", FunctionId::Sqrt, 1},
    {"table", FunctionId::Table, 1},
    {"tablelookup", FunctionId::TableLookup, 0},
    {"tan", FunctionId::Tan, 1},
    {"timenow", FunctionId::TimeNow, 0},
});

static_assert(std::ranges::is_sorted(kFunctions, {}, &FunctionRow::name));

int arityOf(FunctionId id) {
  for (const FunctionRow& row : kFunctions) {
    if (row.id == id) {
      return row.arity;
    }
  }
  return 0;
}

// Round half to even without depending on the floating-point environment's rounding mode.
double roundHalfEven(double x) {
  if (!std::isfinite(x)) {
    return x;
  }
  const double r = std::round(x);  // half away from zero
  if (std::fabs(x - std::trunc(x)) == 0.5) {
    return 2.0 * std::round(x / 2.0);
  }
  return r;
}

double minOf(std::span<const double> values) {
  // NaN arguments are skipped so that one missing channel does not hide the others; only when
  // every argument is NaN is the minimum NaN.
  double result = kNaN;
  for (const double v : values) {
    if (!std::isnan(v) && (std::isnan(result) || v < result)) {
      result = v;
    }
  }
  return result;
}

double maxOf(std::span<const double> values) {
  // Starts at the first non-NaN argument; every later argument, NaN included, replaces the
  // current maximum unless it is less than or equal to it.
  std::size_t i = 0;
  while (i < values.size() && std::isnan(values[i])) {
    ++i;
  }
  if (i == values.size()) {
    return kNaN;
  }
  double result = values[i];
  for (++i; i < values.size(); ++i) {
    if (!(values[i] <= result)) {
      result = values[i];
    }
  }
  return result;
}

QString channelArgument(std::span<const QString> texts) {
  return texts.empty() ? QString() : texts[0];
}

double historyValue(const ChannelRecord* rec, double y) {
  // Index 0 is the newest recorded value (the same as lastvalue), 1 the one before it.
  if (!rec) {
    return 0.0;
  }
  const std::int32_t back = toInt32Saturated(y);
  if (back < 0 || static_cast<std::size_t>(back) >= rec->history.size()) {
    return 0.0;
  }
  return rec->history[rec->history.size() - 1 - static_cast<std::size_t>(back)];
}

double smoothBasic(const ChannelRecord* rec, double window) {
  // A plain moving average over the newest `window` recorded values (fewer when the history is
  // shorter), the smoothing a log reader expects from smoothBasic(channel, samples).
  if (!rec || rec->history.empty()) {
    return 0.0;
  }
  const std::size_t n = std::clamp<std::size_t>(
      static_cast<std::size_t>(std::max(toInt32Saturated(window), 1)), 1, rec->history.size());
  double sum = 0.0;
  for (std::size_t k = rec->history.size() - n; k < rec->history.size(); ++k) {
    sum += rec->history[k];
  }
  return sum / static_cast<double>(n);
}

double smoothFiltered(ExpressionState& state, const QString& channel, double x) {
  // Exponential smoothing: new = 0.5 * x + 0.5 * previous. The first sample starts the memory;
  // a NaN sample leaves the memory as it was.
  const QString key = QStringLiteral("__smoothfiltered_") + channel;
  const std::optional<double> memory = state.smoothing(key);
  if (std::isnan(x)) {
    return memory.value_or(x);
  }
  const double next = memory ? 0.5 * x + 0.5 * *memory : x;
  state.setSmoothing(key, next);
  return next;
}

double channelAttribute(FunctionId id, const ExpressionHost& host, double x) {
  const DefinitionView* view = host.definition();
  if (!view) {
    return 0.0;
  }
  const std::optional<ChannelAttributes> ch = view->channelAtOffset(toInt32Saturated(x));
  if (!ch) {
    return 0.0;
  }
  switch (id) {
    case FunctionId::GetChannelValueByOffset:
      return host.getValue(ch->name);
    case FunctionId::GetChannelScaleByOffset:
      return ch->scale;
    case FunctionId::GetChannelTranslateByOffset:
      return ch->translate;
    case FunctionId::GetChannelDigitsByOffset:
      return ch->digits;
    case FunctionId::GetChannelMinByOffset:
      return ch->minimum;
    default:
      return ch->maximum;
  }
}

}  // namespace

std::int32_t toInt32Saturated(double x) {
  if (std::isnan(x)) {
    return 0;
  }
  if (x >= 2147483647.0) {
    return std::numeric_limits<std::int32_t>::max();
  }
  if (x <= -2147483648.0) {
    return std::numeric_limits<std::int32_t>::min();
  }
  return static_cast<std::int32_t>(x);
}

std::optional<FunctionId> findFunction(QStringView lowerName) {
  if (lowerName.size() > kMaxFunctionNameLength) {
    return std::nullopt;
  }
  char buf[kMaxFunctionNameLength];
  for (qsizetype i = 0; i < lowerName.size(); ++i) {
    const char16_t c = lowerName[i].unicode();
    if (c >= 0x80) {
      return std::nullopt;
    }
    buf[i] = static_cast<char>(c);
  }
  const std::string_view key(buf, static_cast<std::size_t>(lowerName.size()));
  const auto it = std::ranges::lower_bound(kFunctions, key, {}, &FunctionRow::name);
  if (it == kFunctions.end() || it->name != key) {
    return std::nullopt;
  }
  return it->id;
}

bool readsArgumentText(FunctionId id) {
  switch (id) {
    case FunctionId::ArrayValue:
    case FunctionId::MinValue:
    case FunctionId::MaxValue:
    case FunctionId::LastValue:
    case FunctionId::HistoricalValue:
    case FunctionId::Accumulate:
    case FunctionId::SmoothBasic:
    case FunctionId::SmoothFiltered:
    case FunctionId::PersistentAccumulate:
      return true;
    default:
      return false;
  }
}

double callFunction(FunctionId id, std::span<const double> values, std::span<const QString> texts,
                    const ExpressionHost& host, ExpressionState* state) {
  if (static_cast<int>(values.size()) < arityOf(id)) {
    return 0.0;
  }
  const double x = values.empty() ? 0.0 : values[0];
  const double y = values.size() < 2 ? 0.0 : values[1];
  switch (id) {
    case FunctionId::Sin:
      return std::sin(x);
    case FunctionId::Cos:
      return std::cos(x);
    case FunctionId::Tan:
      return std::tan(x);
    case FunctionId::Asin:
      return std::asin(x);
    case FunctionId::Acos:
      return std::acos(x);
    case FunctionId::Atan:
      return std::atan(x);
    case FunctionId::Sqrt:
      return std::sqrt(x);
    case FunctionId::Abs:
      return std::fabs(x);
    case FunctionId::Log:
      return x > 0 ? std::log(x) : 0.0;
    case FunctionId::Log10:
      return x > 0 ? std::log10(x) : 0.0;
    case FunctionId::Exp:
      return std::exp(x);
    case FunctionId::Pow:
      return std::pow(x, y);
    case FunctionId::Recip:
      return x != 0 ? 1.0 / x : 0.0;
    case FunctionId::Round:
      return roundHalfEven(x);
    case FunctionId::Floor:
      return std::floor(x);
    case FunctionId::Ceil:
      return std::ceil(x);
    case FunctionId::IsNan:
      return std::isnan(x) ? 1.0 : 0.0;
    case FunctionId::TimeNow:
      return static_cast<double>(QDateTime::currentSecsSinceEpoch());
    case FunctionId::Min:
      return minOf(values);
    case FunctionId::Max:
      return maxOf(values);
    case FunctionId::ArrayValue: {
      const DefinitionView* view = host.definition();
      if (!view) {
        return 0.0;
      }
      QString name = channelArgument(texts);
      if (name.startsWith(QLatin1String("array."))) {
        name.remove(0, 6);
      }
      return view->arrayElement(name, toInt32Saturated(y)).value_or(0.0);
    }
    case FunctionId::SelectExpression: {
      const auto last = static_cast<std::int32_t>(values.size()) - 2;
      const std::int32_t i = std::clamp(toInt32Saturated(x), 0, last);
      return values[static_cast<std::size_t>(i) + 1];
    }
    case FunctionId::TableLookup:
      return 0.0;
    case FunctionId::Table:
      return x;
    case FunctionId::GetChannelValueByOffset:
    case FunctionId::GetChannelScaleByOffset:
    case FunctionId::GetChannelTranslateByOffset:
    case FunctionId::GetChannelDigitsByOffset:
    case FunctionId::GetChannelMinByOffset:
    case FunctionId::GetChannelMaxByOffset:
      return channelAttribute(id, host, x);
    case FunctionId::IsOnline:
      return host.isOnline() ? 1.0 : 0.0;
    case FunctionId::GetWorkingLocalCanId:
      return 0.0;
    case FunctionId::IsAdvancedMathAvailable:
      return 1.0;
    case FunctionId::AccelHp: {
      const double a1 = values[1];
      const double a2 = values[2];
      const double a3 = values[3];
      return a2 != 0 ? a3 * a1 / (a2 * 375.0) : 0.0;
    }
    case FunctionId::AerodynamicDragHp: {
      const double a0 = values[0];
      return values[2] * values[1] * 0.5 * values[3] * (a0 * a0 * a0) / 375.0;
    }
    case FunctionId::RollingDragHp: {
      const double a0 = values[0];
      const double a1 = values[1];
      if (!(a1 > 0)) {
        return 0.0;
      }
      return ((a0 * 1.5e-06 * a0 + (1.0 / a1) * 0.01 + 0.005) * values[2] * a0) / 375.0;
    }
    default:
      break;
  }
  // The remaining functions read the history state.
  if (!state) {
    return 0.0;
  }
  const QString channel = channelArgument(texts);
  switch (id) {
    case FunctionId::MinValue: {
      const ChannelRecord* rec = state->channel(channel);
      return rec && rec->minimum ? *rec->minimum : 0.0;
    }
    case FunctionId::MaxValue: {
      const ChannelRecord* rec = state->channel(channel);
      return rec && rec->maximum ? *rec->maximum : 0.0;
    }
    case FunctionId::LastValue: {
      const ChannelRecord* rec = state->channel(channel);
      return rec ? rec->last : 0.0;
    }
    case FunctionId::HistoricalValue:
      return historyValue(state->channel(channel), y);
    case FunctionId::Accumulate: {
      // The running sum of the recorded samples: accumulate(fuelUsedPerRecord) adds up per record.
      const ChannelRecord* rec = state->channel(channel);
      return rec ? rec->sum : 0.0;
    }
    case FunctionId::PersistentAccumulate:
      return state->persistentSum(channel);
    case FunctionId::SmoothBasic:
      return smoothBasic(state->channel(channel), y);
    case FunctionId::SmoothFiltered:
      return smoothFiltered(*state, channel, x);
    case FunctionId::GetLogTime:
      return state->logTime();  // seconds, as the log's time column
    case FunctionId::HighSpeedRecordNumber:
      // Milliseconds on the state's running timer: a monotonic count that tells records apart.
      return static_cast<double>(state->elapsedMs());
    default:
      return 0.0;
  }
}

double callFunction(QStringView name, std::span<const double> values,
                    std::span<const QString> texts, const ExpressionHost& host,
                    ExpressionState* state) {
  const std::optional<FunctionId> id = findFunction(name.toString().toLower());
  return id ? callFunction(*id, values, texts, host, state) : 0.0;
}

}  // namespace tk::expr
