#pragma once

#include <QByteArray>
#include <QHash>
#include <QHttpServer>
#include <QObject>
#include <QString>
#include <QWebSocket>
#include <memory>
#include <vector>

namespace tk {

/// The dashboard's local web server: the page's files built into the program, the gauges the
/// page draws at /gauges.json, and live frames pushed to every WebSocket client. It listens on
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

  /// Listens on 127.0.0.1 at port (0: a free one); the port listened on, or 0 when it cannot.
  quint16 listen(quint16 port);
  /// Sends the frame as a text message to every connected client.
  void broadcast(const QByteArray& frame);
  /// How many WebSocket clients are connected.
  int clientCount() const { return static_cast<int>(clients_.size()); }
  /// The last frame broadcast, sent first to a client that connects later.
  const QByteArray& lastFrame() const { return lastFrame_; }

 private:
  void acceptClients();
  void dropClient(QWebSocket* socket);

  QHttpServer http_;
  QByteArray gaugesJson_;
  QByteArray tablesJson_;
  QHash<QString, QByteArray> tables_;
  QByteArray lastFrame_;
  std::vector<std::unique_ptr<QWebSocket>> clients_;
};

}  // namespace tk
