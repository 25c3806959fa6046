#include "conformance/dump_dashboard.h"

#include <gtest/gtest.h>

#include <QSet>
#include <QTemporaryDir>

#include "dashboard/layout_printer.h"
#include "dashboard/layout_reader.h"
#include "dashboard/layout_writer.h"
#include "json/json_writer.h"
#include "support/test_support.h"

namespace tk::conformance {
namespace {

const QString kGolden = QStringLiteral("dashboard/dump-dashboard.json");

// The reference document was worked out from the layout rules by a separate script and read
// against them line by line; the command and the in-process builder must both match it.
TEST(DumpDashboardTest, CommandWritesTheGoldenDocument) {
  QTemporaryDir dir;
  const QString out = dir.filePath(QStringLiteral("dash.json"));
  auto r = test::runCli({QStringLiteral("dump-dashboard"), out});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(r.out.isEmpty());
  EXPECT_TRUE(r.err.isEmpty());
  EXPECT_TRUE(test::matchesGolden(test::readFile(out), kGolden));
  EXPECT_TRUE(test::matchesGolden(serialize(layoutToJson(goldenDashLayout())) + '\n', kGolden));

  const QString unwritable = dir.filePath(QStringLiteral("no/such/dir.json"));
  r = test::runCli({QStringLiteral("dump-dashboard"), unwritable});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err, "ERROR: cannot write " + unwritable.toUtf8() + "\n");
}

TEST(DumpDashboardTest, ReadingTheWrittenLayoutGivesItBack) {
  const DashboardLayout layout = goldenDashLayout();
  EXPECT_EQ(layoutFromJson(serialize(layoutToJson(layout))), layout);
}

// Every object of one kind in a document, found by the members leading to it; arrays are
// entered element by element, and a missing member leads nowhere.
void collect(const JsonValue& v, const QStringList& path, QList<const JsonValue*>& out) {
  if (path.isEmpty()) {
    out.append(&v);
    return;
  }
  const JsonValue* next = v.find(path.first());
  if (next && next->isArray()) {
    for (const JsonValue& e : next->elements()) {
      collect(e, path.mid(1), out);
    }
  } else if (next) {
    collect(*next, path.mid(1), out);
  }
}

bool differs(const JsonValue* a, const JsonValue* b) { return a && b ? !(*a == *b) : a != b; }

// The fixed layout only guards the reader if each member takes a value other than its default
// somewhere, and each optional member is both present and absent somewhere.
TEST(DumpDashboardTest, GoldenLayoutMovesEveryMemberAwayFromItsDefault) {
  const JsonValue golden = layoutToJson(goldenDashLayout());
  // One record of every kind, each with its defaults.
  const JsonValue defaults = layoutToJson(
      layoutFromJson(test::readFile(test::dataPath(QStringLiteral("dashboard/defaults.json")))));
  // clang-format off
  const QStringList kinds[] = {
      {}, {"pages"}, {"pages", "widgets"}, {"pages", "tableArea"}, {"pages", "channelLists"},
      {"pages", "widgets", "thresholds"}, {"pages", "widgets", "channelListItems"},
      {"pages", "widgets", "scalarListItems"}, {"pages", "widgets", "imageStates"}};
  // clang-format on
  for (const QStringList& kind : kinds) {
    SCOPED_TRACE(kind.join(u'.').toStdString());
    QList<const JsonValue*> objects;
    QList<const JsonValue*> byDefault;
    collect(golden, kind, objects);
    collect(defaults, kind, byDefault);
    ASSERT_FALSE(objects.isEmpty());
    ASSERT_EQ(byDefault.size(), 1);
    QSet<QString> keys;
    for (const JsonValue* o : objects + byDefault) {
      for (const auto& member : o->members()) {
        keys.insert(member.first);
      }
    }
    for (const QString& key : keys) {
      const JsonValue* fallback = byDefault.front()->find(key);
      EXPECT_TRUE(std::any_of(objects.begin(), objects.end(),
                              [&](const JsonValue* o) { return differs(o->find(key), fallback); }))
          << key.toStdString() << " always has its default";
      if (!fallback) {
        EXPECT_TRUE(std::any_of(objects.begin(), objects.end(),
                                [&](const JsonValue* o) { return o->find(key) == nullptr; }))
            << key.toStdString() << " is never left out";
      }
    }
  }
}

}  // namespace
}  // namespace tk::conformance
