#include "expr/expression_evaluator.h"

#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include "expr/expression_host.h"
#include "expr/expression_state.h"

namespace tk::expr {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A buffer of doubles on the stack for the usual small sizes.
class Scratch {
 public:
  explicit Scratch(std::size_t size) {
    if (size > fixed_.size()) {
      heap_.resize(size);
      data_ = heap_.data();
    }
  }
  double* data() { return data_; }

 private:
  std::array<double, 32> fixed_{};
  std::vector<double> heap_;
  double* data_ = fixed_.data();
};

bool readsNegative(double x) { return std::signbit(x) && !std::isnan(x); }

}  // namespace

struct ExpressionEvaluator::Context {
  const ExpressionHost& host;
  ExpressionState* state;
  const DefinitionView* view;
  bool rewriteOnly;
  int depth = 0;
  std::size_t work = 0;
};

// Literal rewriting: each call is evaluated when found and replaced by its result text.
class ExpressionEvaluator::RewriteHandler : public CallHandler {
 public:
  RewriteHandler(ExpressionEvaluator& evaluator, Context& ctx) : evaluator_(evaluator), ctx_(ctx) {}

  QString onCall(FunctionId function, const QString& out, qsizetype, qsizetype argsBegin) override {
    const QList<QStringView> pieces =
        splitArguments(QStringView(out).mid(argsBegin, out.size() - argsBegin));
    std::vector<double> values;
    QStringList texts;
    for (const QStringView piece : pieces) {
      const QStringView trimmed = piece.trimmed();
      values.push_back(trimmed.startsWith(QLatin1String("array."))
                           ? 0.0
                           : evaluator_.rewriteAndRun(piece, ctx_));
      texts.append(trimmed.toString());
    }
    const double result =
        callFunction(function, values, std::span<const QString>(texts.constData(), texts.size()),
                     ctx_.host, ctx_.state);
    return callResultText(result);
  }

 private:
  ExpressionEvaluator& evaluator_;
  Context& ctx_;
};

// One top-level evaluation. A host may evaluate other texts from inside getValue, possibly with
// another definition: the view in force is restored afterwards, and resolutions made meanwhile
// carry a generation of their own, so the outer evaluation resolves those names again.
class ExpressionEvaluator::Scope {
 public:
  Scope(ExpressionEvaluator& evaluator, const ExpressionHost& host)
      : evaluator_(evaluator),
        serial_(evaluator.viewSerial_),
        revision_(evaluator.viewRevision_),
        generation_(evaluator.generation_) {
    evaluator_.prepare(host);
    ++evaluator_.nesting_;
  }
  ~Scope() {
    if (--evaluator_.nesting_ > 0) {
      evaluator_.viewSerial_ = serial_;
      evaluator_.viewRevision_ = revision_;
      evaluator_.generation_ = generation_;
    }
  }
  Scope(const Scope&) = delete;
  Scope& operator=(const Scope&) = delete;

 private:
  ExpressionEvaluator& evaluator_;
  quint64 serial_;
  quint64 revision_;
  quint64 generation_;
};

ExpressionEvaluator::ExpressionEvaluator() = default;

ExpressionEvaluator::~ExpressionEvaluator() = default;

void ExpressionEvaluator::clearCache() {
  cache_.clear();
  cachedCharacters_ = 0;
  symbols_.clear();
  generation_ = ++lastGeneration_;
}

void ExpressionEvaluator::prepare(const ExpressionHost& host) {
  const DefinitionView* view = host.definition();
  const quint64 serial = view ? view->serial() : 0;
  const quint64 revision = view ? view->revision() : 0;
  if (serial != viewSerial_ || revision != viewRevision_) {
    viewSerial_ = serial;
    viewRevision_ = revision;
    generation_ = ++lastGeneration_;
  }
  // Only between top-level evaluations: nothing compiled is running then.
  if (nesting_ == 0 && (cache_.size() > kMaxCacheEntries || symbols_.size() > kMaxCacheEntries ||
                        cachedCharacters_ > kMaxCachedCharacters)) {
    clearCache();
  }
}

double ExpressionEvaluator::evaluate(const QString& text, const ExpressionHost& host,
                                     ExpressionState* state) {
  const Scope scope(*this, host);
  Context ctx{host, state, host.definition(), false};
  const std::shared_ptr<const CompiledExpression> code = compiled(text);
  return run(*code, ctx);
}

bool ExpressionEvaluator::evaluateCondition(const QString& text, const ExpressionHost& host,
                                            ExpressionState* state) {
  return isTrue(evaluate(text, host, state));
}

double ExpressionEvaluator::evaluateByRewriting(const QString& text, const ExpressionHost& host,
                                                ExpressionState* state) {
  const Scope scope(*this, host);
  Context ctx{host, state, host.definition(), true};
  return rewriteAndRun(text, ctx);
}

