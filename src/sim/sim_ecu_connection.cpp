#include "sim/sim_ecu_connection.h"

#include <QFile>
#include <QSaveFile>
#include <algorithm>

#include "comms/command_builder.h"
#include "comms/crc32.h"
#include "comms/ecu_command_service.h"
#include "comms/ecu_text.h"
#include "json/ascii_text.h"
#include "sim/sim_fuelling.h"

namespace tk::sim {

// The simulator speaks the controller's protocol, so it uses the link's vocabulary throughout.
using namespace comms;
namespace {

constexpr qsizetype kMaxUnframedProbe = 8;
// A logger needs a moment of engine running after its start before a capture can be read.
constexpr qint64 kCaptureMs = 50;
// Bytes of a request arrive back to back; a pause this long means its sender is gone.
constexpr qint64 kStaleInputMs = 500;

// Matches a realtime request against the definition's realtime command, whose own rule is
// simpler than the page templates': "\xHH" escapes, and "%2o" and "%2c" as two-byte
// little-endian offset and count. Gives (offset, count); -1 for a field the command lacks.
std::optional<std::pair<int, int>> matchRealtimeRequest(const QString& text,
                                                        const QByteArray& bytes) {
  int offset = -1;
  int count = -1;
  qsizetype pos = 0;
  const auto expect = [&](char b) {
    if (pos >= bytes.size() || bytes.at(pos) != b) {
      return false;
    }
    ++pos;
    return true;
  };
  for (qsizetype i = 0; i < text.size();) {
    if (text.at(i) == QLatin1Char('\\') && i + 3 < text.size() &&
        text.at(i + 1) == QLatin1Char('x') && hexDigitValue(text.at(i + 2)) >= 0 &&
        hexDigitValue(text.at(i + 3)) >= 0) {
      if (!expect(static_cast<char>(hexDigitValue(text.at(i + 2)) * 16 +
                                    hexDigitValue(text.at(i + 3))))) {
        return std::nullopt;
      }
      i += 4;
      continue;
    }
    if (text.at(i) == QLatin1Char('%') && i + 2 < text.size() &&
        text.at(i + 1) == QLatin1Char('2') &&
        (text.at(i + 2) == QLatin1Char('o') || text.at(i + 2) == QLatin1Char('c'))) {
      if (pos + 2 > bytes.size()) {
        return std::nullopt;
      }
      const int value = quint8(bytes.at(pos)) | (quint8(bytes.at(pos + 1)) << 8);
      (text.at(i + 2) == QLatin1Char('o') ? offset : count) = value;
      pos += 2;
      i += 3;
      continue;
    }
    if (!expect(static_cast<char>(text.at(i).unicode() & 0xFF))) {
      return std::nullopt;
    }
    ++i;
  }
  if (pos != bytes.size()) {
    return std::nullopt;
  }
  return std::make_pair(offset, count);
}

bool startsWithProbeLetter(const QByteArray& bytes) {
  return !bytes.isEmpty() && QByteArrayLiteral("FGQSV").contains(bytes.at(0));
}

}  // namespace

SimEcuConnection::SimEcuConnection(const EcuDefinition& definition, QObject* parent)
    : EcuConnection(parent), definition_(definition) {
  for (const int size : std::as_const(definition_.PageSizes)) {
    ram_.emplace_back(std::max(size, 0), '\0');
  }
  flash_ = ram_;
  for (const auto& [name, logger] : definition_.LoggerDefinitions) {
    loggers_.push_back(
        Logger{decodeEscapes(logger.StartCommand, 0), decodeEscapes(logger.StopCommand, 0),
               decodeEscapes(logger.DataReadCommand, 0),
               logger.Type.compare(QLatin1String("composite"), Qt::CaseInsensitive) == 0,
               logger.DataLength, logger.RecordLength, std::nullopt});
  }
  startMs_ = clock_->nowMs();
  productText_ = definition_.Signature;
  for (const QStringList* templates :
       {&definition_.PageReadCommands, &definition_.PageChunkWriteCommands,
        &definition_.PageValueWriteCommands, &definition_.BurnCommands,
        &definition_.Crc32CheckCommands}) {
    for (const QString& t : *templates) {
      // Templates starting with a field or an escape have no command letter.
      if (!t.isEmpty() && t.at(0) != QLatin1Char('%') && t.at(0) != QLatin1Char('\\') &&
          t.at(0).unicode() < 0x80 && !pageLetters_.contains(char(t.at(0).unicode()))) {
        pageLetters_.append(char(t.at(0).unicode()));
      }
    }
  }
  // Requests carry the CAN id where real definitions write its placeholder, as one byte (0 for
  // this controller); the command byte follows it.
  realtimeTemplate_ = definition_.OchGetCommand;
  realtimeTemplate_.replace(QLatin1String("\\$tsCanId"), QLatin1String("\\x00"))
      .replace(QLatin1String("$tsCanId"), QLatin1String("\\x00"));
}

QString SimEcuConnection::defaultProductText(const QString& signature) {
  const QLatin1String family("speeduino");
  const QString trimmed = signature.trimmed();
  if (!trimmed.startsWith(family, Qt::CaseInsensitive)) {
    return signature;
  }
  QString version = trimmed.mid(family.size()).trimmed();
  // The firmware's own version names year and month apart: "202504-dev" is "2025.04-dev".
  const bool yearAndMonth =
      version.size() >= 6 &&
      std::all_of(version.cbegin(), version.cbegin() + 6, [](QChar c) { return c.isDigit(); });
  if (yearAndMonth) {
    version.insert(4, QLatin1Char('.'));
  }
  return (QStringLiteral("Speeduino ") + version).trimmed();
}

bool SimEcuConnection::useFlashFile(const QString& path) {
  QFile file(path);
  if (file.exists()) {
    if (!file.open(QIODevice::ReadOnly)) {
      setError(ConnectionError::Io,
               QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
      return false;
    }
    const QByteArray image = file.readAll();
    qsizetype total = 0;
    for (const QByteArray& page : flash_) {
      total += page.size();
    }
    if (image.size() != total) {
      setError(ConnectionError::Io,
               QStringLiteral("%1 holds %2 bytes, not the %3 bytes of the definition's pages")
                   .arg(path)
                   .arg(image.size())
                   .arg(total));
      return false;
    }
    qsizetype at = 0;
    for (QByteArray& page : flash_) {
      page = image.mid(at, page.size());
      at += page.size();
    }
  } else {
    for (QByteArray& page : flash_) {
      page.fill('\0');
    }
  }
  ram_ = flash_;
  flashPath_ = path;
  fuellingStale_ = true;
  fitTrueVe();
  return true;
}

bool SimEcuConnection::setVeError(const SimVeError& error) {
  if (!fuellingOfPages(definition_, ram_)) {
    return false;
  }
  veError_ = error;
  fuellingStale_ = true;
  fitTrueVe();
  return true;
}

void SimEcuConnection::fitTrueVe() {
  if (!veError_ || trueBase_) {
    return;
  }
  const std::optional<SimFuelling> burned = fuellingOfPages(definition_, flash_);
  if (burned && std::any_of(burned->ve.values.cbegin(), burned->ve.values.cend(),
                            [](double v) { return v != 0.0; })) {
    trueBase_ = burned->ve;
    engine_.setTrueVe(*trueBase_, *veError_);
  }
}

void SimEcuConnection::saveFlash() {
  // Written beside the old file and renamed over it, so a stop at any moment leaves one whole
  // image, the old or the new.
  QSaveFile file(flashPath_);
  if (file.open(QIODevice::WriteOnly)) {
    for (const QByteArray& page : flash_) {
      file.write(page);
    }
    if (file.commit()) {
      return;
    }
  }
  setError(ConnectionError::Io,
           QStringLiteral("Flash file %1 not written: %2").arg(flashPath_, file.errorString()));
}

QString SimEcuConnection::id() const { return QStringLiteral("SIM:demo"); }

QString SimEcuConnection::displayName() const { return QStringLiteral("Simulated ECU (demo)"); }

void SimEcuConnection::setStatus(ConnectionStatus status) {
  if (status_ != status) {
    status_ = status;
    Q_EMIT statusChanged(status);
  }
}

bool SimEcuConnection::open() {
  setStatus(ConnectionStatus::Connected);
  return true;
}

void SimEcuConnection::close() {
  input_.clear();
  output_.clear();
  setStatus(ConnectionStatus::Disconnected);
}

void SimEcuConnection::setClock(Clock& clock) {
  clock_ = &clock;
  startMs_ = clock.nowMs();
  engine_ = SimEngine();
  if (trueBase_ && veError_) {
    engine_.setTrueVe(*trueBase_, *veError_);
  }
  fuellingStale_ = true;
}

qint64 SimEcuConnection::nowMs() const { return clock_->nowMs() - startMs_; }

void SimEcuConnection::loadPage(int pageIndex, const QByteArray& bytes) {
  if (pageIndex < 0 || pageIndex >= static_cast<int>(ram_.size())) {
    return;
  }
  QByteArray& page = ram_[pageIndex];
  page.fill('\0');
  std::copy_n(bytes.constData(), std::min(bytes.size(), page.size()), page.data());
  flash_[pageIndex] = page;
  fuellingStale_ = true;
  fitTrueVe();
}

QByteArray SimEcuConnection::workingPage(int pageIndex) const {
  return pageIndex >= 0 && pageIndex < static_cast<int>(ram_.size()) ? ram_[pageIndex]
                                                                     : QByteArray();
}

QByteArray SimEcuConnection::burnedPage(int pageIndex) const {
  return pageIndex >= 0 && pageIndex < static_cast<int>(flash_.size()) ? flash_[pageIndex]
                                                                       : QByteArray();
}

void SimEcuConnection::powerCycle() {
  ram_ = flash_;
  fuellingStale_ = true;
}

const SimEngineState& SimEcuConnection::engineNow() {
  if (veError_ && fuellingStale_) {
    // Read again only after a change: a realtime request then costs no decoding.
    if (std::optional<SimFuelling> fuelling = fuellingOfPages(definition_, ram_)) {
      engine_.setFuelling(std::move(*fuelling));
    }
    fuellingStale_ = false;
  }
  return engine_.advanceTo(static_cast<double>(nowMs()) / 1000.0);
}

QByteArray SimEcuConnection::realtimeBlock() { return simRealtimeBlock(definition_, engineNow()); }

qint64 SimEcuConnection::write(const QByteArray& bytes) {
  if (status_ != ConnectionStatus::Connected) {
    return 0;
  }
  // A request left half-way, by a client that died or hung up, is dropped, as a controller's
  // receive timeout does, so that the next client is not out of step.
  const qint64 now = clock_->nowMs();
  if (now - lastInputMs_ >= kStaleInputMs) {
    input_.clear();
  }
  lastInputMs_ = now;
  input_.append(bytes);
  consumeInput();
  return bytes.size();
}

QByteArray SimEcuConnection::read(qint64 maxBytes, qint64 waitMs) {
  if (output_.isEmpty()) {
    if (status_ == ConnectionStatus::Connected) {
      clock_->sleepMs(waitMs);
    }
    return {};
  }
  const qsizetype n = std::clamp<qint64>(maxBytes, 0, output_.size());
  QByteArray bytes = output_.left(n);
  output_.remove(0, n);
  return bytes;
}

qint64 SimEcuConnection::bytesAvailable() { return output_.size(); }

// Splits the input into framed requests and unframed commands, the way a controller that speaks
// both protocols tells them apart.
void SimEcuConnection::consumeInput() {
  const auto unframed = [this] {
    if (const std::optional<Reply> r = answer(input_)) {
      if (r->status == EcuCommandService::kStatusOk ||
          r->status == EcuCommandService::kStatusBurnOk) {
        output_.append(r->data);
      }
    }
    input_.clear();
  };
  while (!input_.isEmpty()) {
    if (input_.size() == 1) {
      unframed();
      return;
    }
    const int n = (quint8(input_.at(0)) << 8) | quint8(input_.at(1));
    if (n == 0 || n > EcuCommandService::kMaxPayload) {
      unframed();
      return;
    }
    if (input_.size() < n + 6) {
      // Short text commands look like the start of a long frame; they are taken as they are.
      if (input_.size() <= kMaxUnframedProbe && startsWithProbeLetter(input_)) {
        unframed();
      }
      return;
    }
    const QByteArray payload = input_.mid(2, n);
    const quint32 crc =
        (quint32(quint8(input_.at(n + 2))) << 24) | (quint32(quint8(input_.at(n + 3))) << 16) |
        (quint32(quint8(input_.at(n + 4))) << 8) | quint32(quint8(input_.at(n + 5)));
    if (crc != crc32(payload)) {
      // A raw command may look like the start of a frame; this controller takes the whole input
      // as one. A real controller of this class answers such a frame with status 0x82 (CRC
      // failure) instead, so a client never learns of the difference from a reply.
      unframed();
      return;
    }
    input_.remove(0, n + 6);
    const Reply r = answer(payload).value_or(Reply{EcuCommandService::kStatusUnrecognized, {}});
    output_.append(
        EcuCommandService::wrapFrame(QByteArray(1, static_cast<char>(r.status)) + r.data));
  }
}

std::optional<SimEcuConnection::Reply> SimEcuConnection::answer(const QByteArray& command) {
  const QByteArray query = decodeEscapes(definition_.QueryCommand, 0);
  const QByteArray version = decodeEscapes(definition_.versionInfoCommand(), 0);
  const QString configText = definition_.RetrieveConfigErrorCommand.isEmpty()
                                 ? QStringLiteral("e")
                                 : definition_.RetrieveConfigErrorCommand;
  if (command == "F") {
    return Reply{0, QByteArrayLiteral("001")};
  }
  if (command == "Q" || (!query.isEmpty() && command == query)) {
    return Reply{0, asciiBytes(definition_.Signature)};
  }
  if (command == "S") {
    return Reply{0, asciiBytes(productText_)};
  }
  if (command == "V" || (!version.isEmpty() && command == version)) {
    return Reply{0, QByteArray(kVersionText)};
  }
  if (command == asciiBytes(configText)) {
    // The count of configuration problems; a simulated controller has none.
    return Reply{0, QByteArrayLiteral("ok: 0")};
  }
  if (std::optional<Reply> r = pageCommand(command)) {
    return r;
  }
  if (std::optional<Reply> r = realtimeCommand(command)) {
    return r;
  }
  for (const QString& text : definition_.agentCommands()) {
    if (!text.isEmpty() && command == decodeEscapes(text, 0)) {
      return Reply{0, {}};
    }
  }
  if (std::optional<Reply> r = loggerCommand(command)) {
    return r;
  }
  // A page command naming a page the definition lacks, or too short to name page, offset and
  // count, is out of range rather than unknown.
  if (!command.isEmpty() && pageLetters_.contains(command.at(0))) {
    return Reply{EcuCommandService::kStatusOutOfRange, {}};
  }
  return std::nullopt;
}

std::optional<SimEcuConnection::Reply> SimEcuConnection::pageCommand(const QByteArray& command) {
  const Reply outOfRange{EcuCommandService::kStatusOutOfRange, {}};
  const QString& endianness = definition_.Endianness;
  for (int i = 0; i < static_cast<int>(ram_.size()); ++i) {
    QByteArray& page = ram_[i];
    const QString id = definition_.PageIdentifiers.value(i);
    const auto match = [&](const QStringList& templates) -> std::optional<CommandFields> {
      const QString t = templates.value(i);
      return t.isEmpty() || page.isEmpty() ? std::nullopt
                                           : matchCommand(t, id, endianness, 0, command);
    };
    if (const std::optional<CommandFields> f = match(definition_.PageReadCommands)) {
      const int offset = std::max(f->offset, 0);
      const int count = f->count >= 0 ? f->count : static_cast<int>(page.size()) - offset;
      if (offset + qsizetype(count) > page.size() || count < 0) {
        return outOfRange;
      }
      return Reply{0, page.mid(offset, count)};
    }
    std::optional<CommandFields> write = match(definition_.PageChunkWriteCommands);
    if (!write) {
      write = match(definition_.PageValueWriteCommands);
    }
    if (write && refusals_.writes) {
      return Reply{*refusals_.writes, {}};
    }
    if (write) {
      const int offset = std::max(write->offset, 0);
      if (write->count >= 0 && write->count != write->value.size()) {
        return Reply{write->value.size() < write->count ? EcuCommandService::kStatusUnderrun
                                                        : EcuCommandService::kStatusOverrun,
                     {}};
      }
      if (offset + write->value.size() > page.size()) {
        return outOfRange;
      }
      std::copy(write->value.cbegin(), write->value.cend(), page.begin() + offset);
      fuellingStale_ = true;
      return Reply{0, {}};
    }
    if (match(definition_.BurnCommands)) {
      if (refusals_.burns) {
        return Reply{*refusals_.burns, {}};
      }
      flash_[i] = page;
      fitTrueVe();
      ++burnCount_;
      if (!flashPath_.isEmpty()) {
        saveFlash();
      }
      return Reply{EcuCommandService::kStatusBurnOk, {}};
    }
    if (match(definition_.Crc32CheckCommands)) {
      const quint32 crc = crc32(page);
      QByteArray bytes;
      for (int shift = 24; shift >= 0; shift -= 8) {
        bytes.append(static_cast<char>((crc >> shift) & 0xFF));
      }
      return Reply{0, bytes};
    }
  }
  return std::nullopt;
}

std::optional<SimEcuConnection::Reply> SimEcuConnection::realtimeCommand(
    const QByteArray& command) {
  if (realtimeTemplate_.isEmpty()) {
    return std::nullopt;
  }
  const std::optional<std::pair<int, int>> fields =
      matchRealtimeRequest(realtimeTemplate_, command);
  if (!fields) {
    return std::nullopt;
  }
  const QByteArray block = realtimeBlock();
  const int offset = std::max(fields->first, 0);
  const int count = fields->second >= 0 ? fields->second : static_cast<int>(block.size()) - offset;
  if (count < 0 || offset + qsizetype(count) > block.size()) {
    return Reply{EcuCommandService::kStatusOutOfRange, {}};
  }
  return Reply{0, block.mid(offset, count)};
}

std::optional<SimEcuConnection::Reply> SimEcuConnection::loggerCommand(const QByteArray& command) {
  for (Logger& logger : loggers_) {
    if (!logger.start.isEmpty() && command == logger.start) {
      logger.armedAtMs = nowMs();
      return Reply{0, {}};
    }
    if (!logger.stop.isEmpty() && command == logger.stop) {
      logger.armedAtMs.reset();
      return Reply{0, {}};
    }
    if (!logger.read.isEmpty() && command == logger.read) {
      const qint64 now = nowMs();
      if (!logger.armedAtMs || now - *logger.armedAtMs < kCaptureMs) {
        return Reply{EcuCommandService::kStatusOutOfRange, {}};
      }
      // Captures follow one another while the logger runs.
      logger.armedAtMs = now;
      const SimEngineState& state = engineNow();
      return Reply{0, logger.composite ? simCompositeLog(logger.length, logger.recordLength, state)
                                       : simToothLog(logger.length, logger.recordLength, state)};
    }
  }
  return std::nullopt;
}

}  // namespace tk::sim
