#include "tune/attribute_expression.h"

#include <QStringList>
#include <QStringView>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "definition/ecu_definition.h"
#include "tune/field_index.h"

namespace tk {

namespace {

// Bound on nested conditionals, unary operators and parentheses of one evaluation, computed
// channels included, so a hostile definition cannot exhaust the stack; deeper text counts as
// not parsing.
constexpr int kMaxNesting = 256;

// Counts one level of nesting for as long as it lives.
class NestingLevel {
 public:
  explicit NestingLevel(int& depth) : depth_(depth) { ++depth_; }
  ~NestingLevel() { --depth_; }
  NestingLevel(const NestingLevel&) = delete;
  NestingLevel& operator=(const NestingLevel&) = delete;
  bool tooDeep() const { return depth_ > kMaxNesting; }

 private:
  int& depth_;
};

bool isTrue(double v) { return std::abs(v) > std::numeric_limits<double>::denorm_min(); }

bool isWordChar(QChar c) { return c.isLetterOrNumber() || c == u'_'; }
bool isIdentifierStart(QChar c) { return c.isLetter() || c == u'_'; }
bool isDigit(QChar c) { return c >= u'0' && c <= u'9'; }

// Length of the decimal number starting at pos (digits with an optional fraction, or a fraction
// alone, then an optional exponent); 0 when none starts there.
qsizetype numberLength(QStringView text, qsizetype pos) {
  qsizetype i = pos;
  qsizetype mantissaDigits = 0;
  while (i < text.size() && isDigit(text[i])) {
    ++i;
    ++mantissaDigits;
  }
  if (i < text.size() && text[i] == u'.') {
    ++i;
    while (i < text.size() && isDigit(text[i])) {
      ++i;
      ++mantissaDigits;
    }
  }
  if (mantissaDigits == 0) {
    return 0;
  }
  if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
    qsizetype j = i + 1;
    if (j < text.size() && (text[j] == u'+' || text[j] == u'-')) {
      ++j;
    }
    if (j < text.size() && isDigit(text[j])) {
      while (j < text.size() && isDigit(text[j])) {
        ++j;
      }
      i = j;
    }
  }
  return i - pos;
}

// The value of a lexed number (ASCII only, so the Latin-1 form is the text itself).
double numberValue(QStringView token) {
  const std::string bytes = token.toLatin1().toStdString();
  double value = 0.0;
  std::from_chars(bytes.data(), bytes.data() + bytes.size(), value);
  return value;
}

// The whole text as one number with an optional sign, or nullopt.
std::optional<double> parseNumber(QStringView text) {
  qsizetype start = 0;
  bool negative = false;
  if (!text.isEmpty() && (text[0] == u'+' || text[0] == u'-')) {
    negative = text[0] == u'-';
    start = 1;
  }
  const qsizetype n = numberLength(text, start);
  if (n == 0 || start + n != text.size()) {
    return std::nullopt;
  }
  const double v = numberValue(text.mid(start, n));
  return negative ? -v : v;
}

bool isSingleWord(QStringView text) {
  if (text.isEmpty()) {
    return false;
  }
  for (QChar c : text) {
    if (!isWordChar(c)) {
      return false;
    }
  }
  return true;
}

class Evaluator;

// Recursive-descent arithmetic over one text, evaluating as it parses. Precedence from loosest:
// ||, &&, == !=, < > <= >=, + -, * / %, unary - and !, primaries.
class ArithmeticParser {
 public:
  ArithmeticParser(QStringView text, Evaluator& evaluator) : text_(text), evaluator_(evaluator) {}

  std::optional<double> parseAll() {
    const std::optional<double> v = logicalOr();
    skipSpace();
    if (!v || pos_ != text_.size()) {
      return std::nullopt;
    }
    return v;
  }

 private:
  void skipSpace() {
    while (pos_ < text_.size() && text_[pos_].isSpace()) {
      ++pos_;
    }
  }

  // Consumes op when it comes next (after spaces). Callers try "<=" before "<".
  bool accept(QLatin1String op) {
    skipSpace();
    if (!text_.mid(pos_).startsWith(op)) {
      return false;
    }
    pos_ += op.size();
    return true;
  }

  std::optional<double> logicalOr() {
    std::optional<double> left = logicalAnd();
    while (left && accept(QLatin1String("||"))) {
      const std::optional<double> right = logicalAnd();
      if (!right) {
        return std::nullopt;
      }
      left = (isTrue(*left) || isTrue(*right)) ? 1.0 : 0.0;
    }
    return left;
  }

