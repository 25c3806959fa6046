#include "tune/tune_editor.h"

#include <gtest/gtest.h>

#include <limits>
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
    editor_.setValueChangingObserver(
        [this](const ConstantDef& c, int page, int index, double oldValue, double newValue) {
          events_.append(QStringLiteral("changing %1 p%2 i%3 %4 -> %5")
                             .arg(c.Name, QString::number(page), QString::number(index),
                                  QString::number(oldValue), QString::number(newValue)));
        });
    editor_.setPageWriteObserver([this](const PageWrite& w) {
      events_.append(QStringLiteral("write %1@%2 [%3] %4")
                         .arg(QString::number(w.pageIndex), QString::number(w.offset),
                              hexOf(w.bytes), w.source));
    });
    editor_.setModifiedChangedObserver(
        [this](bool on) { events_.append(QStringLiteral("modified %1").arg(on)); });
    editor_.setPowerCycleChangedObserver(
        [this](bool on) { events_.append(QStringLiteral("power cycle %1").arg(on)); });
    editor_.setTuneChangedObserver([this] { events_.append(QStringLiteral("tune changed")); });
    editor_.setUnitsRefreshedObserver(
        [this] { events_.append(QStringLiteral("units refreshed")); });
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
}

TEST_F(TuneEditorTest, StoringAScalarQuantisesAndReportsTheNewBytes) {
  set("fuelTrim", 0, 12.34);
  EXPECT_EQ(value("fuelTrim")->scalarValue, 12.3);
  EXPECT_EQ(takeEvents(),
            "changing fuelTrim p1 i0 0 -> 12.3; modified 1; tune changed; write 0@2 [7b] fuelTrim");
  EXPECT_FALSE(editor_.imagesStale());
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
  EXPECT_EQ(hexOf(editor_.pageImages().value(1).left(3)), QStringLiteral("70 17 ff"));
  EXPECT_EQ(hexOf(editor_.pageImages().value(2).left(1)), QStringLiteral("09"));
}

TEST_F(TuneEditorTest, StoresEachKindInItsRecord) {
  EXPECT_EQ(editor_.findField("RPMLIMIT")->constant->Name, QStringLiteral("rpmLimit"));
  EXPECT_EQ(editor_.findField("Wide")->pageNumber, 2);
  set("curveY", 2, 33.3);  // scale 0.5: raw 66.6 -> 67
  EXPECT_EQ(value("curveY")->arrayValues, (QList<double>{0, 0, 33.5, 0}));
  EXPECT_TRUE(takeEvents().endsWith("write 0@6 [43] curveY"));
  EXPECT_EQ(editor_.getValue("CURVEY", 2), 33.5);
  // An index past the end stores nothing but still reports the bytes at its position (here the
  // string after the array), or zeros past the page end.
  set("curveY", 4, 7);
  EXPECT_EQ(editor_.getValue("curveY", 4), 0);
  EXPECT_TRUE(takeEvents().endsWith("write 0@8 [00] curveY"));
  set("curveY", 40, 7);
  EXPECT_TRUE(takeEvents().endsWith("write 0@44 [00] curveY"));
  // Bits keep a raw value and its label; 5 has no label, so the old one stays.
  set("mode", 0, 2);
  EXPECT_TRUE(takeEvents().endsWith("write 0@3 [20] mode"));
  set("mode", 0, 5);
  EXPECT_EQ(editor_.getValue("mode"), 5);
  EXPECT_EQ(value("mode")->enumValue, QStringLiteral("auto"));
  // Text is not set through a number, but the store still reports its bytes.
  editor_.mutableTune()->find("label")->stringValue = QStringLiteral("ab");
  set("label", 0, 65);
  EXPECT_EQ(editor_.getValue("label"), 0);
  EXPECT_TRUE(takeEvents().endsWith("write 0@8 [61 62 00 00] label"));
  // Unknown names do nothing; a constant without a page has no bytes to report.
  set("noSuchThing", 0, 1);
  EXPECT_EQ(editor_.getValue("noSuchThing"), 0);
  EXPECT_TRUE(takeEvents().isEmpty());
  set("pcOnly", 0, 9);
  EXPECT_EQ(editor_.getValue("pcOnly"), 9);
  EXPECT_EQ(takeEvents(), "changing pcOnly p0 i0 0 -> 9");
  // A missing record is made with the effective units and the shape.
  editor_.mutableTune()->fields.clear();
  EXPECT_EQ(editor_.getValue("mode"), 0);
  set("curveY", 1, 10);
  EXPECT_EQ(value("curveY")->arrayValues, (QList<double>{0, 10, 0, 0}));
  EXPECT_EQ(value("curveY")->cols, 4);
  EXPECT_EQ(value("curveY")->rows, 1);
  set("tempAxis", 0, 20);
  EXPECT_EQ(value("tempAxis")->units, QStringLiteral("F"));
}

TEST_F(TuneEditorTest, DeferredEditsAreReportedOnceAsCoalescedRuns) {
  editor_.beginDeferredEdits();
  set("curveY", 3, 4);
  set("wide", 1, -2);
  set("curveY", 1, 2);
  set("other", 0, 5);
  set("fuelTrim", 0, 1);
  set("curveY", 0, 1);
  set("wide", 0, 513);
  set("curveY", 2, 3);
  set("curveY", 1, 2.5);
  set("rpmLimit", 0, 100);
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
  // The bytes keep their meaning: raw 60 and 70 now read as Fahrenheit.
  EXPECT_EQ(value("tempAxis")->arrayValues, (QList<double>{68, 86}));
  EXPECT_EQ(value("tempAxis")->units, QString());  // the plain units of a decoded record
  EXPECT_EQ(takeEvents(),
            "changing useMetricOnInterface p1 i0 1 -> 0; tune changed; "
            "write 0@12 [00] useMetricOnInterface; units refreshed");
  EXPECT_EQ(hexOf(editor_.pageImages().value(1).mid(13, 2)), QStringLiteral("3c 46"));

  // Inside a deferred run there is no re-read: the values stay and the bytes follow them.
  editor_.beginDeferredEdits();
  set("useMetricOnInterface", 0, 1);
  editor_.endDeferredEdits();
  EXPECT_EQ(value("tempAxis")->arrayValues, (QList<double>{68, 86}));
  EXPECT_FALSE(takeEvents().contains(QStringLiteral("units refreshed")));
  EXPECT_EQ(hexOf(editor_.pageImages().value(1).mid(13, 2)), QStringLiteral("6c 7e"));
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
  EXPECT_EQ(hexOf(editor_.pageImages().value(2).left(1)), QStringLiteral("07"));
  EXPECT_FALSE(editor_.isModified());
  EXPECT_FALSE(editor_.isPowerCycleRequired());
  scratch.unload();
  EXPECT_TRUE(editor_.findField("other").has_value());
}

TEST_F(TuneEditorTest, ReplacingTheDefinitionDropsTheNameIndex) {
  ASSERT_TRUE(editor_.findField("other").has_value());
  EcuDefinition renamed = *editor_.definition();
  renamed.Pages[1].Fields[0].Name = QStringLiteral("renamed");
  editor_.setDefinition(renamed);
  EXPECT_FALSE(editor_.findField("other").has_value());
  EXPECT_TRUE(editor_.findField("RENAMED").has_value());
  editor_.mutableDefinition()->Pages[1].Fields.removeFirst();
  EXPECT_EQ(editor_.findField("wide")->constant->Offset, 2);
}

}  // namespace
}  // namespace tk
