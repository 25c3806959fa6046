// Facts that must hold for every real definition file of the corpus beside the checkout.
#include <gtest/gtest.h>

#include <QDir>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QMap>

#include "definition/definition_json.h"
#include "definition/ini_parser.h"
#include "json/json_writer.h"
#include "support/test_support.h"

namespace tk {
namespace {

class IniCorpusTest : public ::testing::Test {
 protected:
  // Each file is read once for the whole suite; the tests only look at the definitions.
  static void SetUpTestSuite() {
    const QDir dir(test::corpusDir() + QStringLiteral("/ini"));
    if (test::corpusDir().isEmpty()) {
      return;
    }
    for (const QString& name : dir.entryList({QStringLiteral("*.ini")}, QDir::Files, QDir::Name)) {
      definitions_.insert(name, IniParser().parse(dir.filePath(name)));
    }
  }
  static void TearDownTestSuite() { definitions_.clear(); }
  void SetUp() override {
    if (test::corpusDir().isEmpty()) {
      GTEST_SKIP() << "corpus not found beside the checkout";
    }
    ASSERT_FALSE(definitions_.isEmpty());
  }
  static inline QMap<QString, EcuDefinition> definitions_;
};

TEST_F(IniCorpusTest, HeadersMatchTheKnownFiles) {
  // File name -> signature (empty: not checked) and page count.
  const QHash<QString, std::pair<QString, int>> known = {
      {QStringLiteral("speeduino-201503-sig20.ini"), {QStringLiteral("20"), 3}},
      {QStringLiteral("speeduino-201607.ini"), {QStringLiteral("speeduino 201607"), 8}},
      {QStringLiteral("speeduino-201710.ini"), {QStringLiteral("speeduino 201710"), 10}},
      {QStringLiteral("speeduino-202008.ini"), {QString(), 13}},
      {QStringLiteral("speeduino-202207.ini"), {QString(), 15}},
      {QStringLiteral("speeduino-202501.ini"), {QString(), 15}},
      {QStringLiteral("speeduino-202504dev.ini"), {QStringLiteral("speeduino 202504-dev"), 15}},
      {QStringLiteral("ms3-0569-1.5.2.ini"), {QStringLiteral("MS3 Format 0569.00 "), 20}},
      {QStringLiteral("rusefi-mega100-20241027.ini"), {QString(), 1}},
  };
  for (const auto& [name, d] : definitions_.asKeyValueRange()) {
    SCOPED_TRACE(name.toStdString());
    EXPECT_FALSE(d.Signature.isEmpty());
    EXPECT_EQ(d.NPages, d.PageSizes.size());
    EXPECT_FALSE(d.PageReadCommands.isEmpty());
    EXPECT_EQ(d.isBigEndian(),
              name.startsWith(QLatin1String("ms3")) || name.contains(QLatin1String("201503")));
    const auto [signature, pages] = known.value(name, {QString(), d.NPages});
    if (!signature.isEmpty()) {
      EXPECT_EQ(d.Signature, signature);
    }
    EXPECT_EQ(d.NPages, pages);
    EXPECT_GT(d.NPages, 0);
  }
}

TEST_F(IniCorpusTest, EditorsConstantsAndChannelsFitTogether) {
  for (const auto& [name, d] : definitions_.asKeyValueRange()) {
    SCOPED_TRACE(name.toStdString());
    for (const auto& [id, table] : d.Tables) {
      EXPECT_NE(d.findConstant(table.ZBinVariable), nullptr) << "table " << id.toStdString();
    }
    for (const auto& [id, curve] : d.Curves) {
      EXPECT_NE(d.findConstant(curve.YBinVariable), nullptr) << "curve " << id.toStdString();
    }
    int constants = 0;
    for (const PageGroup& page : d.Pages) {
      for (const ConstantDef& c : page.Fields) {
        if (page.PageNumber != 0) {
          ++constants;
          EXPECT_GE(c.Offset, 0) << c.Name.toStdString();
          EXPECT_LE(c.Offset + fieldSize(c), d.pageSize(page.PageNumber)) << c.Name.toStdString();
        }
      }
    }
    EXPECT_GT(constants, 50);
    int declared = 0;
    QStringList outside;
    for (const auto& [channel, c] : d.OutputChannels) {
      if (!c.Expression) {
        ++declared;
        EXPECT_GE(c.Offset, 0) << channel.toStdString();
        if (c.Offset + fieldSize(c) > d.OchBlockSize) {
          outside.append(channel);
        }
      }
    }
    EXPECT_GT(declared, 10);
    EXPECT_GT(d.OchBlockSize, 0);
    // The 2016 file itself declares its error channels at byte 34 of a 34-byte block.
    const QStringList expected =
        name == QLatin1String("speeduino-201607.ini")
            ? QStringList{QStringLiteral("errors"), QStringLiteral("errorNum"),
                          QStringLiteral("currentError")}
            : QStringList();
    EXPECT_EQ(outside, expected);
  }
}

TEST_F(IniCorpusTest, DumpIsValidJson) {
  for (const auto& [name, d] : definitions_.asKeyValueRange()) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(serialize(definitionJson(d)), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << name.toStdString();
    EXPECT_TRUE(doc.isObject()) << name.toStdString();
  }
}

}  // namespace
}  // namespace tk
