#include "conformance/dump_mlg.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <limits>

#include "formats/mlg_writer.h"
#include "support/test_support.h"

namespace tk::conformance {
namespace {

MlgField field(MlgDataType type, const char* name, const char* units) {
  MlgField f;
  f.dataType = static_cast<std::uint8_t>(type);
  f.name = QString::fromUtf8(name);
  f.units = QString::fromUtf8(units);
  f.category = QStringLiteral("Datalog");
  return f;
}

class DumpMlgTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

  QString path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }

  void writeBytes(const QString& file, const QByteArray& bytes) {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
  }

  // Runs the command in-process and keeps what it printed.
  int dump(const QString& in, const QString& out) {
    int code = -1;
    captured_ = test::captureStdio([&] { code = dumpMlg(in, out); });
    return code;
  }

  // Four fields: a float, an unsigned 16-bit value, a scaled signed byte whose name holds a
  // comma and a bit field whose name holds double quotes.
  QByteArray sampleLog() {
    MlgField temp = field(MlgDataType::S08, "Temp, C", "C");
    temp.displayStyle = 2;
    temp.scale = 0.1f;
    temp.transform = -40.0f;
    temp.digits = 1;
    MlgField time = field(MlgDataType::F32, "Time", "s");
    time.digits = 3;
    MlgWriter writer({time, field(MlgDataType::U16, "RPM", "rpm"), temp,
                      field(MlgDataType::Bits08, "Flags \"x\"", "bits")},
                     2);
    writer.writeHeader(1700000000, QStringLiteral("Torvik CLI Datalog"));
    const double r1[] = {0.0, 850, -12, 5};
    const double r2[] = {0.65, 70000, 300, 300};
    const double r3[] = {std::numeric_limits<double>::quiet_NaN(), 1, -1, 1};
    writer.writeRecord(0, r1);
    writer.writeMarker(50, QStringLiteral("Lap, \"one\""));
    writer.writeRecord(65000, r2);
    writer.writeRecord(100, r3);
    writer.writeMarker(150, QStringLiteral("end"));
    return writer.bytes();
  }

  QTemporaryDir dir_;
  test::Captured captured_;
};

TEST_F(DumpMlgTest, WritesHeaderFieldsRecordsAndMarkersOverAnExistingFile) {
  writeBytes(path("log.mlg"), sampleLog());
  writeBytes(path("log.csv"), QByteArray(100000, 'x'));  // longer than the dump: replaced whole
  ASSERT_EQ(dump(path("log.mlg"), path("log.csv")), 0);
  EXPECT_TRUE(captured_.out.isEmpty());
  EXPECT_TRUE(captured_.err.isEmpty());
  // Floats are widened to double: 0.65 stored as a float reads 0.6499999761581421. The second
  // record's values are saturated (70000, 300 and 300 in U16, S08 and bits); the third wrapped
  // the 16-bit clock.
  EXPECT_EQ(test::readFile(path("log.csv")),
            "# formatVersion=2\n"
            "# timestamp=1700000000\n"
            "# recordLength=8\n"
            "# numLoggerFields=4\n"
            "# infoData=Torvik CLI Datalog\n"
            "# records=3\n"
            "# markers=2\n"
            "[fields]\n"
            "index,dataType,name,units,displayStyle,scale,transform,digits,category,recordOffset,"
            "byteSize\n"
            "0,7,Time,s,0,1,0,3,Datalog,0,4\n"
            "1,2,RPM,rpm,0,1,0,0,Datalog,4,2\n"
            "2,1,\"Temp, C\",C,2,0.1,-40,1,Datalog,6,1\n"
            "3,10,\"Flags \"\"x\"\"\",bits,0,1,0,0,Datalog,7,1\n"
            "[records]\n"
            "counter,timestampRaw,absoluteTimestamp,Time,RPM,\"Temp, C\",\"Flags \"\"x\"\"\"\n"
            "0,0,0,0,850,-12,5\n"
            "2,65000,0.65,0.6499999761581421,65535,127,255\n"
            "3,100,0.65636,NaN,1,-1,1\n"
            "[markers]\n"
            "counter,timestampRaw,absoluteTimestamp,message\n"
            "1,50,0,\"Lap, \"\"one\"\"\"\n"
            "4,150,0.65636,end\n");
}

TEST_F(DumpMlgTest, EmptyLogStillWritesEverySection) {
  MlgWriter writer({}, 1);
  writer.writeHeader(0, QString());
  writeBytes(path("empty.mlg"), writer.bytes());
  ASSERT_EQ(dump(path("empty.mlg"), path("empty.csv")), 0);
  EXPECT_EQ(test::readFile(path("empty.csv")),
            "# formatVersion=1\n"
            "# timestamp=0\n"
            "# recordLength=0\n"
            "# numLoggerFields=0\n"
            "# infoData=\n"
            "# records=0\n"
            "# markers=0\n"
            "[fields]\n"
            "index,dataType,name,units,displayStyle,scale,transform,digits,category,recordOffset,"
            "byteSize\n"
            "[records]\n"
            "counter,timestampRaw,absoluteTimestamp\n"
            "[markers]\n"
            "counter,timestampRaw,absoluteTimestamp,message\n");
}

