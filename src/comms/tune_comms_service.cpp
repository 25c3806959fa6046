#include "comms/tune_comms_service.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QThread>
#include <algorithm>

#include "comms/command_builder.h"
#include "comms/ecu_command_service.h"
#include "comms/ecu_connection.h"
#include "comms/ecu_text.h"
#include "definition/ecu_definition.h"
#include "tune/field_codec.h"

namespace tk::comms {
namespace {

constexpr int kWakeReplyMax = 64;
constexpr int kWakeDeadlineMs = 500;
constexpr int kProbeReplyMax = 16;
constexpr int kProbeDeadlineMs = 500;
constexpr int kReadAttempts = 3;
constexpr int kUnframedIdleReads = 10;
constexpr int kMaxReadChunk = 32767;
constexpr int kDefaultReadChunk = 256;
constexpr int kMaxWriteChunk = 4096;
constexpr int kDefaultWriteChunk = 128;
constexpr int kBurnTimeoutMs = 3000;
constexpr int kTextTimeoutMs = 1000;
constexpr int kConfigErrorTimeoutMs = 2000;
constexpr int kTextReplyMax = 1024;
constexpr int kConfigErrorReplyMax = 2048;

void sleepMs(int ms) { QThread::msleep(static_cast<unsigned long>(ms)); }

int chunkSize(int blockingFactor, int max, int fallback) {
  if (blockingFactor < 1) {
    return fallback;
  }
  return std::min(blockingFactor, max);
}

// A configuration-error reply must be text: printable ASCII, tab, NUL, CR or LF only, with at
// least one printable character.
bool isPrintableReply(const QByteArray& bytes) {
  bool anyPrintable = false;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b <= 0x7E) {
      anyPrintable = true;
    } else if (b != '\t' && b != '\0' && b != '\r' && b != '\n') {
      return false;
    }
  }
  return anyPrintable;
}

bool startsWithSpeeduino(const QString& text) {
  return text.startsWith(QLatin1String("Speeduino"), Qt::CaseInsensitive);
}

}  // namespace

TuneCommsService::TuneCommsService(EcuCommandService& commands) : commands_(commands) {}

void TuneCommsService::attach(EcuConnection& connection) { commands_.setConnection(&connection); }

void TuneCommsService::resetProtocolCache() {
  cachedConnection_ = nullptr;
  cacheValid_ = false;
}

void TuneCommsService::forceCrcProtocol(EcuConnection& connection) {
  attach(connection);
  cachedConnection_ = &connection;
  connection.write(QByteArrayLiteral("F"));
  sleepMs(50);
  // Whatever the ECU says to the wake-up byte is read and dropped, so that it cannot be taken
  // for the start of the first framed reply.
  qsizetype collected = 0;
  const QDeadlineTimer deadline(kWakeDeadlineMs);
  while (collected < kWakeReplyMax) {
    QByteArray chunk = connection.read(kWakeReplyMax - collected);
    if (chunk.isEmpty()) {
      if (deadline.hasExpired()) {
        break;
      }
      sleepMs(50);
      chunk = connection.read(kWakeReplyMax - collected);
      if (chunk.isEmpty()) {
        break;
      }
    }
    collected += chunk.size();
    if (deadline.hasExpired()) {
      break;
    }
  }
  sleepMs(100);
  commands_.drainInput();
  useCrcFraming_ = true;
  cacheValid_ = true;
}

bool TuneCommsService::probeCrcFraming(EcuConnection& connection) {
  connection.write(QByteArrayLiteral("F"));
  sleepMs(50);
  QByteArray reply;
  const QDeadlineTimer deadline(kProbeDeadlineMs);
  while (reply.size() <= 2) {
    const QByteArray chunk = connection.read(kProbeReplyMax - reply.size());
    if (!chunk.isEmpty()) {
      reply.append(chunk);
      continue;
    }
    if (deadline.hasExpired()) {
      return false;
    }
    sleepMs(20);
  }
  return asciiText(reply.left(3)) == QLatin1String("001");
}

bool TuneCommsService::usesCrcFraming(EcuConnection& connection) {
  attach(connection);
  if (cacheValid_ && cachedConnection_ == &connection) {
    return useCrcFraming_;
  }
  cachedConnection_ = &connection;
  useCrcFraming_ = probeCrcFraming(connection);
  cacheValid_ = true;
  return useCrcFraming_;
}

std::optional<QString> TuneCommsService::querySignatureText(EcuConnection& connection,
                                                            const QString& command) {
  attach(connection);
  const QByteArray bytes = asciiBytes(command);
  const bool crc = usesCrcFraming(connection);
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (attempt > 0) {
      sleepMs(100);
    }
    QByteArray reply;
    if (crc) {
      const EcuResponse r = commands_.sendCommand(bytes, kTextTimeoutMs);
      if (r.ok) {
        reply = r.data;
      }
    } else {
      connection.write(bytes);
      sleepMs(100);
      reply = connection.read(kTextReplyMax);
    }
    if (reply.size() > 3) {
      return withoutTrailingLineEnds(asciiText(reply));
    }
  }
  return std::nullopt;
}

