#pragma once

#include <QByteArray>
#include <QHash>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QObject>
#include <QString>
#include <QWebSocket>
#include <memory>
#include <vector>

#include "dashboard/log_view.h"

namespace tk {

/// The dashboard's local web server: the page's files built into the program, the gauges the
/// page draws at /gauges.json, the tables and the logs it shows, and live frames pushed to every
/// WebSocket client. It listens on
/// the loopback address only and changes nothing: what clients send is ignored, a request for
/// anything but its own files is answered 404, and a client that goes away is just dropped.
class DashboardServer : public QObject {
  Q_OBJECT

 public:
  /// A server that will hand out gaugesJson as /gauges.json, tablesJson (the list of tables) as
  /// /tables.json and each of tables (by id) as /table/<id>.
  DashboardServer(QByteArray gaugesJson, QByteArray tablesJson, QHash<QString, QByteArray> tables,
                  QObject* parent = nullptr);
  ~DashboardServer() override;
  DashboardServer(const DashboardServer&) = delete;
  DashboardServer& operator=(const DashboardServer&) = delete;

  /// Offers the shelf's logs: /logs.json lists them, /log/fields?name=N gives one's fields and
  /// markers (logFieldsJson) and /log/columns?name=N&channel=C&channel=D the values of its
  /// chosen channels (logColumns). A log or channel not offered is answered 404, a damaged log
  /// 422, each with {"error": text}.
  void serveLogs(std::unique_ptr<LogShelf> logs) { logs_ = std::move(logs); }
  /// Listens on 127.0.0.1 at port (0: a free one); the port listened on, or 0 when it cannot.
  quint16 listen(quint16 port);
  /// Sends the frame as a text message to every connected client.
  void broadcast(const QByteArray& frame);
  /// How many WebSocket clients are connected.
  int clientCount() const { return static_cast<int>(clients_.size()); }
  /// The last frame broadcast, sent first to a client that connects later.
  const QByteArray& lastFrame() const { return lastFrame_; }

 private:
  QHttpServerResponse logAnswer(const QHttpServerRequest& request, bool columns);
  void acceptClients();
  void dropClient(QWebSocket* socket);

  QHttpServer http_;
  QByteArray gaugesJson_;
  QByteArray tablesJson_;
  QHash<QString, QByteArray> tables_;
  std::unique_ptr<LogShelf> logs_;
  QByteArray lastFrame_;
  std::vector<std::unique_ptr<QWebSocket>> clients_;
};

}  // namespace tk
