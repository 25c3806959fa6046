#pragma once

#include <QHash>
#include <QString>
#include <map>
#include <vector>

#include "expr/expression_host.h"

namespace tk::expr::test {

/// A definition view over plain tables.
class TableDefinitionView : public DefinitionView {
 public:
  QHash<QString, QString> named;
  std::map<int, ChannelAttributes> channels;
  QHash<QString, std::vector<double>> arrays;
  quint64 rev = 0;

  const QString* namedExpression(const QString& name) const override {
    const auto it = named.constFind(name);
    return it == named.cend() ? nullptr : &it.value();
  }
  std::optional<ChannelAttributes> channelAtOffset(int offset) const override {
    const auto it = channels.find(offset);
    return it == channels.end() ? std::nullopt : std::optional(it->second);
  }
  std::optional<double> arrayElement(const QString& name, int index) const override {
    const auto it = arrays.constFind(name);
    const bool inside = it != arrays.cend() && index >= 0 && std::size_t(index) < it->size();
    return inside ? std::optional(it->at(std::size_t(index))) : std::nullopt;
  }
  quint64 revision() const override { return rev; }
};

/// A host over a name -> value table.
class TableHost : public ExpressionHost {
 public:
  QHash<QString, double> values;
  const DefinitionView* view = nullptr;
  bool online = false;

  double getValue(const QString& name) const override { return values.value(name, 0.0); }
  const DefinitionView* definition() const override { return view; }
  bool isOnline() const override { return online; }
};

}  // namespace tk::expr::test
