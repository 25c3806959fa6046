#include "conformance/dump_tunecomms.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

#include "comms/command_builder.h"
#include "comms/ecu_command_service.h"
#include "comms/scripted_ecu_connection.h"
#include "comms/tune_comms_service.h"
#include "conformance/conformance_io.h"
#include "conformance/dump_ecucmd.h"
#include "definition/ini_parser.h"
#include "json/json_writer.h"

namespace tk::conformance {

using comms::EcuCommandService;
using comms::ScriptedEcuConnection;
using comms::TuneCommsService;

namespace {

constexpr QLatin1String kDefinitionPath("tests/data/tunefields.ini");
constexpr QLatin1String kImagePath("tests/data/tuneimg-synthetic.bin");

QByteArray fromHex(const char* text) { return QByteArray::fromHex(text); }

QByteArray okFrame(const QByteArray& data) {
  return EcuCommandService::wrapFrame(QByteArray(1, '\0') + data);
}

QByteArray statusFrame(quint8 status) {
  return EcuCommandService::wrapFrame(QByteArray(1, static_cast<char>(status)));
}

JsonValue optionalText(const std::optional<QString>& text) {
  return text ? JsonValue(*text) : JsonValue();
}

// One vector's scripted ECU with the services over it, waiting on a fake clock (a scripted ECU
// answers at once or never).
struct Trace {
  Trace() {
    connection.setClock(clock);
    connection.open();
  }

  // Settles the framing decision the way a fresh connection would: the "F" probe.
  void decideFraming(bool crc) {
    connection.queueReply(crc ? QByteArrayLiteral("001") : QByteArrayLiteral("ok!"));
    tune.usesCrcFraming();
  }

  JsonValue start(const char* name) const {
    JsonValue v = JsonValue::object();
    v.insert(QStringLiteral("name"), name);
    return v;
  }

  void insertTx(JsonValue& v) const { v.insert(QStringLiteral("tx"), writesJson(connection)); }

  void finish(JsonValue& v) {
    v.insert(QStringLiteral("bytesAvailableAfter"),
             static_cast<long long>(connection.bytesAvailable()));
  }

