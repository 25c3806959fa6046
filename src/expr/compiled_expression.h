#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <vector>

#include "expr/expression_functions.h"
#include "expr/expression_syntax.h"

namespace tk::expr {

struct CompiledExpression;

/// A name used in compiled code, interned once per evaluator, with its resolution against the
/// definition's named expressions cached until the definition changes.
struct Symbol {
  QString name;
  /// Resolution generation this entry was resolved for; 0 = never.
  quint64 generation = 0;
  /// Whether the name is a named expression (else a host value), and its text.
  bool isNamed = false;
  QString namedText;
  /// Compiled form of namedText, made on first use.
  std::shared_ptr<const CompiledExpression> named;
  /// Set while the named expression is being evaluated (a reference back to it is a cycle).
  bool active = false;
};

/// Interns names; entries keep their address until clear().
class SymbolTable {
 public:
  /// The entry for name, created on first use.
  Symbol* intern(QStringView name);
  /// Number of entries.
  qsizetype size() const { return index_.size(); }
  /// Calls fn for every entry.
  template <typename Fn>
  void forEach(Fn fn) {
    for (Symbol& s : storage_) {
      fn(s);
    }
  }
  /// Drops every entry; compiled code that refers to them must be dropped first.
  void clear();

 private:
  QHash<QString, Symbol*> index_;
  std::deque<Symbol> storage_;
};

/// One postfix operation.
struct Op {
  OpCode code;
  std::uint32_t slot = 0;
  double number = 0.0;
  Symbol* symbol = nullptr;
};

/// Postfix code of one text (a whole expression or one call argument).
struct Postfix {
  std::vector<Op> ops;
  /// Operations executed: all of them, or those before the first operator that lacks operands.
  std::size_t runLength = 0;
  /// An operator lacks operands: after runLength operations the result is 0.
  bool underflow = false;
  /// Largest operand stack size reached.
  std::size_t maxDepth = 0;
  /// Call results whose position reads differently when the result text starts with "-"
  /// (e.g. right after an operand); a negative value there re-reads templateText.
  std::vector<std::uint32_t> signSensitiveSlots;
  /// The text with one placeholder per call result, kept when signSensitiveSlots is not empty.
  QString templateText;
  /// Call result of each placeholder of templateText, in text order.
  std::vector<std::uint32_t> placeholderSlots;
};

/// One pre-evaluated built-in call.
struct CompiledCall {
  FunctionId function;
  /// Arguments passed as text only ("array." names): no code, value 0.
  std::vector<bool> textOnly;
  std::vector<Postfix> arguments;
  QStringList texts;
};

/// A compiled expression text.
struct CompiledExpression {
  /// The text is evaluated by literal rewriting every time: a call result would merge with its
  /// neighbours (e.g. "x" + "sqrt(4)" reads as the name "x2") or name a channel.
  bool rewrite = false;
  QString text;
  /// Calls in evaluation order; call k leaves its result in slot k.
  std::vector<CompiledCall> calls;
  Postfix main;
};

/// Handles one built-in call found by scanCalls: out holds the text so far, the call starts at
/// matchStart and its argument text is out[argsBegin, out.size()); returns the text that replaces
/// out[matchStart, end) and the closing parenthesis.
class CallHandler {
 public:
  virtual ~CallHandler();
  /// See class comment.
  virtual QString onCall(FunctionId function, const QString& out, qsizetype matchStart,
                         qsizetype argsBegin) = 0;
};

/// Function-call pre-evaluation: finds built-in calls innermost first, leftmost first, exactly as
/// repeatedly searching "(\w+)\s*\(([^()]*)\)" from the start would, and replaces each by the
/// handler's text; the result is the rewritten text.
QString scanCalls(QStringView input, CallHandler& handler);

/// Splits a call's argument text at commas (it holds no parentheses).
QList<QStringView> splitArguments(QStringView argsText);

/// Conversion to postfix of a text without built-in calls. Placeholders take the listed slots in
/// order; with an empty list they are stray characters.
Postfix compilePostfix(QStringView text, SymbolTable& symbols,
                       std::span<const std::uint32_t> placeholderSlots);

/// Compiles an expression text (calls, placeholders, postfix), or marks it for rewriting.
std::shared_ptr<CompiledExpression> compileExpression(const QString& text, SymbolTable& symbols);

}  // namespace tk::expr
