#include "expr/ecu_definition_view.h"

#include <QRegularExpression>

namespace tk::expr {
namespace {

std::vector<double> arrayOf(const ConstantExtension& extension) {
  std::vector<double> values(extension.ArrayValues.cbegin(), extension.ArrayValues.cend());
  if (!values.empty()) {
    return values;
  }
  // Definitions commonly list the elements separated by blanks after a single comma
  // ("defaultValue = boardFuelOutputs, 4 4 8 4"), which leaves them in the value text.
  static const QRegularExpression separators(QStringLiteral("[\\s,]+"));
  for (const QString& item : extension.Value.split(separators, Qt::SkipEmptyParts)) {
    bool ok = false;
    const double v = item.toDouble(&ok);
    if (ok) {
      values.push_back(v);
    }
  }
  return values;
}

}  // namespace

EcuDefinitionView::EcuDefinitionView(const EcuDefinition& definition) : definition_(definition) {
  for (const ConstantExtension& extension : definition.ConstantExtensions) {
    if (extension.ExtensionType == ExtensionType::DefaultValue) {
      arrays_.insert(extension.ConstantName, arrayOf(extension));
    }
  }
}

const QString* EcuDefinitionView::namedExpression(const QString& name) const {
  const auto it = definition_.ExpressionDefinitions.constFind(name);
  return it == definition_.ExpressionDefinitions.cend() ? nullptr : &it.value();
}

std::optional<ChannelAttributes> EcuDefinitionView::channelAtOffset(int offset) const {
  for (const auto& [name, channel] : definition_.OutputChannels) {
    if (!channel.Expression && channel.Offset == offset) {
      return ChannelAttributes{name,           channel.Scale, channel.Translate,
                               channel.Digits, channel.Min,   channel.Max};
    }
  }
  return std::nullopt;
}

std::optional<double> EcuDefinitionView::arrayElement(const QString& name, int index) const {
  const auto it = arrays_.constFind(name);
  if (it == arrays_.cend() || index < 0 || static_cast<std::size_t>(index) >= it->size()) {
    return std::nullopt;
  }
  return it->at(static_cast<std::size_t>(index));
}

}  // namespace tk::expr
