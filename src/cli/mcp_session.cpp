#include "cli/mcp_session.h"

#include <poll.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <deque>
#include <limits>
#include <utility>

#include "cli/command_context.h"
#include "cli/console.h"
#include "cli/ecu_link.h"
#include "cli/mcp_tools.h"
#include "cli/stop_signals.h"
#include "json/json_writer.h"
#include "project/project_manager.h"

namespace tk::cli::mcp {
namespace {

// The protocol versions the session speaks; a client asking for another gets the newest.
constexpr const char* kVersions[] = {"2025-06-18", "2025-11-25"};
constexpr const char* kNewestVersion = "2025-11-25";
// Asked for before initialize: the common code of MCP servers for a session not yet set up.
constexpr int kNotInitialized = -32002;
// A long call tells its progress at most this often.
constexpr qint64 kProgressIntervalMs = 250;

JsonValue idValue(const QJsonValue& id) { return fromQJson(id); }

// The canonical text on one line: its line feeds and their indents go. Strings hold none (a line
// feed in a string is written escaped), so only the layout changes.
QByteArray oneLine(const QByteArray& text) {
  QByteArray line;
  line.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text.at(i) != '\n') {
      line.append(text.at(i));
      continue;
    }
    while (i + 1 < text.size() && text.at(i + 1) == ' ') {
      ++i;
    }
  }
  return line;
}

// The envelope a command printed, as a value; an argument error's line when it printed none.
JsonValue envelopeValue(const QByteArray& bytes) {
  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
  return document.isObject() ? fromQJson(document.object()) : JsonValue();
}

JsonValue textItem(const QString& text) {
  JsonValue item = JsonValue::object();
  item.insert(QStringLiteral("type"), QStringLiteral("text"));
  item.insert(QStringLiteral("text"), text);
  return item;
}

// Reads standard input without blocking the session longer than asked, and splits it into lines.
class LineReader {
 public:
  // The complete lines that arrived within timeoutMs (0: only what is there already).
  QList<QByteArray> read(int timeoutMs) {
    QList<QByteArray> lines;
    pollfd descriptor{STDIN_FILENO, POLLIN, 0};
    if (!ended_ && ::poll(&descriptor, 1, timeoutMs) > 0) {
      char chunk[65536];
      const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
      if (n <= 0) {
        ended_ = true;
      } else {
        buffer_.append(chunk, static_cast<qsizetype>(n));
      }
    }
    qsizetype end = 0;
    while ((end = buffer_.indexOf('\n')) >= 0) {
      lines.append(buffer_.left(end));
      buffer_.remove(0, end + 1);
    }
    // A last line without its line feed still counts once the input has ended.
    if (ended_ && !buffer_.isEmpty()) {
      lines.append(std::exchange(buffer_, {}));
    }
    return lines;
  }
  bool ended() const { return ended_; }

 private:
  QByteArray buffer_;
  bool ended_ = false;
};

// Lends the session's held controller session to every link while the session runs.
class LentSessions {
 public:
  explicit LentSessions(HeldEcuSession& held) { lendEcuSessions(&held); }
  ~LentSessions() { lendEcuSessions(nullptr); }
  LentSessions(const LentSessions&) = delete;
  LentSessions& operator=(const LentSessions&) = delete;
};

}  // namespace

Session::Session(QString projectPath, std::span<const AgentCommand> table, Sink send)
    : projectPath_(std::move(projectPath)), table_(table), send_(std::move(send)) {}

void Session::send(const JsonValue& message) { send_(oneLine(serialize(message))); }

void Session::reply(const QJsonValue& id, JsonValue result) {
  JsonValue message = JsonValue::object();
  message.insert(QStringLiteral("jsonrpc"), QStringLiteral("2.0"));
  message.insert(QStringLiteral("id"), idValue(id));
  message.insert(QStringLiteral("result"), std::move(result));
  send(message);
}

void Session::replyError(const QJsonValue& id, int code, const QString& text) {
  JsonValue error = JsonValue::object();
  error.insert(QStringLiteral("code"), code);
  error.insert(QStringLiteral("message"), text);
  JsonValue message = JsonValue::object();
  message.insert(QStringLiteral("jsonrpc"), QStringLiteral("2.0"));
  message.insert(QStringLiteral("id"), idValue(id));
  message.insert(QStringLiteral("error"), std::move(error));
  send(message);
}

