#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

#include "tune/tune_value.h"

namespace tk {
struct EcuDefinition;
}

namespace tk::comms {

class Clock;
class EcuCommandService;
class EcuConnection;

/// What readPage brought: the page, no page (it has no size or read command), or a failure.
struct PageRead {
  std::optional<QByteArray> bytes;  ///< the page; no value when absent or failed
  /// "Failed to read page N at offset O" (N from 1) when a chunk could not be read after its
  /// retries or arrived short; empty otherwise.
  QString error;

  bool failed() const { return !error.isEmpty(); }
};

/// What readTune brought: the tune, or the first page's failure (the tune is then empty).
struct TuneRead {
  Tune tune;
  QString error;  ///< readPage's failure; empty when every page was read

  bool failed() const { return !error.isEmpty(); }
};

/// How writePage or writeTune ended.
struct PageWrite {
  /// Empty when every chunk (and burn) was taken; else "page N: the controller did not take the
  /// <chunk write at offset O | burn> (<status 0xHH | the exchange's failure>)", N from 1: the
  /// page was not (or not wholly) taken and must not be reported as written.
  QString error;

  bool failed() const { return !error.isEmpty(); }
};

/// The page images writeTune sends for a tune: its values encoded, or its raw legacy pages when
/// it has no values; none when it has neither.
PageImages pagesToWrite(const Tune& tune, const EcuDefinition& definition);

/// The replies to one "Q" and one "S" signature query.
struct SignatureReplies {
  std::optional<QString> q;  ///< the "Q" reply: the signature proper
  std::optional<QString> s;  ///< the "S" reply: often a product text such as "Speeduino 2025.04"

  /// The text to show: the "S" reply when it starts with "Speeduino" (any case), else a
  /// non-empty "Q" reply, else the "S" reply as it is.
  std::optional<QString> shown() const;
  /// Whether the "Q" or the "S" reply, trimmed, equals signature trimmed; an empty or missing
  /// reply never matches.
  bool matches(const QString& signature) const;
};

/// Talks to the ECU behind one connection about its tune: signature, firmware, configuration
/// errors, page reads and writes in chunks built from the definition's templates, burns. Decides
/// once whether that ECU speaks the CRC-framed protocol or the older unframed one; the decision
/// lives and dies with the service. Every operation first attaches the connection to the command
/// service, which restarts its CRC detection. Waits and sleeps use the command service's clock.
/// Page indexes are 0-based.
class TuneCommsService {
 public:
  /// A service for connection over commands (neither owned; both must outlive it) with no
  /// framing decision yet.
  TuneCommsService(EcuCommandService& commands, EcuConnection& connection);

  /// The connection this service talks over.
  EcuConnection& connection() const { return connection_; }

  /// Forgets the framing decision, so that the next operation probes again.
  void resetProtocolCache();
  /// Wakes the ECU with an unframed "F", discards its answer and records CRC framing.
  void forceCrcProtocol();
  /// Whether the ECU speaks the framed protocol; probed with "F" the first time.
  bool usesCrcFraming();

  /// The reply to a text command (accepted when longer than 3 bytes; one retry), without
  /// trailing NUL/CR/LF.
  std::optional<QString> querySignatureText(const QString& command);
  /// Asks "Q" then "S" (both always sent, in that order).
  SignatureReplies querySignatureReplies();
  /// Asks "Q" then "S"; the text SignatureReplies::shown picks.
  std::optional<QString> readSignature();
  /// Whether the "Q" or else the "S" reply, trimmed, equals the definition's signature.
  bool verifySignature(const EcuDefinition& definition);
  /// The reply to the definition's version command ("V" when it has none).
  std::optional<QString> readFirmwareVersion(const EcuDefinition& definition);
  /// The ECU's configuration-error text; no value when it reports none or the reply is not text.
  std::optional<QString> readConfigError(const EcuDefinition& definition);

  /// The whole page read in chunks; no page when it has no size or read command; a failure
  /// when a chunk fails (see PageRead).
  PageRead readPage(const EcuDefinition& definition, int pageIndex);
  /// Reads every page (pages without size or read command are skipped) and decodes them into a
  /// tune stamped with the current UTC time as its write time; stops at the first failed page.
  TuneRead readTune(const EcuDefinition& definition);
  /// Writes the tune page by page in ascending order (burning each when asked): its values
  /// encoded, or its raw legacy pages when it has no values; nothing when it has neither (see
  /// pagesToWrite). Stops at the first page writePage reports failed.
  PageWrite writeTune(const EcuDefinition& definition, const Tune& tune, bool burn);
  /// Writes the pages (numbers from 1) in ascending order, burning each when asked; stops at the
  /// first page writePage reports failed.
  PageWrite writePages(const EcuDefinition& definition, const PageImages& pages, bool burn);

  /// Writes bytes at offset with the page's chunk-write template; false when the page has none or
  /// (framed) the ECU refused.
  bool writeChunk(const EcuDefinition& definition, int pageIndex, int offset,
                  const QByteArray& bytes);
  /// Writes the page in chunks (at most its size) and burns it when asked. Framed, every chunk
  /// write and the burn must be answered with an accepted status (0x00, or 0x04 for a burn):
  /// the first that is refused or unanswered stops the page as failed (see PageWrite). Unframed
  /// writes have no answer and are trusted. Does nothing for a page without a chunk-write
  /// template.
  PageWrite writePage(const EcuDefinition& definition, int pageIndex, const QByteArray& bytes,
                      bool burn);

  /// Attaches the connection and sends console text (see EcuCommandService).
  std::optional<QString> sendConsoleCommand(const QString& text, int timeoutMs);

 private:
  struct Request;

  void attach();
  Clock& clock() const;
  bool probeCrcFraming();
  std::optional<QByteArray> exchange(bool crc, const Request& request);
  QByteArray collectUnframed(int count);
  QByteArray readChunk(const QByteArray& command, int count, bool crc);

  EcuCommandService& commands_;
  EcuConnection& connection_;
  std::optional<bool> crcFraming_;  // the framing decision, once made
};

}  // namespace tk::comms
