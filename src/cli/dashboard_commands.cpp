#include "cli/dashboard_commands.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <memory>

#include "cli/command_support.h"
#include "cli/console.h"
#include "cli/ecu_link.h"
#include "cli/live_commands.h"
#include "cli/stop_signals.h"
#include "comms/realtime_data.h"
#include "dashboard/chart_data.h"
#include "dashboard/dashboard_server.h"
#include "dashboard/gauge_face.h"
#include "dashboard/layout_reader.h"
#include "json/json_writer.h"

namespace tk::cli {
namespace {

// The page's refresh: ten frames a second, as a desktop dashboard's gauges move.
constexpr int kFrameMs = 100;
// After the link fails, the next try to open it; the page meanwhile says "no controller".
constexpr qint64 kRetryMs = 1000;
// Snapshots in a row that fail before the link is closed and opened afresh.
constexpr int kFailuresBeforeReopen = 3;

QList<GaugeFace> gaugesFor(const EcuDefinition& definition, const CommandOptions& options) {
  if (!options.has(QStringLiteral("layout"))) {
    return gaugesFromDefinition(definition);
  }
  const QString path = options.value(QStringLiteral("layout"));
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    throw CommandError(QStringLiteral("Cannot read dashboard layout: ") + path);
  }
  return gaugesFromLayout(layoutFromJson(file.readAll()));
}

// The logs the page offers: the project's logs folder (where datalog and --live write) and the
// file of --log, which must be there to read.
std::unique_ptr<LogShelf> logShelfFor(CommandContext& context) {
  QString extra;
  if (context.options().has(QStringLiteral("log"))) {
    const QFileInfo log(context.options().value(QStringLiteral("log")));
    if (!log.isFile() || !log.isReadable()) {
      throw CommandError(QStringLiteral("Cannot open MLG file: ") + log.filePath());
    }
    extra = log.absoluteFilePath();
  }
  return std::make_unique<LogShelf>(projectLogsFolder(context.manager()), extra);
}

// One session with the controller for the whole run, kept open while it answers; a session that
// cannot be opened or stops answering is closed and opened again a second later, each outcome
// sent to the page.
class LiveFeed {
 public:
  LiveFeed(project::ProjectManager& manager, DashboardServer& server)
      : definition_(requireDefinition(manager)),
        server_(server),
        computed_(computedChannels(definition_, manager.tune())),
        session_(endpointOf(manager.project()->connection), definition_) {
    clock_.start();
  }

  void tick() {
    if (!session_.isOpen()) {
      if (clock_.elapsed() < nextOpenMs_) {
        return;
      }
      if (std::optional<QString> error = session_.reopen()) {
        lose(*error);
        return;
      }
    }
    const comms::RealtimeSnapshot snapshot =
        comms::readRealtimeSnapshot(definition_, *session_.commands());
    if (snapshot.valid) {
      failures_ = 0;
      send(liveFrame(computed_->complete(snapshot.values)));
    } else if (++failures_ >= kFailuresBeforeReopen || !session_.isOpen()) {
      lose(session_.connectionFailure().value_or(QStringLiteral("the controller does not answer")));
    }
  }

 private:
  void lose(const QString& reason) {
    session_.close();
    failures_ = 0;
    nextOpenMs_ = clock_.elapsed() + kRetryMs;
    send(noControllerFrame(reason));
  }

  void send(const JsonValue& frame) { server_.broadcast(serialize(frame)); }

  const EcuDefinition& definition_;
  DashboardServer& server_;
  std::unique_ptr<expr::ComputedChannels> computed_;
  comms::EcuSession session_;
  QElapsedTimer clock_;
  qint64 nextOpenMs_ = 0;
  int failures_ = 0;
};

}  // namespace

JsonValue dashboard(CommandContext& context) {
  const CommandOptions& options = context.options();
  const EcuDefinition& definition = requireDefinition(context.manager());
  const int port = options.intOrZero(QStringLiteral("port"), 0);
  if (port < 0 || port > 65535 ||
      (port == 0 && options.has(QStringLiteral("port")) &&
       options.value(QStringLiteral("port")).trimmed() != u"0")) {
    throw CommandError(QStringLiteral("--port must be a port number from 0 to 65535"));
  }
  const QList<GaugeFace> gauges = gaugesFor(definition, options);
  std::unique_ptr<LogShelf> logs = logShelfFor(context);

  // The handlers are in place before the server listens, so that a stop is never lost.
  StopSignals stop;
  // The tune does not change while the page is served: every table is drawn from it once.
  JsonValue tableList = JsonValue::array();
  QHash<QString, QByteArray> tables;
  const Tune& tune = requireTune(context.manager());
  for (const auto& [id, table] : definition.Tables) {
    std::optional<HeatMap> map;
    try {
      map = heatMapOf(definition, tune, id);
    } catch (const ChartError&) {
      // A table without data in the tune, or of an unusable shape, is not offered.
      continue;
    }
    JsonValue item = JsonValue::object();
    item.insert(QStringLiteral("id"), id);
    item.insert(QStringLiteral("title"), table.Title.isEmpty() ? id : table.Title);
    tableList.append(std::move(item));
    tables.insert(id, serialize(heatMapJson(*map)));
  }
  DashboardServer server(serialize(gaugesJson(gauges)), serialize(tableList), std::move(tables));
  server.serveLogs(std::move(logs));
  const quint16 listening = server.listen(static_cast<quint16>(port));
  if (listening == 0) {
    throw CommandError(QStringLiteral("Cannot listen on 127.0.0.1:%1").arg(port));
  }
  const QString url = QStringLiteral("http://127.0.0.1:%1/").arg(listening);
  write(
      {Stream::Err, QStringLiteral("[CLI] Dashboard at %1 (Ctrl+C stops it)\n").arg(url).toUtf8()});

  LiveFeed feed(context.manager(), server);
  QEventLoop loop;
  QTimer frames;
  QObject::connect(&frames, &QTimer::timeout, &loop, [&] {
    if (stop.requested()) {
      loop.quit();
      return;
    }
    feed.tick();
  });
  frames.start(kFrameMs);
  loop.exec();
  stop.ignore();

  JsonValue data = JsonValue::object();
  data.insert(QStringLiteral("url"), url);
  data.insert(QStringLiteral("gauges"), static_cast<long long>(gauges.size()));
  return data;
}

}  // namespace tk::cli