void Session::handleLine(const QByteArray& line) {
  if (line.trimmed().isEmpty()) {
    return;
  }
  QJsonParseError parseError{};
  const QJsonDocument document = QJsonDocument::fromJson(line, &parseError);
  if (parseError.error != QJsonParseError::NoError) {
    replyError(QJsonValue::Null, kParseError,
               QStringLiteral("Parse error: ") + parseError.errorString());
    return;
  }
  if (!document.isObject()) {
    replyError(QJsonValue::Null, kInvalidRequest,
               QStringLiteral("Invalid Request: a message is one JSON object"));
    return;
  }
  const QJsonObject message = document.object();
  const QJsonValue id = message.value(QStringLiteral("id"));
  const bool hasId = message.contains(QStringLiteral("id"));
  if (hasId && !id.isString() && !id.isDouble()) {
    replyError(QJsonValue::Null, kInvalidRequest,
               QStringLiteral("Invalid Request: 'id' must be a string or a number"));
    return;
  }
  const QJsonValue method = message.value(QStringLiteral("method"));
  if (message.value(QStringLiteral("jsonrpc")) != QLatin1String("2.0") || !method.isString()) {
    // A reply from the client (to nothing the session asked) needs no answer.
    if (!message.contains(QStringLiteral("result")) && !message.contains(QStringLiteral("error"))) {
      replyError(hasId ? id : QJsonValue(QJsonValue::Null), kInvalidRequest,
                 QStringLiteral("Invalid Request: 'jsonrpc' must be \"2.0\" and 'method' a "
                                "string"));
    }
    return;
  }
  const QJsonValue params = message.value(QStringLiteral("params"));
  if (!params.isUndefined() && !params.isObject()) {
    if (hasId) {
      replyError(id, kInvalidParams, QStringLiteral("Invalid params: 'params' must be an object"));
    }
    return;
  }
  // Notifications (initialized, a cancel of a call that is over) need nothing from the session.
  if (hasId) {
    handleRequest(id, method.toString(), params.toObject());
  }
}

void Session::handleRequest(const QJsonValue& id, const QString& method,
                            const QJsonObject& params) {
  if (method == QLatin1String("initialize")) {
    reply(id, initialize(params));
    initialized_ = true;
  } else if (method == QLatin1String("ping")) {
    reply(id, JsonValue::object());
  } else if (method != QLatin1String("tools/list") && method != QLatin1String("tools/call")) {
    replyError(id, kMethodNotFound, QStringLiteral("Method not found: ") + method);
  } else if (!initialized_) {
    replyError(id, kNotInitialized,
               QStringLiteral("Server not initialized: send initialize first"));
  } else if (method == QLatin1String("tools/list")) {
    JsonValue result = JsonValue::object();
    result.insert(QStringLiteral("tools"), toolList(table_));
    reply(id, std::move(result));
  } else {
    callTool(id, params);
  }
}

JsonValue Session::initialize(const QJsonObject& params) {
  const QString asked = params.value(QStringLiteral("protocolVersion")).toString();
  QString version = QString::fromLatin1(kNewestVersion);
  for (const char* known : kVersions) {
    if (asked == QLatin1String(known)) {
      version = asked;
    }
  }
  JsonValue tools = JsonValue::object();
  tools.insert(QStringLiteral("listChanged"), false);
  JsonValue capabilities = JsonValue::object();
  capabilities.insert(QStringLiteral("tools"), std::move(tools));
  JsonValue serverInfo = JsonValue::object();
  serverInfo.insert(QStringLiteral("name"), QStringLiteral("torvik-cli"));
  serverInfo.insert(QStringLiteral("version"), QCoreApplication::applicationVersion());
  JsonValue result = JsonValue::object();
  result.insert(QStringLiteral("protocolVersion"), version);
  result.insert(QStringLiteral("capabilities"), std::move(capabilities));
  result.insert(QStringLiteral("serverInfo"), std::move(serverInfo));
  result.insert(QStringLiteral("instructions"),
                QStringLiteral("Tools of torvik-cli on the project %1; each returns the "
                               "command's JSON envelope.")
                    .arg(projectPath_));
  return result;
}

void Session::callTool(const QJsonValue& id, const QJsonObject& params) {
  const QJsonValue name = params.value(QStringLiteral("name"));
  if (!name.isString()) {
    replyError(id, kInvalidParams, QStringLiteral("Invalid params: 'name' must be a string"));
    return;
  }
  const AgentCommand* row = findTool(table_, name.toString());
  if (!row) {
    replyError(id, kInvalidParams, QStringLiteral("Unknown tool: ") + name.toString());
    return;
  }
  const QJsonValue arguments = params.value(QStringLiteral("arguments"));
  if (!arguments.isUndefined() && !arguments.isObject()) {
    replyError(id, kInvalidParams, QStringLiteral("Invalid params: 'arguments' must be an object"));
    return;
  }
  const auto line = commandLine(*row, arguments.toObject(), projectPath_);
  if (const auto* problem = std::get_if<ArgumentProblem>(&line)) {
    replyError(id, kInvalidParams, problem->message);
    return;
  }

  runningId_ = id;
  cancelled_ = false;
  progressToken_ =
      params.value(QStringLiteral("_meta")).toObject().value(QStringLiteral("progressToken"));
  // A series of readings counts them; a recording counts its seconds.
  countsReadings_ = arguments.toObject().contains(QStringLiteral("count"));
  progressTotal_ =
      arguments.toObject()
          .value(countsReadings_ ? QStringLiteral("count") : QStringLiteral("duration"))
          .toDouble();
  readings_ = 0;
  callTimer_.start();
  lastProgressMs_ = 0;
  QByteArray lines;
  captureErrorStream(&lines);
  StopSignals::setStopCheck([this] { return checkStop(); });
  const std::optional<CommandResult> result = runCommand(std::get<QStringList>(line), table_);
  StopSignals::setStopCheck({});
  captureErrorStream(nullptr);
  runningId_.reset();
  // A cancelled call gets no reply: the client has stopped waiting for it.
  if (cancelled_ || !result) {
    return;
  }
  lines += result->diagnostics;
  const bool failed = result->exitCode != 0;
  JsonValue content = JsonValue::array();
  JsonValue structured;
  if (result->output.stream == Stream::Out) {
    content.append(textItem(QString::fromUtf8(result->output.bytes).trimmed()));
    structured = envelopeValue(result->output.bytes);
  } else {
    // An argument error the schema let through prints its one line and no envelope.
    lines += result->output.bytes;
    content.append(textItem(QString()));
  }
  content.append(textItem(QString::fromUtf8(lines)));
  JsonValue toolResult = JsonValue::object();
  toolResult.insert(QStringLiteral("content"), std::move(content));
  if (structured.kind() == JsonValue::Kind::Object) {
    toolResult.insert(QStringLiteral("structuredContent"), std::move(structured));
  }
  toolResult.insert(QStringLiteral("isError"), failed);
  reply(id, std::move(toolResult));
}

