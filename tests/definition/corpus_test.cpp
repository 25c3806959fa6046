// Facts that must hold for every real definition file of the corpus.
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
    const QString corpus = test::corpusDir();
    if (corpus.isEmpty()) {
      return;
    }
    const QDir dir(corpus + QStringLiteral("/ini"));
    for (const QString& name : dir.entryList({QStringLiteral("*.ini")}, QDir::Files, QDir::Name)) {
      files_.append(dir.filePath(name));
      definitions_.insert(dir.filePath(name), IniParser().parse(dir.filePath(name)));
    }
  }
  static void TearDownTestSuite() {
    files_.clear();
    definitions_.clear();
  }
  void SetUp() override {
    if (test::corpusDir().isEmpty()) {
      GTEST_SKIP() << "corpus not found";
    }
    ASSERT_FALSE(files_.isEmpty());
  }
  static QString nameOf(const QString& path) { return QFileInfo(path).fileName(); }
  static const EcuDefinition& parsed(const QString& path) {
    return definitions_.find(path).value();
  }
  static inline QStringList files_;
  static inline QMap<QString, EcuDefinition> definitions_;
};

TEST_F(IniCorpusTest, HeadersAndEndiannessMatchTheKnownFiles) {
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
  for (const QString& path : std::as_const(files_)) {
    SCOPED_TRACE(nameOf(path).toStdString());
    const EcuDefinition& d = parsed(path);
    EXPECT_FALSE(d.Signature.isEmpty());
    EXPECT_GT(d.NPages, 0);
    EXPECT_EQ(d.NPages, d.PageSizes.size());
    EXPECT_FALSE(d.PageReadCommands.isEmpty());
    EXPECT_EQ(d.isBigEndian(), nameOf(path).startsWith(QLatin1String("ms3")) ||
                                   nameOf(path).contains(QLatin1String("201503")));
    if (known.contains(nameOf(path))) {
      const auto& [signature, pages] = known.value(nameOf(path));
      if (!signature.isEmpty()) {
        EXPECT_EQ(d.Signature, signature);
      }
      EXPECT_EQ(d.NPages, pages);
    }
  }
}

TEST_F(IniCorpusTest, TablesAndCurvesReferToDeclaredConstants) {
  for (const QString& path : std::as_const(files_)) {
    SCOPED_TRACE(nameOf(path).toStdString());
    const EcuDefinition& d = parsed(path);
    for (const auto& [id, table] : d.Tables) {
      EXPECT_NE(d.findConstant(table.ZBinVariable), nullptr) << "table " << id.toStdString();
    }
    for (const auto& [id, curve] : d.Curves) {
      EXPECT_NE(d.findConstant(curve.YBinVariable), nullptr) << "curve " << id.toStdString();
    }
  }
}

TEST_F(IniCorpusTest, ConstantsAndChannelsLieInsideTheirBlocks) {
  for (const QString& path : std::as_const(files_)) {
    SCOPED_TRACE(nameOf(path).toStdString());
    const EcuDefinition& d = parsed(path);
    int constants = 0;
    for (const PageGroup& page : d.Pages) {
      if (page.PageNumber == 0) {
        continue;
      }
      const int size = d.pageSize(page.PageNumber);
      for (const ConstantDef& c : page.Fields) {
        ++constants;
        EXPECT_GE(c.Offset, 0) << c.Name.toStdString();
        EXPECT_LE(c.Offset + fieldSize(c), size)
            << c.Name.toStdString() << " on page " << page.PageNumber;
      }
    }
    EXPECT_GT(constants, 50);
    EXPECT_GT(d.OchBlockSize, 0);
    int declared = 0;
    QStringList outside;
    for (const auto& [name, channel] : d.OutputChannels) {
      if (channel.Expression) {
        continue;
      }
      ++declared;
      EXPECT_GE(channel.Offset, 0) << name.toStdString();
      if (channel.Offset + fieldSize(channel) > d.OchBlockSize) {
        outside.append(name);
      }
    }
    EXPECT_GT(declared, 10);
    // The 2016 file itself declares its error channels at byte 34 of a 34-byte block.
    const QStringList expected =
        nameOf(path) == QLatin1String("speeduino-201607.ini")
            ? QStringList{QStringLiteral("errors"), QStringLiteral("errorNum"),
                          QStringLiteral("currentError")}
            : QStringList();
    EXPECT_EQ(outside, expected);
  }
}

TEST_F(IniCorpusTest, DumpIsValidJson) {
  for (const QString& path : std::as_const(files_)) {
    SCOPED_TRACE(nameOf(path).toStdString());
    const QByteArray text = serialize(definitionJson(parsed(path)));
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    EXPECT_TRUE(doc.isObject());
  }
}

}  // namespace
}  // namespace tk
