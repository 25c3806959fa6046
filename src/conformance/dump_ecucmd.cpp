#include "conformance/dump_ecucmd.h"

#include "comms/crc32.h"
#include "comms/ecu_command_service.h"
#include "comms/scripted_ecu_connection.h"
#include "json/json_writer.h"

namespace tk::conformance {

using comms::CrcCoverage;
using comms::EcuCommandService;
using comms::EcuResponse;
using comms::ScriptedEcuConnection;

namespace {

// Short enough to keep the whole run quick, long enough for a scripted reply that is already
// waiting.
constexpr int kShortTimeoutMs = 50;
constexpr int kNormalTimeoutMs = 1000;

QByteArray fromHex(const char* text) { return QByteArray::fromHex(text); }

QByteArray withCrc(const QByteArray& bytes, quint32 crc, bool littleEndian) {
  QByteArray out = bytes;
  for (int i = 0; i < 4; ++i) {
    const int shift = littleEndian ? 8 * i : 24 - 8 * i;
    out.append(static_cast<char>((crc >> shift) & 0xFF));
  }
  return out;
}

// A response frame with the CRC as one coverage mode computes it, in the given byte order.
QByteArray responseWithCoverage(const QByteArray& payload, int mode, bool littleEndian) {
  const QByteArray header = QByteArray(1, char((payload.size() >> 8) & 0xFF)) +
                            QByteArray(1, char(payload.size() & 0xFF));
  const QByteArray data = payload.mid(1);
  quint32 crc = 0;
  switch (mode) {
    case 1:
      crc = comms::crc32(payload);
      break;
    case 2:
      crc = data.isEmpty() ? 0 : comms::crc32(data);
      break;
    case 3:
      crc = comms::crc32(header + payload);
      break;
    default:
      crc = data.isEmpty() ? 0 : comms::crc32(header + data);
      break;
  }
  return withCrc(header + payload, crc, littleEndian);
}

QByteArray okResponse(const QByteArray& data) {
  return responseWithCoverage(QByteArray(1, '\0') + data, 1, false);
}

QString crcText(quint32 crc) {
  return QStringLiteral("0x%1").arg(
      QString::number(crc, 16).toUpper().rightJustified(8, QLatin1Char('0')));
}

// One vector's scripted connection and service, opened unless asked otherwise. A scripted ECU
// answers at once or never, so the service waits on a fake clock: timeouts take no real time.
struct Trace {
  explicit Trace(bool open = true) {
    connection.setClock(clock);
    if (open) {
      connection.open();
    }
    service.setConnection(&connection);
  }

  JsonValue start(const char* name) const {
    JsonValue v = JsonValue::object();
    v.insert(QStringLiteral("name"), name);
    return v;
  }

  void finish(JsonValue& v) {
    v.insert(QStringLiteral("tx"), writesJson(connection));
    v.insert(QStringLiteral("bytesAvailableAfter"),
             static_cast<long long>(connection.bytesAvailable()));
  }

  void insertDetection(JsonValue& v) const {
    v.insert(QStringLiteral("crcCoverage"), static_cast<int>(service.crcCoverage()));
    v.insert(QStringLiteral("crcLittleEndian"), service.crcLittleEndian());
  }

