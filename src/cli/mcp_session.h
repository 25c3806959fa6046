#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <functional>
#include <optional>
#include <span>

#include "cli/agent_runner.h"
#include "json/json_value.h"

namespace tk::cli::mcp {

/// JSON-RPC error codes the session answers with.
enum ErrorCode {
  kParseError = -32700,
  kInvalidRequest = -32600,
  kMethodNotFound = -32601,
  kInvalidParams = -32602,
};

/// One MCP session over one project: reads JSON-RPC messages one line each and answers them
/// through a sink, one line each. Every tool call runs its command as a process would, against
/// the project given at the start. Bad input gets an error reply and the session goes on.
class Session {
 public:
  /// Receives one outgoing message (without its line feed).
  using Sink = std::function<void(const QByteArray& message)>;

  /// A session serving the tools of table on the project file projectPath.
  Session(QString projectPath, std::span<const AgentCommand> table, Sink send);

  /// Handles one incoming line: a request gets its reply, a notification none.
  void handleLine(const QByteArray& line);
  /// While a call runs: true, and the call is marked cancelled, when line is the
  /// notifications/cancelled of that call; false for any other line (to be handled later).
  bool takeCancel(const QByteArray& line);
  /// Sets what a running call does between its steps to see new input (it feeds takeCancel).
  void setInputPoll(std::function<void()> poll) { poll_ = std::move(poll); }
  /// The input ended: a running call stops as on a cancel.
  void endInput() { inputEnded_ = true; }

 private:
  void handleRequest(const QJsonValue& id, const QString& method, const QJsonObject& params);
  JsonValue initialize(const QJsonObject& params);
  void callTool(const QJsonValue& id, const QJsonObject& params);
  // Between the steps of a long call: new input, a progress notification, the stop answer.
  bool checkStop();
  void reply(const QJsonValue& id, JsonValue result);
  void replyError(const QJsonValue& id, int code, const QString& text);
  void send(const JsonValue& message);

  QString projectPath_;
  std::span<const AgentCommand> table_;
  Sink send_;
  std::function<void()> poll_;
  bool initialized_ = false;
  bool inputEnded_ = false;
  // The running call: its id, its progress token, how long it has run, whether it was cancelled.
  std::optional<QJsonValue> runningId_;
  QJsonValue progressToken_;
  double progressTotal_ = 0;
  bool countsReadings_ = false;
  qint64 readings_ = 0;
  QElapsedTimer callTimer_;
  qint64 lastProgressMs_ = 0;
  bool cancelled_ = false;
};

/// The mcp command: serves a session on standard input and output until the input ends or
/// SIGINT or SIGTERM comes; the data it returns is never written.
JsonValue serveMcp(CommandContext& context);

}  // namespace tk::cli::mcp
