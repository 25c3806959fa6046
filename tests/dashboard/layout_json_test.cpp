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

// One page holding one default widget with one default row of each kind where a rule needs it.
DashboardLayout baseLayout() {
  DashboardWidget widget;
  widget.channelListItems = {ChannelListItem{}};
  widget.imageStates = {ImageState{}};
  DashboardPage page;
  page.widgets = {widget};
  DashboardLayout layout;
  layout.pages = {page};
  return layout;
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
  const char* rule;
  std::function<void(DashboardLayout&)> set;
  std::vector<const char*> path;  // from the layout to the object the rule acts on
  const char* after;              // the member the written members follow
  Members added;
  Members changed;
};

TEST(LayoutJsonTest, OptionalMembersAreWrittenOnlyWhenPresentAndInTheirPlace) {
  auto widget = [](auto f) { return [f](DashboardLayout& l) { f(l.pages[0].widgets[0]); }; };
  const std::vector<const char*> kPage = {"pages"};
  const std::vector<const char*> kWidget = {"pages", "widgets"};
  const std::vector<const char*> kItem = {"pages", "widgets", "channelListItems"};
  const OmissionCase cases[] = {
      {"page background",
       [](auto& l) { l.pages[0].backgroundImagePath = QStringLiteral("bg.png"); },
       kPage,
       "canvasHeight",
       {{"backgroundImagePath", "bg.png"}},
       {}},
      {"table area",
       [](auto& l) {
         l.pages[0].tableArea = TableArea{1, 2, 3, 4.5, false};
       },
       kPage,
       "widgets",
       {{"tableArea",
         object({{"x", 1.0}, {"y", 2.0}, {"width", 3.0}, {"height", 4.5}, {"isVisible", false}})}},
       {}},
      {"graph members of a graph",
       widget([](auto& w) { w.widgetType = 13; }),
       kWidget,
       "title",
       {{"graphChannels", JsonValue::array()}, {"graphWindowSeconds", 30}},
       {{"widgetType", 13}}},
      {"no graph members for other types",
       widget([](auto& w) {
         w.widgetType = 12;
         w.graphChannels = {QStringLiteral("rpm")};
         w.graphWindowSeconds = 10;
       }),
       kWidget,
       "title",
       {},
       {{"widgetType", 12}}},
      {"lowCritical zero",
       widget([](auto& w) { w.lowCritical = 0.0; }),
       kWidget,
       "max",
       {{"lowCritical", 0.0}},
       {}},
      {"lowWarning",
       widget([](auto& w) { w.lowWarning = -1.5; }),
       kWidget,
       "max",
       {{"lowWarning", -1.5}},
       {}},
      {"highWarning",
       widget([](auto& w) { w.highWarning = 90.0; }),
       kWidget,
       "max",
       {{"highWarning", 90.0}},
       {}},
      {"highCritical",
       widget([](auto& w) { w.highCritical = 95.0; }),
       kWidget,
       "max",
       {{"highCritical", 95.0}},
       {}},
      {"widget table id, empty",
       widget([](auto& w) { w.tableOrCurveId = QString(); }),
       kWidget,
       "thresholds",
       {{"tableOrCurveId", ""}},
       {}},
      {"bit string list",
       widget([](auto& w) { w.bitStringList = QStringLiteral("a,b"); }),
       kWidget,
       "offColor",
       {{"bitStringList", "a,b"}},
       {}},
      {"bit string channel",
       widget([](auto& w) { w.bitStringChannel = QStringLiteral("st"); }),
       kWidget,
       "offColor",
       {{"bitStringChannel", "st"}},
       {}},
      {"gauge background",
       widget([](auto& w) { w.gaugeBackgroundImagePath = QStringLiteral("g"); }),
       kWidget,
       "verticalTextAlignment",
       {{"gaugeBackgroundImagePath", "g"}},
       {}},
      {"gauge needle",
       widget([](auto& w) { w.gaugeNeedleImagePath = QStringLiteral("n"); }),
       kWidget,
       "verticalTextAlignment",
       {{"gaugeNeedleImagePath", "n"}},
       {}},
      {"bar end image",
       widget([](auto& w) { w.barEndImagePath = QStringLiteral("e"); }),
       kWidget,
       "barDirection",
       {{"barEndImagePath", "e"}},
       {}},
      {"bar background",
       widget([](auto& w) { w.barBackgroundImagePath = QStringLiteral("b"); }),
       kWidget,
       "barDirection",
       {{"barBackgroundImagePath", "b"}},
       {}},
      {"row table id, empty",
       widget([](auto& w) { w.channelListItems[0].tableOrCurveId = QString(); }),
       kItem,
       "warningHigh",
       {{"tableOrCurveId", ""}},
       {}},
      {"row table id",
       widget([](auto& w) { w.channelListItems[0].tableOrCurveId = u"ve"_qs; }),
       kItem,
       "warningHigh",
       {{"tableOrCurveId", "ve"}},
       {{"isTableOrCurve", true}}},
      {"image threshold zero",
       widget([](auto& w) { w.imageStates[0].threshold = 0.0; }),
       {"pages", "widgets", "imageStates"},
       "imagePath",
       {{"threshold", 0.0}},
       {}},
  };
  const JsonValue base = layoutToJson(baseLayout());
  for (const OmissionCase& c : cases) {
    SCOPED_TRACE(c.rule);
    JsonValue::Object expected = objectAt(base, c.path).members();
    for (const auto& [key, value] : c.changed) {
      for (auto& member : expected) {
        if (member.first == QLatin1String(key)) {
          member.second = value;
        }
      }
    }
    auto at = std::find_if(expected.begin(), expected.end(),
                           [&](const auto& m) { return m.first == QLatin1String(c.after); });
    ASSERT_NE(at, expected.end());
    const JsonValue added = object(c.added);
    expected.insert(at + 1, added.members().begin(), added.members().end());
    DashboardLayout layout = baseLayout();
    c.set(layout);
    // Compared as values, so an integer member written as a double is caught too.
    const JsonValue written = objectAt(layoutToJson(layout), c.path);
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
    try {
      layoutFromJson(text);
      ADD_FAILURE() << "no error";
    } catch (const LayoutReadError& e) {
      const QString message = QString::fromUtf8(e.what());
      EXPECT_TRUE(message.startsWith(prefix)) << e.what();
      EXPECT_GT(message.size(), prefix.size());
      if (QByteArray(text).startsWith('[')) {
        EXPECT_EQ(message, prefix + QStringLiteral("not a JSON object"));
      }
    }
  }
}

}  // namespace
}  // namespace tk
