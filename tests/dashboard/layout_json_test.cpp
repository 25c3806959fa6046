#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "dashboard/layout_printer.h"
#include "dashboard/layout_reader.h"
#include "dashboard/layout_writer.h"
#include "json/json_writer.h"
#include "support/test_support.h"

namespace tk {
namespace {

using Members = std::vector<std::pair<const char*, JsonValue>>;

JsonValue object(const Members& members) {
  JsonValue o = JsonValue::object();
  for (const auto& [key, value] : members) {
    o.insert(QLatin1String(key), value);
  }
  return o;
}

// A layout whose one page holds w, given one default row of each kind it lacks so that every
// rule has an object to act on.
DashboardLayout withWidget(DashboardWidget w, DashboardPage page = {}) {
  if (w.channelListItems.isEmpty()) {
    w.channelListItems = {ChannelListItem{}};
  }
  if (w.imageStates.isEmpty()) {
    w.imageStates = {ImageState{}};
  }
  page.widgets = {w};
  return {.pages = {page}};
}

// The first object reached by following the first element of each named array member.
const JsonValue& objectAt(const JsonValue& root, const std::vector<const char*>& path) {
  const JsonValue* v = &root;
  for (const char* key : path) {
    v = &v->find(QLatin1String(key))->elements().front();
  }
  return *v;
}

TEST(LayoutJsonTest, DefaultsAreTheDocumentedOnesInBothDirections) {
  const QByteArray input =
      R"({"pages": [{"widgets": [{"thresholds": [{}], "channelListItems": [{}],
          "scalarListItems": [{}], "imageStates": [{}]}], "tableArea": {},
          "channelLists": [{}]}]})";
  DashboardWidget widget;
  widget.thresholds = {WidgetThreshold{}};
  widget.channelListItems = {ChannelListItem{}};
  widget.scalarListItems = {ScalarListItem{}};
  widget.imageStates = {ImageState{}};
  DashboardLayout expected;
  expected.pages = {DashboardPage{
      .widgets = {widget}, .tableArea = TableArea{}, .channelLists = {ChannelListPanel{}}}};
  EXPECT_EQ(layoutFromJson(input), expected);
  EXPECT_TRUE(test::matchesGolden(serialize(layoutToJson(expected)) + '\n',
                                  QStringLiteral("dashboard/defaults.json")));
}

struct OmissionCase {
  DashboardLayout layout;
  std::vector<const char*> path;  // from the layout to the object the rule acts on
  const char* after;              // the member that new members follow
  Members members;                // written members: new ones, or changed values of others
};

TEST(LayoutJsonTest, OptionalMembersAreWrittenOnlyWhenPresentAndInTheirPlace) {
  const std::vector<const char*> kPage = {"pages"};
  const std::vector<const char*> kWidget = {"pages", "widgets"};
  const std::vector<const char*> kRow = {"pages", "widgets", "channelListItems"};
  const QString t = QStringLiteral("t");
  const JsonValue area =
      object({{"x", 1.0}, {"y", 2.0}, {"width", 3.0}, {"height", 4.5}, {"isVisible", false}});
  const std::vector<const char*> kImage = {"pages", "widgets", "imageStates"};
  // clang-format off
  const OmissionCase cases[] = {
      {withWidget({}, {.backgroundImagePath = t}), kPage, "canvasHeight",
       {{"backgroundImagePath", "t"}}},
      {withWidget({}, {.tableArea = TableArea{1, 2, 3, 4.5, false}}), kPage, "widgets",
       {{"tableArea", area}}},
      {withWidget({.widgetType = 13}), kWidget, "title",
       {{"widgetType", 13}, {"graphChannels", JsonValue::array()}, {"graphWindowSeconds", 30}}},
      // Graph members of another type are left out even when set.
      {withWidget({.widgetType = 12, .graphChannels = {t}, .graphWindowSeconds = 10}), kWidget,
       "title", {{"widgetType", 12}}},
      {withWidget({.lowCritical = 0.0}), kWidget, "max", {{"lowCritical", 0.0}}},
      {withWidget({.lowWarning = -1.5}), kWidget, "max", {{"lowWarning", -1.5}}},
      {withWidget({.highWarning = 90}), kWidget, "max", {{"highWarning", 90.0}}},
      {withWidget({.highCritical = 95}), kWidget, "max", {{"highCritical", 95.0}}},
      {withWidget({.tableOrCurveId = QString()}), kWidget, "thresholds", {{"tableOrCurveId", ""}}},
      {withWidget({.bitStringList = t}), kWidget, "offColor", {{"bitStringList", "t"}}},
      {withWidget({.bitStringChannel = t}), kWidget, "offColor", {{"bitStringChannel", "t"}}},
      {withWidget({.gaugeBackgroundImagePath = t}), kWidget, "verticalTextAlignment",
       {{"gaugeBackgroundImagePath", "t"}}},
      {withWidget({.gaugeNeedleImagePath = t}), kWidget, "verticalTextAlignment",
       {{"gaugeNeedleImagePath", "t"}}},
      {withWidget({.barEndImagePath = t}), kWidget, "barDirection", {{"barEndImagePath", "t"}}},
      {withWidget({.barBackgroundImagePath = t}), kWidget, "barDirection",
       {{"barBackgroundImagePath", "t"}}},
      {withWidget({.channelListItems = {{.tableOrCurveId = QString()}}}), kRow, "warningHigh",
       {{"tableOrCurveId", ""}}},
      {withWidget({.channelListItems = {{.tableOrCurveId = t}}}), kRow, "warningHigh",
       {{"tableOrCurveId", "t"}, {"isTableOrCurve", true}}},
      {withWidget({.imageStates = {{.threshold = 0.0}}}), kImage, "imagePath",
       {{"threshold", 0.0}}}};
  // clang-format on
  const JsonValue base = layoutToJson(withWidget({}));
  for (const OmissionCase& c : cases) {
    SCOPED_TRACE(c.members.front().first);
    JsonValue::Object expected = objectAt(base, c.path).members();
    auto at = std::find_if(expected.begin(), expected.end(),
                           [&](const auto& m) { return m.first == QLatin1String(c.after); });
    ASSERT_NE(at, expected.end());
    for (const auto& [key, value] : c.members) {
      auto same = std::find_if(expected.begin(), expected.end(),
                               [&](const auto& m) { return m.first == QLatin1String(key); });
      if (same != expected.end()) {
        same->second = value;
      } else {
        at = expected.insert(at + 1, {QLatin1String(key), value});
      }
    }
    // Compared as values, so an integer member written as a double is caught too.
    const JsonValue written = objectAt(layoutToJson(c.layout), c.path);
    EXPECT_TRUE(written == JsonValue(expected))
        << serialize(written).toStdString() << "\nexpected\n"
        << serialize(JsonValue(expected)).toStdString();
  }
}

