#include "comms/tune_comms_service.h"

#include <QDateTime>
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

// What a controller answers to a write it took: 0x00, and 0x04 for a burn. Anything else (an
// unrecognised command included, which other exchanges tolerate) means the bytes did not land.
bool writeAccepted(const EcuResponse& response) {
  return response.ok && (response.status == EcuCommandService::kStatusOk ||
                         response.status == EcuCommandService::kStatusBurnOk);
}

PageWrite writeRefused(int pageIndex, const QString& what, const EcuResponse& response) {
  const QString reason = response.outcome == FrameOutcome::EcuError || response.ok
                             ? QStringLiteral("status 0x%1")
                                   .arg(QString::number(response.status, 16)
                                            .toUpper()
                                            .rightJustified(2, QLatin1Char('0')))
                             : response.error;
  return {QStringLiteral("page %1: the controller did not take the %2 (%3)")
              .arg(QString::number(pageIndex + 1), what, reason)};
}

bool startsWithSpeeduino(const QString& text) {
  return text.startsWith(QLatin1String("Speeduino"), Qt::CaseInsensitive);
}

bool replyMatches(const std::optional<QString>& reply, const QString& signature) {
  const QString expected = signature.trimmed();
  return reply && !reply->trimmed().isEmpty() && reply->trimmed() == expected;
}

}  // namespace

// One request and how its answer is taken in either framing.
struct TuneCommsService::Request {
  enum class Reply { None, Once, Exactly };

  QByteArray command;
  int timeoutMs = 0;          // framed: the response timeout
  int pauseMs = 0;            // unframed: the pause after writing the command
  Reply reply = Reply::None;  // unframed: no answer, one read, or exactly replyBytes bytes
  int replyBytes = 0;
};

TuneCommsService::TuneCommsService(EcuCommandService& commands, EcuConnection& connection)
    : commands_(commands), connection_(connection) {}

void TuneCommsService::attach() { commands_.setConnection(&connection_); }

Clock& TuneCommsService::clock() const { return commands_.clock(); }

void TuneCommsService::resetProtocolCache() { crcFraming_.reset(); }

void TuneCommsService::forceCrcProtocol() {
  attach();
  connection_.write(QByteArrayLiteral("F"));
  clock().sleepMs(50);
  // Whatever the ECU says to the wake-up byte is read and dropped, so that it cannot be taken
  // for the start of the first framed reply. The reads take what has arrived: the pauses between
  // them are the waits, and what comes later still goes with the drain below.
  qsizetype collected = 0;
  const Deadline deadline(clock(), kWakeDeadlineMs);
  while (collected < kWakeReplyMax) {
    QByteArray chunk = connection_.read(kWakeReplyMax - collected, 0);
    if (chunk.isEmpty()) {
      if (deadline.hasExpired()) {
        break;
      }
      clock().sleepMs(50);
      chunk = connection_.read(kWakeReplyMax - collected, 0);
      if (chunk.isEmpty()) {
        break;
      }
    }
    collected += chunk.size();
    if (deadline.hasExpired()) {
      break;
    }
  }
  clock().sleepMs(100);
  commands_.drainInput();
  crcFraming_ = true;
}

bool TuneCommsService::probeCrcFraming() {
  connection_.write(QByteArrayLiteral("F"));
  clock().sleepMs(50);
  QByteArray reply;
  const Deadline deadline(clock(), kProbeDeadlineMs);
  while (reply.size() <= 2) {
    const QByteArray chunk =
        connection_.read(kProbeReplyMax - reply.size(), deadline.remainingMs());
    if (!chunk.isEmpty()) {
      reply.append(chunk);
      continue;
    }
    if (deadline.hasExpired() || connection_.error() == ConnectionError::Lost) {
      return false;
    }
  }
  return asciiText(reply.left(3)) == QLatin1String("001");
}

bool TuneCommsService::usesCrcFraming() {
  attach();
  if (!crcFraming_) {
    crcFraming_ = probeCrcFraming();
  }
  return *crcFraming_;
}

std::optional<QByteArray> TuneCommsService::exchange(bool crc, const Request& request) {
  if (crc) {
    EcuResponse response = commands_.sendCommand(request.command, request.timeoutMs);
    if (!response.ok) {
      return std::nullopt;
    }
    return std::move(response.data);
  }
  // The unframed protocol has no length, status or CRC: the write's result is not examined and
  // an answer is whatever bytes come.
  connection_.write(request.command);
  clock().sleepMs(request.pauseMs);
  switch (request.reply) {
    case Request::Reply::None:
      return QByteArray();
    case Request::Reply::Once:
      return connection_.read(request.replyBytes, EcuConnection::kDefaultWaitMs);
    case Request::Reply::Exactly:
      return collectUnframed(request.replyBytes);
  }
  return std::nullopt;
}

