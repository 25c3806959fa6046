#include "expr/compiled_expression.h"

#include <algorithm>
#include <utility>

namespace tk::expr {
namespace {

// The call pattern's \w and \s are ASCII classes.
bool isPatternWord(QChar c) {
  const char16_t u = c.unicode();
  return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') ||
         u == u'_';
}

bool isPatternSpace(QChar c) {
  const char16_t u = c.unicode();
  return u == u' ' || (u >= u'\t' && u <= u'\r');
}

// A character that would join a call result into a longer word of the tokenizer.
bool joinsWord(QChar c) {
  return c.isLetterOrNumber() || c.unicode() == u'_' || c.unicode() == u'.' ||
         c.unicode() == kPlaceholder;
}

bool isAsciiDigit(QChar c) { return c.unicode() >= u'0' && c.unicode() <= u'9'; }

std::optional<FunctionId> builtinAt(const QString& out, qsizetype begin, qsizetype end) {
  char16_t lower[kMaxFunctionNameLength];
  for (qsizetype i = begin; i < end; ++i) {
    const char16_t u = out[i].unicode();
    lower[i - begin] = (u >= u'A' && u <= u'Z') ? static_cast<char16_t>(u + 32) : u;
  }
  return findFunction(QStringView(lower, end - begin));
}

// Whether a call result at position i of text reads as one separate token whatever its value:
// no word character on either side, and not the exponent of a number such as "1e-" before it.
bool standsAlone(QStringView text, qsizetype i) {
  if (i > 0 && joinsWord(text[i - 1])) {
    return false;
  }
  if (i + 1 < text.size() && joinsWord(text[i + 1])) {
    return false;
  }
  if (i >= 3 && (text[i - 1].unicode() == u'+' || text[i - 1].unicode() == u'-') &&
      (text[i - 2].unicode() == u'e' || text[i - 2].unicode() == u'E') &&
      (isAsciiDigit(text[i - 3]) || text[i - 3].unicode() == u'.')) {
    return false;
  }
  return true;
}

bool isBinaryOperator(const Token& t) {
  return t.kind == TokenKind::Operator && t.op != OpCode::Not && t.op != OpCode::BitNot;
}

void analyseStack(Postfix& p) {
  std::size_t depth = 0;
  p.runLength = p.ops.size();
  for (std::size_t i = 0; i < p.ops.size(); ++i) {
    const OpCode code = p.ops[i].code;
    if (code == OpCode::Number || code == OpCode::Name || code == OpCode::Slot) {
      p.maxDepth = std::max(p.maxDepth, ++depth);
      continue;
    }
    const std::size_t needed = isUnary(code) ? 1 : 2;
    if (depth < needed) {
      p.runLength = i;
      p.underflow = true;
      return;
    }
    depth -= needed - 1;
  }
}

// Collects the calls of one text into compiled form, replacing each by a placeholder.
class CallCompiler : public CallHandler {
 public:
  explicit CallCompiler(SymbolTable& symbols) : symbols_(symbols) {}

  QString onCall(FunctionId function, const QString& out, qsizetype matchStart,
                 qsizetype argsBegin) override {
    const qsizetype argsEnd = out.size();
    // Placeholders of inner calls inside the argument text, in text order.
    auto first =
        std::lower_bound(placeholders_.begin(), placeholders_.end(), argsBegin,
                         [](const auto& entry, qsizetype pos) { return entry.first < pos; });
    std::vector<std::pair<qsizetype, std::uint32_t>> inner(first, placeholders_.end());
    placeholders_.erase(first, placeholders_.end());
    for (const auto& entry : inner) {
      if (!standsAlone(QStringView(out).left(argsEnd), entry.first)) {
        rewrite_ = true;
      }
    }

    CompiledCall call;
    call.function = function;
    qsizetype pieceBegin = argsBegin;
    std::size_t next = 0;
    const QList<QStringView> pieces =
        splitArguments(QStringView(out).mid(argsBegin, argsEnd - argsBegin));
    for (qsizetype k = 0; k < pieces.size(); ++k) {
      const QStringView piece = pieces.at(k);
      const qsizetype pieceEnd = pieceBegin + piece.size();
      std::vector<std::uint32_t> slotList;
      while (next < inner.size() && inner[next].first < pieceEnd) {
        slotList.push_back(inner[next++].second);
      }
      const QStringView trimmed = piece.trimmed();
      const bool textOnly = trimmed.startsWith(QLatin1String("array."));
      // A text that holds a call result depends on the value: such texts are read by rewriting.
      if (!slotList.empty() && (textOnly || (k == 0 && readsArgumentText(function)))) {
        rewrite_ = true;
      }
      call.textOnly.push_back(textOnly);
      call.arguments.push_back(textOnly ? Postfix() : compilePostfix(piece, symbols_, slotList));
      call.texts.append(trimmed.toString());
      pieceBegin = pieceEnd + 1;  // past the comma
    }
    calls_.push_back(std::move(call));
    placeholders_.emplace_back(matchStart, static_cast<std::uint32_t>(calls_.size() - 1));
    return QString(QChar(kPlaceholder));
  }