  ScriptedEcuConnection connection;
  comms::FakeClock clock;
  EcuCommandService service{nullptr, clock};
};

JsonValue scaleTimeout() {
  JsonValue v = JsonValue::object();
  v.insert(QStringLiteral("name"), "scale-timeout");
  JsonValue cases = JsonValue::array();
  for (const int bytes : {0, 1, 1599, 1600, 1607, 1608, 4096, 32767}) {
    JsonValue c = JsonValue::object();
    c.insert(QStringLiteral("bytes"), bytes);
    c.insert(QStringLiteral("timeoutMs"), EcuCommandService::scaledTimeoutMs(bytes));
    cases.append(std::move(c));
  }
  v.insert(QStringLiteral("cases"), std::move(cases));
  return v;
}

JsonValue wrapVector(const char* name, const QByteArray& payload) {
  JsonValue v = JsonValue::object();
  v.insert(QStringLiteral("name"), name);
  v.insert(QStringLiteral("payload"), traceHex(payload));
  v.insert(QStringLiteral("crc32"), crcText(comms::crc32(payload)));
  v.insert(QStringLiteral("frame"), traceHex(EcuCommandService::wrapFrame(payload)));
  return v;
}

JsonValue notConnected() {
  Trace t(false);
  t.connection.queueReply(okResponse("x"));
  JsonValue v = t.start("not-connected");
  const EcuResponse r = t.service.sendCommand("Q", kNormalTimeoutMs);
  v.insert(QStringLiteral("response"), responseJson(r));
  v.insert(QStringLiteral("readCalls"), t.connection.readCalls());
  t.finish(v);
  return v;
}

// The command "A" answered by a status byte and eight data bytes, CRC over the payload.
JsonValue roundTrip() {
  Trace t;
  t.connection.queueReply(okResponse(fromHex("0102030405060708")));
  JsonValue v = t.start("roundtrip-A-BE");
  v.insert(QStringLiteral("response"), responseJson(t.service.sendCommand("A", kNormalTimeoutMs)));
  t.insertDetection(v);
  t.finish(v);
  return v;
}

JsonValue detect(int mode, bool littleEndian) {
  Trace t;
  const QByteArray payload = fromHex("00C0FFEE");
  t.connection.queueReply(responseWithCoverage(payload, mode, littleEndian));
  const QByteArray name = QStringLiteral("detect-%1-%2")
                              .arg(mode)
                              .arg(littleEndian ? QStringLiteral("LE") : QStringLiteral("BE"))
                              .toUtf8();
  JsonValue v = t.start(name.constData());
  v.insert(QStringLiteral("rx"), traceHex(t.connection.queuedReplies().head()));
  v.insert(QStringLiteral("response"), responseJson(t.service.sendCommand("A", kNormalTimeoutMs)));
  t.insertDetection(v);
  t.finish(v);
  return v;
}

// One exchange against a canned reply (or none), reporting the response.
JsonValue failingExchange(const char* name, const std::optional<QByteArray>& reply, int timeoutMs) {
  Trace t;
  if (reply) {
    t.connection.queueReply(*reply);
  }
  JsonValue v = t.start(name);
  v.insert(QStringLiteral("rx"), reply ? traceHex(*reply) : QString());
  v.insert(QStringLiteral("timeoutMs"), timeoutMs);
  v.insert(QStringLiteral("response"), responseJson(t.service.sendCommand("A", timeoutMs)));
  t.finish(v);
  return v;
}

JsonValue purgeStale() {
  Trace t;
  const QByteArray stale(300, '\x5A');
  t.connection.appendPendingInput(stale);
  t.connection.queueReply(okResponse("fresh"));
  JsonValue v = t.start("purge-stale");
  v.insert(QStringLiteral("staleBytes"), static_cast<long long>(stale.size()));
  v.insert(QStringLiteral("response"), responseJson(t.service.sendCommand("A", kNormalTimeoutMs)));
  t.finish(v);
  return v;
}

JsonValue toBuffer(const char* name, const std::optional<QByteArray>& reply, int offset,
                   int maxCount, int timeoutMs) {
  Trace t;
  if (reply) {
    t.connection.queueReply(*reply);
  }
  QByteArray destination(8, '\xEE');
  JsonValue v = t.start(name);
  v.insert(QStringLiteral("offset"), offset);
  v.insert(QStringLiteral("maxCount"), maxCount);
  const int count =
      t.service.readResponseInto(EcuCommandService::wrapFrame(fromHex("72000000000A")), destination,
                                 offset, maxCount, timeoutMs);
  v.insert(QStringLiteral("count"), count);
  v.insert(QStringLiteral("destination"), traceHex(destination));
  t.finish(v);
  return v;
}

JsonValue shortWrite() {
  Trace t;
  t.connection.setForcedWriteResult(3);
  t.connection.queueReply(okResponse("x"));
  JsonValue v = t.start("short-write");
  v.insert(QStringLiteral("response"), responseJson(t.service.sendCommand("A", kNormalTimeoutMs)));
  v.insert(QStringLiteral("queuedRepliesLeft"),
           static_cast<long long>(t.connection.queuedReplies().size()));
  t.finish(v);
  return v;
}

// A burn sent as a frame that expects no answer: the ECU's acknowledgement stays unread.
JsonValue noResponseBurn() {
  Trace t;
  t.connection.queueReply(responseWithCoverage(fromHex("04"), 1, false));
  JsonValue v = t.start("no-response-burn");
  t.service.sendWithoutResponse(fromHex("620001"));
  v.insert(QStringLiteral("readCalls"), t.connection.readCalls());
  t.finish(v);
  return v;
}

JsonValue console(const char* name, const std::optional<QByteArray>& reply, int timeoutMs) {
  Trace t;
  if (reply) {
    t.connection.queueReply(*reply);
  }
  JsonValue v = t.start(name);
  v.insert(QStringLiteral("command"), "status");
  const std::optional<QString> text =
      t.service.sendConsoleCommand(QStringLiteral("status"), timeoutMs);
  v.insert(QStringLiteral("reply"), text ? JsonValue(*text) : JsonValue());
  t.finish(v);
  return v;
}

JsonValue resyncVector(const char* name, const std::optional<QByteArray>& reply) {
  Trace t;
  if (reply) {
    t.connection.appendPendingInput(fromHex("DEADBEEF"));
    t.connection.queueReply(*reply);
  }
  JsonValue v = t.start(name);
  v.insert(QStringLiteral("answered"), t.service.resync());
  t.finish(v);
  return v;
}

}  // namespace

QString traceHex(const QByteArray& bytes) {
  return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

JsonValue responseJson(const EcuResponse& response) {
  JsonValue v = JsonValue::object();
  v.insert(QStringLiteral("ok"), response.ok);
  v.insert(QStringLiteral("status"), static_cast<int>(response.status));
  v.insert(QStringLiteral("data"), traceHex(response.data));
  v.insert(QStringLiteral("error"), response.error);
  return v;
}

JsonValue writesJson(const ScriptedEcuConnection& connection) {
  JsonValue list = JsonValue::array();
  for (const QByteArray& w : connection.writes()) {
    list.append(traceHex(w));
  }
  return list;
}

JsonValue ecuCommandVectors() {
  JsonValue vectors = JsonValue::array();
  vectors.append(scaleTimeout());
  vectors.append(wrapVector("wrap-write", fromHex("4300010010000401020304")));
  vectors.append(wrapVector("wrap-signature", QByteArrayLiteral("Q")));
  vectors.append(wrapVector("wrap-empty", QByteArray()));
  vectors.append(notConnected());
  vectors.append(roundTrip());
  for (int mode = 1; mode <= 4; ++mode) {
    vectors.append(detect(mode, false));
    vectors.append(detect(mode, true));
  }
  vectors.append(failingExchange("timeout-partial", fromHex("0009000102"), kShortTimeoutMs));
  vectors.append(failingExchange("timeout-no-response", std::nullopt, kShortTimeoutMs));
  vectors.append(
      failingExchange("invalid-size-big", fromHex("80010000000000000000"), kNormalTimeoutMs));
  vectors.append(
      failingExchange("invalid-size-zero", fromHex("0000000000000000"), kNormalTimeoutMs));
  vectors.append(failingExchange("crc-garbage", fromHex("00030001021234ABCD"), kNormalTimeoutMs));
  vectors.append(purgeStale());
  vectors.append(toBuffer("tobuffer-clamp", okResponse(fromHex("0102030405060708090A")), 2, 4,
                          kNormalTimeoutMs));
  vectors.append(
      toBuffer("tobuffer-nodata-status", okResponse(QByteArray()), 0, 8, kNormalTimeoutMs));
  vectors.append(toBuffer("tobuffer-timeout", std::nullopt, 0, 8, kShortTimeoutMs));
  vectors.append(shortWrite());
  vectors.append(noResponseBurn());
  vectors.append(console("console-timeout", std::nullopt, kShortTimeoutMs));
  vectors.append(
      console("console-ok", QByteArrayLiteral("Speeduino console v1\r\n"), kNormalTimeoutMs));
  vectors.append(resyncVector("resync-dead", std::nullopt));
  vectors.append(resyncVector("resync-ok", QByteArrayLiteral("001")));
  JsonValue doc = JsonValue::object();
  doc.insert(QStringLiteral("vectors"), std::move(vectors));
  return doc;
}

int dumpEcuCmd(const QString& outPath) { return writeJsonFile(ecuCommandVectors(), outPath); }

}  // namespace tk::conformance
