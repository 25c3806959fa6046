#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace tk {

// Every member of the layout records has an initializer, so that designated initializers may
// leave any of them out.

/// The widgetType of a graph widget, the only type whose graph members are written.
inline constexpr int kGraphWidgetType = 13;

/// A coloured mark on a widget's scale.
struct WidgetThreshold {
  double value = 0.0;
  // A threshold read without a colour is drawn like a critical limit, in the widgets' default
  // critical colour, rather than invisibly.
  QString color = QStringLiteral("#FF0000");
  int comparison = 0;

  bool operator==(const WidgetThreshold&) const = default;
};

/// One row of a channel-list widget.
struct ChannelListItem {
  QString channelName{};
  QString displayName{};
  QString units{};
  // Rows read without their own precision show one decimal, as a widget does by default.
  int decimalPlaces = 1;
  double warningLow = 0.0;
  double warningHigh = 0.0;
  std::optional<QString> tableOrCurveId{};

  bool operator==(const ChannelListItem&) const = default;
};

/// One row of a scalar-list widget.
struct ScalarListItem {
  QString fieldName{};
  QString displayName{};
  QString units{};
  int digits = 0;
  bool isBitfield = false;

  bool operator==(const ScalarListItem&) const = default;
};

/// One picture of an image widget, shown from its threshold on.
struct ImageState {
  QString imagePath{};
  std::optional<double> threshold{};
  int order = 0;

  bool operator==(const ImageState&) const = default;
};

/// One positioned widget; the members are in their JSON key order.
struct DashboardWidget {
  QString id{};
  int widgetType = 1;
  QString channel{};
  QString title{};
  QStringList graphChannels{};
  int graphWindowSeconds = 30;
  double x = 0.0;
  double y = 0.0;
  double width = 192.0;
  double height = 86.0;
  bool usePercentagePosition = false;
  int zIndex = 0;
  bool isLocked = false;
  bool isClickThrough = false;
  QString foregroundColor = QStringLiteral("#FFFFFF");
  QString backgroundColor = QStringLiteral("#2A2A2A");
  QString borderColor = QStringLiteral("#444444");
  double fontSize = 24.0;
  double min = 0.0;
  double max = 100.0;
  std::optional<double> lowCritical{};
  std::optional<double> lowWarning{};
  std::optional<double> highWarning{};
  std::optional<double> highCritical{};
  QString warningColor = QStringLiteral("#FFC107");
  QString criticalColor = QStringLiteral("#FF0000");
  QString units{};
  int decimalPlaces = 1;
  QList<WidgetThreshold> thresholds{};
  std::optional<QString> tableOrCurveId{};
  QString onText = QStringLiteral("ON");
  QString offText = QStringLiteral("OFF");
  QString onColor = QStringLiteral("#00FF00");
  QString offColor = QStringLiteral("#666666");
  std::optional<QString> bitStringList{};
  std::optional<QString> bitStringChannel{};
  QList<ChannelListItem> channelListItems{};
  QList<ScalarListItem> scalarListItems{};
  bool scalarListUseStringValue = false;
  bool scalarListShowDisplayName = false;
  QList<ImageState> imageStates{};
  bool loopGif = true;
  bool isStaticImage = false;
  QString staticImagePath{};
  bool audioAlertEnabled = false;
  QString audioAlertPath{};
  double audioAlertThreshold = 0.0;
  bool audioAlertAboveThreshold = true;
  bool audioAlertRepeat = false;
  double audioAlertRepeatIntervalSeconds = 5.0;
  int imageStretch = 0;
  QString staticText = QStringLiteral("Text");
  bool useStaticText = true;
  QString fontFamily = QStringLiteral("Inter");
  QString fontWeight = QStringLiteral("Normal");
  QString textAlignment = QStringLiteral("Center");
  QString verticalTextAlignment = QStringLiteral("Center");
  std::optional<QString> gaugeBackgroundImagePath{};
  std::optional<QString> gaugeNeedleImagePath{};
  QString gaugeFaceColor = QStringLiteral("#3A3A3A");
  QString gaugeNeedleColor = QStringLiteral("#FF0000");
  QString gaugeTickColor = QStringLiteral("#FFFFFF");
  QString gaugeArcColor = QStringLiteral("#444444");
  double gaugeStartAngle = 30.0;
  double gaugeEndAngle = 330.0;
  bool gaugeShowTitle = true;
  bool gaugeShowValue = true;
  bool gaugeShowTicks = true;
  int gaugeMajorTicks = 5;
  int gaugeMinorTicks = 2;
  bool gaugeFlashOnCritical = true;
  int gaugeNeedleOrientation = 0;
  double gaugeNeedlePivotOffsetX = 0.0;
  double gaugeNeedlePivotOffsetY = 0.0;
  double gaugeNeedleScaleX = 100.0;
  double gaugeNeedleScaleY = 100.0;
  double gaugeBackgroundOffsetX = 0.0;
  double gaugeBackgroundOffsetY = 0.0;
  double gaugeBackgroundScaleX = 100.0;
  double gaugeBackgroundScaleY = 100.0;
  int barDirection = 0;
  std::optional<QString> barEndImagePath{};
  std::optional<QString> barBackgroundImagePath{};
  QString barFillColor = QStringLiteral("#22D3EE");
  QString barTrackColor = QStringLiteral("#333333");
  double barFillOpacity = 1.0;
  double barTrackOpacity = 1.0;

  bool operator==(const DashboardWidget&) const = default;
};

}  // namespace tk
