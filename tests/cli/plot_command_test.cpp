#include <gtest/gtest.h>

#include <QImage>
#include <QRegularExpression>

#include "cli/project_fixture.h"
#include "support/sim_process.h"
#include "support/test_support.h"

namespace tk::cli::test {
namespace {

using tk::test::runCli;

// The program draws the pictures (it makes the offscreen GUI application plot needs); the test
// checks the files: decodable PNG of the asked size, SVG of that size holding the texts a reader
// of the chart needs.
class PlotCommandTest : public CliProjectTest {
 protected:
  QString out(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }

  static QStringList svgTexts(const QString& path) {
    const QString svg = QString::fromUtf8(tk::test::readFile(path));
    QStringList texts;
    static const QRegularExpression kText(QStringLiteral("<text[^>]*>([^<]*)</text>"));
    for (const QRegularExpressionMatch& m : kText.globalMatch(svg)) {
      texts.append(m.captured(1).trimmed());
    }
    return texts;
  }

  static void expectPictures(const QString& png, const QString& svg, QSize size) {
    const QImage image(png);
    EXPECT_EQ(image.size(), size) << png.toStdString();
    const QByteArray text = tk::test::readFile(svg);
    EXPECT_TRUE(text.contains(QStringLiteral("width=\"%1").arg(size.width()).toUtf8()));
    EXPECT_TRUE(text.contains(QStringLiteral("height=\"%1").arg(size.height()).toUtf8()));
  }

  void plot(const QStringList& arguments) {
    const tk::test::ProcessResult result = runCli(QStringList{QStringLiteral("plot")} + arguments);
    ASSERT_EQ(result.exitCode, 0) << result.out.toStdString() << result.err.toStdString();
  }
};

TEST_F(PlotCommandTest, DrawsTableWithItsAxesAndValues) {
  for (const char* name : {"ve.png", "ve.svg"}) {
    plot({"-p", projectPath_, "--table", "veTbl", "--output", out(name), "--width", "640",
          "--height", "480"});
  }
  expectPictures(out("ve.png"), out("ve.svg"), QSize(640, 480));
  const QStringList texts = svgTexts(out("ve.svg"));
  // The sixteen cells, the four bins of each axis and both axis names.
  for (int v = 0; v < 16; ++v) {
    EXPECT_TRUE(texts.contains(QString::number(v))) << v;
  }
  for (const char* label : {"1000", "4000", "20", "80", "rpmAxis", "loadAxis"}) {
    EXPECT_TRUE(texts.contains(QString::fromLatin1(label))) << label;
  }
}

TEST_F(PlotCommandTest, DrawsLogChannelsWithMarkers) {
  const QString log = tk::test::dataPath(QStringLiteral("mlg/seed-v1-markers.mlg"));
  for (const char* name : {"log.png", "log.svg"}) {
    plot({"--log", log, "--channels", "tps,CLT", "--output", out(name)});
  }
  expectPictures(out("log.png"), out("log.svg"), QSize(1200, 800));
  const QStringList texts = svgTexts(out("log.svg"));
  for (const char* label : {"Time (s)", "Lap 1", "end"}) {
    EXPECT_TRUE(texts.contains(QString::fromLatin1(label))) << label;
  }
  EXPECT_TRUE(texts.filter(QStringLiteral("TPS")).size() == 1) << texts.join(u'|').toStdString();
}

TEST_F(PlotCommandTest, RefusesWhatItCannotDraw) {
  const QString log = tk::test::dataPath(QStringLiteral("mlg/seed-v1-markers.mlg"));
  const std::pair<QStringList, const char*> cases[] = {
      {{"--log", log, "--channels", "TPS,boost", "--output", out("a.png")},
       "Channel 'boost' not found in log"},
      {{"--log", log, "--channels", "TPS", "--output", out("a.jpg")},
       "--output must name a .png or .svg file"},
      {{"-p", projectPath_, "--table", "nope", "--output", out("a.svg")},
       "Table 'nope' not found in INI"},
      {{"--output", out("a.svg")}, "plot needs either --log with --channels or -p with --table"},
  };
  for (const auto& [arguments, message] : cases) {
    const tk::test::ProcessResult result = runCli(QStringList{QStringLiteral("plot")} + arguments);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(QString::fromUtf8(result.out)
                    .contains(QString::fromLatin1(message).replace(QLatin1Char('\''),
                                                                   QStringLiteral("\\u0027"))))
        << result.out.toStdString();
  }
  EXPECT_FALSE(QFileInfo::exists(out("a.png")));
}

// A real log and a real tune: the pictures come out of the asked size with their labels.
TEST_F(PlotCommandTest, DrawsCorpusLogAndTable) {
  const QString corpus = tk::test::corpusDir();
  if (corpus.isEmpty()) {
    GTEST_SKIP() << "corpus folder absent: real log and tune not drawn";
  }
  const QString log = corpus + QStringLiteral("/mlg/miata-202012-v1-markers.mlg");
  for (const char* name : {"miata.png", "miata.svg"}) {
    plot({"--log", log, "--channels", "rpm,afr,map", "--output", out(name)});
  }
  expectPictures(out("miata.png"), out("miata.svg"), QSize(1200, 800));
  for (const char* label : {"RPM (rpm)", "AFR (O2)", "MAP (kpa)", "Time (s)"}) {
    EXPECT_TRUE(svgTexts(out("miata.svg")).contains(QString::fromLatin1(label))) << label;
  }

  const QString project =
      tk::test::makeProject(out("passat"), corpus + "/ini/speeduino-202501.ini");
  ASSERT_EQ(runCli({"import-msq", "-p", project, "--file",
                    corpus + "/msq/usertune-passat-202501.msq", "--offline"})
                .exitCode,
            0);
  for (const char* name : {"ve.png", "ve.svg"}) {
    plot({"-p", project, "--table", "veTable1Tbl", "--output", out(name), "--width", "1000",
          "--height", "700"});
  }
  expectPictures(out("ve.png"), out("ve.svg"), QSize(1000, 700));
  // The tune's highest rpm bin and the axis names of the definition.
  for (const char* label : {"6200", "RPM", "Fuel Load:", "VE Table (%)"}) {
    EXPECT_TRUE(svgTexts(out("ve.svg")).contains(QString::fromLatin1(label))) << label;
  }
}

}  // namespace
}  // namespace tk::cli::test
