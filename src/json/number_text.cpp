#include "json/number_text.h"

#include <QString>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace tk {
namespace {

bool isDigit(QChar c) { return c >= u'0' && c <= u'9'; }

bool equalsIgnoringCase(QStringView text, QLatin1String word) {
  return text.compare(word, Qt::CaseInsensitive) == 0;
}

// Decimal exponent of the leading non-zero digit of a validated mantissa and exponent part ("e"
// and sign included), used only to tell an overflow from an underflow when the conversion reports
// the value out of range.
long long leadingExponent(QStringView mantissa, QStringView exponent) {
  long long exp = 0;
  bool expNegative = false;
  for (const QChar c : exponent) {
    if (c == u'-') {
      expNegative = true;
    } else if (isDigit(c) && exp < 1000000000LL) {
      exp = exp * 10 + (c.unicode() - u'0');
    }
  }
  if (expNegative) {
    exp = -exp;
  }
  const qsizetype point = mantissa.indexOf(u'.');
  const qsizetype integerDigits = point < 0 ? mantissa.size() : point;
  for (qsizetype i = 0; i < mantissa.size(); ++i) {
    const QChar c = mantissa[i];
    if (isDigit(c) && c != u'0') {
      const qsizetype position = i < integerDigits ? integerDigits - i - 1 : integerDigits - i;
      return exp + position;
    }
  }
  return std::numeric_limits<long long>::min();  // all zeros
}

}  // namespace

std::optional<double> parseMsqNumber(QStringView text) {
  const QStringView t = text.trimmed();
  qsizetype pos = 0;
  bool negative = false;
  if (pos < t.size() && (t[pos] == u'+' || t[pos] == u'-')) {
    negative = t[pos] == u'-';
    ++pos;
  }
  const QStringView body = t.mid(pos);
  if (equalsIgnoringCase(body, QLatin1String("nan"))) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  if (equalsIgnoringCase(body, QLatin1String("infinity"))) {
    return negative ? -std::numeric_limits<double>::infinity()
                    : std::numeric_limits<double>::infinity();
  }
  // Validate the decimal form by hand: the conversion below accepts forms the rule does not.
  qsizetype i = 0;
  qsizetype digits = 0;
  while (i < body.size() && isDigit(body[i])) {
    ++i;
    ++digits;
  }
  if (i < body.size() && body[i] == u'.') {
    ++i;
    while (i < body.size() && isDigit(body[i])) {
      ++i;
      ++digits;
    }
  }
  if (digits == 0) {
    return std::nullopt;
  }
  const qsizetype mantissaEnd = i;
  if (i < body.size() && (body[i] == u'e' || body[i] == u'E')) {
    ++i;
    if (i < body.size() && (body[i] == u'+' || body[i] == u'-')) {
      ++i;
    }
    qsizetype expDigits = 0;
    while (i < body.size() && isDigit(body[i])) {
      ++i;
      ++expDigits;
    }
    if (expDigits == 0) {
      return std::nullopt;
    }
  }
  if (i != body.size()) {
    return std::nullopt;
  }
  const std::string ascii = body.toLatin1().toStdString();  // validated: ASCII only
  double value = 0.0;
  const auto result =
      std::from_chars(ascii.data(), ascii.data() + ascii.size(), value, std::chars_format::general);
  if (result.ec == std::errc::result_out_of_range) {
    const long long lead = leadingExponent(body.first(mantissaEnd), body.mid(mantissaEnd));
    value = lead > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  }
  return negative ? -value : value;
}

void appendFixed(QByteArray& out, double x, int precision) {
  if (precision < 0) {
    precision = 6;  // printf treats a negative precision as omitted
  }
  if (precision > kMaxFixedPrecision) {
    precision = kMaxFixedPrecision;
  }
  if (std::isnan(x)) {
    out.append(std::signbit(x) ? "-nan" : "nan");
    return;
  }
  if (std::isinf(x)) {
    out.append(x < 0 ? "-inf" : "inf");
    return;
  }
  // Sign, up to 309 integer digits, the point and the decimals; the common small precisions
  // use the stack.
  const std::size_t needed = static_cast<std::size_t>(precision) + 320;
  char stackBuffer[400];
  std::string heapBuffer;
  char* first = stackBuffer;
  if (needed > sizeof stackBuffer) {
    heapBuffer.resize(needed);
    first = heapBuffer.data();
  }
  const auto result = std::to_chars(first, first + needed, x, std::chars_format::fixed, precision);
  out.append(first, result.ptr - first);
}

QByteArray formatFixed(double x, int precision) {
  QByteArray out;
  appendFixed(out, x, precision);
  return out;
}

}  // namespace tk
