#include "conformance/dump_dashboard.h"

#include "dashboard/layout_writer.h"
#include "json/json_writer.h"

namespace tk::conformance {
namespace {

// Widget type codes of this layout. Only 13 (graph) means something to the writer; the others
// are arbitrary distinct numbers, the gauge keeping the default 1.
constexpr int kReadout = 2;
constexpr int kBar = 3;
constexpr int kChannelList = 5;
constexpr int kScalarList = 6;
constexpr int kImage = 7;
constexpr int kText = 8;
constexpr int kTable = 9;

DashboardWidget gauge() {
  return {
      .id = QStringLiteral("w-gauge"),
      .channel = QStringLiteral("rpm"),
      .title = QStringLiteral("Engine Speed"),
      .x = 20,
      .y = 20,
      .width = 400,
      .height = 400,
      .zIndex = 2,
      .isLocked = true,
      .max = 8000,
      .lowCritical = 300,
      .lowWarning = 600,
      .highWarning = 6500,
      .highCritical = 7200,
      .units = QStringLiteral("RPM"),
      .decimalPlaces = 0,
      .thresholds = {{.value = 6500, .color = QStringLiteral("#FFC107"), .comparison = 1},
                     {.value = 7200, .comparison = 2}},
      .audioAlertEnabled = true,
      .audioAlertPath = QStringLiteral("sounds/overrev.wav"),
      .audioAlertThreshold = 7000,
      .audioAlertRepeat = true,
      .audioAlertRepeatIntervalSeconds = 2.5,
      .gaugeBackgroundImagePath = QStringLiteral("gauges/face.png"),
      .gaugeNeedleImagePath = QStringLiteral("gauges/needle.png"),
      .gaugeFaceColor = QStringLiteral("#101010"),
      .gaugeNeedleColor = QStringLiteral("#FF4500"),
      .gaugeTickColor = QStringLiteral("#EEEEEE"),
      .gaugeArcColor = QStringLiteral("#555555"),
      .gaugeStartAngle = 45,
      .gaugeEndAngle = 315,
      .gaugeShowTitle = false,
      .gaugeShowValue = false,
      .gaugeShowTicks = false,
      .gaugeMajorTicks = 8,
      .gaugeMinorTicks = 4,
      .gaugeFlashOnCritical = false,
      .gaugeNeedleOrientation = 1,
      .gaugeNeedlePivotOffsetX = 1.5,
      .gaugeNeedlePivotOffsetY = -2.25,
      .gaugeNeedleScaleX = 90,
      .gaugeNeedleScaleY = 110,
      .gaugeBackgroundOffsetX = -4,
      .gaugeBackgroundOffsetY = 3.5,
      .gaugeBackgroundScaleX = 95.5,
      .gaugeBackgroundScaleY = 105,
  };
}

DashboardWidget readout() {
  return {
      .id = QStringLiteral("w-readout"),
      .widgetType = kReadout,
      .channel = QStringLiteral("afr"),
      .title = QStringLiteral("AFR"),
      .x = 440,
      .y = 20,
      .width = 200,
      .height = 100,
      .foregroundColor = QStringLiteral("#00FFAA"),
      .backgroundColor = QStringLiteral("#000000"),
      .borderColor = QStringLiteral("#222222"),
      .fontSize = 36,
      .min = 10,
      .max = 20,
      .lowWarning = 11.5,
      .highCritical = 16,
      .warningColor = QStringLiteral("#FFA500"),
      .criticalColor = QStringLiteral("#DD0000"),
      .units = QStringLiteral("AFR"),
      .decimalPlaces = 2,
      .audioAlertEnabled = true,
      .audioAlertPath = QStringLiteral("sounds/lean.wav"),
      .audioAlertThreshold = 10.5,
      .audioAlertAboveThreshold = false,
      .useStaticText = false,
      .fontFamily = QStringLiteral("Roboto Mono"),
      .fontWeight = QStringLiteral("Bold"),
      .textAlignment = QStringLiteral("Right"),
      .verticalTextAlignment = QStringLiteral("Top"),
  };
}

DashboardWidget bar() {
  return {
      .id = QStringLiteral("w-bar"),
      .widgetType = kBar,
      .channel = QStringLiteral("tps"),
      .title = QStringLiteral("Throttle"),
      .x = 660,
      .y = 20,
      .width = 60,
      .height = 300,
      .highWarning = 90,
      .units = QStringLiteral("%"),
      .barDirection = 1,
      .barEndImagePath = QStringLiteral("bars/end.png"),
      .barBackgroundImagePath = QStringLiteral("bars/track.png"),
      .barFillColor = QStringLiteral("#4ADE80"),
      .barTrackColor = QStringLiteral("#1F1F1F"),
      .barFillOpacity = 0.85,
      .barTrackOpacity = 0.4,
  };
}

// The trend indicator is the graph widget: the only one whose graph members are written. It
// also carries the on/off indicator members.
DashboardWidget trendIndicator() {
  return {
      .id = QStringLiteral("w-ti"),
      .widgetType = kGraphWidgetType,
      .channel = QStringLiteral("launchStatus"),
      .title = QStringLiteral("Launch trend"),
      .graphChannels = {QStringLiteral("rpm"), QStringLiteral("map"), QStringLiteral("afr")},
      .graphWindowSeconds = 60,
      .x = 740,
      .y = 20,
      .width = 500,
      .height = 220,
      .isClickThrough = true,
      .onText = QStringLiteral("LAUNCH"),
      .offText = QStringLiteral("ready"),
      .onColor = QStringLiteral("#00AAFF"),
      .offColor = QStringLiteral("#303030"),
      .bitStringList = QStringLiteral("Off,Armed,Active"),
      .bitStringChannel = QStringLiteral("launchBits"),
  };
}

// Placed in percent of the canvas; its text needs escaping in JSON.
DashboardWidget text() {
  return {
      .id = QStringLiteral("w-text"),
      .widgetType = kText,
      .title = QStringLiteral("Label"),
      .x = 50,
      .y = 5,
      .width = 25,
      .height = 8,
      .usePercentagePosition = true,
      .staticText = QStringLiteral("Boost <psi> & 'gauge'"),
      .fontFamily = QStringLiteral("Inter Display"),
      .fontWeight = QStringLiteral("SemiBold"),
      .textAlignment = QStringLiteral("Left"),
      .verticalTextAlignment = QStringLiteral("Bottom"),
  };
}

// The three kinds of rows: no table link, an empty link and a real one.
DashboardWidget channelList() {
  const QString celsius = QStringLiteral("\u00B0C");
  return {
      .id = QStringLiteral("w-cl"),
      .widgetType = kChannelList,
      .title = QStringLiteral("Temperatures"),
      .x = 20,
      .y = 20,
      .width = 320,
      .height = 240,
      .channelListItems = {{.channelName = QStringLiteral("clt"),
                            .displayName = QStringLiteral("Coolant"),
                            .units = celsius,
                            .warningLow = 10,
                            .warningHigh = 105},
                           {.channelName = QStringLiteral("iat"),
                            .displayName = QStringLiteral("Intake air"),
                            .units = celsius,
                            .decimalPlaces = 0,
                            .warningLow = -10,
                            .warningHigh = 60,
                            .tableOrCurveId = QString()},
                           {.channelName = QStringLiteral("ve"),
                            .displayName = QStringLiteral("VE"),
                            .units = QStringLiteral("%"),
                            .decimalPlaces = 0,
                            .tableOrCurveId = QStringLiteral("veTable1Tbl")}},
  };
}

DashboardWidget scalarList() {
  return {
      .id = QStringLiteral("w-sl"),
      .widgetType = kScalarList,
      .title = QStringLiteral("Fuel setup"),
      .x = 360,
      .y = 20,
      .width = 320,
      .height = 160,
      .scalarListItems = {{.fieldName = QStringLiteral("reqFuel"),
                           .displayName = QStringLiteral("Required fuel"),
                           .units = QStringLiteral("ms"),
                           .digits = 2},
                          {.fieldName = QStringLiteral("injLayout"),
                           .displayName = QStringLiteral("Injector layout"),
                           .isBitfield = true}},
      .scalarListUseStringValue = true,
      .scalarListShowDisplayName = true,
  };
}

DashboardWidget image() {
  return {
      .id = QStringLiteral("w-img"),
      .widgetType = kImage,
      .channel = QStringLiteral("fanStatus"),
      .title = QStringLiteral("Fan"),
      .x = 700,
      .y = 20,
      .width = 128,
      .height = 128,
      .imageStates = {{.imagePath = QStringLiteral("img/fan-off.png")},
                      {.imagePath = QStringLiteral("img/fan-on.gif"),
                       .threshold = 0.5,
                       .order = 1}},
      .loopGif = false,
      .isStaticImage = true,
      .staticImagePath = QStringLiteral("img/logo.png"),
      .imageStretch = 2,
  };
}

DashboardWidget table() {
  return {
      .id = QStringLiteral("w-table"),
      .widgetType = kTable,
      .title = QStringLiteral("VE Table"),
      .x = 20,
      .y = 280,
      .width = 800,
      .height = 450,
      .tableOrCurveId = QStringLiteral("veTable1Tbl"),
  };
}

}  // namespace

DashboardLayout goldenDashLayout() {
  DashboardPage engine{
      .id = QStringLiteral("page-0001"),
      .title = QStringLiteral("Engine"),
      .canvasWidth = 1280,
      .canvasHeight = 720,
      .backgroundImagePath = QStringLiteral("backgrounds/carbon.png"),
      .backgroundStretchMode = 2,
      .widgets = {gauge(), readout(), bar(), trendIndicator(), text()},
      .channelLists = {{.id = QStringLiteral("cl-0001"),
                        .title = QStringLiteral("Sensors"),
                        .x = 1000,
                        .y = 260,
                        .width = 260,
                        .height = 400.25,
                        .channels = {QStringLiteral("rpm"), QStringLiteral("map"),
                                     QStringLiteral("clt")}}},
  };
  // The second page keeps the default canvas, shows no background and holds the table area.
  DashboardPage tables{
      .id = QStringLiteral("page-0002"),
      .title = QStringLiteral("Tables & Lists"),
      .useNoBackground = true,
      .widgets = {channelList(), scalarList(), image(), table()},
      .tableArea = TableArea{.x = 40, .y = 760, .width = 1200.5, .height = 300, .isVisible = false},
  };
  return {.name = QStringLiteral("GoldenDash"), .pages = {engine, tables}, .activePageIndex = 1};
}

int dumpDashboard(const QString& outPath) {
  return writeJsonFile(layoutToJson(goldenDashLayout()), outPath);
}

}  // namespace tk::conformance
