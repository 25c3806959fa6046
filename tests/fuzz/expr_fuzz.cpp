// Evaluates arbitrary text twice, compiled (cached) and by literal rewriting, against a host whose
// definition has ordinary, self-referring and mutually referring named expressions. Any crash,
// hang or disagreement between the two evaluations is a finding.
#include <QHash>
#include <QString>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "expr/expression_evaluator.h"
#include "expr/expression_host.h"
#include "expr/expression_state.h"

namespace {

using namespace tk::expr;

class FuzzView : public DefinitionView {
 public:
  FuzzView() {
    named_ = {{QStringLiteral("lambda"), QStringLiteral("afr / 14.7")},
              {QStringLiteral("self"), QStringLiteral("self + 1")},
              {QStringLiteral("ping"), QStringLiteral("pong * 2")},
              {QStringLiteral("pong"), QStringLiteral("abs(ping) - 1")},
              {QStringLiteral("neg"), QStringLiteral("min(-1, afr) 2")},
              {QStringLiteral("sm"), QStringLiteral("smoothfiltered(afr) + lastvalue(rpm)")}};
  }
  const QString* namedExpression(const QString& name) const override {
    const auto it = named_.constFind(name);
    return it == named_.cend() ? nullptr : &it.value();
  }
  std::optional<ChannelAttributes> channelAtOffset(int offset) const override {
    if (offset != 4) {
      return std::nullopt;
    }
    return ChannelAttributes{QStringLiteral("rpm"), 1.0, 0.0, 0, 0.0, 8000.0};
  }
  std::optional<double> arrayElement(const QString& name, int index) const override {
    if (name != QStringLiteral("outs") || index < 0 || index > 2) {
      return std::nullopt;
    }
    return index * -2.5;
  }

 private:
  QHash<QString, QString> named_;
};

class FuzzHost : public ExpressionHost {
 public:
  double getValue(const QString& name) const override {
    if (name == QStringLiteral("afr")) {
      return 13.2;
    }
    if (name == QStringLiteral("rpm")) {
      return 3500;
    }
    return name.size() % 2 ? -0.5 : 0.0;
  }
  const DefinitionView* definition() const override { return &view_; }
  bool isOnline() const override { return false; }

 private:
  FuzzView view_;
};

bool same(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) {
    return std::isnan(a) && std::isnan(b);
  }
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static FuzzHost host;
  static ExpressionEvaluator compiled;
  static ExpressionEvaluator rewriting;
  const QString text =
      QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  // Fresh states with the same history: stateful functions see the same memories.
  ExpressionState a;
  ExpressionState b;
  for (const double v : {1.0, -2.0}) {
    a.record(QStringLiteral("rpm"), v);
    b.record(QStringLiteral("rpm"), v);
  }
  const double viaCompiled = compiled.evaluate(text, host, &a);
  const double viaRewriting = rewriting.evaluateByRewriting(text, host, &b);
  if (!same(viaCompiled, viaRewriting)) {
    std::fprintf(stderr, "mismatch: compiled %.17g rewritten %.17g\n", viaCompiled, viaRewriting);
    std::abort();
  }
  return 0;
}