QByteArray TuneCommsService::collectUnframed(int count) {
  QByteArray bytes;
  int idleReads = 0;
  while (bytes.size() < count) {
    const QByteArray chunk = connection_.read(count - bytes.size(), EcuConnection::kDefaultWaitMs);
    if (!chunk.isEmpty()) {
      bytes.append(chunk);
      idleReads = 0;
      continue;
    }
    if (++idleReads >= kUnframedIdleReads || connection_.error() == ConnectionError::Lost) {
      break;
    }
    clock().sleepMs(50);
  }
  return bytes.size() == count ? bytes : QByteArray();
}

std::optional<QString> TuneCommsService::querySignatureText(const QString& command) {
  attach();
  const Request request{asciiBytes(command), kTextTimeoutMs, 100, Request::Reply::Once,
                        kTextReplyMax};
  const bool crc = usesCrcFraming();
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (attempt > 0) {
      clock().sleepMs(100);
    }
    const QByteArray reply = exchange(crc, request).value_or(QByteArray());
    if (reply.size() > 3) {
      return withoutTrailingLineEnds(asciiText(reply));
    }
  }
  return std::nullopt;
}

std::optional<QString> SignatureReplies::shown() const {
  if (s && !s->isEmpty() && startsWithSpeeduino(*s)) {
    return s;
  }
  if (q && !q->isEmpty()) {
    return q;
  }
  return s;
}

bool SignatureReplies::matches(const QString& signature) const {
  return replyMatches(q, signature) || replyMatches(s, signature);
}

SignatureReplies TuneCommsService::querySignatureReplies() {
  SignatureReplies replies;
  replies.q = querySignatureText(QStringLiteral("Q"));
  replies.s = querySignatureText(QStringLiteral("S"));
  return replies;
}

std::optional<QString> TuneCommsService::readSignature() { return querySignatureReplies().shown(); }

// "S" is asked only when "Q" did not match.
bool TuneCommsService::verifySignature(const EcuDefinition& definition) {
  return replyMatches(querySignatureText(QStringLiteral("Q")), definition.Signature) ||
         replyMatches(querySignatureText(QStringLiteral("S")), definition.Signature);
}

std::optional<QString> TuneCommsService::readFirmwareVersion(const EcuDefinition& definition) {
  attach();
  const QString& command = definition.versionInfoCommand();
  const QString text = command.isEmpty() ? QStringLiteral("V") : command;
  const Request request{decodeEscapes(text, 0), kTextTimeoutMs, 0, Request::Reply::Once,
                        kTextReplyMax};
  const std::optional<QByteArray> reply = exchange(usesCrcFraming(), request);
  if (!reply || reply->isEmpty()) {
    return std::nullopt;
  }
  return withoutTrailingLineEnds(asciiText(*reply));
}

std::optional<QString> TuneCommsService::readConfigError(const EcuDefinition& definition) {
  attach();
  const QString text = definition.RetrieveConfigErrorCommand.isEmpty()
                           ? QStringLiteral("e")
                           : definition.RetrieveConfigErrorCommand;
  const Request request{asciiBytes(text), kConfigErrorTimeoutMs, 0, Request::Reply::Once,
                        kConfigErrorReplyMax};
  const std::optional<QByteArray> reply = exchange(usesCrcFraming(), request);
  if (!reply || reply->isEmpty() || !isPrintableReply(*reply)) {
    return std::nullopt;
  }
  const QString message = withoutTrailingLineEnds(asciiText(*reply)).trimmed();
  // "0" is how controllers say that the configuration is fine.
  if (message.isEmpty() || message == QLatin1String("0")) {
    return std::nullopt;
  }
  return message;
}

QByteArray TuneCommsService::readChunk(const QByteArray& command, int count, bool crc) {
  // Framed reads are retried; an unframed read has no status to tell a failure by.
  const Request request{command, EcuCommandService::scaledTimeoutMs(count), 0,
                        Request::Reply::Exactly, count};
  const int attempts = crc ? kReadAttempts : 1;
  for (int attempt = 1; attempt <= attempts; ++attempt) {
    if (std::optional<QByteArray> bytes = exchange(crc, request)) {
      return *bytes;
    }
    if (attempt < attempts) {
      clock().sleepMs(50);
      commands_.drainInput();
    }
  }
  return {};
}

PageRead TuneCommsService::readPage(const EcuDefinition& definition, int pageIndex) {
  attach();
  const int size = definition.PageSizes.value(pageIndex, 0);
  const QString readTemplate = definition.PageReadCommands.value(pageIndex);
  if (size <= 0 || readTemplate.isEmpty()) {
    return {};
  }
  const QString identifier = definition.PageIdentifiers.value(pageIndex);
  const bool crc = usesCrcFraming();
  const int chunk = chunkSize(definition.BlockingFactor, kMaxReadChunk, kDefaultReadChunk);
  QByteArray page(size, '\0');
  for (int offset = 0; offset < size; offset += chunk) {
    const int n = std::min(chunk, size - offset);
    const QByteArray command =
        buildCommand(readTemplate, identifier, offset, n, std::nullopt, definition.Endianness, 0);
    const QByteArray bytes = readChunk(command, n, crc);
    if (bytes.size() != n) {
      return {{},
              QStringLiteral("Failed to read page %1 at offset %2").arg(pageIndex + 1).arg(offset)};
    }
    std::copy(bytes.cbegin(), bytes.cend(), page.begin() + offset);
  }
  return {page, {}};
}

