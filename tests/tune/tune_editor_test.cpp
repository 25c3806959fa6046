#include "tune/tune_editor.h"

#include <gtest/gtest.h>

#include <tuple>
#include <type_traits>

#include "tune/field_codec.h"
#include "tune/tune_test_helpers.h"

namespace tk {
namespace {

using test::hexOf;

// Records every observer call as one line of text, in order.
class TuneEditorTest : public ::testing::Test {
 protected:
  TuneEditorTest() {
    const EcuDefinition definition = test::tuneDefinition("editor.ini");
    editor_.load(definition, newTune(definition));
    test::recordEditorEvents(editor_, events_, true);
  }

  // The observer calls since the last call, joined by "; ".
  QString takeEvents() { return std::exchange(events_, {}).join(QStringLiteral("; ")); }
  const TuneValue* value(const char* name) const {
    return editor_.tune()->find(QString::fromLatin1(name));
  }
  void set(const char* name, int index, double v) {
    editor_.setValue(QString::fromLatin1(name), index, v);
  }

  TuneEditor editor_;
  QStringList events_;
};

TEST(TuneEditorEmptyTest, EveryOperationIsNeutralWithoutADefinitionAndATune) {
  TuneEditor editor;
  editor.setPageWriteObserver([](const PageWrite&) { ADD_FAILURE() << "page write"; });
  ConstantDef c;
  c.ScaleExpression = QStringLiteral("2");
  EXPECT_EQ(editor.effectiveScale(c), 0);
  EXPECT_EQ(editor.quantizeValue(c, 5), 0);
  editor.setValue("x", 0, 1);
  editor.beginDeferredEdits();
  editor.setValue("x", 0, 1);
  editor.endDeferredEdits();
  EXPECT_TRUE(editor.pageImages().isEmpty());
  editor.setDefinition(test::tuneDefinition("editor.ini"));
  EXPECT_FALSE(editor.findField("rpmLimit").has_value());
  editor.setTune(Tune());
  EXPECT_TRUE(editor.findField("rpmLimit").has_value());
  // A replaced or changed definition drops the name index.
  EcuDefinition renamed = *editor.definition();
  renamed.Pages[0].Fields[0].Name = QStringLiteral("renamed");
  editor.setDefinition(renamed);
  EXPECT_TRUE(editor.findField("RENAMED") && !editor.findField("rpmLimit"));
  editor.mutableDefinition()->Pages[0].Fields.removeFirst();
  EXPECT_FALSE(editor.findField("renamed").has_value());
  editor.unload();
  EXPECT_EQ(editor.mutableTune(), nullptr);
  EXPECT_TRUE(TuneEditor(test::tuneDefinition("editor.ini"), Tune()).findField("mode"));
}

TEST_F(TuneEditorTest, StoringAScalarQuantisesAndReportsTheNewBytes) {
  set("fuelTrim", 0, 12.34);
  EXPECT_EQ(value("fuelTrim")->scalarValue, 12.3);
  EXPECT_EQ(takeEvents(),
            "changing fuelTrim p1 i0 0 -> 12.3; modified 1; tune changed; write 0@2 [7b] fuelTrim");
  // Above the limit: clamped to 25.5 (raw 255); modified is reported only once.
  set("FuelTrim", 0, 30);
  EXPECT_EQ(takeEvents(),
            "changing fuelTrim p1 i0 12.3 -> 25.5; tune changed; write 0@2 [ff] fuelTrim");
  set("rpmLimit", 0, 7000.4);
  EXPECT_TRUE(takeEvents().endsWith("write 0@0 [58 1b] rpmLimit; power cycle 1"));
  EXPECT_TRUE(editor_.isPowerCycleRequired());
  set("rpmLimit", 0, 6000);
  EXPECT_FALSE(takeEvents().contains(QStringLiteral("power cycle")));
  // A change made behind the editor's back is seen once the images are rebuilt.
  editor_.mutableTune()->find("other")->scalarValue = 9;
  EXPECT_TRUE(editor_.imagesStale());
  EXPECT_EQ(hexOf(editor_.pageImages().value(1).left(3)), "70 17 ff");
  EXPECT_EQ(hexOf(editor_.pageImages().value(2).left(1)), "09");
}

TEST_F(TuneEditorTest, StoresEachKindInItsRecord) {
  EXPECT_EQ(editor_.findField("RPMLIMIT")->constant->Name, "rpmLimit");
  EXPECT_EQ(editor_.findField("Wide")->pageNumber, 2);
  editor_.mutableTune()->find("label")->stringValue = QStringLiteral("ab");
  // Each store, the value then read back and the last event. An index past the end of an array
  // stores nothing but still reports the bytes at its position (here the string after the
  // array), or zeros past the page end; 5 has no label, so the old one stays; text is not set
  // through a number; unknown names do nothing; a constant without a page reports no bytes.
  const std::tuple<const char*, int, double, double, const char*> stores[] = {
      {"curveY", 2, 33.3, 33.5, "write 0@6 [43] curveY"},  // scale 0.5: raw 66.6 -> 67
      {"curveY", 4, 7, 0, "write 0@8 [61] curveY"},
      {"curveY", 40, 7, 0, "write 0@44 [00] curveY"},
      {"mode", 0, 2, 2, "write 0@3 [20] mode"},
      {"mode", 0, 5, 5, "write 0@3 [50] mode"},
      {"label", 0, 65, 0, "write 0@8 [61 62 00 00] label"},
      {"noSuchThing", 0, 1, 0, ""},
      {"pcOnly", 0, 9, 9, "changing pcOnly p0 i0 0 -> 9"}};
  for (const auto& [name, index, stored, readBack, event] : stores) {
    set(name, index, stored);
    EXPECT_EQ(editor_.getValue(QString::fromLatin1(name).toUpper(), index), readBack) << name;
    EXPECT_EQ(takeEvents().right(qstrlen(event)), QLatin1String(event)) << name;
  }
  EXPECT_EQ(value("curveY")->arrayValues, (QList<double>{0, 0, 33.5, 0}));
  EXPECT_EQ(value("mode")->enumValue, "auto");
  EXPECT_EQ(value("label")->stringValue, "ab");
  // A missing record is made with the effective units and the shape.
  editor_.mutableTune()->fields.clear();
  EXPECT_EQ(editor_.getValue("mode"), 0);
  set("curveY", 1, 10);
  EXPECT_EQ(value("curveY")->arrayValues, (QList<double>{0, 10, 0, 0}));
  EXPECT_EQ(value("curveY")->cols, 4);
  EXPECT_EQ(value("curveY")->rows, 1);
  set("tempAxis", 0, 20);
  EXPECT_EQ(value("tempAxis")->units, "F");
}

TEST_F(TuneEditorTest, DeferredEditsAreReportedOnceAsCoalescedRuns) {
  editor_.beginDeferredEdits();
  const std::tuple<const char*, int, double> stores[] = {
      {"curveY", 3, 4},   {"wide", 1, -2},     {"curveY", 1, 2}, {"other", 0, 5},
      {"fuelTrim", 0, 1}, {"curveY", 0, 1},    {"wide", 0, 513}, {"curveY", 2, 3},
      {"curveY", 1, 2.5}, {"rpmLimit", 0, 100}};
  for (const auto& [name, index, v] : stores) {
    set(name, index, v);
  }
  const QString changing = takeEvents();
  EXPECT_EQ(changing.count(QStringLiteral("changing")), 10);
  EXPECT_TRUE(changing.startsWith(QStringLiteral("changing curveY p1 i3")));

  editor_.endDeferredEdits();
  EXPECT_FALSE(editor_.deferredEdits());
  EXPECT_EQ(takeEvents(),
            "tune changed; write 0@0 [64 00 0a] rpmLimit+fuelTrim; "
            "write 0@4 [02 05 06 08] curveY+curveY+curveY+curveY+curveY; write 1@0 [05] other; "
            "write 1@2 [01 02 fe ff] wide+wide");
  // A deferred run neither marks the tune modified nor notes power-cycle constants.
  EXPECT_FALSE(editor_.isModified());
  EXPECT_FALSE(editor_.isPowerCycleRequired());
  editor_.beginDeferredEdits();
  editor_.endDeferredEdits();
  EXPECT_TRUE(takeEvents().isEmpty());
}

TEST_F(TuneEditorTest, ChangingTheUnitSwitchReReadsExpressionScaledConstantsFromTheirBytes) {
  set("useMetricOnInterface", 0, 1);
  set("tempAxis", 0, 20);  // metric: raw = 20 + 40
  set("tempAxis", 1, 30);
  takeEvents();
  set("useMetricOnInterface", 0, 0);
  // The bytes keep their meaning: raw 60 and 70 now read through scale 1.8, (60 - 40) x 1.8.
  EXPECT_EQ(value("tempAxis")->arrayValues, (QList<double>{36, 54}));
  EXPECT_EQ(value("tempAxis")->units, QString());  // the plain units of a decoded record
  EXPECT_EQ(takeEvents(),
            "changing useMetricOnInterface p1 i0 1 -> 0; tune changed; "
            "write 0@12 [00] useMetricOnInterface; units refreshed");
  EXPECT_EQ(hexOf(editor_.pageImages().value(1).mid(13, 2)), "3c 46");

  // Inside a deferred run there is no re-read: the values stay and the bytes follow them.
  editor_.beginDeferredEdits();
  set("useMetricOnInterface", 0, 1);
  editor_.endDeferredEdits();
  EXPECT_EQ(value("tempAxis")->arrayValues, (QList<double>{36, 54}));
  EXPECT_FALSE(takeEvents().contains(QStringLiteral("units refreshed")));
  EXPECT_EQ(hexOf(editor_.pageImages().value(1).mid(13, 2)), "4c 5e");
}

// A scratch copy is where edits are tried before they are committed: nothing done to it may
// reach the original's observers or state.
static_assert(!std::is_copy_constructible_v<TuneEditor> && !std::is_copy_assignable_v<TuneEditor>,
              "a copy would carry the observers");

TEST_F(TuneEditorTest, ScratchCopyEditsFireNoObserverOfTheOriginal) {
  set("other", 0, 7);
  editor_.clearModified();
  takeEvents();
  TuneEditor scratch = editor_.scratchCopy();
  EXPECT_FALSE(scratch.isModified());
  scratch.setValue("other", 0, 42);
  scratch.setValue("useMetricOnInterface", 0, 1);
  scratch.setValue("rpmLimit", 0, 100);
  scratch.beginDeferredEdits();
  scratch.setValue("curveY", 1, 2);
  scratch.endDeferredEdits();
  EXPECT_TRUE(takeEvents().isEmpty());
  EXPECT_EQ(scratch.getValue("other"), 42);
  EXPECT_TRUE(scratch.isModified());
  EXPECT_TRUE(scratch.isPowerCycleRequired());
  EXPECT_EQ(editor_.getValue("other"), 7);
  EXPECT_EQ(hexOf(editor_.pageImages().value(2).left(1)), "07");
  EXPECT_FALSE(editor_.isModified());
  EXPECT_FALSE(editor_.isPowerCycleRequired());
}

}  // namespace
}  // namespace tk
