#pragma once

#include <QString>
#include <optional>

namespace tk::expr {

/// Attributes of a declared output channel as the getchannel...byoffset functions report them.
struct ChannelAttributes {
  QString name;
  double scale = 1.0;
  double translate = 0.0;
  int digits = 0;
  double minimum = 0.0;
  double maximum = 0.0;

  bool operator==(const ChannelAttributes&) const = default;
};

/// The parts of an ECU definition the expression engine reads: named expressions (computed
/// channels), declared output channels by realtime offset, and arrays.
class DefinitionView {
 public:
  /// Takes a serial number no other view of this process has.
  DefinitionView();
  /// A copy is another view: it gets its own serial number.
  DefinitionView(const DefinitionView&);
  DefinitionView& operator=(const DefinitionView&);
  virtual ~DefinitionView();
  /// Expression text of the named expression called exactly name, or null when there is none.
  /// The pointer stays valid and unchanged until revision() changes.
  virtual const QString* namedExpression(const QString& name) const = 0;
  /// The declared (not computed) output channel starting at this realtime-block byte offset.
  virtual std::optional<ChannelAttributes> channelAtOffset(int offset) const = 0;
  /// Element index of the definition array called name; empty when unknown or out of range.
  virtual std::optional<double> arrayElement(const QString& name, int index) const = 0;
  /// Changes whenever namedExpression() may answer differently; engines drop resolved names then.
  virtual quint64 revision() const;
  /// The view's serial number: engines tell views apart by it, never by address.
  quint64 serial() const { return serial_; }

 private:
  quint64 serial_;
};

/// Supplies variable values, the definition and the on-line status to the expression engine.
class ExpressionHost {
 public:
  virtual ~ExpressionHost();
  /// Current value of a channel or variable; 0 for unknown names.
  virtual double getValue(const QString& name) const = 0;
  /// The definition for named expressions, output channels and arrays, or null.
  virtual const DefinitionView* definition() const = 0;
  /// Whether a controller is connected.
  virtual bool isOnline() const = 0;
  /// Text of a text-valued variable (e.g. a string constant) when the host has one; the default
  /// host has none. The numeric engine never reads it.
  virtual std::optional<QString> textValue(const QString& name) const;
};

}  // namespace tk::expr