bool Session::takeCancel(const QByteArray& line) {
  if (!runningId_) {
    return false;
  }
  const QJsonObject message = QJsonDocument::fromJson(line).object();
  if (message.value(QStringLiteral("method")) != QLatin1String("notifications/cancelled") ||
      message.value(QStringLiteral("params")).toObject().value(QStringLiteral("requestId")) !=
          *runningId_) {
    return false;
  }
  cancelled_ = true;
  return true;
}

bool Session::checkStop() {
  if (poll_) {
    poll_();
  }
  ++readings_;
  const qint64 elapsed = callTimer_.elapsed();
  if ((progressToken_.isString() || progressToken_.isDouble()) &&
      elapsed - lastProgressMs_ >= kProgressIntervalMs) {
    lastProgressMs_ = elapsed;
    JsonValue params = JsonValue::object();
    params.insert(QStringLiteral("progressToken"), fromQJson(progressToken_));
    params.insert(QStringLiteral("progress"), countsReadings_
                                                  ? static_cast<double>(readings_)
                                                  : static_cast<double>(elapsed) / 1000.0);
    if (progressTotal_ > 0) {
      params.insert(QStringLiteral("total"), progressTotal_);
    }
    params.insert(QStringLiteral("message"), countsReadings_ ? QStringLiteral("readings taken")
                                                             : QStringLiteral("seconds recorded"));
    JsonValue message = JsonValue::object();
    message.insert(QStringLiteral("jsonrpc"), QStringLiteral("2.0"));
    message.insert(QStringLiteral("method"), QStringLiteral("notifications/progress"));
    message.insert(QStringLiteral("params"), std::move(params));
    send(message);
  }
  return cancelled_ || inputEnded_;
}

JsonValue serveMcp(CommandContext& context) {
  const QString project = absoluteNativePath(context.options().value(QStringLiteral("project")));
  constexpr qint64 kMsPerSecond = 1000;
  constexpr int kDefaultIdleSeconds = 10;
  const qint64 idleMs =
      kMsPerSecond * context.options().intInRangeOrThrow(
                         QStringLiteral("ecu-idle"), kDefaultIdleSeconds, 0,
                         std::numeric_limits<int>::max(),
                         QStringLiteral("Invalid idle time '%1'. Use a whole number of seconds "
                                        "from 0."));
  // Repeated calls on one project read its definition once while it stays as it is on disk.
  project::keepReadDefinitions(true);
  // SIGINT and SIGTERM end the session between calls; a running datalog stops on them as well.
  const StopSignals stopSignals;
  // One controller session for every call, closed after idleMs without use so that other
  // programs can have the port; it outlives the session that lends it.
  HeldEcuSession held;
  const LentSessions lent(held);
  LineReader reader;
  std::deque<QByteArray> pending;
  Session session(project, agentCommands(), [](const QByteArray& message) {
    write({Stream::Out, message + '\n'});
  });
  session.setInputPoll([&] {
    for (const QByteArray& line : reader.read(0)) {
      if (!session.takeCancel(line)) {
        pending.push_back(line);
      }
    }
    if (reader.ended()) {
      session.endInput();
    }
  });
  constexpr int kWaitMs = 100;
  while (!stopSignals.requested()) {
    held.closeIfIdle(idleMs);
    if (pending.empty()) {
      if (reader.ended()) {
        break;
      }
      for (const QByteArray& line : reader.read(kWaitMs)) {
        pending.push_back(line);
      }
      continue;
    }
    const QByteArray line = pending.front();
    pending.pop_front();
    session.handleLine(line);
    if (held.isOpen()) {
      held.touch();
      // Another connection or definition (set-connection, set-setting-group, another process).
      held.closeIfStale(project);
    }
  }
  project::keepReadDefinitions(false);
  return {};
}

}  // namespace tk::cli::mcp