std::optional<QString> TuneCommsService::readSignature(EcuConnection& connection) {
  const std::optional<QString> q = querySignatureText(connection, QStringLiteral("Q"));
  const std::optional<QString> s = querySignatureText(connection, QStringLiteral("S"));
  if (s && !s->isEmpty() && startsWithSpeeduino(*s)) {
    return s;
  }
  if (q && !q->isEmpty()) {
    return q;
  }
  return s;
}

bool TuneCommsService::verifySignature(EcuConnection& connection, const EcuDefinition& definition) {
  const QString expected = definition.Signature.trimmed();
  const auto matches = [&expected](const std::optional<QString>& reply) {
    return reply && !reply->trimmed().isEmpty() && reply->trimmed() == expected;
  };
  return matches(querySignatureText(connection, QStringLiteral("Q"))) ||
         matches(querySignatureText(connection, QStringLiteral("S")));
}

std::optional<QString> TuneCommsService::readFirmwareVersion(EcuConnection& connection,
                                                             const EcuDefinition& definition) {
  attach(connection);
  const QString text =
      definition.VersionInfo.isEmpty() ? QStringLiteral("V") : definition.VersionInfo;
  const QByteArray command = decodeEscapes(text, 0);
  QByteArray reply;
  if (usesCrcFraming(connection)) {
    const EcuResponse r = commands_.sendCommand(command, kTextTimeoutMs);
    if (!r.ok) {
      return std::nullopt;
    }
    reply = r.data;
  } else {
    connection.write(command);
    reply = connection.read(kTextReplyMax);
  }
  if (reply.isEmpty()) {
    return std::nullopt;
  }
  return withoutTrailingLineEnds(asciiText(reply));
}

std::optional<QString> TuneCommsService::readConfigError(EcuConnection& connection,
                                                         const EcuDefinition& definition) {
  attach(connection);
  const QString text = definition.RetrieveConfigErrorCommand.isEmpty()
                           ? QStringLiteral("e")
                           : definition.RetrieveConfigErrorCommand;
  const QByteArray command = asciiBytes(text);
  QByteArray reply;
  if (usesCrcFraming(connection)) {
    const EcuResponse r = commands_.sendCommand(command, kConfigErrorTimeoutMs);
    if (!r.ok) {
      return std::nullopt;
    }
    reply = r.data;
  } else {
    connection.write(command);
    reply = connection.read(kConfigErrorReplyMax);
  }
  if (reply.isEmpty() || !isPrintableReply(reply)) {
    return std::nullopt;
  }
  const QString message = withoutTrailingLineEnds(asciiText(reply)).trimmed();
  // "0" is how controllers say that the configuration is fine.
  if (message.isEmpty() || message == QLatin1String("0")) {
    return std::nullopt;
  }
  return message;
}

QByteArray TuneCommsService::readChunk(EcuConnection& connection, const QByteArray& command,
                                       int count, bool crc) {
  if (crc) {
    const int timeoutMs = EcuCommandService::scaledTimeoutMs(count);
    for (int attempt = 1; attempt <= kReadAttempts; ++attempt) {
      const EcuResponse r = commands_.sendCommand(command, timeoutMs);
      if (r.ok) {
        return r.data;
      }
      if (attempt < kReadAttempts) {
        sleepMs(50);
        commands_.drainInput();
      }
    }
    return {};
  }
  if (count < 1) {
    return {};
  }
  connection.write(command);
  QByteArray bytes;
  int idleReads = 0;
  while (bytes.size() < count) {
    const QByteArray chunk = connection.read(count - bytes.size());
    if (!chunk.isEmpty()) {
      bytes.append(chunk);
      idleReads = 0;
      continue;
    }
    if (++idleReads >= kUnframedIdleReads) {
      break;
    }
    sleepMs(50);
  }
  return bytes.size() == count ? bytes : QByteArray();
}