  ScriptedEcuConnection connection;
  comms::FakeClock clock;
  EcuCommandService commands{nullptr, clock};
  TuneCommsService tune{commands, connection};
};

JsonValue chunkCommand(const char* name, EcuDefinition definition, int pageIndex, int offset,
                       const QByteArray& value, const std::optional<QString>& commandTemplate = {},
                       const std::optional<QString>& identifier = {}) {
  while (definition.PageChunkWriteCommands.size() <= pageIndex) {
    definition.PageChunkWriteCommands.append(QString());
  }
  while (definition.PageIdentifiers.size() <= pageIndex) {
    definition.PageIdentifiers.append(QString());
  }
  if (commandTemplate) {
    definition.PageChunkWriteCommands[pageIndex] = *commandTemplate;
  }
  if (identifier) {
    definition.PageIdentifiers[pageIndex] = *identifier;
  }
  JsonValue v = JsonValue::object();
  v.insert(QStringLiteral("name"), name);
  v.insert(QStringLiteral("template"), definition.PageChunkWriteCommands.at(pageIndex));
  v.insert(QStringLiteral("identifier"), definition.PageIdentifiers.at(pageIndex));
  v.insert(QStringLiteral("endianness"), definition.Endianness);
  v.insert(QStringLiteral("pageIndex"), pageIndex);
  v.insert(QStringLiteral("offset"), offset);
  v.insert(QStringLiteral("value"), traceHex(value));
  v.insert(
      QStringLiteral("command"),
      traceHex(comms::buildCommand(
          definition.PageChunkWriteCommands.at(pageIndex), definition.PageIdentifiers.at(pageIndex),
          offset, static_cast<int>(value.size()), value, definition.Endianness, 0)));
  const std::optional<QByteArray> frame =
      comms::buildChunkWriteFrame(definition, pageIndex, offset, value);
  v.insert(QStringLiteral("frame"), frame ? JsonValue(traceHex(*frame)) : JsonValue());
  return v;
}

JsonValue version(const char* name, const EcuDefinition& definition, bool crc,
                  const std::optional<QByteArray>& reply) {
  Trace t;
  t.decideFraming(crc);
  if (reply) {
    t.connection.queueReply(*reply);
  }
  JsonValue v = t.start(name);
  v.insert(QStringLiteral("versionInfo"), definition.VersionInfo);
  v.insert(QStringLiteral("crcFraming"), crc);
  const std::optional<QString> text = t.tune.readFirmwareVersion(definition);
  t.insertTx(v);
  v.insert(QStringLiteral("version"), optionalText(text));
  t.finish(v);
  return v;
}

JsonValue forceCrcThenCached() {
  Trace t;
  t.connection.queueReply(QByteArrayLiteral("001"));
  JsonValue v = t.start("forcecrc-then-cached");
  t.tune.forceCrcProtocol();
  const qsizetype writesAfterForce = t.connection.writes().size();
  v.insert(QStringLiteral("usesCrcFraming"), t.tune.usesCrcFraming());
  v.insert(QStringLiteral("writesAfterForce"), static_cast<long long>(writesAfterForce));
  t.insertTx(v);
  t.finish(v);
  return v;
}

JsonValue resetProtocolCache() {
  Trace t;
  t.connection.queueReply(QByteArrayLiteral("001"));
  JsonValue v = t.start("reset-protocol-cache");
  t.tune.forceCrcProtocol();
  v.insert(QStringLiteral("beforeReset"), t.tune.usesCrcFraming());
  t.tune.resetProtocolCache();
  t.connection.queueReply(QByteArrayLiteral("OK?"));
  v.insert(QStringLiteral("afterReset"), t.tune.usesCrcFraming());
  t.insertTx(v);
  t.finish(v);
  return v;
}

JsonValue signature(const char* name, const QList<QByteArray>& replies) {
  Trace t;
  t.decideFraming(true);
  for (const QByteArray& r : replies) {
    t.connection.queueReply(r);
  }
  JsonValue v = t.start(name);
  const std::optional<QString> text = t.tune.readSignature();
  t.insertTx(v);
  v.insert(QStringLiteral("signature"), optionalText(text));
  t.finish(v);
  return v;
}

JsonValue signatureShortRetry() {
  Trace t;
  t.decideFraming(true);
  t.connection.queueReply(okFrame("abc"));
  t.connection.queueReply(okFrame("speeduino 202501-tk"));
  JsonValue v = t.start("signature-short-retry");
  const std::optional<QString> text = t.tune.querySignatureText(QStringLiteral("Q"));
  t.insertTx(v);
  v.insert(QStringLiteral("signature"), optionalText(text));
  t.finish(v);
  return v;
}

JsonValue verify(const char* name, const EcuDefinition& definition,
                 const QList<QByteArray>& replies) {
  Trace t;
  t.decideFraming(true);
  for (const QByteArray& r : replies) {
    t.connection.queueReply(r);
  }
  JsonValue v = t.start(name);
  v.insert(QStringLiteral("expected"), definition.Signature);
  const bool match = t.tune.verifySignature(definition);
  t.insertTx(v);
  v.insert(QStringLiteral("match"), match);
  t.finish(v);
  return v;
}

JsonValue configError(const char* name, const EcuDefinition& definition, const QByteArray& reply) {
  Trace t;
  t.decideFraming(true);
  t.connection.queueReply(okFrame(reply));
  JsonValue v = t.start(name);
  v.insert(QStringLiteral("rx"), traceHex(reply));
  const std::optional<QString> text = t.tune.readConfigError(definition);
  t.insertTx(v);
  v.insert(QStringLiteral("configError"), optionalText(text));
  t.finish(v);
  return v;
}

// Reads one page whose chunks the scripted ECU answers from the given page bytes, after the
// replies in front (failed attempts).
JsonValue readPage(const char* name, const EcuDefinition& definition, int pageIndex,
                   const QByteArray& page, const QList<QByteArray>& failuresFirst = {}) {
  Trace t;
  t.decideFraming(true);
  for (const QByteArray& r : failuresFirst) {
    t.connection.queueReply(r);
  }
  const int chunk =
      definition.BlockingFactor < 1 ? 256 : std::min(definition.BlockingFactor, 32767);
  for (qsizetype offset = 0; offset < page.size(); offset += chunk) {
    t.connection.queueReply(okFrame(page.mid(offset, chunk)));
  }
  JsonValue v = t.start(name);
  v.insert(QStringLiteral("pageIndex"), pageIndex);
  v.insert(QStringLiteral("blockingFactor"), definition.BlockingFactor);
  v.insert(QStringLiteral("endianness"), definition.Endianness);
  const comms::PageRead read = t.tune.readPage(definition, pageIndex);
  const std::optional<QByteArray>& bytes = read.bytes;
  const QString& error = read.error;
  t.insertTx(v);
  v.insert(QStringLiteral("pageLength"),
           bytes ? JsonValue(static_cast<long long>(bytes->size())) : JsonValue());
  v.insert(QStringLiteral("pageSha256"),
           bytes ? JsonValue(QString::fromLatin1(
                       QCryptographicHash::hash(*bytes, QCryptographicHash::Sha256).toHex()))
                 : JsonValue());
  v.insert(QStringLiteral("matchesImage"), bytes == page);
  v.insert(QStringLiteral("error"), error);
  t.finish(v);
  return v;
}

JsonValue writeChunkUnframed(const EcuDefinition& definition) {
  Trace t;
  t.decideFraming(false);
  JsonValue v = t.start("writechunk-noncrc");
  const bool ok = t.tune.writeChunk(definition, 0, 4, fromHex("0A0B"));
  t.insertTx(v);
  v.insert(QStringLiteral("result"), ok);
  t.finish(v);
  return v;
}

JsonValue consoleDelegate() {
  Trace t;
  t.connection.queueReply(QByteArrayLiteral("engine idle\r\n"));
  JsonValue v = t.start("console-delegate");
  v.insert(QStringLiteral("command"), "status");
  const std::optional<QString> reply = t.tune.sendConsoleCommand(QStringLiteral("status"), 500);
  t.insertTx(v);
  v.insert(QStringLiteral("reply"), optionalText(reply));
  t.finish(v);
  return v;
}

}  // namespace

std::optional<QString> findRepositoryRoot(const QStringList& startFolders) {
  for (const QString& start : startFolders) {
    QDir dir(start);
    do {
      if (QFileInfo::exists(dir.filePath(kDefinitionPath))) {
        return dir.absolutePath();
      }
    } while (dir.cdUp());
  }
  return std::nullopt;
}

JsonValue tuneCommsVectors(const EcuDefinition& definition, const PageImages& pages) {
  EcuDefinition big = definition;
  big.Endianness = QStringLiteral("big");
  EcuDefinition withoutChunkWrite = definition;
  withoutChunkWrite.PageChunkWriteCommands = {definition.PageChunkWriteCommands.value(0),
                                              QString()};
  EcuDefinition escapedVersion = definition;
  escapedVersion.VersionInfo = QStringLiteral("\\x53\\x02");
  EcuDefinition defaultChunks = definition;
  defaultChunks.BlockingFactor = 0;
  EcuDefinition capped = definition;
  capped.BlockingFactor = 100000;
  const int cappedSize = 33000;
  while (capped.PageSizes.size() < 2) {
    capped.PageSizes.append(0);
  }
  capped.PageSizes[1] = cappedSize;
  QByteArray cappedPage;
  while (cappedPage.size() < cappedSize && !pages.value(2).isEmpty()) {
    cappedPage.append(pages.value(2));
  }
  cappedPage.resize(cappedSize);
  EcuDefinition bigChunks = definition;
  bigChunks.Endianness = QStringLiteral("big");
  bigChunks.BlockingFactor = 128;
  EcuDefinition littleChunks = definition;
  littleChunks.Endianness = QStringLiteral("little");
  littleChunks.BlockingFactor = 128;

  const QByteArray sig = definition.Signature.toLatin1();
  JsonValue vectors = JsonValue::array();
  vectors.append(chunkCommand("chunkcmd-basic", definition, 0, 16, fromHex("DEADBEEF")));
  vectors.append(chunkCommand("chunkcmd-bigendian", big, 0, 272, fromHex("01020304")));
  vectors.append(chunkCommand("chunkcmd-pad", definition, 1, 5, fromHex("AA"),
                              QStringLiteral("M%4i%3o%2c%v"), QStringLiteral("\\x05")));
  vectors.append(chunkCommand("chunkcmd-mixed", definition, 2, 258, fromHex("1122"),
                              QStringLiteral("W\\x80$tsCanId%2i%2o%2c%v\\xg1"),
                              QStringLiteral("\\$tsCanId\\x07")));
  vectors.append(chunkCommand("chunkcmd-empty-format", withoutChunkWrite, 1, 0, fromHex("01")));
  vectors.append(chunkCommand("chunkcmd-percent-edge", definition, 0, 5, fromHex("0102"),
                              QStringLiteral("w%o%c%v%z%")));
  vectors.append(version("version-crc", definition, true, okFrame("Torvik Simulated ECU 1.0\r\n")));
  vectors.append(version("version-noncrc", definition, false, QByteArrayLiteral("fw 202501\n")));
  vectors.append(version("version-crc-timeout", definition, true, std::nullopt));
  vectors.append(version("version-hex-escape", escapedVersion, true, okFrame("S2 ok")));
  vectors.append(forceCrcThenCached());
  vectors.append(signature("signature-q-preferred", {okFrame(sig), okFrame("rusEFI master.2024")}));
  vectors.append(resetProtocolCache());
  vectors.append(signature("signature-speeduino-s",
                           {okFrame("speeduino 202501"), okFrame("Speeduino 2025.01.6\r\n")}));
  vectors.append(signatureShortRetry());
  vectors.append(verify("verify-sig-q-match", definition, {okFrame(" " + sig + "\r\n")}));
  vectors.append(verify("verify-sig-s-match", definition, {okFrame("other 1.0"), okFrame(sig)}));
  vectors.append(verify("verify-sig-mismatch", definition,
                        {okFrame("speeduino 202402"), okFrame("Speeduino 2024.02")}));
  vectors.append(configError("configerror-text", definition, QByteArrayLiteral("Sensor fault!")));
  vectors.append(configError("configerror-whitespace", definition, QByteArrayLiteral("  \t\r\n")));
  vectors.append(configError("configerror-binary", definition, fromHex("4552523A01")));
  vectors.append(configError("configerror-zero", definition, QByteArrayLiteral("0\r\n")));
  vectors.append(readPage("readpage-default-chunk", defaultChunks, 1, pages.value(2)));
  vectors.append(readPage("readpage-cap-chunk", capped, 1, cappedPage));
  vectors.append(readPage("readpage-be-chunked", bigChunks, 0, pages.value(1)));
  vectors.append(readPage("readpage-le-chunked", littleChunks, 0, pages.value(1)));
  vectors.append(readPage("readpage-retry-succeeds", definition, 2, pages.value(3),
                          {statusFrame(0x84), fromHex("0003004142DEADBEEF")}));
  vectors.append(writeChunkUnframed(definition));
  vectors.append(consoleDelegate());
  JsonValue doc = JsonValue::object();
  doc.insert(QStringLiteral("vectors"), std::move(vectors));
  return doc;
}

int dumpTuneComms(const QString& outPath) {
  // The data files belong to the source tree, not the build: look upwards from the working
  // folder first, then from the folder of the program.
  QStringList starts{QDir::currentPath()};
  if (QCoreApplication::instance() != nullptr) {
    starts.append(QCoreApplication::applicationDirPath());
  }
  const std::optional<QString> root = findRepositoryRoot(starts);
  if (!root) {
    printError(QStringLiteral("ERROR: V2 repo root with tests/data/tunefields.ini not found"));
    return kFileErrorExit;
  }
  const QDir dir(*root);
  QByteArray image;
  if (const int code = readInputFile(dir.filePath(kImagePath), image)) {
    return code;
  }
  const EcuDefinition definition = IniParser().parse(dir.filePath(kDefinitionPath));
  const std::optional<PageImages> pages = sliceRawImage(definition, image);
  if (!pages) {
    return kFileErrorExit;
  }
  return writeJsonFile(tuneCommsVectors(definition, *pages), outPath);
}

}  // namespace tk::conformance
