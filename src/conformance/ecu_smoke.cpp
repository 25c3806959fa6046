#include "conformance/ecu_smoke.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <algorithm>
#include <cstdlib>
#include <optional>

#include "comms/ecu_command_service.h"
#include "comms/ecu_connection.h"
#include "comms/serial_ecu_connection.h"
#include "comms/tune_comms_service.h"
#include "definition/ecu_definition.h"
#include "definition/ini_parser.h"
#include "tune/field_codec.h"
#include "tune/tune_value.h"

namespace tk::conformance {
namespace {

constexpr quint16 kStmVendorId = 0x0483;
constexpr quint16 kStmVcpProductId = 0x5740;
constexpr quint32 kSmokeBaud = 115200;
// The scratch area: 8 bytes that end 8 bytes before the end of the last page.
constexpr int kScratchFromEnd = 16;
constexpr QByteArrayView kPattern("TKSMOKE1");

// One controller under test: the checks, their failure count and the report on out.
class SmokeRun {
 public:
  SmokeRun(const EcuDefinition& definition, comms::EcuConnection& connection, QTextStream& out)
      : definition_(definition), connection_(connection), tune_(commands_, connection), out_(out) {}

  // Wakes the framed protocol and asks for the signature; no value when nothing answers.
  std::optional<QString> readSignature() {
    tune_.forceCrcProtocol();
    return tune_.readSignature();
  }
  // Steps from the signature check on; the exit code.
  int run(const QString& port);

 private:
  void check(bool passed, const QString& text) {
    out_ << (passed ? "  PASS  " : "  FAIL  ") << text << "\n";
    out_.flush();
    if (!passed) {
      ++failures_;
    }
  }
  // A page read during the write steps; an error is reported and counts as no value.
  std::optional<QByteArray> readBack(int pageNumber);
  bool readAll();
  void showRebuildDeltas();
  void scratchArea();
  void writeAndBurn();

  const EcuDefinition& definition_;
  comms::EcuConnection& connection_;
  comms::EcuCommandService commands_{&connection_};
  comms::TuneCommsService tune_;
  QTextStream& out_;
  PageImages stored_;
  int failures_ = 0;
};

std::optional<QByteArray> SmokeRun::readBack(int pageNumber) {
  const comms::PageRead page = tune_.readPage(definition_, pageNumber - 1);
  if (page.failed()) {
    out_ << "  page " << pageNumber << ": EXCEPTION " << page.error << "\n";
  }
  return page.bytes;
}

bool SmokeRun::readAll() {
  bool readOk = true;
  QElapsedTimer timer;
  timer.start();
  for (int n = 1; n <= definition_.NPages; ++n) {
    const comms::PageRead page = tune_.readPage(definition_, n - 1);
    if (page.failed()) {
      out_ << "  page " << n << ": EXCEPTION " << page.error << "\n";
      readOk = false;
    } else if (page.bytes) {
      stored_.insert(n, *page.bytes);
      const QByteArray sha = QCryptographicHash::hash(*page.bytes, QCryptographicHash::Sha256);
      out_ << "  page " << n << ": " << page.bytes->size() << " bytes, sha256 "
           << QString::fromLatin1(sha.toHex().left(16)) << "...\n";
    } else {
      out_ << "  page " << n << ": skipped\n";
    }
  }
  const bool complete = readOk && stored_.size() == definition_.NPages;
  check(complete, QStringLiteral("full tune read (%1 pages in %2 ms)")
                      .arg(stored_.size())
                      .arg(timer.elapsed()));
  return complete;
}

void SmokeRun::showRebuildDeltas() {
  const Tune decoded = decodePages(stored_, definition_);
  out_ << "  extracted " << decoded.fields.size() << " fields\n";
  Tune copy = decoded;
  copy.signature = definition_.Signature;
  copy.nPages = definition_.NPages;
  const PageImages rebuilt = encodeTune(copy, definition_);
  for (auto it = stored_.cbegin(); it != stored_.cend(); ++it) {
    const QByteArray& original = it.value();
    const QByteArray other = rebuilt.value(it.key());
    const qsizetype common = std::min(original.size(), other.size());
    qsizetype delta = std::abs(original.size() - other.size());
    for (qsizetype i = 0; i < common; ++i) {
      delta += original.at(i) != other.at(i) ? 1 : 0;
    }
    out_ << "  page " << it.key() << " field-rebuild delta: " << delta
         << " byte(s) (gap bytes not covered by fields; informational)\n";
  }
}

void SmokeRun::scratchArea() {
  const int pageNumber = definition_.NPages;
  const int pageIndex = pageNumber - 1;
  const int offset = definition_.pageSize(pageNumber) - kScratchFromEnd;
  const QByteArray original = stored_.value(pageNumber);
  const QByteArray saved = original.mid(offset, kPattern.size());
  QByteArray expected = original;
  expected.replace(offset, kPattern.size(), kPattern);

  check(tune_.writeChunk(definition_, pageIndex, offset, kPattern.toByteArray()),
        QStringLiteral("chunk write of test pattern @ page %1 offset %2")
            .arg(pageNumber)
            .arg(offset));
  check(readBack(pageNumber) == expected,
        QStringLiteral("read-back shows the pattern (rest of page untouched)"));
  check(tune_.writeChunk(definition_, pageIndex, offset, saved),
        QStringLiteral("chunk write restoring original bytes"));
  check(readBack(pageNumber) == original, QStringLiteral("read-back matches original page"));
}

void SmokeRun::writeAndBurn() {
  QElapsedTimer timer;
  timer.start();
  int written = 0;
  for (auto it = stored_.cbegin(); it != stored_.cend(); ++it) {
    // A page the controller refused or left unanswered ends the writing: it is a failure, and
    // the read-back below shows what the controller holds.
    const comms::PageWrite page = tune_.writePage(definition_, it.key() - 1, it.value(), true);
    if (page.failed()) {
      check(false, QStringLiteral("write + burn, ") + page.error);
      break;
    }
    ++written;
  }
  out_ << "  wrote + burned " << written << " pages in " << timer.elapsed() << " ms\n";
  bool identical = true;
  for (auto it = stored_.cbegin(); it != stored_.cend(); ++it) {
    // Every page is read back, also after a mismatch, so that the report shows them all.
    identical = readBack(it.key()) == it.value() && identical;
  }
  check(identical, QStringLiteral("post-burn read-back byte-identical to the original tune"));
}

int SmokeRun::run(const QString& port) {
  check(tune_.verifySignature(definition_), QStringLiteral("signature matches INI"));
  if (failures_ > 0) {
    out_ << "  ABORT: refusing to touch an ECU whose signature does not match the INI\n";
    return 1;
  }
  out_ << "  firmware version: '" << tune_.readFirmwareVersion(definition_).value_or(QString())
       << "'\n";
  out_ << "  config error: "
       << tune_.readConfigError(definition_).value_or(QStringLiteral("<none>")) << "\n";
  // Nothing is written unless the whole tune was read: it is what the controller gets back.
  if (!readAll()) {
    return 1;
  }
  showRebuildDeltas();
  scratchArea();
  writeAndBurn();
  out_ << "\nSMOKE " << (failures_ == 0 ? "PASS" : "FAIL") << " on " << port << " (" << failures_
       << " failure(s))\n";
  out_.flush();
  return failures_ == 0 ? 0 : 1;
}

}  // namespace

SmokePorts systemSmokePorts() {
  SmokePorts ports;
  ports.autoDetect = [] {
    QStringList names;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
      if (info.hasVendorIdentifier() && info.vendorIdentifier() == kStmVendorId &&
          info.hasProductIdentifier() && info.productIdentifier() == kStmVcpProductId) {
        names.append(info.portName());
      }
    }
    return names;
  };
  ports.connect = [](const QString& port) -> std::unique_ptr<comms::EcuConnection> {
    return std::make_unique<comms::SerialEcuConnection>(port, kSmokeBaud);
  };
  return ports;
}