TuneRead TuneCommsService::readTune(const EcuDefinition& definition) {
  PageImages images;
  for (int index = 0; index < definition.NPages; ++index) {
    PageRead page = readPage(definition, index);
    if (page.failed()) {
      return {{}, page.error};
    }
    if (page.bytes) {
      images.insert(index + 1, *page.bytes);
    }
  }
  Tune tune = decodePages(images, definition);
  tune.writeTimestamp = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
  return {std::move(tune), {}};
}

PageImages pagesToWrite(const Tune& tune, const EcuDefinition& definition) {
  if (!tune.fields.isEmpty()) {
    return encodeTune(tune, definition);
  }
  return tune.pages.value_or(PageImages());  // a legacy tune that carries only raw pages
}

PageWrite TuneCommsService::writeTune(const EcuDefinition& definition, const Tune& tune,
                                      bool burn) {
  return writePages(definition, pagesToWrite(tune, definition), burn);
}

PageWrite TuneCommsService::writePages(const EcuDefinition& definition, const PageImages& pages,
                                       bool burn) {
  // QMap keeps the page numbers in ascending order.
  for (auto it = pages.cbegin(); it != pages.cend(); ++it) {
    PageWrite written = writePage(definition, it.key() - 1, it.value(), burn);
    if (written.failed()) {
      return written;
    }
  }
  return {};
}

bool TuneCommsService::writeChunk(const EcuDefinition& definition, int pageIndex, int offset,
                                  const QByteArray& bytes) {
  attach();
  const std::optional<QByteArray> command =
      buildChunkWriteCommand(definition, pageIndex, offset, bytes);
  if (!command) {
    return false;
  }
  const int timeoutMs = EcuCommandService::scaledTimeoutMs(static_cast<int>(command->size()));
  return exchange(usesCrcFraming(), Request{*command, timeoutMs, 10}).has_value();
}

PageWrite TuneCommsService::writePage(const EcuDefinition& definition, int pageIndex,
                                      const QByteArray& bytes, bool burn) {
  attach();
  if (definition.PageChunkWriteCommands.value(pageIndex).isEmpty()) {
    return {};
  }
  const int byteCount = static_cast<int>(bytes.size());
  const int length = pageIndex >= 0 && pageIndex < definition.PageSizes.size()
                         ? std::min(definition.PageSizes.at(pageIndex), byteCount)
                         : byteCount;
  const bool crc = usesCrcFraming();
  const int chunk = chunkSize(definition.BlockingFactor, kMaxWriteChunk, kDefaultWriteChunk);
  for (int offset = 0; offset < length; offset += chunk) {
    const int n = std::min(chunk, length - offset);
    // The one builder of chunk writes; it gives nothing only without a write command, which
    // returned above.
    const std::optional<QByteArray> command =
        buildChunkWriteCommand(definition, pageIndex, offset, bytes.mid(offset, n));
    if (!command) {
      return {};
    }
    const int timeoutMs = EcuCommandService::scaledTimeoutMs(static_cast<int>(command->size()));
    if (!crc) {
      exchange(false, Request{*command, timeoutMs, 20});
      continue;
    }
    // A chunk the controller did not take ends the page: burning it would store a page that is
    // neither the old nor the new one.
    const EcuResponse response = commands_.sendCommand(*command, timeoutMs);
    if (!writeAccepted(response)) {
      return writeRefused(pageIndex, QStringLiteral("chunk write at offset %1").arg(offset),
                          response);
    }
  }
  const QString burnTemplate = definition.BurnCommands.value(pageIndex);
  if (!burn || burnTemplate.isEmpty()) {
    return {};
  }
  const QByteArray command = buildCommand(burnTemplate, definition.PageIdentifiers.value(pageIndex),
                                          0, 0, std::nullopt, definition.Endianness, 0);
  const int delayMs = definition.PageActivationDelay;
  if (!crc) {
    // An unframed burn always gets its pause.
    exchange(false, Request{command, kBurnTimeoutMs, std::max(delayMs, 100)});
    return {};
  }
  const EcuResponse response = commands_.sendCommand(command, kBurnTimeoutMs);
  if (!writeAccepted(response)) {
    return writeRefused(pageIndex, QStringLiteral("burn"), response);
  }
  if (delayMs >= 1) {
    clock().sleepMs(delayMs);
  }
  return {};
}

std::optional<QString> TuneCommsService::sendConsoleCommand(const QString& text, int timeoutMs) {
  attach();
  return commands_.sendConsoleCommand(text, timeoutMs);
}

}  // namespace tk::comms
