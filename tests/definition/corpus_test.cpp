// Facts that must hold for every real definition file of the corpus beside the checkout.
#include <gtest/gtest.h>

#include <QDir>
#include <QMap>

#include "definition/ini_parser.h"
#include "support/test_support.h"

namespace tk {
namespace {

using namespace Qt::Literals::StringLiterals;

class IniCorpusTest : public ::testing::Test {
 protected:
  // Each file is read once for the whole suite; the tests only look at the definitions.
  static void SetUpTestSuite() {
    const QDir dir(test::corpusDir() + u"/ini"_s);
    if (test::corpusDir().isEmpty()) {
      return;
    }
    for (const QString& name : dir.entryList({u"*.ini"_s}, QDir::Files, QDir::Name)) {
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
      {u"speeduino-201503-sig20.ini"_s, {u"20"_s, 3}},
      {u"speeduino-201607.ini"_s, {u"speeduino 201607"_s, 8}},
      {u"speeduino-201710.ini"_s, {u"speeduino 201710"_s, 10}},
      {u"speeduino-202008.ini"_s, {QString(), 13}},
      {u"speeduino-202207.ini"_s, {QString(), 15}},
      {u"speeduino-202501.ini"_s, {QString(), 15}},
      {u"speeduino-202504dev.ini"_s, {u"speeduino 202504-dev"_s, 15}},
      {u"ms3-0569-1.5.2.ini"_s, {u"MS3 Format 0569.00 "_s, 20}},
      {u"rusefi-mega100-20241027.ini"_s, {QString(), 1}},
  };
  for (const auto& [name, d] : definitions_.asKeyValueRange()) {
    SCOPED_TRACE(name.toStdString());
    EXPECT_FALSE(d.Signature.isEmpty() || d.PageReadCommands.isEmpty());
    EXPECT_EQ(d.isBigEndian(), name.startsWith(u"ms3"_s) || name.contains(u"201503"_s));
    const auto [signature, pages] = known.value(name, {QString(), d.NPages});
    EXPECT_EQ(d.Signature, signature.isEmpty() ? d.Signature : signature);
    EXPECT_EQ(std::pair(d.NPages, d.PageSizes.size()), std::pair(pages, qsizetype(pages)));
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
    const QStringList expected = name == QLatin1String("speeduino-201607.ini")
                                     ? QStringList{u"errors"_s, u"errorNum"_s, u"currentError"_s}
                                     : QStringList();
    EXPECT_EQ(outside, expected);
  }
}

}  // namespace
}  // namespace tk