  bool rewrite() const { return rewrite_; }
  std::vector<CompiledCall> takeCalls() { return std::move(calls_); }
  const std::vector<std::pair<qsizetype, std::uint32_t>>& placeholders() const {
    return placeholders_;
  }

 private:
  SymbolTable& symbols_;
  std::vector<CompiledCall> calls_;
  std::vector<std::pair<qsizetype, std::uint32_t>> placeholders_;
  bool rewrite_ = false;
};

}  // namespace

Symbol* SymbolTable::intern(QStringView name) {
  const QString key = name.toString();
  const auto it = index_.constFind(key);
  if (it != index_.cend()) {
    return it.value();
  }
  Symbol& s = storage_.emplace_back();
  s.name = key;
  index_.insert(key, &s);
  return &s;
}

void SymbolTable::clear() {
  index_.clear();
  storage_.clear();
}

CallHandler::~CallHandler() = default;

QString scanCalls(QStringView input, CallHandler& handler) {
  // One pass with a stack of open parentheses gives the same replacements, in the same order, as
  // restarting the pattern search from the start after every replacement: a pair can only match
  // once nothing parenthesised is left inside it, and pairs complete in closing order. The pass
  // needs no iteration bound: it makes at most one replacement per "(" and never looks back
  // further than the name before the pair, so any text is rewritten in linear time.
  QString out;
  out.reserve(input.size());
  struct Open {
    qsizetype pos;
    qsizetype parens;  // parenthesis characters currently inside the pair
  };
  std::vector<Open> open;
  for (const QChar c : input) {
    if (c.unicode() == u'(') {
      if (!open.empty()) {
        ++open.back().parens;
      }
      open.push_back({out.size(), 0});
      out.append(c);
      continue;
    }
    if (c.unicode() != u')' || open.empty()) {
      out.append(c);
      continue;
    }
    const Open pair = open.back();
    open.pop_back();
    bool replaced = false;
    if (pair.parens == 0) {
      qsizetype wordEnd = pair.pos;
      while (wordEnd > 0 && isPatternSpace(out[wordEnd - 1])) {
        --wordEnd;
      }
      qsizetype wordBegin = wordEnd;
      while (wordBegin > 0 && isPatternWord(out[wordBegin - 1])) {
        --wordBegin;
      }
      // The leftmost start whose name is built in wins; a longer name than any built-in is not.
      for (qsizetype p = std::max(wordBegin, wordEnd - kMaxFunctionNameLength); p < wordEnd; ++p) {
        if (const std::optional<FunctionId> function = builtinAt(out, p, wordEnd)) {
          const QString replacement = handler.onCall(*function, out, p, pair.pos + 1);
          out.truncate(p);
          out.append(replacement);
          if (!open.empty()) {
            --open.back().parens;
          }
          replaced = true;
          break;
        }
      }
    }
    if (!replaced) {
      out.append(c);
      if (!open.empty()) {
        open.back().parens += pair.parens + 1;
      }
    }
  }
  return out;
}

QList<QStringView> splitArguments(QStringView argsText) {
  QList<QStringView> pieces;
  qsizetype begin = 0;
  for (qsizetype i = 0; i <= argsText.size(); ++i) {
    if (i == argsText.size() || argsText[i].unicode() == u',') {
      pieces.append(argsText.mid(begin, i - begin));
      begin = i + 1;
    }
  }
  return pieces;
}

Postfix compilePostfix(QStringView text, SymbolTable& symbols,
                       std::span<const std::uint32_t> placeholderSlots) {
  Postfix p;
  const std::vector<Token> tokens = tokenize(text);
  p.ops.reserve(tokens.size());
  // Operator stack; OpCode::Number marks an open parenthesis.
  std::vector<OpCode> stack;
  std::size_t placeholderIndex = 0;
  for (std::size_t k = 0; k < tokens.size(); ++k) {
    const Token& t = tokens[k];
    const Token* prev = k > 0 ? &tokens[k - 1] : nullptr;
    switch (t.kind) {
      case TokenKind::Number:
        p.ops.push_back({OpCode::Number, 0, t.number, nullptr});
        break;
      case TokenKind::Name:
        p.ops.push_back({OpCode::Name, 0, 0.0, symbols.intern(text.mid(t.begin, t.length))});
        break;
      case TokenKind::Placeholder: {
        if (placeholderIndex >= placeholderSlots.size()) {
          break;  // a stray character of the input
        }
        const std::uint32_t slot = placeholderSlots[placeholderIndex++];
        p.ops.push_back({OpCode::Slot, slot, 0.0, nullptr});
        // A result text starting with "-" reads as an operand only where a "-" is unary and
        // the next token takes the negated operand at once.
        const Token* next = k + 1 < tokens.size() ? &tokens[k + 1] : nullptr;
        const bool unaryBefore =
            !prev || prev->kind == TokenKind::OpenParen || prev->kind == TokenKind::Operator;
        const bool closedAfter =
            !next || next->kind == TokenKind::CloseParen || isBinaryOperator(*next);
        if (!unaryBefore || !closedAfter) {
          p.signSensitiveSlots.push_back(slot);
        }
        break;
      }
      case TokenKind::OpenParen:
        stack.push_back(OpCode::Number);
        break;
      case TokenKind::CloseParen:
        while (!stack.empty() && stack.back() != OpCode::Number) {
          p.ops.push_back({stack.back(), 0, 0.0, nullptr});
          stack.pop_back();
        }
        if (!stack.empty()) {
          stack.pop_back();
        }
        break;
      case TokenKind::Operator: {
        OpCode op = t.op;
        if (op == OpCode::Sub &&
            (!prev || prev->kind == TokenKind::OpenParen || prev->kind == TokenKind::Operator)) {
          op = OpCode::Neg;
        }
        const int own = precedence(op);
        // Binary operators pop equal precedence (left-associative); unary ones only higher.
        const bool unary = isUnary(op);
        while (!stack.empty() && stack.back() != OpCode::Number) {
          const int top = precedence(stack.back());
          if (unary ? top <= own : top < own) {
            break;
          }
          p.ops.push_back({stack.back(), 0, 0.0, nullptr});
          stack.pop_back();
        }
        stack.push_back(op);
        break;
      }
      case TokenKind::Stray:
        break;
    }
  }
  while (!stack.empty()) {
    if (stack.back() != OpCode::Number) {
      p.ops.push_back({stack.back(), 0, 0.0, nullptr});
    }
    stack.pop_back();
  }
  analyseStack(p);
  if (!p.signSensitiveSlots.empty()) {
    p.templateText = text.toString();
    p.placeholderSlots.assign(placeholderSlots.begin(), placeholderSlots.end());
  }
  return p;
}

std::shared_ptr<CompiledExpression> compileExpression(const QString& text, SymbolTable& symbols) {
  auto compiled = std::make_shared<CompiledExpression>();
  compiled->text = text;
  if (text.contains(QChar(kPlaceholder))) {
    compiled->rewrite = true;
    return compiled;
  }
  CallCompiler calls(symbols);
  const QString out = scanCalls(text, calls);
  std::vector<std::uint32_t> slotList;
  for (const auto& [pos, slot] : calls.placeholders()) {
    if (!standsAlone(out, pos)) {
      compiled->rewrite = true;
    }
    slotList.push_back(slot);
  }
  if (calls.rewrite() || compiled->rewrite) {
    compiled->rewrite = true;
    return compiled;
  }
  compiled->calls = calls.takeCalls();
  compiled->main = compilePostfix(out, symbols, slotList);
  return compiled;
}

}  // namespace tk::expr