std::optional<QByteArray> TuneCommsService::readPage(EcuConnection& connection,
                                                     const EcuDefinition& definition,
                                                     int pageIndex) {
  attach(connection);
  const int size = definition.PageSizes.value(pageIndex, 0);
  const QString readTemplate = definition.PageReadCommands.value(pageIndex);
  if (size <= 0 || readTemplate.isEmpty()) {
    return std::nullopt;
  }
  const QString identifier = definition.PageIdentifiers.value(pageIndex);
  const bool crc = usesCrcFraming(connection);
  const int chunk = chunkSize(definition.BlockingFactor, kMaxReadChunk, kDefaultReadChunk);
  QByteArray page(size, '\0');
  for (int offset = 0; offset < size; offset += chunk) {
    const int n = std::min(chunk, size - offset);
    const QByteArray command =
        buildCommand(readTemplate, identifier, offset, n, std::nullopt, definition.Endianness, 0);
    const QByteArray bytes = readChunk(connection, command, n, crc);
    if (bytes.size() != n) {
      throw PageReadError(QStringLiteral("Failed to read page %1 at offset %2")
                              .arg(pageIndex + 1)
                              .arg(offset)
                              .toStdString());
    }
    std::copy(bytes.cbegin(), bytes.cend(), page.begin() + offset);
  }
  return page;
}

Tune TuneCommsService::readTune(EcuConnection& connection, const EcuDefinition& definition) {
  PageImages images;
  for (int index = 0; index < definition.NPages; ++index) {
    if (std::optional<QByteArray> page = readPage(connection, definition, index)) {
      images.insert(index + 1, *page);
    }
  }
  Tune tune = decodePages(images, definition);
  tune.writeTimestamp = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
  return tune;
}

void TuneCommsService::writeTune(EcuConnection& connection, const EcuDefinition& definition,
                                 const Tune& tune, bool burn) {
  PageImages images;
  if (!tune.fields.isEmpty()) {
    images = encodeTune(tune, definition);
  } else if (tune.pages) {
    images = *tune.pages;  // a legacy tune that carries only raw pages
  }
  // QMap keeps the page numbers in ascending order.
  for (auto it = images.cbegin(); it != images.cend(); ++it) {
    writePage(connection, definition, it.key() - 1, it.value(), burn);
  }
}

QByteArray TuneCommsService::chunkWriteCommand(const EcuDefinition& definition, int pageIndex,
                                               int offset, const QByteArray& bytes) const {
  return buildCommand(definition.PageChunkWriteCommands.value(pageIndex),
                      definition.PageIdentifiers.value(pageIndex), offset,
                      static_cast<int>(bytes.size()), bytes, definition.Endianness, 0);
}

bool TuneCommsService::writeChunk(EcuConnection& connection, const EcuDefinition& definition,
                                  int pageIndex, int offset, const QByteArray& bytes) {
  attach(connection);
  if (definition.PageChunkWriteCommands.value(pageIndex).isEmpty()) {
    return false;
  }
  const QByteArray command = chunkWriteCommand(definition, pageIndex, offset, bytes);
  if (usesCrcFraming(connection)) {
    return commands_
        .sendCommand(command, EcuCommandService::scaledTimeoutMs(static_cast<int>(command.size())))
        .ok;
  }
  connection.write(command);
  sleepMs(10);
  return true;
}

void TuneCommsService::writePage(EcuConnection& connection, const EcuDefinition& definition,
                                 int pageIndex, const QByteArray& bytes, bool burn) {
  attach(connection);
  if (definition.PageChunkWriteCommands.value(pageIndex).isEmpty()) {
    return;
  }
  const int byteCount = static_cast<int>(bytes.size());
  const int length = pageIndex >= 0 && pageIndex < definition.PageSizes.size()
                         ? std::min(definition.PageSizes.at(pageIndex), byteCount)
                         : byteCount;
  const bool crc = usesCrcFraming(connection);
  const int chunk = chunkSize(definition.BlockingFactor, kMaxWriteChunk, kDefaultWriteChunk);
  for (int offset = 0; offset < length; offset += chunk) {
    const int n = std::min(chunk, length - offset);
    const QByteArray command =
        chunkWriteCommand(definition, pageIndex, offset, bytes.mid(offset, n));
    // A refusal is not examined here: the whole page is always sent, and the caller learns of
    // problems from a read-back.
    if (crc) {
      commands_.sendCommand(command,
                            EcuCommandService::scaledTimeoutMs(static_cast<int>(command.size())));
    } else {
      connection.write(command);
      sleepMs(20);
    }
  }
  const QString burnTemplate = definition.BurnCommands.value(pageIndex);
  if (!burn || burnTemplate.isEmpty()) {
    return;
  }
  const QByteArray command = buildCommand(burnTemplate, definition.PageIdentifiers.value(pageIndex),
                                          0, 0, std::nullopt, definition.Endianness, 0);
  if (crc) {
    commands_.sendCommand(command, kBurnTimeoutMs);
    if (definition.PageActivationDelay >= 1) {
      sleepMs(definition.PageActivationDelay);
    }
  } else {
    connection.write(command);
    sleepMs(std::max(definition.PageActivationDelay, 100));
  }
}

std::optional<QString> TuneCommsService::sendConsoleCommand(EcuConnection& connection,
                                                            const QString& text, int timeoutMs) {
  attach(connection);
  return commands_.sendConsoleCommand(text, timeoutMs);
}

}  // namespace tk::comms
