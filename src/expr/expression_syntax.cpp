#include "expr/expression_syntax.h"

#include <bit>
#include <charconv>
#include <string>

#include "json/number_format.h"

namespace tk::expr {
namespace {

bool isAsciiDigit(QChar c) { return c.unicode() >= u'0' && c.unicode() <= u'9'; }

bool isWordChar(QChar c) {
  return c.isLetterOrNumber() || c.unicode() == u'_' || c.unicode() == u'.';
}

// A word that is a decimal mantissa ("1", "1.5", ".5", "5.") followed by "e" or "E": the start of
// an exponent form that the tokenizer keeps together with its sign.
bool isExponentStem(QStringView word) {
  if (word.size() < 2) {
    return false;
  }
  const QChar last = word.back();
  if (last.unicode() != u'e' && last.unicode() != u'E') {
    return false;
  }
  bool digit = false;
  bool dot = false;
  for (qsizetype i = 0; i + 1 < word.size(); ++i) {
    if (isAsciiDigit(word[i])) {
      digit = true;
    } else if (word[i].unicode() == u'.' && !dot) {
      dot = true;
    } else {
      return false;
    }
  }
  return digit;
}

struct TwoCharOperator {
  char16_t first;
  char16_t second;
  OpCode op;
};

constexpr TwoCharOperator kTwoCharOperators[] = {
    {u'|', u'|', OpCode::Or},  {u'&', u'&', OpCode::And}, {u'=', u'=', OpCode::Eq},
    {u'!', u'=', OpCode::Ne},  {u'<', u'<', OpCode::Shl}, {u'<', u'=', OpCode::Le},
    {u'>', u'>', OpCode::Shr}, {u'>', u'=', OpCode::Ge},
};

std::optional<OpCode> singleCharOperator(char16_t c) {
  switch (c) {
    case u'!':
      return OpCode::Not;
    case u'~':
      return OpCode::BitNot;
    case u'*':
      return OpCode::Mul;
    case u'/':
      return OpCode::Div;
    case u'%':
      return OpCode::Mod;
    case u'+':
      return OpCode::Add;
    case u'-':
      return OpCode::Sub;
    case u'<':
      return OpCode::Lt;
    case u'>':
      return OpCode::Gt;
    case u'&':
      return OpCode::BitAnd;
    case u'^':
      return OpCode::BitXor;
    case u'|':
      return OpCode::BitOr;
    default:
      return std::nullopt;
  }
}

bool equalsIgnoringCase(QStringView word, QLatin1String name) {
  return word.compare(name, Qt::CaseInsensitive) == 0;
}

// The decimal exponent of the leading significant digit; decides overflow against underflow
// when a literal is out of the double range.
long long leadingExponent(QStringView mantissa, long long exponent) {
  const qsizetype dot = mantissa.indexOf(QLatin1Char('.'));
  const QStringView intPart = dot < 0 ? mantissa : mantissa.left(dot);
  const QStringView fraction = dot < 0 ? QStringView() : mantissa.mid(dot + 1);
  qsizetype i = 0;
  while (i < intPart.size() && intPart[i].unicode() == u'0') {
    ++i;
  }
  if (i < intPart.size()) {
    return exponent + (intPart.size() - i - 1);
  }
  qsizetype z = 0;
  while (z < fraction.size() && fraction[z].unicode() == u'0') {
    ++z;
  }
  return exponent - (z + 1);
}

}  // namespace

std::vector<Token> tokenize(QStringView text) {
  std::vector<Token> tokens;
  const qsizetype n = text.size();
  tokens.reserve(static_cast<std::size_t>(n / 2 + 1));
  qsizetype i = 0;
  while (i < n) {
    const QChar c = text[i];
    if (c.isSpace()) {
      ++i;
      continue;
    }
    if (c.unicode() == kPlaceholder) {
      tokens.push_back({TokenKind::Placeholder, OpCode::Slot, i, 1, 0.0});
      ++i;
      continue;
    }
    if (i + 1 < n) {
      bool matched = false;
      for (const TwoCharOperator& two : kTwoCharOperators) {
        if (c.unicode() == two.first && text[i + 1].unicode() == two.second) {
          tokens.push_back({TokenKind::Operator, two.op, i, 2, 0.0});
          i += 2;
          matched = true;
          break;
        }
      }
      if (matched) {
        continue;
      }
    }
    if (isWordChar(c)) {
      qsizetype end = i;
      while (end < n && isWordChar(text[end])) {
        ++end;
      }
      // 1.5e-3: the sign and the exponent digits belong to the number.
      if (end + 1 < n && (text[end].unicode() == u'+' || text[end].unicode() == u'-') &&
          isAsciiDigit(text[end + 1]) && isExponentStem(text.mid(i, end - i))) {
        end += 2;
        while (end < n && isAsciiDigit(text[end])) {
          ++end;
        }
      }
      const QStringView word = text.mid(i, end - i);
      if (const std::optional<double> number = parseNumberLiteral(word)) {
        tokens.push_back({TokenKind::Number, OpCode::Number, i, end - i, *number});
      } else if (c.isLetter() || c.unicode() == u'_') {
        tokens.push_back({TokenKind::Name, OpCode::Name, i, end - i, 0.0});
      } else {
        tokens.push_back({TokenKind::Stray, OpCode::Number, i, end - i, 0.0});
      }
      i = end;
      continue;
    }
    if (c.unicode() == u'(') {
      tokens.push_back({TokenKind::OpenParen, OpCode::Number, i, 1, 0.0});
    } else if (c.unicode() == u')') {
      tokens.push_back({TokenKind::CloseParen, OpCode::Number, i, 1, 0.0});
    } else if (const std::optional<OpCode> op = singleCharOperator(c.unicode())) {
      tokens.push_back({TokenKind::Operator, *op, i, 1, 0.0});
    } else {
      tokens.push_back({TokenKind::Stray, OpCode::Number, i, 1, 0.0});
    }
    ++i;
  }
  return tokens;
}

QStringList tokenTexts(QStringView text) {
  QStringList out;
  for (const Token& t : tokenize(text)) {
    out.append(text.mid(t.begin, t.length).toString());
  }
  return out;
}

std::optional<double> parseNumberLiteral(QStringView word) {
  if (word.isEmpty()) {
    return std::nullopt;
  }
  if (equalsIgnoringCase(word, QLatin1String("nan"))) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  if (equalsIgnoringCase(word, QLatin1String("infinity"))) {
    return std::numeric_limits<double>::infinity();
  }
  // Syntax check: digits [. digits] with at least one digit, then [eE [+-] digits].
  qsizetype i = 0;
  const qsizetype n = word.size();
  bool digits = false;
  while (i < n && isAsciiDigit(word[i])) {
    ++i;
    digits = true;
  }
  if (i < n && word[i].unicode() == u'.') {
    ++i;
    while (i < n && isAsciiDigit(word[i])) {
      ++i;
      digits = true;
    }
  }
  if (!digits) {
    return std::nullopt;
  }
  const qsizetype mantissaEnd = i;
  long long exponent = 0;
  if (i < n && (word[i].unicode() == u'e' || word[i].unicode() == u'E')) {
    ++i;
    bool negative = false;
    if (i < n && (word[i].unicode() == u'+' || word[i].unicode() == u'-')) {
      negative = word[i].unicode() == u'-';
      ++i;
    }
    if (i >= n) {
      return std::nullopt;
    }
    while (i < n && isAsciiDigit(word[i])) {
      exponent = std::min(exponent * 10 + (word[i].unicode() - u'0'), 1000000000LL);
      ++i;
    }
    exponent = negative ? -exponent : exponent;
  }
  if (i != n) {
    return std::nullopt;
  }
  std::string ascii(static_cast<std::size_t>(n), '0');
  for (qsizetype k = 0; k < n; ++k) {
    ascii[static_cast<std::size_t>(k)] = static_cast<char>(word[k].unicode());
  }
  double value = 0.0;
  const auto res = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
  if (res.ec == std::errc::result_out_of_range) {
    return leadingExponent(word.left(mantissaEnd), exponent) > 0
               ? std::numeric_limits<double>::infinity()
               : 0.0;
  }
  return value;
}

int precedence(OpCode op) {
  switch (op) {
    case OpCode::Not:
    case OpCode::Neg:
    case OpCode::BitNot:
      return 11;
    case OpCode::Mul:
    case OpCode::Div:
    case OpCode::Mod:
      return 10;
    case OpCode::Add:
    case OpCode::Sub:
      return 9;
    case OpCode::Shl:
    case OpCode::Shr:
      return 8;
    case OpCode::Gt:
    case OpCode::Lt:
    case OpCode::Ge:
    case OpCode::Le:
      return 7;
    case OpCode::Eq:
    case OpCode::Ne:
      return 6;
    case OpCode::BitAnd:
      return 5;
    case OpCode::BitXor:
      return 4;
    case OpCode::BitOr:
      return 3;
    case OpCode::And:
      return 2;
    case OpCode::Or:
      return 1;
    default:
      return 0;
  }
}

double applyBinary(OpCode op, double a, double b) {
  constexpr double kTiny = std::numeric_limits<double>::denorm_min();
  switch (op) {
    case OpCode::Mul:
      return a * b;
    case OpCode::Div:
      return b == 0 ? 0.0 : a / b;
    case OpCode::Mod:
      return std::fmod(a, b);
    case OpCode::Add:
      return a + b;
    case OpCode::Sub:
      return a - b;
    case OpCode::Shl: {
      const int count = toShiftCount(b) % 64;
      return static_cast<double>(
          static_cast<std::int64_t>(static_cast<std::uint64_t>(toInt64(a)) << count));
    }
    case OpCode::Shr:
      return static_cast<double>(toInt64(a) >> (toShiftCount(b) % 64));
    case OpCode::Gt:
      return a > b ? 1.0 : 0.0;
    case OpCode::Lt:
      return a < b ? 1.0 : 0.0;
    case OpCode::Ge:
      return a >= b ? 1.0 : 0.0;
    case OpCode::Le:
      return a <= b ? 1.0 : 0.0;
    case OpCode::Eq:
      // Equality by difference: infinity == infinity is 0 because their difference is NaN.
      return std::fabs(a - b) < kTiny ? 1.0 : 0.0;
    case OpCode::Ne:
      return std::fabs(a - b) > kTiny ? 1.0 : 0.0;
    case OpCode::BitAnd:
      return static_cast<double>(toInt64(a) & toInt64(b));
    case OpCode::BitXor:
      return static_cast<double>(toInt64(a) ^ toInt64(b));
    case OpCode::BitOr:
      return static_cast<double>(toInt64(a) | toInt64(b));
    case OpCode::And:
      return isTrue(a) && isTrue(b) ? 1.0 : 0.0;
    case OpCode::Or:
      return isTrue(a) || isTrue(b) ? 1.0 : 0.0;
    default:
      return 0.0;
  }
}

QString callResultText(double x) {
  if (std::isnan(x)) {
    return QStringLiteral("NaN");
  }
  if (std::isinf(x)) {
    return x > 0 ? QStringLiteral("Infinity") : QStringLiteral("-Infinity");
  }
  return formatDouble(x, kExprThreshold);
}

double callResultValue(double x) {
  // The number formatter keeps two historical digit strings that do not read back as the value
  // they were made from; a call result travels through its text, so it reads back as written.
  const std::uint64_t magnitude = std::bit_cast<std::uint64_t>(x) & 0x7FFFFFFFFFFFFFFFULL;
  if (magnitude != 0x3E60000000000000ULL && magnitude != 0x0410000000000000ULL) {
    return x;
  }
  const QString text = callResultText(std::fabs(x));
  const double back = parseNumberLiteral(text).value_or(x);
  return std::signbit(x) ? -back : back;
}

}  // namespace tk::expr
