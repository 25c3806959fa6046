#pragma once

#include <QHash>
#include <QMap>
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
    if (it == channels.end()) {
      return std::nullopt;
    }
    return it->second;
  }
  std::optional<double> arrayElement(const QString& name, int index) const override {
    const auto it = arrays.constFind(name);
    if (it == arrays.cend() || index < 0 || static_cast<std::size_t>(index) >= it->size()) {
      return std::nullopt;
    }
    return it->at(static_cast<std::size_t>(index));
  }
  quint64 revision() const override { return rev; }
};

/// A host over a name -> value table; counts value lookups.
class TableHost : public ExpressionHost {
 public:
  QHash<QString, double> values;
  const DefinitionView* view = nullptr;
  bool online = false;
  mutable int lookups = 0;

  double getValue(const QString& name) const override {
    ++lookups;
    return values.value(name, 0.0);
  }
  const DefinitionView* definition() const override { return view; }
  bool isOnline() const override { return online; }
};

}  // namespace tk::expr::test
