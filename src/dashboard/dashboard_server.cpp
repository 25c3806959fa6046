#include "dashboard/dashboard_server.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <algorithm>

namespace tk {
namespace {

// The page's files, built into the program as resources under this folder.
const QString kWebRoot = QStringLiteral(":/dashboard/web");

QByteArray mimeTypeOf(const QString& name) {
  if (name.endsWith(QStringLiteral(".html"))) {
    return "text/html; charset=utf-8";
  }
  if (name.endsWith(QStringLiteral(".js"))) {
    return "text/javascript; charset=utf-8";
  }
  if (name.endsWith(QStringLiteral(".css"))) {
    return "text/css; charset=utf-8";
  }
  return "application/octet-stream";
}

// Only a name among the built-in files is served; whatever else a request names (a path with
// "..", an encoded slash, a file of the machine) is not found.
QHttpServerResponse builtInFile(const QString& name) {
  const QStringList files = QDir(kWebRoot).entryList(QDir::Files);
  if (!files.contains(name)) {
    return QHttpServerResponse(QHttpServerResponder::StatusCode::NotFound);
  }
  QFile file(kWebRoot + QLatin1Char('/') + name);
  if (!file.open(QIODevice::ReadOnly)) {
    return QHttpServerResponse(QHttpServerResponder::StatusCode::NotFound);
  }
  return QHttpServerResponse(mimeTypeOf(name), file.readAll());
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
  http_.route(QStringLiteral("/<arg>"), [](const QString& name) { return builtInFile(name); });
  connect(&http_, &QAbstractHttpServer::newWebSocketConnection, this,
          &DashboardServer::acceptClients);
}

DashboardServer::~DashboardServer() = default;

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
