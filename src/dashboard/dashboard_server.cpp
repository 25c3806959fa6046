#include "dashboard/dashboard_server.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QUrlQuery>
#include <algorithm>

#include "json/json_writer.h"

namespace tk {
namespace {

// The page's files, built into the program as resources under this folder.
constexpr QLatin1String kWebRoot(":/dashboard/web");

QByteArray mimeTypeOf(const QString& name) {
  if (name.endsWith(QStringLiteral(".html"))) {
    return "text/html; charset=utf-8";
  }
  if (name.endsWith(QStringLiteral(".js"))) {
    return "text/javascript; charset=utf-8";
  }
  if (name.endsWith(QStringLiteral("LICENSE"))) {
    return "text/plain; charset=utf-8";
  }
  if (name.endsWith(QStringLiteral(".css"))) {
    return "text/css; charset=utf-8";
  }
  return "application/octet-stream";
}

// Only a name among the built-in files is served; whatever else a request names (a path with
// "..", an encoded slash, a file of the machine) is not found.
QHttpServerResponse builtInFile(const QString& name) {
  const qsizetype slash = name.lastIndexOf(QLatin1Char('/'));
  const QString folder = slash < 0 ? QString() : name.left(slash);
  // Only the page's own folder and its vendor/ folder hold files to serve.
  const QStringList files = folder.isEmpty() || folder == u"vendor"
                                ? QDir(QString(kWebRoot) + u'/' + folder).entryList(QDir::Files)
                                : QStringList();
  if (!files.contains(name.mid(slash + 1))) {
    return QHttpServerResponse(QHttpServerResponder::StatusCode::NotFound);
  }
  QFile file(QString(kWebRoot) + u'/' + name);
  if (!file.open(QIODevice::ReadOnly)) {
    return QHttpServerResponse(QHttpServerResponder::StatusCode::NotFound);
  }
  return QHttpServerResponse(mimeTypeOf(name), file.readAll());
}

QHttpServerResponse errorAnswer(const QString& message, QHttpServerResponder::StatusCode status) {
  JsonValue body = JsonValue::object();
  body.insert(QStringLiteral("error"), message);
  return QHttpServerResponse("application/json", serialize(body), status);
}

}  // namespace

DashboardServer::DashboardServer(QByteArray gaugesJson, QByteArray tablesJson,
                                 QHash<QString, QByteArray> tables, QObject* parent)
    : QObject(parent),
      gaugesJson_(std::move(gaugesJson)),
      tablesJson_(std::move(tablesJson)),
      tables_(std::move(tables)) {
  http_.route(QStringLiteral("/"), [] { return builtInFile(QStringLiteral("index.html")); });
  http_.route(QStringLiteral("/gauges.json"),
              [this] { return QHttpServerResponse("application/json", gaugesJson_); });
  http_.route(QStringLiteral("/tables.json"),
              [this] { return QHttpServerResponse("application/json", tablesJson_); });
  http_.route(QStringLiteral("/table/<arg>"), [this](const QString& id) {
    const auto it = tables_.constFind(id);
    return it == tables_.cend() ? QHttpServerResponse(QHttpServerResponder::StatusCode::NotFound)
                                : QHttpServerResponse("application/json", it.value());
  });
  // The upgrade to a WebSocket is taken over by the server only for a path whose handler writes
  // nothing; a plain request for the path is answered like any unknown one.
  http_.route(QStringLiteral("/live"),
              [](const QHttpServerRequest& request, QHttpServerResponder&& responder) {
                if (request.value(QByteArrayLiteral("upgrade")).toLower() != "websocket") {
                  responder.write(QHttpServerResponder::StatusCode::NotFound);
                }
              });
  http_.route(QStringLiteral("/logs.json"), [this] {
    JsonValue names = JsonValue::array();
    for (const QString& name : logs_ ? logs_->names() : QStringList()) {
      names.append(name);
    }
    return QHttpServerResponse("application/json", serialize(names));
  });
  http_.route(QStringLiteral("/log/fields"),
              [this](const QHttpServerRequest& request) { return logAnswer(request, false); });
  http_.route(QStringLiteral("/log/columns"),
              [this](const QHttpServerRequest& request) { return logAnswer(request, true); });
  http_.route(QStringLiteral("/vendor/<arg>"),
              [](const QString& name) { return builtInFile(QStringLiteral("vendor/") + name); });
  http_.route(QStringLiteral("/<arg>"), [](const QString& name) { return builtInFile(name); });
  connect(&http_, &QAbstractHttpServer::newWebSocketConnection, this,
          &DashboardServer::acceptClients);
}

DashboardServer::~DashboardServer() = default;

QHttpServerResponse DashboardServer::logAnswer(const QHttpServerRequest& request, bool columns) {
  const QUrlQuery query(request.url());
  const QString name = query.queryItemValue(QStringLiteral("name"), QUrl::FullyDecoded);
  try {
    if (!logs_) {
      throw LogViewError(QStringLiteral("Log '%1' is not offered").arg(name), true);
    }
    const MlgLog& log = logs_->open(name);
    if (!columns) {
      return QHttpServerResponse("application/json", serialize(logFieldsJson(log)));
    }
    return QHttpServerResponse(
        "application/octet-stream",
        logColumns(log, query.allQueryItemValues(QStringLiteral("channel"), QUrl::FullyDecoded)));
  } catch (const LogViewError& e) {
    return errorAnswer(QString::fromUtf8(e.what()),
                       e.notFound() ? QHttpServerResponder::StatusCode::NotFound
                                    : QHttpServerResponder::StatusCode::UnprocessableEntity);
  } catch (const std::exception& e) {
    // Whatever else goes wrong with one log (memory, above all) is that request's failure.
    return errorAnswer(QString::fromUtf8(e.what()),
                       QHttpServerResponder::StatusCode::InternalServerError);
  }
}

quint16 DashboardServer::listen(quint16 port) {
  return http_.listen(QHostAddress::LocalHost, port);
}

void DashboardServer::broadcast(const QByteArray& frame) {
  lastFrame_ = frame;
  const QString text = QString::fromUtf8(frame);
  for (const std::unique_ptr<QWebSocket>& client : clients_) {
    client->sendTextMessage(text);
  }
}

void DashboardServer::acceptClients() {
  while (http_.hasPendingWebSocketConnections()) {
    std::unique_ptr<QWebSocket> socket = http_.nextPendingWebSocketConnection();
    if (!socket) {
      break;
    }
    QWebSocket* raw = socket.get();
    // A client that closes, breaks off or errs is dropped once control is back in the loop, so
    // that no send in progress works on a deleted socket.
    connect(
        raw, &QWebSocket::disconnected, this, [this, raw] { dropClient(raw); },
        Qt::QueuedConnection);
    if (!lastFrame_.isEmpty()) {
      raw->sendTextMessage(QString::fromUtf8(lastFrame_));
    }
    clients_.push_back(std::move(socket));
  }
}

void DashboardServer::dropClient(QWebSocket* socket) {
  const auto it = std::find_if(clients_.begin(), clients_.end(),
                               [socket](const auto& client) { return client.get() == socket; });
  if (it != clients_.end()) {
    it->release()->deleteLater();
    clients_.erase(it);
  }
}

}  // namespace tk
