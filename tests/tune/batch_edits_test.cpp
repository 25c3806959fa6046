#include "tune/batch_edits.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tune/field_codec.h"
#include "tune/tune_test_helpers.h"

namespace tk {
namespace {

using test::hexOf;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// An editor over batch.ini with every observer recording into one event list; the tune starts as
// a new one (every value 0, every translate 0).
class BatchEditsTest : public ::testing::Test {
 protected:
  BatchEditsTest() {
    const EcuDefinition definition = test::tuneDefinition("batch.ini");
    editor_.load(definition, newTune(definition));
    editor_.setValueChangingObserver([this](const ConstantDef& c, int, int, double, double) {
      events_.append(QStringLiteral("changing ") + c.Name);
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

  QString apply(const QList<BatchEdit>& edits, bool commit = true) {
    return applyBatchEdits(editor_, edits, commit, &applied_);
  }
  // The editor's tune and images, and that no observer heard anything: what a refused batch or
  // a dry run must leave as it was.
  void expectUntouched(const Tune& tune, const PageImages& images) {
    EXPECT_EQ(*editor_.tune(), tune);
    EXPECT_EQ(editor_.pageImages(), images);
    EXPECT_FALSE(editor_.isModified());
    EXPECT_TRUE(events_.isEmpty()) << events_.join(QStringLiteral("; ")).toStdString();
  }
  ConstantDef& constant(const char* name) {
    for (PageGroup& group : editor_.mutableDefinition()->Pages) {
      for (ConstantDef& c : group.Fields) {
        if (c.Name == QLatin1String(name)) {
          return c;
        }
      }
    }
    throw std::logic_error(name);
  }
  // Edits of bulk elements first..first+count-1, each from 0 to its index + 1.
  static QList<BatchEdit> bulk(int count) {
    QList<BatchEdit> edits;
    for (int i = 0; i < count; ++i) {
      edits.append({QStringLiteral("bulk"), i, 0, static_cast<double>(i + 1)});
    }
    return edits;
  }

  TuneEditor editor_;
  QStringList events_;
  QList<AppliedEdit> applied_;
};

struct RefusedCase {
  const char* what;
  QList<BatchEdit> edits;
  const char* message;
};

// Each case is refused with its message before anything changes.
TEST_F(BatchEditsTest, EveryCheckRefusesTheWholeBatch) {
  const QList<BatchEdit> sixtyFive = bulk(64) + QList<BatchEdit>{{"fuelTrim", 0, 0, 1}};
  const RefusedCase cases[] = {
      {"no edit", {}, "Expected 1..64 edits"},
      {"65 edits", sixtyFive, "Expected 1..64 edits"},
      {"unknown", {{"grid", 0, 0, 1}, {"nothing", 0, 0, 1}}, "Unknown or read-only field"},
      {"PC variable", {{"pcOnly", 0, 0, 1}}, "Unknown or read-only field"},
      {"string", {{"label", 0, 0, 1}}, "Unknown or read-only field"},
      {"read-only x axis", {{"xAxis", 0, 0, 1}}, "Read-only table field"},
      {"read-only y axis", {{"yLocked", 1, 0, 1}}, "Read-only table field"},
      {"password table z", {{"lockedZ", 0, 0, 1}}, "Read-only table field"},
      {"password table x", {{"lockedX", 0, 0, 1}}, "Read-only table field"},
      {"read-only curve axis", {{"curveX", 0, 0, 1}}, "Read-only curve axis"},
      {"scalar index 1", {{"fuelTrim", 1, 0, 1}}, "Invalid element"},
      {"bit field index 1", {{"mode", 1, 0, 1}}, "Invalid element"},
      {"index = count", {{"grid", 4, 0, 1}}, "Invalid element"},
      {"negative index", {{"grid", -1, 0, 1}}, "Invalid element"},
      {"same element twice", {{"grid", 1, 0, 1}, {"grid", 1, 1, 2}}, "Duplicate element"},
      {"NaN value", {{"grid", 0, 0, kNaN}}, "Non-finite value"},
      {"infinite value", {{"grid", 0, 0, -kInf}}, "Non-finite value"},
      {"NaN expected", {{"grid", 0, kNaN, 1}}, "Non-finite value"},
      {"stale expected", {{"grid", 0, 0, 1}, {"grid", 1, 1, 2}}, "Expected value conflict"},
      {"zero scale", {{"zeroScale", 0, 0, 1}}, "Invalid scaling"},
      // The requested value is tested, not what quantising would keep.
      {"above max", {{"fuelTrim", 0, 0, 25.54}}, "Outside field bounds"},
      {"below min", {{"fuelTrim", 0, 0, -0.01}}, "Outside field bounds"},
      // The minimum is the fuelTrim the first edit stored in the scratch copy.
      {"expression min", {{"fuelTrim", 0, 0, 5}, {"floorTrim", 0, 0, 4.9}}, "Outside field bounds"},
      {"element past the page", {{"tail", 1, 0, 1}}, "Storage outside page"},
      {"shared byte",
       {{"overA", 0, 0, 5}, {"overB", 0, 0, 7}},
       "Batch changes scaling or overlapping storage; split and refresh"},
      // The switch re-reads boost's byte with the new scale: 10 psi becomes 5 kPa.
      {"units switch after a scaled edit",
       {{"boost", 0, 0, 10}, {"useMetricOnInterface", 0, 0, 1}},
       "Batch changes scaling or overlapping storage; split and refresh"},
      // Not a duplicate key, but the second store replaces the first one's value.
      {"one element in two spellings",
       {{"grid", 1, 0, 5}, {"GRID", 1, 5, 6}},
       "Batch changes scaling or overlapping storage; split and refresh"},
  };
  const Tune tune = *editor_.tune();
  const PageImages images = editor_.pageImages();
  for (const RefusedCase& c : cases) {
    applied_ = {{QStringLiteral("kept"), 0, 0, 0}};
    EXPECT_EQ(apply(c.edits), QLatin1String(c.message)) << c.what;
    EXPECT_EQ(applied_.size(), 1) << c.what << ": the output list is only replaced on success";
    expectUntouched(tune, images);
  }
}

struct AcceptedCase {
  const char* what;
  QList<BatchEdit> edits;
  QList<double> stored;
};

// Each case passes the checks that a near miss fails above; the output list holds what was
// stored, quantised, in request order.
TEST_F(BatchEditsTest, AcceptedBatchesReportTheStoredValues) {
  const AcceptedCase cases[] = {
      {"quantised", {{"fuelTrim", 0, 0, 12.34}}, {12.3}},
      {"at the bounds", {{"fuelTrim", 0, 0, 25.5}, {"floorTrim", 0, 0, 25.5}}, {25.5, 25.5}},
      // Read-only axes are matched by exact name only.
      {"axis in another spelling", {{"XAXIS", 0, 0, 3}}, {3}},
      {"editable axes", {{"yAxis", 1, 0, 4}, {"curveY", 0, 0, 5}}, {4, 5}},
      {"one element in two spellings, same value", {{"grid", 1, 0, 5}, {"GRID", 1, 5, 5}}, {5, 5}},
      {"units switch before a scaled edit",
       {{"useMetricOnInterface", 0, 0, 1}, {"boost", 0, 0, 10}},
       {1, 10}},
      {"last element in the page", {{"tail", 0, 0, 513}}, {513}},
      {"bit field", {{"mode", 0, 0, 2}}, {2}},
  };
  for (const AcceptedCase& c : cases) {
    const Tune tune = *editor_.tune();
    const PageImages images = editor_.pageImages();
    ASSERT_EQ(apply(c.edits, false), QString()) << c.what;
    ASSERT_EQ(applied_.size(), c.edits.size()) << c.what;
    for (qsizetype i = 0; i < applied_.size(); ++i) {
      const BatchEdit& edit = c.edits.at(i);
      EXPECT_EQ(applied_.at(i),
                (AppliedEdit{edit.name, edit.index, edit.expectedValue, c.stored.at(i)}))
          << c.what << " #" << i;
    }
    expectUntouched(tune, images);
  }
}

TEST_F(BatchEditsTest, SixtyFourEditsAreOneBatch) {
  ASSERT_EQ(apply(bulk(64)), QString());
  EXPECT_EQ(applied_.size(), 64);
  EXPECT_EQ(editor_.getValue("bulk", 63), 64);
  EXPECT_EQ(events_.last(), QStringLiteral("write 0@44 [%1] Plugin edit")
                                .arg(hexOf(editor_.pageImages().value(1).mid(44, 64))));
}

TEST_F(BatchEditsTest, ExpectedValueMustMatchToTheLastBit) {
  editor_.setValue("fuelTrim", 0, 12.3);
  editor_.clearModified();
  events_.clear();
  const double stored = editor_.getValue("fuelTrim");
  for (const double near : {std::nextafter(stored, 0.0), std::nextafter(stored, 100.0)}) {
    EXPECT_EQ(apply({{"fuelTrim", 0, near, 1}}), QStringLiteral("Expected value conflict"));
  }
  EXPECT_EQ(apply({{"fuelTrim", 0, stored, 1}}), QString());
}

// A shape is refused when a dimension is below 1 or the element count passes 1,000,000;
// exactly 1,000,000 passes on to the storage check.
TEST_F(BatchEditsTest, ShapesAreBoundedBeforeTheIndexIsChecked) {
  const std::pair<QList<int>, const char*> shapes[] = {
      {{2, 0}, "Invalid dimensions"},         {{-1}, "Invalid dimensions"},
      {{1000, 1001}, "Invalid dimensions"},   {{1000001}, "Invalid dimensions"},
      {{1000, 1000}, "Storage outside page"},
  };
  for (const auto& [shape, message] : shapes) {
    constant("shaped").Shape = shape;
    EXPECT_EQ(apply({{"shaped", 999999, 0, 1}}), QLatin1String(message)) << message;
  }
}

TEST_F(BatchEditsTest, RefusedWhileNothingIsLoadedOrADeferredRunIsOpen) {
  TuneEditor empty;
  EXPECT_EQ(applyBatchEdits(empty, {{"grid", 0, 0, 1}}, true),
            QStringLiteral("Project unavailable or edit in progress"));
  editor_.beginDeferredEdits();
  EXPECT_EQ(apply({}), QStringLiteral("Project unavailable or edit in progress"));
  editor_.endDeferredEdits();
  EXPECT_EQ(apply({{"grid", 0, 0, 1}}), QString());
}

// The commit announces the batch once: the power-cycle flag, the modified flag, the tune and
// units observers, then one write per run of changed bytes, page by page (never the per-value
// changing observer, which only the scratch copy's stores would have reached).
TEST_F(BatchEditsTest, CommitAnnouncesCoalescedRunsOfChangedBytes) {
  ASSERT_EQ(apply({{"other", 0, 0, 42},
                   {"grid", 1, 0, 2},
                   {"rpmLimit", 0, 0, 3000},
                   {"grid", 0, 0, 1},
                   {"grid", 3, 0, 0}}),
            QString());
  EXPECT_EQ(events_.join(QStringLiteral("; ")),
            QStringLiteral("power cycle 1; modified 1; tune changed; units refreshed; "
                           "write 0@1 [b8 0b] Plugin edit; write 0@4 [01 02] Plugin edit; "
                           "write 1@0 [2a] Plugin edit"));
  EXPECT_EQ(editor_.getValue("rpmLimit"), 3000);
  EXPECT_TRUE(editor_.isModified());
  events_.clear();
  ASSERT_EQ(apply({{"other", 0, 42, 43}}), QString());
  EXPECT_EQ(events_.join(QStringLiteral("; ")),
            QStringLiteral("tune changed; units refreshed; write 1@0 [2b] Plugin edit"));
}

}  // namespace
}  // namespace tk
