#include "comms/ecu_command_service.h"

#include <QThread>
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

void sleepMs(int ms) { QThread::msleep(static_cast<unsigned long>(ms)); }

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

EcuResponse failure(const QString& error, quint8 code = EcuCommandService::kLocalFailure) {
  return EcuResponse{false, code, {}, error};
}

QString timeoutText(int timeoutMs) {
  return QStringLiteral("Response timeout after %1ms").arg(timeoutMs);
}

}  // namespace

struct EcuCommandService::ExactRead {
  QByteArray bytes;
  bool timedOut = false;
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

EcuCommandService::EcuCommandService(EcuConnection* connection) : connection_(connection) {}

void EcuCommandService::setConnection(EcuConnection* connection) {
  connection_ = connection;
  crcCoverage_ = CrcCoverage::Unknown;
  crcLittleEndian_ = false;
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
                                                            const QDeadlineTimer& deadline) {
  ExactRead result;
  if (connection_ == nullptr || wanted < 1) {
    return result;
  }
  // The deadline is only consulted after a read that brought nothing: an ECU that keeps sending
  // is read to the end, and the caller judges the byte count.
  while (result.bytes.size() < wanted) {
    const QByteArray chunk = connection_->read(wanted - result.bytes.size());
    if (!chunk.isEmpty()) {
      result.bytes.append(chunk);
      continue;
    }
    if (deadline.hasExpired()) {
      result.timedOut = true;
      break;
    }
    sleepMs(1);
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

EcuResponse EcuCommandService::readResponse(int timeoutMs) {
  if (connection_ == nullptr) {
    return failure(QStringLiteral("Not connected"));
  }
  const QDeadlineTimer deadline(timeoutMs);
  const ExactRead header = readExactly(2, deadline);
  if (header.timedOut) {
    return failure(timeoutText(timeoutMs));
  }
  if (header.bytes.size() != 2) {
    return failure(QStringLiteral("Failed to read response header (timeout)"));
  }
  const int n = (quint8(header.bytes[0]) << 8) | quint8(header.bytes[1]);
  if (n == 0 || n > kMaxPayload) {
    return failure(QStringLiteral("Invalid payload size: %1").arg(n));
  }
  const ExactRead body = readExactly(n + 4, deadline);
  if (body.timedOut) {
    return failure(timeoutText(timeoutMs));
  }
  if (body.bytes.size() != n + 4) {
    return failure(QStringLiteral("Incomplete response: got %1, expected %2")
                       .arg(body.bytes.size())
                       .arg(n + 4));
  }
  const QByteArray payload = body.bytes.left(n);
  if (!checkCrc(header.bytes, payload, body.bytes.mid(n))) {
    return failure(QStringLiteral("CRC mismatch"), kStatusCrcFailure);
  }
  const auto status = static_cast<quint8>(payload[0]);
  if (!isSuccessStatus(status)) {
    return failure(statusErrorText(status), status);
  }
  return EcuResponse{true, status, payload.mid(1), {}};
}

void EcuCommandService::purgeStaleInput() {
  qint64 discarded = 0;
  while (connection_->bytesAvailable() >= 1) {
    const QByteArray chunk = connection_->read(kDiscardChunk);
    if (chunk.isEmpty() || discarded + chunk.size() > kMaxPurge) {
      break;
    }
    discarded += chunk.size();
  }
}

void EcuCommandService::discardReads() {
  for (int i = 0; i < kMaxDiscardReads; ++i) {
    if (connection_->read(kDiscardChunk).isEmpty()) {
      break;
    }
  }
}

void EcuCommandService::drainAfterFailure() {
  if (connection_ == nullptr) {
    return;
  }
  // Give the rest of a broken reply time to arrive so that it is not taken for the next one.
  sleepMs(kDrainSettleMs);
  discardReads();
}

EcuResponse EcuCommandService::sendCommand(const QByteArray& payload, int timeoutMs) {
  return transact(wrapFrame(payload), timeoutMs);
}

EcuResponse EcuCommandService::transact(const QByteArray& frame, int timeoutMs) {
  if (!isConnected()) {
    return failure(QStringLiteral("Not connected"));
  }
  if (busy_) {
    return failure(QStringLiteral("Command lock timeout"));
  }
  const BusyScope busy(busy_);
  purgeStaleInput();
  if (connection_->write(frame) < frame.size()) {
    return failure(QStringLiteral("Command write failed"));
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
  if (connection_->write(frame) < frame.size()) {
    return -1;
  }
  const QDeadlineTimer deadline(timeoutMs);
  const ExactRead header = readExactly(2, deadline);
  if (header.timedOut) {
    return -1;
  }
  const int n =
      header.bytes.size() == 2 ? (quint8(header.bytes[0]) << 8) | quint8(header.bytes[1]) : 0;
  if (n == 0 || n > kMaxPayload) {
    drainAfterFailure();
    return -1;
  }
  const ExactRead body = readExactly(n + 4, deadline);
  if (body.timedOut) {
    return -1;
  }
  if (body.bytes.size() != n + 4) {
    drainAfterFailure();
    return -1;
  }
  const QByteArray payload = body.bytes.left(n);
  const auto status = static_cast<quint8>(payload[0]);
  if (!checkCrc(header.bytes, payload, body.bytes.mid(n)) ||
      (status != kStatusOk && status != kStatusBurnOk)) {
    drainAfterFailure();
    return -1;
  }
  const int count = std::min(n - 1, maxCount);
  if (count < 1) {
    return count;
  }
  Q_ASSERT(destination.size() >= qsizetype(offset) + maxCount);
  std::copy_n(payload.constData() + 1, count, destination.data() + offset);
  return count;
}

bool EcuCommandService::resync() {
  if (connection_ == nullptr || busy_) {
    return false;
  }
  const BusyScope busy(busy_);
  sleepMs(200);
  drainAfterFailure();
  sleepMs(50);
  if (connection_->write(QByteArrayLiteral("F")) != 1) {
    return false;
  }
  sleepMs(50);
  QByteArray reply;
  const QDeadlineTimer deadline(kResyncDeadlineMs);
  while (reply.size() < kResyncReplyMax && !deadline.hasExpired()) {
    const QByteArray chunk = connection_->read(kResyncReplyMax - reply.size());
    if (chunk.isEmpty()) {
      sleepMs(1);
      continue;
    }
    // The answer may come in two parts; one short wait collects the rest.
    reply.append(chunk);
    sleepMs(50);
    reply.append(connection_->read(kResyncReplyMax - reply.size()));
    break;
  }
  if (reply.isEmpty()) {
    return false;
  }
  sleepMs(50);
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
  const QDeadlineTimer deadline(timeoutMs);
  while (!deadline.hasExpired()) {
    const QByteArray chunk = connection_->read(kConsoleChunk);
    if (chunk.isEmpty()) {
      sleepMs(1);
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
    sleepMs(20);
    reply += asciiText(connection_->read(kConsoleChunk));
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
  discardReads();
}

}  // namespace tk::comms
