#include "cli/plot_commands.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QtGlobal>
#include <cstdio>

#include "cli/command_support.h"
#include "dashboard/chart_data.h"
#include "dashboard/chart_render.h"
#include "formats/mlg_reader.h"
#include "project/json_document_file.h"

namespace tk::cli {
namespace {

constexpr int kDefaultWidth = 1200;
constexpr int kDefaultHeight = 800;
// Beyond this a picture is a mistake in the options rather than a wish.
constexpr int kMaxSide = 10000;

std::optional<double> secondsOption(const CommandOptions& options, const QString& name) {
  if (!options.has(name)) {
    return std::nullopt;
  }
  std::optional<double> seconds = parseDecimal(options.value(name));
  if (!seconds) {
    throw CommandError(QStringLiteral("--%1 must be a number of seconds").arg(name));
  }
  return seconds;
}

int sideOption(const CommandOptions& options, const QString& name, int fallback) {
  const int side = options.intOrZero(name, fallback);
  if (side < 16 || side > kMaxSide) {
    throw CommandError(QStringLiteral("--%1 must be between 16 and %2").arg(name).arg(kMaxSide));
  }
  return side;
}

QtMessageHandler previousHandler = nullptr;

void dropRuntimeDirNote(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type == QtWarningMsg && text.startsWith(u"QStandardPaths: XDG_RUNTIME_DIR not set")) {
    return;
  }
  if (previousHandler != nullptr) {
    previousHandler(type, context, text);
  } else {
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
  }
}

}  // namespace

void prepareOffscreenDrawing() {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  previousHandler = qInstallMessageHandler(dropRuntimeDirNote);
}

JsonValue plot(CommandContext& context) {
  const CommandOptions& options = context.options();
  const QString output = options.value(QStringLiteral("output"));
  const std::optional<ImageFormat> format = imageFormatFor(output);
  if (!format) {
    throw CommandError(QStringLiteral("--output must name a .png or .svg file"));
  }
  const bool table = options.has(QStringLiteral("table"));
  if (table == options.has(QStringLiteral("log"))) {
    throw CommandError(
        QStringLiteral("plot needs either --log with --channels or -p with --table"));
  }
  // The painter's text needs the GUI application that the program makes for this command.
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
    throw CommandError(QStringLiteral("plot needs the program's offscreen GUI application"));
  }
  const QSize size(sideOption(options, QStringLiteral("width"), kDefaultWidth),
                   sideOption(options, QStringLiteral("height"), kDefaultHeight));
  QElapsedTimer timer;
  timer.start();

  JsonValue data = JsonValue::object();
  QByteArray bytes;
  {
    if (table) {
      if (!options.has(QStringLiteral("project"))) {
        throw CommandError(QStringLiteral("plot --table needs the project (-p)"));
      }
      context.loadProject(ProjectAccess::Read);
      const project::ProjectManager& manager = context.manager();
      const EcuDefinition& definition = requireDefinition(manager);
      const QString id = options.value(QStringLiteral("table"));
      if (definition.Tables.find(id) == nullptr) {
        context.hintName(id, idsOf(definition.Tables));
      }
      const HeatMap map = heatMapOf(definition, requireTune(manager), id);
      bytes = renderHeatMap(map, size, *format);
      data.insert(QStringLiteral("table"), id);
      data.insert(QStringLiteral("rows"), map.rows);
      data.insert(QStringLiteral("cols"), map.cols);
    } else {
      const QStringList channels =
          options.value(QStringLiteral("channels")).split(QLatin1Char(','), Qt::SkipEmptyParts);
      if (channels.isEmpty()) {
        throw CommandError(QStringLiteral("plot --log needs --channels, e.g. rpm,afr,map"));
      }
      const QString logPath = options.value(QStringLiteral("log"));
      TimeChart chart = timeChartOf(readMlgFile(logPath), channels,
                                    secondsOption(options, QStringLiteral("from")),
                                    secondsOption(options, QStringLiteral("to")));
      chart.title = QFileInfo(logPath).fileName();
      bytes = renderTimeChart(chart, size, *format);
      JsonValue names = JsonValue::array();
      for (const ChartSeries& series : chart.series) {
        names.append(series.name);
      }
      data.insert(QStringLiteral("channels"), std::move(names));
      data.insert(QStringLiteral("records"), static_cast<long long>(chart.times.size()));
      data.insert(QStringLiteral("markers"), static_cast<long long>(chart.markers.size()));
    }
  }
  if (!project::replaceFileAtomically(output, bytes)) {
    throw CommandError(QStringLiteral("Cannot write image file: ") + output);
  }
  data.insert(QStringLiteral("output"), output);
  data.insert(QStringLiteral("format"),
              *format == ImageFormat::Png ? QStringLiteral("png") : QStringLiteral("svg"));
  data.insert(QStringLiteral("width"), size.width());
  data.insert(QStringLiteral("height"), size.height());
  data.insert(QStringLiteral("bytes"), static_cast<long long>(bytes.size()));
  data.insert(QStringLiteral("elapsedMs"), static_cast<long long>(timer.elapsed()));
  return data;
}

}  // namespace tk::cli
