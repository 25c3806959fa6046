#include "dashboard/gauge_face.h"

#include <gtest/gtest.h>

#include "dashboard/layout_reader.h"
#include "json/json_writer.h"

namespace tk {
namespace {

// The active page's widgets with a channel become gauges with their range, zones and digits;
// a widget without a channel (a label) is left out and an absent zone stays absent.
TEST(GaugeFaceTest, LayoutWidgetsWithAChannelBecomeGauges) {
  const DashboardLayout layout = layoutFromJson(R"({"activePageIndex": 1, "pages": [
      {"widgets": [{"channel": "map"}]},
      {"widgets": [{"channel": "rpm", "title": "Engine", "units": "RPM", "min": 0, "max": 7000,
                    "highWarning": 6000, "highCritical": 6500, "decimalPlaces": 0},
                   {"useStaticText": true, "staticText": "Label"},
                   {"channel": "afr", "min": 10, "max": 5}]}]})");
  const QList<GaugeFace> gauges = gaugesFromLayout(layout);
  ASSERT_EQ(gauges.size(), 2);
  EXPECT_EQ(gauges[0],
            (GaugeFace{QStringLiteral("rpm"), QStringLiteral("Engine"), QStringLiteral("RPM"), 0,
                       7000, std::nullopt, std::nullopt, 6000.0, 6500.0, 0}));
  // A range the wrong way round is drawn from its low end, one unit wide; the title falls back
  // to the channel.
  EXPECT_EQ(serialize(gaugesJson({gauges[1]})), QByteArray(R"([
  {
    "channel": "afr",
    "title": "afr",
    "units": "",
    "min": 10,
    "max": 11,
    "digits": 1
  }
])"));
}

}  // namespace
}  // namespace tk