  std::optional<double> logicalAnd() {
    std::optional<double> left = equality();
    while (left && accept(QLatin1String("&&"))) {
      const std::optional<double> right = equality();
      if (!right) {
        return std::nullopt;
      }
      left = (isTrue(*left) && isTrue(*right)) ? 1.0 : 0.0;
    }
    return left;
  }

  std::optional<double> equality() {
    std::optional<double> left = relational();
    while (left) {
      bool equal = false;
      if (accept(QLatin1String("=="))) {
        equal = true;
      } else if (!accept(QLatin1String("!="))) {
        break;
      }
      const std::optional<double> right = relational();
      if (!right) {
        return std::nullopt;
      }
      left = ((*left == *right) == equal) ? 1.0 : 0.0;
    }
    return left;
  }

  std::optional<double> relational() {
    std::optional<double> left = additive();
    while (left) {
      int op = 0;
      if (accept(QLatin1String("<="))) {
        op = 1;
      } else if (accept(QLatin1String(">="))) {
        op = 2;
      } else if (accept(QLatin1String("<"))) {
        op = 3;
      } else if (accept(QLatin1String(">"))) {
        op = 4;
      } else {
        break;
      }
      const std::optional<double> right = additive();
      if (!right) {
        return std::nullopt;
      }
      const double a = *left;
      const double b = *right;
      const bool result = op == 1 ? a <= b : op == 2 ? a >= b : op == 3 ? a < b : a > b;
      left = result ? 1.0 : 0.0;
    }
    return left;
  }

  std::optional<double> additive() {
    std::optional<double> left = multiplicative();
    while (left) {
      bool plus = false;
      skipSpace();
      if (pos_ < text_.size() && text_[pos_] == u'+') {
        plus = true;
      } else if (pos_ >= text_.size() || text_[pos_] != u'-') {
        break;
      }
      ++pos_;
      const std::optional<double> right = multiplicative();
      if (!right) {
        return std::nullopt;
      }
      left = plus ? *left + *right : *left - *right;
    }
    return left;
  }

  std::optional<double> multiplicative() {
    std::optional<double> left = unary();
    while (left) {
      skipSpace();
      if (pos_ >= text_.size()) {
        break;
      }
      const QChar op = text_[pos_];
      if (op != u'*' && op != u'/' && op != u'%') {
        break;
      }
      ++pos_;
      const std::optional<double> right = unary();
      if (!right) {
        return std::nullopt;
      }
      if (op == u'*') {
        left = *left * *right;
      } else if (op == u'/') {
        left = *left / *right;  // IEEE: x/0 is an infinity or NaN
      } else {
        left = std::fmod(*left, *right);  // sign of the dividend
      }
    }
    return left;
  }

  std::optional<double> unary();

  std::optional<double> primary();

  QStringView text_;
  Evaluator& evaluator_;
  qsizetype pos_ = 0;
};

class Evaluator {
 public:
  explicit Evaluator(const AttributeScope& scope) : scope_(scope) {}

  // The nesting depth shared by every parser of this evaluation.
  int& depth() { return depth_; }

  // Steps after the empty check: braces, the conditional, then a term. nullopt: does not parse.
  std::optional<double> expression(QStringView text) {
    const NestingLevel level(depth_);
    if (level.tooDeep()) {
      return std::nullopt;
    }
    text = text.trimmed();
    if (text.isEmpty()) {
      return std::nullopt;
    }
    if (text.startsWith(u'{') && text.endsWith(u'}')) {
      text = text.mid(1, text.size() - 2).trimmed();
    }
    qsizetype question = -1;
    qsizetype colon = -1;
    findConditional(text, question, colon);
    if (question >= 0 && colon >= 0) {
      const std::optional<double> condition = expression(text.first(question));
      if (!condition) {
        return std::nullopt;
      }
      return isTrue(*condition) ? expression(text.mid(question + 1, colon - question - 1))
                                : expression(text.mid(colon + 1));
    }
    return term(text);
  }

  // The value of a name: constant, else computed channel, else 0. nullopt when a channel's
  // expression does not parse. known is cleared for a name that is neither.
  std::optional<double> name(QStringView word, bool* known = nullptr) {
    if (known != nullptr) {
      *known = true;
    }
    const QString text = word.toString();
    if (const std::optional<FieldRef> field = scope_.findField(text)) {
      return storedValue(scope_.tune(), *field->constant, 0);
    }
    const QString* channel = channelExpression(text);
    if (channel == nullptr) {
      if (known != nullptr) {
        *known = false;
      }
      return 0.0;
    }
    if (activeChannels_.size() >= AttributeScope::kMaxChannelNesting ||
        activeChannels_.contains(text, Qt::CaseInsensitive)) {
      return 0.0;  // too deep, or a channel that (indirectly) names itself
    }
    activeChannels_.append(text);
    const QStringView inner = QStringView(*channel).trimmed();
    const std::optional<double> value = inner.isEmpty() ? 0.0 : expression(inner);
    activeChannels_.removeLast();
    return value;
  }

