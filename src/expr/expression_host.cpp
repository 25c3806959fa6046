#include "expr/expression_host.h"

#include <atomic>

namespace tk::expr {
namespace {

quint64 nextSerial() {
  static std::atomic<quint64> counter{0};
  return ++counter;
}

}  // namespace

DefinitionView::DefinitionView() : serial_(nextSerial()) {}

DefinitionView::DefinitionView(const DefinitionView&) : serial_(nextSerial()) {}

DefinitionView& DefinitionView::operator=(const DefinitionView&) {
  serial_ = nextSerial();
  return *this;
}

DefinitionView::~DefinitionView() = default;

quint64 DefinitionView::revision() const { return 0; }

ExpressionHost::~ExpressionHost() = default;

std::optional<QString> ExpressionHost::textValue(const QString&) const { return std::nullopt; }

}  // namespace tk::expr