std::shared_ptr<const CompiledExpression> ExpressionEvaluator::compiled(const QString& text) {
  const auto it = cache_.constFind(text);
  if (it != cache_.cend()) {
    return it.value();
  }
  std::shared_ptr<const CompiledExpression> code = compileExpression(text, symbols_);
  if (text.size() <= kMaxCachedTextLength) {
    cache_.insert(text, code);
    cachedCharacters_ += text.size();
  }
  return code;
}

double ExpressionEvaluator::run(const CompiledExpression& expression, Context& ctx) {
  if (expression.rewrite) {
    return rewriteAndRun(expression.text, ctx);
  }
  Scratch slots(expression.calls.size());
  for (std::size_t k = 0; k < expression.calls.size(); ++k) {
    const CompiledCall& call = expression.calls[k];
    Scratch values(call.arguments.size());
    for (std::size_t i = 0; i < call.arguments.size(); ++i) {
      values.data()[i] = call.textOnly[i] ? 0.0 : runPostfix(call.arguments[i], slots.data(), ctx);
    }
    const double result = callFunction(
        call.function, std::span<const double>(values.data(), call.arguments.size()),
        std::span<const QString>(call.texts.constData(), call.texts.size()), ctx.host, ctx.state);
    slots.data()[k] = callResultValue(result);
  }
  return runPostfix(expression.main, slots.data(), ctx);
}

double ExpressionEvaluator::runPostfix(const Postfix& code, const double* slots, Context& ctx) {
  for (const std::uint32_t slot : code.signSensitiveSlots) {
    if (readsNegative(slots[slot])) {
      return runMaterialised(code, slots, ctx);
    }
  }
  ctx.work += code.runLength;
  Scratch stack(code.maxDepth);
  double* st = stack.data();
  std::size_t sp = 0;
  for (std::size_t i = 0; i < code.runLength; ++i) {
    const Op& op = code.ops[i];
    switch (op.code) {
      case OpCode::Number:
        st[sp++] = op.number;
        break;
      case OpCode::Name:
        st[sp++] = resolve(*op.symbol, ctx);
        break;
      case OpCode::Slot:
        st[sp++] = slots[op.slot];
        break;
      case OpCode::Not:
      case OpCode::Neg:
      case OpCode::BitNot:
        st[sp - 1] = applyUnary(op.code, st[sp - 1]);
        break;
      default:
        --sp;
        st[sp - 1] = applyBinary(op.code, st[sp - 1], st[sp]);
        break;
    }
  }
  if (code.underflow || sp == 0) {
    return 0.0;
  }
  return st[sp - 1];
}

double ExpressionEvaluator::runMaterialised(const Postfix& code, const double* slots,
                                            Context& ctx) {
  // A negative call result where its "-" would be read as a binary minus (or would wait for a
  // later operand): re-read the text with the result texts in place, as literal rewriting does.
  QString text;
  text.reserve(code.templateText.size() + 16);
  std::size_t next = 0;
  for (const QChar c : code.templateText) {
    if (c.unicode() == kPlaceholder && next < code.placeholderSlots.size()) {
      text.append(callResultText(slots[code.placeholderSlots[next++]]));
    } else {
      text.append(c);
    }
  }
  const Postfix reread = compilePostfix(text, symbols_, {});
  return runPostfix(reread, nullptr, ctx);
}

double ExpressionEvaluator::rewriteAndRun(QStringView text, Context& ctx) {
  ctx.work += static_cast<std::size_t>(text.size());
  RewriteHandler handler(*this, ctx);
  const QString rewritten = scanCalls(text, handler);
  const Postfix code = compilePostfix(rewritten, symbols_, {});
  return runPostfix(code, nullptr, ctx);
}

double ExpressionEvaluator::resolve(Symbol& symbol, Context& ctx) {
  if (symbol.generation != generation_) {
    symbol.generation = generation_;
    const QString* text = ctx.view ? ctx.view->namedExpression(symbol.name) : nullptr;
    symbol.isNamed = text != nullptr;
    symbol.namedText = text ? *text : QString();
    symbol.named.reset();
  }
  if (!symbol.isNamed) {
    return ctx.host.getValue(symbol.name);
  }
  // Bounds for definitions that refer to themselves (directly or through others), nest too
  // deeply, or multiply work through shared references: such a name evaluates to NaN, the
  // value a log shows for "no value", and evaluation continues.
  if (symbol.active || ctx.depth >= kMaxNamedDepth || ctx.work > kWorkBudget) {
    return kNaN;
  }
  if (!ctx.rewriteOnly && !symbol.named) {
    symbol.named = compiled(symbol.namedText);
  }
  symbol.active = true;
  ++ctx.depth;
  const double value =
      ctx.rewriteOnly ? rewriteAndRun(symbol.namedText, ctx) : run(*symbol.named, ctx);
  --ctx.depth;
  symbol.active = false;
  return value;
}

double evaluate(const QString& text, const ExpressionHost& host, ExpressionState* state) {
  ExpressionEvaluator evaluator;
  return evaluator.evaluate(text, host, state);
}

}  // namespace tk::expr
