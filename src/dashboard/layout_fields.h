#pragma once

// The JSON members of every layout record, in key order. The writer and the reader both walk
// these tables, so a key is spelled once and both directions agree on it.

#include <span>
#include <variant>

#include "dashboard/dashboard_layout.h"

namespace tk::detail {

/// A member of record R of any of the types a layout holds.
template <typename R>
using LayoutMember =
    std::variant<QString R::*, int R::*, double R::*, bool R::*, std::optional<QString> R::*,
                 std::optional<double> R::*, QStringList R::*, QList<WidgetThreshold> R::*,
                 QList<ChannelListItem> R::*, QList<ScalarListItem> R::*, QList<ImageState> R::*,
                 QList<DashboardWidget> R::*, std::optional<TableArea> R::*,
                 QList<ChannelListPanel> R::*, QList<DashboardPage> R::*>;

/// One JSON member: its key, the record member and, for conditional members, when it is written.
template <typename R>
struct LayoutField {
  const char* key;
  LayoutMember<R> member;
  bool (*writtenWhen)(const R&) = nullptr;
};

/// True for the graph widget, whose graph members are written.
constexpr bool isGraph(const DashboardWidget& w) { return w.widgetType == kGraphWidgetType; }

inline constexpr LayoutField<DashboardWidget> kWidgetFields[] = {
    {"id", &DashboardWidget::id},
    {"widgetType", &DashboardWidget::widgetType},
    {"channel", &DashboardWidget::channel},
    {"title", &DashboardWidget::title},
    {"graphChannels", &DashboardWidget::graphChannels, isGraph},
    {"graphWindowSeconds", &DashboardWidget::graphWindowSeconds, isGraph},
    {"x", &DashboardWidget::x},
    {"y", &DashboardWidget::y},
    {"width", &DashboardWidget::width},
    {"height", &DashboardWidget::height},
    {"usePercentagePosition", &DashboardWidget::usePercentagePosition},
    {"zIndex", &DashboardWidget::zIndex},
    {"isLocked", &DashboardWidget::isLocked},
    {"isClickThrough", &DashboardWidget::isClickThrough},
    {"foregroundColor", &DashboardWidget::foregroundColor},
    {"backgroundColor", &DashboardWidget::backgroundColor},
    {"borderColor", &DashboardWidget::borderColor},
    {"fontSize", &DashboardWidget::fontSize},
    {"min", &DashboardWidget::min},
    {"max", &DashboardWidget::max},
    {"lowCritical", &DashboardWidget::lowCritical},
    {"lowWarning", &DashboardWidget::lowWarning},
    {"highWarning", &DashboardWidget::highWarning},
    {"highCritical", &DashboardWidget::highCritical},
    {"warningColor", &DashboardWidget::warningColor},
    {"criticalColor", &DashboardWidget::criticalColor},
    {"units", &DashboardWidget::units},
    {"decimalPlaces", &DashboardWidget::decimalPlaces},
    {"thresholds", &DashboardWidget::thresholds},
    {"tableOrCurveId", &DashboardWidget::tableOrCurveId},
    {"onText", &DashboardWidget::onText},
    {"offText", &DashboardWidget::offText},
    {"onColor", &DashboardWidget::onColor},
    {"offColor", &DashboardWidget::offColor},
    {"bitStringList", &DashboardWidget::bitStringList},
    {"bitStringChannel", &DashboardWidget::bitStringChannel},
    {"channelListItems", &DashboardWidget::channelListItems},
    {"scalarListItems", &DashboardWidget::scalarListItems},
    {"scalarListUseStringValue", &DashboardWidget::scalarListUseStringValue},
    {"scalarListShowDisplayName", &DashboardWidget::scalarListShowDisplayName},
    {"imageStates", &DashboardWidget::imageStates},
    {"loopGif", &DashboardWidget::loopGif},
    {"isStaticImage", &DashboardWidget::isStaticImage},
    {"staticImagePath", &DashboardWidget::staticImagePath},
    {"audioAlertEnabled", &DashboardWidget::audioAlertEnabled},
    {"audioAlertPath", &DashboardWidget::audioAlertPath},
    {"audioAlertThreshold", &DashboardWidget::audioAlertThreshold},
    {"audioAlertAboveThreshold", &DashboardWidget::audioAlertAboveThreshold},
    {"audioAlertRepeat", &DashboardWidget::audioAlertRepeat},
    {"audioAlertRepeatIntervalSeconds", &DashboardWidget::audioAlertRepeatIntervalSeconds},
    {"imageStretch", &DashboardWidget::imageStretch},
    {"staticText", &DashboardWidget::staticText},
    {"useStaticText", &DashboardWidget::useStaticText},
    {"fontFamily", &DashboardWidget::fontFamily},
    {"fontWeight", &DashboardWidget::fontWeight},
    {"textAlignment", &DashboardWidget::textAlignment},
    {"verticalTextAlignment", &DashboardWidget::verticalTextAlignment},
    {"gaugeBackgroundImagePath", &DashboardWidget::gaugeBackgroundImagePath},
    {"gaugeNeedleImagePath", &DashboardWidget::gaugeNeedleImagePath},
    {"gaugeFaceColor", &DashboardWidget::gaugeFaceColor},
    {"gaugeNeedleColor", &DashboardWidget::gaugeNeedleColor},
    {"gaugeTickColor", &DashboardWidget::gaugeTickColor},
    {"gaugeArcColor", &DashboardWidget::gaugeArcColor},
    {"gaugeStartAngle", &DashboardWidget::gaugeStartAngle},
    {"gaugeEndAngle", &DashboardWidget::gaugeEndAngle},
    {"gaugeShowTitle", &DashboardWidget::gaugeShowTitle},
    {"gaugeShowValue", &DashboardWidget::gaugeShowValue},
    {"gaugeShowTicks", &DashboardWidget::gaugeShowTicks},
    {"gaugeMajorTicks", &DashboardWidget::gaugeMajorTicks},
    {"gaugeMinorTicks", &DashboardWidget::gaugeMinorTicks},
    {"gaugeFlashOnCritical", &DashboardWidget::gaugeFlashOnCritical},
    {"gaugeNeedleOrientation", &DashboardWidget::gaugeNeedleOrientation},
    {"gaugeNeedlePivotOffsetX", &DashboardWidget::gaugeNeedlePivotOffsetX},
    {"gaugeNeedlePivotOffsetY", &DashboardWidget::gaugeNeedlePivotOffsetY},
    {"gaugeNeedleScaleX", &DashboardWidget::gaugeNeedleScaleX},
    {"gaugeNeedleScaleY", &DashboardWidget::gaugeNeedleScaleY},
    {"gaugeBackgroundOffsetX", &DashboardWidget::gaugeBackgroundOffsetX},
    {"gaugeBackgroundOffsetY", &DashboardWidget::gaugeBackgroundOffsetY},
    {"gaugeBackgroundScaleX", &DashboardWidget::gaugeBackgroundScaleX},
    {"gaugeBackgroundScaleY", &DashboardWidget::gaugeBackgroundScaleY},
    {"barDirection", &DashboardWidget::barDirection},
    {"barEndImagePath", &DashboardWidget::barEndImagePath},
    {"barBackgroundImagePath", &DashboardWidget::barBackgroundImagePath},
    {"barFillColor", &DashboardWidget::barFillColor},
    {"barTrackColor", &DashboardWidget::barTrackColor},
    {"barFillOpacity", &DashboardWidget::barFillOpacity},
    {"barTrackOpacity", &DashboardWidget::barTrackOpacity},
};

inline constexpr LayoutField<WidgetThreshold> kThresholdFields[] = {
    {"value", &WidgetThreshold::value},
    {"color", &WidgetThreshold::color},
    {"comparison", &WidgetThreshold::comparison},
};

// isTableOrCurve follows these members; it is computed on output, not stored.
inline constexpr LayoutField<ChannelListItem> kChannelListItemFields[] = {
    {"channelName", &ChannelListItem::channelName},
    {"displayName", &ChannelListItem::displayName},
    {"units", &ChannelListItem::units},
    {"decimalPlaces", &ChannelListItem::decimalPlaces},
    {"warningLow", &ChannelListItem::warningLow},
    {"warningHigh", &ChannelListItem::warningHigh},
    {"tableOrCurveId", &ChannelListItem::tableOrCurveId},
};

inline constexpr LayoutField<ScalarListItem> kScalarListItemFields[] = {
    {"fieldName", &ScalarListItem::fieldName},   {"displayName", &ScalarListItem::displayName},
    {"units", &ScalarListItem::units},           {"digits", &ScalarListItem::digits},
    {"isBitfield", &ScalarListItem::isBitfield},
};

inline constexpr LayoutField<ImageState> kImageStateFields[] = {
    {"imagePath", &ImageState::imagePath},
    {"threshold", &ImageState::threshold},
    {"order", &ImageState::order},
};

inline constexpr LayoutField<TableArea> kTableAreaFields[] = {
    {"x", &TableArea::x},
    {"y", &TableArea::y},
    {"width", &TableArea::width},
    {"height", &TableArea::height},
    {"isVisible", &TableArea::isVisible},
};

inline constexpr LayoutField<ChannelListPanel> kChannelListPanelFields[] = {
    {"id", &ChannelListPanel::id},
    {"title", &ChannelListPanel::title},
    {"x", &ChannelListPanel::x},
    {"y", &ChannelListPanel::y},
    {"width", &ChannelListPanel::width},
    {"height", &ChannelListPanel::height},
    {"channels", &ChannelListPanel::channels},
};

inline constexpr LayoutField<DashboardPage> kPageFields[] = {
    {"id", &DashboardPage::id},
    {"title", &DashboardPage::title},
    {"canvasWidth", &DashboardPage::canvasWidth},
    {"canvasHeight", &DashboardPage::canvasHeight},
    {"backgroundImagePath", &DashboardPage::backgroundImagePath},
    {"backgroundStretchMode", &DashboardPage::backgroundStretchMode},
    {"useNoBackground", &DashboardPage::useNoBackground},
    {"widgets", &DashboardPage::widgets},
    {"tableArea", &DashboardPage::tableArea},
    {"channelLists", &DashboardPage::channelLists},
};

inline constexpr LayoutField<DashboardLayout> kLayoutFields[] = {
    {"name", &DashboardLayout::name},
    {"pages", &DashboardLayout::pages},
    {"activePageIndex", &DashboardLayout::activePageIndex},
};

/// The field table of a record type, chosen by overload.
constexpr std::span<const LayoutField<DashboardWidget>> fieldsOf(const DashboardWidget&) {
  return kWidgetFields;
}
constexpr std::span<const LayoutField<WidgetThreshold>> fieldsOf(const WidgetThreshold&) {
  return kThresholdFields;
}
constexpr std::span<const LayoutField<ChannelListItem>> fieldsOf(const ChannelListItem&) {
  return kChannelListItemFields;
}
constexpr std::span<const LayoutField<ScalarListItem>> fieldsOf(const ScalarListItem&) {
  return kScalarListItemFields;
}
constexpr std::span<const LayoutField<ImageState>> fieldsOf(const ImageState&) {
  return kImageStateFields;
}
constexpr std::span<const LayoutField<TableArea>> fieldsOf(const TableArea&) {
  return kTableAreaFields;
}
constexpr std::span<const LayoutField<ChannelListPanel>> fieldsOf(const ChannelListPanel&) {
  return kChannelListPanelFields;
}
constexpr std::span<const LayoutField<DashboardPage>> fieldsOf(const DashboardPage&) {
  return kPageFields;
}
constexpr std::span<const LayoutField<DashboardLayout>> fieldsOf(const DashboardLayout&) {
  return kLayoutFields;
}

}  // namespace tk::detail
