#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <stdexcept>

#include "tune/tune_value.h"

namespace tk {
struct EcuDefinition;
}

namespace tk::comms {

class EcuCommandService;
class EcuConnection;

/// Raised by readPage when a chunk cannot be read after its retries or arrives short.
class PageReadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// Talks to an ECU about its tune: signature, firmware, configuration errors, page reads and
/// writes in chunks built from the definition's templates, burns. Decides per connection between
/// the CRC-framed protocol and the older unframed one. Page indexes are 0-based.
class TuneCommsService {
 public:
  /// A service over commands (not owned) with no framing decision cached.
  explicit TuneCommsService(EcuCommandService& commands);

  /// Forgets the cached framing decision.
  void resetProtocolCache();
  /// Wakes the ECU with an unframed "F", discards its answer and records CRC framing for it.
  void forceCrcProtocol(EcuConnection& connection);
  /// Whether the ECU speaks the framed protocol; probed with "F" once per connection object.
  bool usesCrcFraming(EcuConnection& connection);

  /// The reply to a text command (accepted when longer than 3 bytes; one retry), without
  /// trailing NUL/CR/LF.
  std::optional<QString> querySignatureText(EcuConnection& connection, const QString& command);
  /// Asks "Q" then "S"; prefers an "S" reply that starts with "Speeduino" (any case).
  std::optional<QString> readSignature(EcuConnection& connection);
  /// Whether the "Q" or else the "S" reply, trimmed, equals the definition's signature.
  bool verifySignature(EcuConnection& connection, const EcuDefinition& definition);
  /// The reply to the definition's version command ("V" when it has none).
  std::optional<QString> readFirmwareVersion(EcuConnection& connection,
                                             const EcuDefinition& definition);
  /// The ECU's configuration-error text; no value when it reports none or the reply is not text.
  std::optional<QString> readConfigError(EcuConnection& connection,
                                         const EcuDefinition& definition);

  /// The whole page read in chunks; no value when the page has no size or read command.
  /// Throws PageReadError "Failed to read page N at offset O" when a chunk fails.
  std::optional<QByteArray> readPage(EcuConnection& connection, const EcuDefinition& definition,
                                     int pageIndex);
  /// Reads every page (pages without size or read command are skipped) and decodes them into a
  /// tune stamped with the current UTC time as its write time. PageReadError propagates.
  Tune readTune(EcuConnection& connection, const EcuDefinition& definition);
  /// Writes the tune page by page in ascending order (burning each when asked): its values
  /// encoded, or its raw legacy pages when it has no values; nothing when it has neither.
  void writeTune(EcuConnection& connection, const EcuDefinition& definition, const Tune& tune,
                 bool burn);

  /// Writes bytes at offset with the page's chunk-write template; false when the page has none or
  /// (framed) the ECU refused.
  bool writeChunk(EcuConnection& connection, const EcuDefinition& definition, int pageIndex,
                  int offset, const QByteArray& bytes);
  /// Writes the page in chunks (at most its size) and burns it when asked; runs to the end
  /// whatever the ECU answers. Does nothing for a page without a chunk-write template.
  void writePage(EcuConnection& connection, const EcuDefinition& definition, int pageIndex,
                 const QByteArray& bytes, bool burn);

  /// Attaches the connection and sends console text (see EcuCommandService).
  std::optional<QString> sendConsoleCommand(EcuConnection& connection, const QString& text,
                                            int timeoutMs);

 private:
  void attach(EcuConnection& connection);
  bool probeCrcFraming(EcuConnection& connection);
  QByteArray readChunk(EcuConnection& connection, const QByteArray& command, int count, bool crc);
  QByteArray chunkWriteCommand(const EcuDefinition& definition, int pageIndex, int offset,
                               const QByteArray& bytes) const;

  EcuCommandService& commands_;
  const EcuConnection* cachedConnection_ = nullptr;
  bool useCrcFraming_ = false;
  bool cacheValid_ = false;
};

}  // namespace tk::comms
