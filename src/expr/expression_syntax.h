#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

namespace tk::expr {

/// Operations of compiled postfix code: operands first, then the operators of the precedence table.
enum class OpCode : std::uint8_t {
  Number,
  Name,
  Slot,  // result of a pre-evaluated function call
  Not,
  Neg,
  BitNot,
  Mul,
  Div,
  Mod,
  Add,
  Sub,
  Shl,
  Shr,
  Gt,
  Lt,
  Ge,
  Le,
  Eq,
  Ne,
  BitAnd,
  BitXor,
  BitOr,
  And,
  Or,
};

/// Kinds of tokens, recognised by content.
enum class TokenKind : std::uint8_t {
  Number,
  Name,
  Operator,
  OpenParen,
  CloseParen,
  Stray,
  Placeholder
};

/// One token of an expression text: its kind, its text range and, for operators, the operation
/// ("-" is reported as Sub; the conversion to postfix decides whether it is unary).
struct Token {
  TokenKind kind;
  OpCode op;
  qsizetype begin;
  qsizetype length;
  double number;
};

/// The character that stands for a pre-evaluated call result in compiled texts.
inline constexpr char16_t kPlaceholder = 0xFFFF;

/// Splits text into tokens: two-character operators first, runs of letters, digits, "_" and "."
/// (a number stem ending in "e"/"E" continues through a sign and exponent digits), single
/// characters otherwise; whitespace separates and is dropped.
std::vector<Token> tokenize(QStringView text);
/// The token texts of tokenize(), for inspection.
QStringList tokenTexts(QStringView text);

/// A number literal: "nan" or "infinity" in any case, or unsigned decimal digits with an optional
/// fraction (at least one digit) and an optional exponent; empty for anything else.
std::optional<double> parseNumberLiteral(QStringView word);

/// Binding strength of an operator: 11 for the unary ones down to 1 for "||".
int precedence(OpCode op);
/// Whether the operation takes one operand.
inline bool isUnary(OpCode op) {
  return op == OpCode::Not || op == OpCode::Neg || op == OpCode::BitNot;
}

/// A value is true when its magnitude exceeds the smallest subnormal (non-zero and not NaN).
inline bool isTrue(double x) { return std::fabs(x) > std::numeric_limits<double>::denorm_min(); }

/// NaN -> 0, saturation at the 64-bit limits, otherwise truncation toward zero.
inline std::int64_t toInt64(double x) {
  if (std::isnan(x)) {
    return 0;
  }
  if (x >= 9.223372036854776e18) {
    return std::numeric_limits<std::int64_t>::max();
  }
  if (x <= -9.223372036854776e18) {
    return std::numeric_limits<std::int64_t>::min();
  }
  return static_cast<std::int64_t>(x);
}

/// NaN -> 0, x >= 2^31 -> 255, x <= -2^31 - 1 -> 0, otherwise the low 8 bits of the 32-bit
/// truncation; the shift itself uses this count modulo 64.
inline int toShiftCount(double x) {
  if (std::isnan(x)) {
    return 0;
  }
  if (x >= 2147483648.0) {
    return 255;
  }
  if (x <= -2147483649.0) {
    return 0;
  }
  return static_cast<int>(static_cast<std::uint32_t>(static_cast<std::int32_t>(x)) & 0xFFu);
}

/// Applies a unary operation.
inline double applyUnary(OpCode op, double x) {
  switch (op) {
    case OpCode::Not:
      return isTrue(x) ? 0.0 : 1.0;
    case OpCode::Neg:
      return -x;
    default:
      return static_cast<double>(~toInt64(x));
  }
}

/// Applies a binary operation to a (left) and b (right).
double applyBinary(OpCode op, double a, double b);

/// The text a pre-evaluated call leaves in the expression: "NaN", "Infinity", "-Infinity" or the
/// shortest round-trip number text.
QString callResultText(double x);
/// The value that callResultText(x) reads back as (x itself for all but a few values).
double callResultValue(double x);

}  // namespace tk::expr
