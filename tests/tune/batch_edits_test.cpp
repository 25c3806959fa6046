#include "tune/batch_edits.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <utility>

#include "json/number_format.h"
#include "tune/field_codec.h"
#include "tune/tune_test_helpers.h"

namespace tk {
namespace {

// An editor over batch.ini, a new tune (every translate is 0, so every value starts at 0) with
// fuelTrim 12.3, and every observer recording into one event list.
class BatchEditsTest : public ::testing::Test {
 protected:
  BatchEditsTest() {
    const EcuDefinition definition = test::tuneDefinition("batch.ini");
    editor_.load(definition, newTune(definition));
    editor_.setValue("fuelTrim", 0, 12.3);
    editor_.clearModified();
    test::recordEditorEvents(editor_, events_, false);
  }

  // Applies edits; a refused batch and a dry run must leave tune, images and flags as they were,
  // reach no observer and keep the output list.
  QString apply(const QList<BatchEdit>& edits, bool commit = true) {
    const Tune tune = *editor_.tune();
    const PageImages images = editor_.pageImages();
    const bool modified = editor_.isModified();
    applied_ = {{QStringLiteral("kept"), 0, 0, 0}};
    const QString message = applyBatchEdits(editor_, edits, commit, &applied_);
    if (!message.isEmpty() || !commit) {
      EXPECT_EQ(*editor_.tune(), tune) << message.toStdString();
      EXPECT_EQ(editor_.pageImages(), images) << message.toStdString();
      EXPECT_EQ(editor_.isModified(), modified);
      EXPECT_TRUE(events_.isEmpty()) << events_.join(u';').toStdString();
      EXPECT_EQ(applied_.size(), message.isEmpty() ? edits.size() : 1);
    }
    return message;
  }

  // Each line of the script is one batch, "[dry] name[index] expected value; ...": the batch is
  // written with what became of it (its message, or the stored values and the observer calls).
  QByteArray runScript(const char* name) {
    QByteArray out;
    const QString script = QString::fromUtf8(test::readFile(test::dataPath(QLatin1String(name))));
    for (const QString& line : script.split(u'\n', Qt::SkipEmptyParts)) {
      out += (line.startsWith(u'#') ? line : QStringLiteral("$ ") + line).toUtf8() + '\n';
      if (line.startsWith(u'#')) {
        continue;
      }
      const bool dry = line.startsWith(QLatin1String("dry "));
      QList<BatchEdit> edits;
      for (const QString& text : line.mid(dry ? 4 : 0).split(u';')) {
        const QStringList parts = text.split(u' ', Qt::SkipEmptyParts);
        const QStringList target = parts.value(0).split(QRegularExpression(QStringLiteral("[][]")));
        edits.append({target.at(0), target.value(1).toInt(), parts.value(1).toDouble(),
                      parts.value(2).toDouble()});
      }
      const QString message = apply(edits, !dry);
      QStringList stored;
      for (const AppliedEdit& e : std::as_const(applied_)) {
        stored.append(QStringLiteral("%1[%2] %3 -> %4")
                          .arg(e.name, QString::number(e.index), formatDouble(e.expectedValue),
                               formatDouble(e.value)));
      }
      out += (message.isEmpty() ? QStringLiteral("applied: ") + stored.join(QStringLiteral(", "))
                                : QStringLiteral("refused: ") + message)
                 .toUtf8() +
             '\n';
      if (!events_.isEmpty()) {
        out += "events: " + std::exchange(events_, {}).join(QStringLiteral("; ")).toUtf8() + '\n';
      }
    }
    return out;
  }

  TuneEditor editor_;
  QStringList events_;
  QList<AppliedEdit> applied_;
};

// Every check with a case it refuses and a near miss it lets through; then commits with the
// page writes they announce.
TEST_F(BatchEditsTest, ScriptedBatches) {
  EXPECT_TRUE(test::matchesGolden(runScript("tune/batch-edits.cmds"), "tune/batch-edits.txt"));
}

TEST_F(BatchEditsTest, SixtyFourEditsAtMost) {
  QList<BatchEdit> edits;
  for (int i = 0; i < 64; ++i) {
    edits.append({QStringLiteral("bulk"), i, 0, static_cast<double>(i + 1)});
  }
  EXPECT_EQ(apply(edits + QList<BatchEdit>{{"fuelTrim", 0, 12.3, 1}}),
            QStringLiteral("Expected 1..64 edits"));
  EXPECT_EQ(apply({}), QStringLiteral("Expected 1..64 edits"));
  ASSERT_EQ(apply(edits), QString());
  EXPECT_EQ(editor_.getValue("bulk", 63), 64);
  EXPECT_EQ(events_.last(), QStringLiteral("write 0@44 [%1] Plugin edit")
                                .arg(test::hexOf(editor_.pageImages().value(1).mid(44, 64))));
}

// A dimension below 1 or more than 1,000,000 elements is refused; exactly 1,000,000 passes on
// to the storage check.
TEST_F(BatchEditsTest, ShapesAreBoundedBeforeTheIndexIsChecked) {
  const std::pair<QList<int>, const char*> shapes[] = {
      {{2, 0}, "Invalid dimensions"},         {{-1}, "Invalid dimensions"},
      {{1000, 1001}, "Invalid dimensions"},   {{1000001}, "Invalid dimensions"},
      {{1000, 1000}, "Storage outside page"},
  };
  for (const auto& [shape, message] : shapes) {
    editor_.mutableDefinition()->Pages[0].Fields[17].Shape = shape;
    ASSERT_EQ(editor_.definition()->Pages[0].Fields[17].Name, QStringLiteral("shaped"));
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

}  // namespace
}  // namespace tk