int ecuSmokeWith(const QString& iniPath, const QString& port, const SmokePorts& ports,
                 QTextStream& out) {
  const QFileInfo iniFile(iniPath);
  if (!iniFile.isFile() || !iniFile.isReadable()) {
    out << "FAIL: cannot read " << iniPath << "\n";
    out.flush();
    return 1;
  }
  const EcuDefinition definition = IniParser().parse(iniPath);
  out << "INI: " << iniPath << "\n    signature '" << definition.Signature << "', "
      << definition.NPages << " pages, blockingFactor " << definition.BlockingFactor
      << ", endianness " << definition.Endianness << "\n";
  // The scratch area lies 16 bytes before the end of the last page; a definition without room
  // for it is refused before any port is opened.
  if (definition.NPages < 1 || definition.pageSize(definition.NPages) < kScratchFromEnd) {
    out << "FAIL: the last page needs at least " << kScratchFromEnd
        << " bytes for the scratch area\n";
    out.flush();
    return 1;
  }
  QStringList candidates{port};
  if (port.isEmpty()) {
    candidates = ports.autoDetect ? ports.autoDetect() : QStringList();
    if (candidates.isEmpty()) {
      out << "FAIL: no STM32 virtual COM port (0483:5740) found and no port given\n";
      out.flush();
      return 1;
    }
    out << "Auto-detected STM32 VCP candidates: " << candidates.join(QStringLiteral(", ")) << "\n";
  }
  for (const QString& candidate : candidates) {
    out << "\n=== Port " << candidate << " ===\n";
    out.flush();
    const std::unique_ptr<comms::EcuConnection> connection = ports.connect(candidate);
    if (!connection || !connection->open()) {
      out << "  cannot open " << candidate << ", skipping\n";
      continue;
    }
    // A fresh service per port: the framing decision of one controller never carries over.
    SmokeRun smoke(definition, *connection, out);
    const std::optional<QString> signature = smoke.readSignature();
    out << "  ECU signature: '" << signature.value_or(QStringLiteral("<none>")) << "'\n";
    out.flush();
    if (!signature) {
      out << "  no signature response, skipping port\n";
      connection->close();
      continue;
    }
    const int exitCode = smoke.run(candidate);
    connection->close();
    out.flush();
    return exitCode;
  }
  out << "FAIL: no candidate port produced a matching ECU\n";
  out.flush();
  return 1;
}

int ecuSmoke(const QString& iniPath, const QString& port) {
  QTextStream out(stdout);
  return ecuSmokeWith(iniPath, port, systemSmokePorts(), out);
}

}  // namespace tk::conformance
