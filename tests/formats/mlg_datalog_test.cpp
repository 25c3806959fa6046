#include "formats/mlg_datalog.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace tk {
namespace {

DatalogEntry entry(const QString& channel, const QString& type, const QString& format) {
  return {channel, QStringLiteral("Label"), type, format, QStringLiteral("Engine"), {}, {}};
}

// One entry per line of the case file; each field's type, units and digits go to the golden file.
TEST(MlgDatalogTest, OneFieldPerEntryFromItsTypeFormatAndChannel) {
  static const char* const kTypes[] = {"U08", "S08", "U16", "S16", "U32", "S32", "S64", "F32"};
  EcuDefinition definition;
  ConstantDef rpm;
  rpm.DataType = QStringLiteral("U16");
  rpm.Units = QStringLiteral("rpm");
  definition.OutputChannels.insert(QStringLiteral("rpm"), rpm);
  const QStringList lines = tk::test::caseLines(QStringLiteral("cli/datalog-fields.cases"));
  for (const QString& line : lines) {
    const QStringList parts = line.split(u'|');
    definition.DatalogEntries.append(entry(parts.value(0), parts.value(1), parts.value(2)));
  }
  const std::vector<MlgField> fields = datalogFields(definition);
  ASSERT_EQ(fields.size(), static_cast<std::size_t>(lines.size()));
  QByteArray text;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const MlgField& f = fields[i];
    text += lines[static_cast<qsizetype>(i)].toUtf8() + " -> " +
            (f.dataType < std::size(kTypes) ? kTypes[f.dataType] : "?") + ' ' + f.units.toUtf8() +
            ' ' + QByteArray::number(f.digits) + '\n';
    EXPECT_EQ(f.name, QStringLiteral("Label"));
    EXPECT_EQ(f.category, QStringLiteral("Datalog"));
    EXPECT_EQ(f.scale, 1.0f);
    EXPECT_EQ(f.transform, 0.0f);
  }
  EXPECT_TRUE(tk::test::matchesGolden(text, QStringLiteral("cli/datalog-fields.txt")));
}

// The log's own time in any case, a channel the snapshot lacks as 0; the 16-bit clock counts
// 10 us, truncated from the seconds as a double (0.58 s falls just short), and wraps.
TEST(MlgDatalogTest, RecordValuesAndTimestamps) {
  EcuDefinition definition;
  for (const char* name : {"Time", "ghost", "rpm"}) {
    definition.DatalogEntries.append(entry(QString::fromLatin1(name), {}, {}));
  }
  std::vector<double> values;
  datalogValues(definition, 0.25, {{QStringLiteral("rpm"), 33.0}}, values);
  EXPECT_EQ(values, (std::vector<double>{0.25, 0.0, 33.0}));
  EXPECT_EQ(mlgTimestamp(0.007), 700);
  EXPECT_EQ(mlgTimestamp(0.58), 57999);
  EXPECT_EQ(mlgTimestamp(0.66), 66000 - 65536);
}

}  // namespace
}  // namespace tk