TEST_F(DumpMlgTest, TextCellsAreQuotedButTheInfoTextIsNot) {
  MlgLog log;
  log.formatVersion = 2;
  log.infoData = QStringLiteral("line one\nline, two");
  MlgField f;
  f.name = QStringLiteral("Temp\u00B0");
  f.units = QStringLiteral("a\nb");
  f.scale = std::numeric_limits<float>::quiet_NaN();
  f.transform = -std::numeric_limits<float>::infinity();
  f.digits = -3;
  f.category = QStringLiteral("x\"y");
  log.fields.push_back(f);
  log.records.push_back(MlgRecord());
  log.records.back().absoluteTimestamp = 0.00001;
  log.values.push_back(1);
  MlgMarker m;
  m.message = QStringLiteral("two\nlines");
  log.markers.push_back(m);
  const QByteArray csv = mlgCsv(log);
  EXPECT_TRUE(csv.contains("\n# infoData=line one\nline, two\n# records=1\n"));
  EXPECT_TRUE(csv.contains("\n0,7,Temp\xC2\xB0,\"a\nb\",0,NaN,-Infinity,-3,\"x\"\"y\",0,0\n"));
  EXPECT_TRUE(csv.contains("\ncounter,timestampRaw,absoluteTimestamp,Temp\xC2\xB0\n0,0,1E-05,1\n"));
  EXPECT_TRUE(csv.endsWith("\n0,0,0,\"two\nlines\"\n"));
}

TEST_F(DumpMlgTest, ValuesUseTheCanonicalDoubleForm) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const std::pair<double, const char*> cases[] = {
      {0.0, "0"},
      {-0.0, "-0"},
      {-1.0, "-1"},
      {2.5, "2.5"},
      {kInf, "Infinity"},
      {-kInf, "-Infinity"},
      {1e-7, "1E-07"},
      {4294967295.0, "4294967295"},
      {-987654321.0, "-987654321"},
      {9007199254740991.0, "9007199254740991"},
      {-9007199254740991.0, "-9007199254740991"},
      {9007199254740992.0, "9007199254740992"},
      {36028797018963968.0, "36028797018963970"},  // 2^55: shortest digits, zero-filled
      {1e16, "10000000000000000"},
      {1e17, "1E+17"},
      {123456789012345678.0, "1.2345678901234568E+17"},
      {-9223372036854775808.0, "-9.223372036854776E+18"},
  };
  MlgLog log;
  log.fields.push_back(MlgField());
  for (const auto& c : cases) {
    log.records.push_back(MlgRecord());
    log.values.push_back(c.first);
  }
  const QByteArray csv = mlgCsv(log);
  const QList<QByteArray> lines = csv.mid(csv.indexOf("absoluteTimestamp,\n") + 19).split('\n');
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(lines.at(static_cast<qsizetype>(i)), QByteArray("0,0,0,") + cases[i].second);
  }
}

TEST_F(DumpMlgTest, InputErrorsExitWithTwoAndWriteNothing) {
  struct Case {
    QString input;
    QByteArray message;
  };
  writeBytes(path("bad.mlg"), QByteArray("ABCDEFGHIJKLMNOPQRSTUVWXYZ"));
  writeBytes(path("short.mlg"), sampleLog().left(400));
  QDir(dir_.path()).mkdir(QStringLiteral("folder.mlg"));
  const Case cases[] = {
      {path("none.mlg"), "ERROR: no such file: " + path("none.mlg").toUtf8() + "\n"},
      {path("folder.mlg"), "ERROR: cannot read " + path("folder.mlg").toUtf8() + "\n"},
      {path("bad.mlg"), "ERROR: Invalid MLG file format. Expected 'MLVLG', got 'ABCDE'\n"},
      {path("short.mlg"), "ERROR: Unexpected end of MLG file\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(dump(c.input, path("out.csv")), 2) << c.message.constData();
    EXPECT_EQ(captured_.err, c.message);
    EXPECT_TRUE(captured_.out.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(path("out.csv")));
  }
  writeBytes(path("log.mlg"), sampleLog());
  const QString out = path("no/such/dir/out.csv");
  EXPECT_EQ(dump(path("log.mlg"), out), 2);
  EXPECT_EQ(captured_.err, "ERROR: cannot write " + out.toUtf8() + "\n");
}

TEST_F(DumpMlgTest, ProgramRoutesOnlyFourArguments) {
  writeBytes(path("log.mlg"), sampleLog());
  const test::ProcessResult ok =
      test::runCli({QStringLiteral("dump-mlg"), path("log.mlg"), path("cli.csv")});
  EXPECT_EQ(ok.exitCode, 0);
  EXPECT_TRUE(ok.err.isEmpty());
  ASSERT_EQ(dump(path("log.mlg"), path("lib.csv")), 0);
  EXPECT_EQ(test::readFile(path("cli.csv")), test::readFile(path("lib.csv")));
  for (const QStringList& args :
       {QStringList{QStringLiteral("dump-mlg"), path("log.mlg")},
        QStringList{QStringLiteral("dump-mlg"), path("log.mlg"), path("a.csv"), path("b.csv")}}) {
    const test::ProcessResult r = test::runCli(args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.startsWith("torvik-cli 0.8.14\nUsage:\n"));
  }
  EXPECT_FALSE(QFileInfo::exists(path("a.csv")));
}

}  // namespace
}  // namespace tk::conformance