TEST(LayoutJsonTest, ReaderTakesUsableMembersAndKeepsDefaultsForTheRest) {
  struct Case {
    const char* json;
    std::function<void(DashboardLayout&)> expect;  // applied to the default layout
  };
  const Case cases[] = {
      {"{}", [](auto&) {}},
      {R"({"name": 5, "pages": {}, "activePageIndex": "1", "extra": 1})", [](auto&) {}},
      {R"({"activePageIndex": 2.5})", [](auto&) {}},
      {R"({"activePageIndex": 3000000000})", [](auto&) {}},
      {R"({"activePageIndex": -2, "name": ""})",
       [](auto& l) {
         l.activePageIndex = -2;
         l.name.clear();
       }},
      {R"({"pages": [1, "x", {"id": "p"}, null, []]})",
       [](auto& l) { l.pages = {DashboardPage{.id = QStringLiteral("p")}}; }},
      {R"({"pages": [{"backgroundImagePath": null, "tableArea": 5, "canvasWidth": "9",
           "widgets": [{"lowCritical": null, "highCritical": "7", "tableOrCurveId": 3,
                        "zIndex": true, "isLocked": 1}]}]})",
       [](auto& l) { l.pages = {DashboardPage{.widgets = {DashboardWidget{}}}}; }},
      {R"({"pages": [{"tableArea": {"width": 10}, "canvasHeight": 0.5,
           "widgets": [{"tableOrCurveId": "", "lowWarning": 0, "zIndex": -3}]}]})",
       [](auto& l) {
         DashboardWidget w{.zIndex = -3, .lowWarning = 0.0, .tableOrCurveId = QString()};
         l.pages = {DashboardPage{
             .canvasHeight = 0.5, .widgets = {w}, .tableArea = TableArea{.width = 10}}};
       }},
      // Graph members are stored whatever the type; only the writer looks at it.
      {R"({"pages": [{"widgets": [{"graphChannels": ["rpm", 7, "map"], "graphWindowSeconds": 5}],
           "channelLists": [{"channels": ["a", null]}]}]})",
       [](auto& l) {
         DashboardWidget w{.graphChannels = {QStringLiteral("rpm"), QStringLiteral("map")},
                           .graphWindowSeconds = 5};
         l.pages = {
             DashboardPage{.widgets = {w}, .channelLists = {{.channels = {QStringLiteral("a")}}}}};
       }},
      {R"({"pages": [{"widgets": [{"channelListItems": [{"isTableOrCurve": true}]}]}]})",
       [](auto& l) {
         l.pages = {DashboardPage{.widgets = {DashboardWidget{.channelListItems = {{}}}}}};
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json);
    DashboardLayout expected;
    c.expect(expected);
    EXPECT_EQ(layoutFromJson(c.json), expected);
  }
}

TEST(LayoutJsonTest, ReaderRefusesTextThatIsNoJsonObject) {
  const QString prefix = QStringLiteral("Failed to parse dashboard layout: ");
  for (const char* text : {"", "{", "{\"name\": }", "[]", "[{}]", "42"}) {
    SCOPED_TRACE(text);
    const QString message = test::thrownMessage<LayoutReadError>([&] { layoutFromJson(text); });
    EXPECT_TRUE(message.startsWith(prefix)) << message.toStdString();
    EXPECT_GT(message.size(), prefix.size());
    if (QByteArray(text).startsWith('[')) {
      EXPECT_EQ(message, prefix + QStringLiteral("not a JSON object"));
    }
  }
}

}  // namespace
}  // namespace tk
