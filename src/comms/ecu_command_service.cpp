#include "comms/ecu_command_service.h"

#include <algorithm>

#include "comms/crc32.h"
#include "comms/ecu_connection.h"
#include "comms/ecu_text.h"

namespace tk::comms {
namespace {

constexpr qint64 kDiscardChunk = 4096;
constexpr int kMaxDiscardReads = 10;
constexpr qint64 kMaxPurge = 32767;
constexpr int kDrainSettleMs = 50;
constexpr int kConsoleChunk = 256;
constexpr int kResyncReplyMax = 256;
constexpr int kResyncDeadlineMs = 2000;

quint32 bigEndian32(const QByteArray& b, qsizetype at) {
  return (quint32(quint8(b[at])) << 24) | (quint32(quint8(b[at + 1])) << 16) |
         (quint32(quint8(b[at + 2])) << 8) | quint32(quint8(b[at + 3]));
}

quint32 littleEndian32(const QByteArray& b, qsizetype at) {
  return (quint32(quint8(b[at + 3])) << 24) | (quint32(quint8(b[at + 2])) << 16) |
         (quint32(quint8(b[at + 1])) << 8) | quint32(quint8(b[at]));
}

// The CRC an ECU would send for this response under one coverage mode.
quint32 coverageCrc(CrcCoverage mode, const QByteArray& header, const QByteArray& payload) {
  const bool withLength =
      mode == CrcCoverage::LengthAndPayload || mode == CrcCoverage::LengthAndData;
  const bool dataOnly = mode == CrcCoverage::Data || mode == CrcCoverage::LengthAndData;
  if (dataOnly && payload.size() < 2) {
    return 0;
  }
  Crc32 crc;
  if (withLength) {
    crc.update(header);
  }
  if (dataOnly) {
    crc.update(payload.constData() + 1, static_cast<std::size_t>(payload.size() - 1));
  } else {
    crc.update(payload);
  }
  return crc.value();
}

QString statusErrorText(quint8 status) {
  switch (status) {
    case EcuCommandService::kStatusUnderrun:
      return QStringLiteral("TS_RESPONSE_UNDERRUN");
    case EcuCommandService::kStatusOverrun:
      return QStringLiteral("TS_RESPONSE_OVERRUN");
    case EcuCommandService::kStatusCrcFailure:
      return QStringLiteral("TS_RESPONSE_CRC_FAILURE");
    case EcuCommandService::kStatusOutOfRange:
      return QStringLiteral("TS_RESPONSE_OUT_OF_RANGE");
    case EcuCommandService::kStatusFramingError:
      return QStringLiteral("TS_RESPONSE_FRAMING_ERROR");
    default:
      return QStringLiteral("Unknown error 0x%1")
          .arg(QString::number(status, 16).toUpper().rightJustified(2, QLatin1Char('0')));
  }
}

bool isSuccessStatus(quint8 status) {
  return status == EcuCommandService::kStatusOk || status == EcuCommandService::kStatusBurnOk ||
         status == EcuCommandService::kStatusUnrecognized;
}

EcuResponse failure(FrameOutcome outcome, const QString& error,
                    quint8 code = EcuCommandService::kLocalFailure) {
  return EcuResponse{false, code, {}, error, outcome};
}

EcuResponse notConnected() {
  return failure(FrameOutcome::NotConnected, QStringLiteral("Not connected"));
}

}  // namespace

struct EcuCommandService::ExactRead {
  QByteArray bytes;
  bool timedOut = false;
  bool lost = false;  // the connection went away before the bytes came
};

// One response as the reader found it, before it becomes an EcuResponse or a byte count.
struct EcuCommandService::Frame {
  FrameOutcome outcome = FrameOutcome::Ok;
  quint8 status = 0;
  QByteArray data;         // after the status byte
  int length = 0;          // the length field
  qsizetype received = 0;  // body bytes read, for Incomplete
};

// Sets the busy flag for the lifetime of one exchange and clears it on every way out.
class EcuCommandService::BusyScope {
 public:
  explicit BusyScope(bool& busy) : busy_(busy) { busy_ = true; }
  ~BusyScope() { busy_ = false; }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  bool& busy_;
};

EcuCommandService::EcuCommandService(EcuConnection* connection, Clock& clock)
    : connection_(connection), clock_(clock) {}

void EcuCommandService::setConnection(EcuConnection* connection) {
  connection_ = connection;
  crcCoverage_ = CrcCoverage::Unknown;
  crcLittleEndian_ = false;
}

bool EcuCommandService::connectionLost() const {
  return connection_->error() == ConnectionError::Lost;
}

bool EcuCommandService::isConnected() const {
  return connection_ != nullptr && connection_->status() == ConnectionStatus::Connected;
}

QByteArray EcuCommandService::wrapFrame(const QByteArray& payload) {
  const auto n = static_cast<quint32>(payload.size());
  const quint32 crc = crc32(payload);
  QByteArray frame;
  frame.reserve(payload.size() + 6);
  frame.append(static_cast<char>((n >> 8) & 0xFF));
  frame.append(static_cast<char>(n & 0xFF));
  frame.append(payload);
  for (int shift = 24; shift >= 0; shift -= 8) {
    frame.append(static_cast<char>((crc >> shift) & 0xFF));
  }
  return frame;
}

int EcuCommandService::scaledTimeoutMs(int byteCount) { return std::max(byteCount / 8 + 300, 500); }

EcuCommandService::ExactRead EcuCommandService::readExactly(qsizetype wanted,
                                                            const Deadline& deadline) {
  ExactRead result;
  if (connection_ == nullptr || wanted < 1) {
    return result;
  }
  // The deadline is only consulted after a read that brought nothing: an ECU that keeps sending
  // is read to the end, and the caller judges the byte count. Each read waits at most the time
  // left, so the last one ends on the deadline.
  while (result.bytes.size() < wanted) {
    const QByteArray chunk =
        connection_->read(wanted - result.bytes.size(), deadline.remainingMs());
    if (!chunk.isEmpty()) {
      result.bytes.append(chunk);
      continue;
    }
    if (connectionLost()) {
      result.lost = true;
      break;
    }
    if (deadline.hasExpired()) {
      result.timedOut = true;
      break;
    }
  }
  return result;
}

bool EcuCommandService::checkCrc(const QByteArray& header, const QByteArray& payload,
                                 const QByteArray& crcField) {
  const quint32 big = bigEndian32(crcField, 0);
  const quint32 little = littleEndian32(crcField, 0);
  if (crcCoverage_ != CrcCoverage::Unknown) {
    return coverageCrc(crcCoverage_, header, payload) == (crcLittleEndian_ ? little : big);
  }
  for (const CrcCoverage mode : {CrcCoverage::Payload, CrcCoverage::Data,
                                 CrcCoverage::LengthAndPayload, CrcCoverage::LengthAndData}) {
    const quint32 crc = coverageCrc(mode, header, payload);
    if (crc == big || crc == little) {
      crcCoverage_ = mode;
      crcLittleEndian_ = crc != big;
      return true;
    }
  }
  return false;
}

EcuCommandService::Frame EcuCommandService::readFrame(int timeoutMs) {
  Frame frame;
  const Deadline deadline(clock_, timeoutMs);
  const ExactRead header = readExactly(2, deadline);
  if (header.lost) {
    frame.outcome = FrameOutcome::Lost;
    return frame;
  }
  if (header.timedOut) {
    frame.outcome = FrameOutcome::Timeout;
    return frame;
  }
  if (header.bytes.size() != 2) {
    frame.outcome = FrameOutcome::BadHeader;
    return frame;
  }
  const int n = (quint8(header.bytes[0]) << 8) | quint8(header.bytes[1]);
  frame.length = n;
  if (n == 0 || n > kMaxPayload) {
    frame.outcome = FrameOutcome::BadLength;
    return frame;
  }
  const ExactRead body = readExactly(n + 4, deadline);
  if (body.lost) {
    frame.outcome = FrameOutcome::Lost;
    return frame;
  }
  if (body.timedOut) {
    frame.outcome = FrameOutcome::Timeout;
    return frame;
  }
  if (body.bytes.size() != n + 4) {
    frame.outcome = FrameOutcome::Incomplete;
    frame.received = body.bytes.size();
    return frame;
  }
  const QByteArray payload = body.bytes.left(n);
  if (!checkCrc(header.bytes, payload, body.bytes.mid(n))) {
    frame.outcome = FrameOutcome::BadCrc;
    return frame;
  }
  frame.status = static_cast<quint8>(payload[0]);
  if (frame.status == kStatusUnrecognized && unknownCommandObserver_) {
    unknownCommandObserver_(lastRequest_);
  }
  if (!isSuccessStatus(frame.status)) {
    frame.outcome = FrameOutcome::EcuError;
    return frame;
  }
  frame.data = payload.mid(1);
  return frame;
}

EcuResponse EcuCommandService::readResponse(int timeoutMs) {
  if (connection_ == nullptr) {
    return notConnected();
  }
  Frame frame = readFrame(timeoutMs);
  switch (frame.outcome) {
    case FrameOutcome::Ok:
      return EcuResponse{true, frame.status, std::move(frame.data), {}, FrameOutcome::Ok};
    case FrameOutcome::Timeout:
      return failure(frame.outcome, QStringLiteral("Response timeout after %1ms").arg(timeoutMs));
    case FrameOutcome::BadHeader:
      return failure(frame.outcome, QStringLiteral("Failed to read response header (timeout)"));
    case FrameOutcome::BadLength:
      return failure(frame.outcome, QStringLiteral("Invalid payload size: %1").arg(frame.length));
    case FrameOutcome::Incomplete:
      return failure(frame.outcome, QStringLiteral("Incomplete response: got %1, expected %2")
                                        .arg(frame.received)
                                        .arg(frame.length + 4));
    case FrameOutcome::BadCrc:
      return failure(frame.outcome, QStringLiteral("CRC mismatch"), kStatusCrcFailure);
    case FrameOutcome::Lost:
      return failure(frame.outcome, connection_->errorString());
    default:
      return failure(FrameOutcome::EcuError, statusErrorText(frame.status), frame.status);
  }
}

void EcuCommandService::purgeStaleInput() {
  qint64 discarded = 0;
  while (connection_->bytesAvailable() >= 1) {
    const QByteArray chunk = connection_->read(kDiscardChunk, 0);
    if (chunk.isEmpty() || discarded + chunk.size() > kMaxPurge) {
      break;
    }
    discarded += chunk.size();
  }
}

void EcuCommandService::discardReads(bool pendingOnly) {
  for (int i = 0; i < kMaxDiscardReads; ++i) {
    const QByteArray chunk =
        connection_->read(kDiscardChunk, pendingOnly ? 0 : EcuConnection::kDefaultWaitMs);
    if (chunk.isEmpty()) {
      break;
    }
  }
}

void EcuCommandService::drainAfterFailure() {
  if (connection_ == nullptr) {
    return;
  }
  // Give the rest of a broken reply time to arrive so that it is not taken for the next one.
  clock_.sleepMs(kDrainSettleMs);
  discardReads(false);
}

EcuResponse EcuCommandService::sendCommand(const QByteArray& payload, int timeoutMs) {
  return transact(wrapFrame(payload), timeoutMs);
}

EcuResponse EcuCommandService::transact(const QByteArray& frame, int timeoutMs) {
  if (!isConnected()) {
    return notConnected();
  }
  if (busy_) {
    return failure(FrameOutcome::Busy, QStringLiteral("Command lock timeout"));
  }
  const BusyScope busy(busy_);
  purgeStaleInput();
  lastRequest_ = frame.mid(2, frame.size() - 6);
  if (connection_->write(frame) < frame.size()) {
    return connectionLost()
               ? failure(FrameOutcome::Lost, connection_->errorString())
               : failure(FrameOutcome::WriteFailed, QStringLiteral("Command write failed"));
  }
  EcuResponse response = readResponse(timeoutMs);
  if (!response.ok) {
    drainAfterFailure();
  }
  return response;
}

void EcuCommandService::sendWithoutResponse(const QByteArray& payload) {
  if (!isConnected() || busy_) {
    return;
  }
  const BusyScope busy(busy_);
  purgeStaleInput();
  connection_->write(wrapFrame(payload));
}

int EcuCommandService::readResponseInto(const QByteArray& frame, QByteArray& destination,
                                        int offset, int maxCount, int timeoutMs) {
  if (!isConnected() || busy_) {
    return -1;
  }
  const BusyScope busy(busy_);
  purgeStaleInput();
  lastRequest_ = frame.mid(2, frame.size() - 6);
  if (connection_->write(frame) < frame.size()) {
    return -1;
  }
  const Frame response = readFrame(timeoutMs);
  // A reply that never came is not drained; whatever else went wrong is. Unlike sendCommand,
  // only the plain success statuses count here (0x83 does not).
  if (response.outcome == FrameOutcome::Timeout) {
    return -1;
  }
  if (response.outcome != FrameOutcome::Ok ||
      (response.status != kStatusOk && response.status != kStatusBurnOk)) {
    drainAfterFailure();
    return -1;
  }
  const int count = std::min(static_cast<int>(response.data.size()), maxCount);
  if (count < 1) {
    return count;
  }
  Q_ASSERT(destination.size() >= qsizetype(offset) + maxCount);
  std::copy_n(response.data.constData(), count, destination.data() + offset);
  return count;
}

bool EcuCommandService::resync() {
  if (connection_ == nullptr || busy_) {
    return false;
  }
  const BusyScope busy(busy_);
  clock_.sleepMs(200);
  drainAfterFailure();
  clock_.sleepMs(50);
  if (connection_->write(QByteArrayLiteral("F")) != 1) {
    return false;
  }
  clock_.sleepMs(50);
  QByteArray reply;
  const Deadline deadline(clock_, kResyncDeadlineMs);
  while (reply.size() < kResyncReplyMax && !deadline.hasExpired() && !connectionLost()) {
    const QByteArray chunk =
        connection_->read(kResyncReplyMax - reply.size(), deadline.remainingMs());
    if (chunk.isEmpty()) {
      continue;
    }
    // The answer may come in two parts; one short wait collects the rest.
    reply.append(chunk);
    clock_.sleepMs(50);
    reply.append(connection_->read(kResyncReplyMax - reply.size(), EcuConnection::kDefaultWaitMs));
    break;
  }
  if (reply.isEmpty()) {
    return false;
  }
  clock_.sleepMs(50);
  drainAfterFailure();
  return true;
}

std::optional<QString> EcuCommandService::sendConsoleCommand(const QString& text, int timeoutMs) {
  if (!isConnected() || busy_) {
    return std::nullopt;
  }
  const BusyScope busy(busy_);
  purgeStaleInput();
  const QByteArray bytes = asciiBytes(text) + '\n';
  if (connection_->write(bytes) < bytes.size()) {
    return std::nullopt;
  }
  QString reply;
  bool sawEnd = false;
  const Deadline deadline(clock_, timeoutMs);
  while (!deadline.hasExpired() && !connectionLost()) {
    const QByteArray chunk = connection_->read(kConsoleChunk, deadline.remainingMs());
    if (chunk.isEmpty()) {
      continue;
    }
    reply += asciiText(chunk);
    if (reply.endsWith(QLatin1Char('\n')) || reply.contains(QLatin1Char('>'))) {
      sawEnd = true;
      break;
    }
  }
  if (sawEnd) {
    // A console often sends its prompt just after the last line.
    clock_.sleepMs(20);
    reply += asciiText(connection_->read(kConsoleChunk, EcuConnection::kDefaultWaitMs));
  }
  reply = withoutTrailingLineEnds(reply);
  if (reply.isEmpty()) {
    return std::nullopt;
  }
  return reply;
}

void EcuCommandService::drainInput() {
  if (connection_ == nullptr || busy_) {
    return;
  }
  const BusyScope busy(busy_);
  // Callers drain after a pause of their own: what has arrived by now is all there is to drop.
  discardReads(true);
}

}  // namespace tk::comms