 private:
  // The first "?" outside quotes and brackets, then the first ":" after it at the same level.
  static void findConditional(QStringView text, qsizetype& question, qsizetype& colon) {
    int level = 0;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
      const QChar c = text[i];
      if (c == u'"') {
        quoted = !quoted;
      } else if (quoted) {
        continue;
      } else if (c == u'(' || c == u'[' || c == u'{') {
        ++level;
      } else if (c == u')' || c == u']' || c == u'}') {
        --level;
      } else if (level == 0 && c == u'?' && question < 0) {
        question = i;
      } else if (level == 0 && c == u':' && question >= 0) {
        colon = i;
        return;
      }
    }
  }

  std::optional<double> term(QStringView text) {
    text = text.trimmed();
    if (text.startsWith(u'"')) {
      text = text.mid(1);
    }
    if (text.endsWith(u'"')) {
      text.chop(1);
    }
    text = text.trimmed();
    if (const std::optional<double> number = parseNumber(text)) {
      return number;
    }
    if (isSingleWord(text)) {
      return name(text);
    }
    return ArithmeticParser(text, *this).parseAll();
  }

  const QString* channelExpression(const QString& name) const {
    const QMap<QString, QString>& channels = scope_.definition().ExpressionDefinitions;
    const auto exact = channels.constFind(name);
    if (exact != channels.cend()) {
      return &exact.value();
    }
    for (auto it = channels.cbegin(); it != channels.cend(); ++it) {
      if (it.key().compare(name, Qt::CaseInsensitive) == 0) {
        return &it.value();
      }
    }
    return nullptr;
  }

  const AttributeScope& scope_;
  QStringList activeChannels_;
  int depth_ = 0;
};

std::optional<double> ArithmeticParser::unary() {
  const NestingLevel level(evaluator_.depth());
  if (level.tooDeep()) {
    return std::nullopt;
  }
  skipSpace();
  if (pos_ < text_.size() && text_[pos_] == u'-') {
    ++pos_;
    const std::optional<double> operand = unary();
    return operand ? std::optional<double>(-*operand) : std::nullopt;
  }
  if (accept(QLatin1String("!"))) {
    const std::optional<double> operand = unary();
    return operand ? std::optional<double>(isTrue(*operand) ? 0.0 : 1.0) : std::nullopt;
  }
  return primary();
}

std::optional<double> ArithmeticParser::primary() {
  skipSpace();
  if (pos_ >= text_.size()) {
    return std::nullopt;
  }
  const QChar c = text_[pos_];
  if (c == u'(') {
    ++pos_;
    const std::optional<double> inner = logicalOr();
    skipSpace();
    if (!inner || pos_ >= text_.size() || text_[pos_] != u')') {
      return std::nullopt;
    }
    ++pos_;
    return inner;
  }
  if (const qsizetype n = numberLength(text_, pos_); n > 0) {
    const double v = numberValue(text_.mid(pos_, n));
    pos_ += n;
    return v;
  }
  if (isIdentifierStart(c)) {
    const qsizetype start = pos_;
    while (pos_ < text_.size() && isWordChar(text_[pos_])) {
      ++pos_;
    }
    return evaluator_.name(text_.mid(start, pos_ - start));
  }
  return std::nullopt;
}

}  // namespace

AttributeScope::AttributeScope(const EcuDefinition& definition, const FieldIndex& index,
                               const Tune& tune)
    : definition_(definition), index_(index), tune_(tune) {}

double AttributeScope::evaluate(const QString& expression, double emptyValue,
                                double failedValue) const {
  const QStringView text = QStringView(expression).trimmed();
  if (text.isEmpty()) {
    return emptyValue;
  }
  Evaluator evaluator(*this);
  return evaluator.expression(text).value_or(failedValue);
}

std::optional<double> AttributeScope::nameValue(const QString& name) const {
  Evaluator evaluator(*this);
  bool known = false;
  const std::optional<double> value = evaluator.name(name, &known);
  return known ? value : std::nullopt;
}

std::optional<FieldRef> AttributeScope::findField(const QString& name) const {
  return index_.find(definition_, name);
}

}  // namespace tk
