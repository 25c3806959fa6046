#pragma once

#include <QHash>
#include <QString>
#include <cstddef>
#include <memory>

#include "expr/compiled_expression.h"

namespace tk::expr {

class ExpressionHost;
class ExpressionState;

/// Evaluates expression texts against a host. Evaluation never fails: malformed input gives 0 or
/// NaN. Compiled forms of the texts are cached; results are those of literal rewriting.
/// Not thread-safe: use one evaluator per thread.
class ExpressionEvaluator {
 public:
  /// Named expressions nested deeper than this evaluate to NaN.
  static constexpr int kMaxNamedDepth = 64;
  /// Work (postfix operations plus rewritten characters) one top-level evaluation may spend before
  /// further named expressions evaluate to NaN.
  static constexpr std::size_t kWorkBudget = 1'000'000;
  /// Texts longer than this are compiled for each evaluation instead of cached.
  static constexpr qsizetype kMaxCachedTextLength = 4096;
  /// The cache is emptied before an evaluation when it holds more texts or names than this...
  static constexpr qsizetype kMaxCacheEntries = 4096;
  /// ...or more text characters than this. Both are far above what one definition needs and keep
  /// the cost of emptying the cache small.
  static constexpr qsizetype kMaxCachedCharacters = 1 << 18;

  ExpressionEvaluator();
  ~ExpressionEvaluator();
  ExpressionEvaluator(const ExpressionEvaluator&) = delete;
  ExpressionEvaluator& operator=(const ExpressionEvaluator&) = delete;

  /// The value of text; state feeds the history functions (null: they give 0).
  double evaluate(const QString& text, const ExpressionHost& host,
                  ExpressionState* state = nullptr);
  /// Whether the value of text is true (non-zero and not NaN).
  bool evaluateCondition(const QString& text, const ExpressionHost& host,
                         ExpressionState* state = nullptr);
  /// The same value computed by rewriting the text literally (calls replaced by their result
  /// texts, then tokenised), named expressions included; slow, for cross-checking.
  double evaluateByRewriting(const QString& text, const ExpressionHost& host,
                             ExpressionState* state = nullptr);
  /// Drops every compiled form and name resolution.
  void clearCache();

 private:
  struct Context;
  class RewriteHandler;
  class Scope;

  void prepare(const ExpressionHost& host);
  std::shared_ptr<const CompiledExpression> compiled(const QString& text);
  double run(const CompiledExpression& expression, Context& ctx);
  double runPostfix(const Postfix& code, const double* slots, Context& ctx);
  double runMaterialised(const Postfix& code, const double* slots, Context& ctx);
  double rewriteAndRun(QStringView text, Context& ctx);
  double resolve(Symbol& symbol, Context& ctx);

  QHash<QString, std::shared_ptr<const CompiledExpression>> cache_;
  qsizetype cachedCharacters_ = 0;
  SymbolTable symbols_;
  quint64 viewSerial_ = 0;
  quint64 viewRevision_ = 0;
  /// Name resolutions are valid for this generation; each change of view gets a new number.
  quint64 generation_ = 1;
  quint64 lastGeneration_ = 1;
  int nesting_ = 0;
};

/// One-off evaluation without a cache.
double evaluate(const QString& text, const ExpressionHost& host, ExpressionState* state = nullptr);

}  // namespace tk::expr
