#pragma once

#include <QHash>
#include <QString>
#include <vector>

#include "definition/ecu_definition.h"
#include "expr/expression_host.h"

namespace tk::expr {

/// The expression engine's view of a parsed ECU definition, which must outlive the view and not
/// change while it is viewed: named expressions are its computed channels, channels by offset
/// its declared output channels, and arrays the default values of its constant extensions.
class EcuDefinitionView : public DefinitionView {
 public:
  /// Indexes the definition's arrays.
  explicit EcuDefinitionView(const EcuDefinition& definition);

  /// The computed channel's expression text (ExpressionDefinitions), exact name.
  const QString* namedExpression(const QString& name) const override;
  /// The first declared output channel, in definition order, whose Offset equals offset;
  /// computed channels (which all sit at offset 0) are skipped.
  std::optional<ChannelAttributes> channelAtOffset(int offset) const override;
  /// Element index of the array given by the last "defaultValue" extension of that constant:
  /// its number list, or else the numbers of its value text separated by blanks or commas.
  std::optional<double> arrayElement(const QString& name, int index) const override;

 private:
  const EcuDefinition& definition_;
  QHash<QString, std::vector<double>> arrays_;
};

}  // namespace tk::expr
