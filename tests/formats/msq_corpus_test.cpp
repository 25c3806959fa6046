#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTemporaryDir>
#include <cmath>

#include "conformance/dump_msq.h"
#include "definition/ini_parser.h"
#include "formats/msq_reader.h"
#include "formats/msq_writer.h"
#include "support/test_support.h"

namespace tk {
namespace {

// Tunes written by the desktop tuning clients: every one must read and dump.
class MsqCorpusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const QString corpus = test::corpusDir();
    if (corpus.isEmpty() || !QDir(corpus + QStringLiteral("/msq")).exists()) {
      GTEST_SKIP() << "corpus not found";
    }
    corpus_ = corpus;
    files_ = QDir(corpus + QStringLiteral("/msq"))
                 .entryInfoList({QStringLiteral("*.msq")}, QDir::Files, QDir::Name);
    ASSERT_FALSE(files_.isEmpty());
  }

  QString corpus_;
  QFileInfoList files_;
};

TEST_F(MsqCorpusTest, EveryFileReadsWithArraysOfRowsTimesColsAndDumps) {
  QTemporaryDir dir;
  for (const QFileInfo& file : std::as_const(files_)) {
    SCOPED_TRACE(file.fileName().toStdString());
    MsqDocument doc;
    ASSERT_NO_THROW(doc = readMsq(file.filePath()));
    EXPECT_FALSE(doc.Signature.isEmpty());
    EXPECT_GT(doc.PageCount, 0);
    EXPECT_FALSE(doc.Fields.isEmpty());
    QSet<QString> names;
    for (const QList<MsqConstant>* list : {&doc.Fields, &doc.PcVariables}) {
      for (const MsqConstant& c : *list) {
        if (c.IsArray) {
          EXPECT_EQ(c.ArrayValues.size(), qsizetype{std::max(c.Rows, 1)} * std::max(c.Cols, 1))
              << c.Name.toStdString();
        }
        if (list == &doc.Fields) {
          names.insert(c.Name);
        }
      }
    }
    const QString out = dir.filePath(file.completeBaseName() + QStringLiteral(".json"));
    int code = -1;
    const test::Captured c =
        test::captureStdio([&] { code = conformance::dumpMsq(file.filePath(), out); });
    ASSERT_EQ(code, 0) << c.err.toStdString();
    const QJsonDocument json = QJsonDocument::fromJson(test::readFile(out));
    ASSERT_TRUE(json.isObject());
    EXPECT_EQ(json.object().value(QStringLiteral("Fields")).toObject().size(), names.size());
    EXPECT_EQ(json.object().value(QStringLiteral("Signature")).toString(), doc.Signature);
  }
}

// The passat tune and its definition: the tune's values, written again through the definition,
// read back unchanged within the display precision.
TEST_F(MsqCorpusTest, RealTuneSurvivesWritingThroughItsDefinition) {
  const QString ini = corpus_ + QStringLiteral("/ini/speeduino-202501.ini");
  const QString msq = corpus_ + QStringLiteral("/msq/usertune-passat-202501.msq");
  if (!QFileInfo::exists(ini) || !QFileInfo::exists(msq)) {
    GTEST_SKIP() << "corpus pair not found";
  }
  const EcuDefinition definition = IniParser().parse(ini);
  const MsqDocument original = readMsq(msq);
  Tune tune;
  for (const MsqConstant& c : original.Fields) {
    const ConstantDef* constant = definition.findConstant(c.Name);
    if (constant == nullptr || constant->IsPcVariable) {
      continue;
    }
    TuneValue value;
    value.name = constant->Name;
    switch (constant->Type) {
      case ConstantType::Scalar:
        value.scalarValue = c.NumericValue;
        break;
      case ConstantType::Array:
        value.arrayValues = c.ArrayValues;
        break;
      case ConstantType::Bits:
        value.enumValue = c.StringValue;
        break;
      case ConstantType::String:
        value.stringValue = c.StringValue;
        break;
    }
    tune.upsert(value);
  }
  ASSERT_GT(tune.fields.size(), 500);

  const MsqDocument back = parseMsq(writeMsq(definition, tune, QString(), QString(), QString()));
  EXPECT_EQ(back.Signature, definition.Signature);
  int compared = 0;
  for (const MsqConstant& c : back.Fields) {
    const TuneValue* value = tune.find(c.Name);
    const ConstantDef* constant = definition.findConstant(c.Name);
    ASSERT_NE(constant, nullptr);
    if (value == nullptr) {
      continue;
    }
    const double tolerance = 0.5 * std::pow(10.0, -std::max(constant->Digits, 1)) + 1e-9;
    SCOPED_TRACE(c.Name.toStdString());
    if (value->scalarValue) {
      EXPECT_NEAR(c.NumericValue, *value->scalarValue, tolerance);
    } else if (value->arrayValues) {
      ASSERT_EQ(c.ArrayValues.size(), value->arrayValues->size());
      for (qsizetype i = 0; i < c.ArrayValues.size(); ++i) {
        EXPECT_NEAR(c.ArrayValues.at(i), value->arrayValues->at(i), tolerance);
      }
    } else if (value->enumValue) {
      EXPECT_EQ(c.StringValue, *value->enumValue);
    } else if (value->stringValue) {
      EXPECT_EQ(c.StringValue, value->stringValue->trimmed());
    }
    ++compared;
  }
  EXPECT_EQ(compared, tune.fields.size());
}

}  // namespace
}  // namespace tk
