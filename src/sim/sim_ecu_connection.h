#pragma once

#include <optional>
#include <vector>

#include "comms/clock.h"
#include "comms/ecu_connection.h"
#include "definition/ecu_definition.h"
#include "sim/sim_engine.h"

namespace tk::sim {

using comms::Clock;
using comms::ConnectionError;
using comms::ConnectionStatus;
using comms::EcuConnection;

/// A demonstration ECU built from a definition. It speaks the framed protocol (and answers the
/// same commands unframed): signature and version queries, page reads, chunk and value writes,
/// burns and CRC checks of every page, the realtime block of a running engine, the
/// configuration-error command, controller commands and the tooth and composite loggers. Pages
/// live in a working copy (RAM) and a burned copy (flash) sized by the definition; reads come
/// from the working copy and a burn copies it to flash. Framed replies start with the status a
/// controller of this class sends: 0x00, 0x04 after a burn, 0x83 for an unknown command, 0x84
/// for a page, offset or length out of range. "Q" gives the signature, "S" the product text
/// (the signature until one is given).
class SimEcuConnection : public EcuConnection {
  Q_OBJECT

 public:
  /// The answer to the version query.
  static constexpr const char* kVersionText = "Torvik Simulated ECU 1.0";

  /// A closed simulated ECU with zero-filled pages; the engine starts running now.
  explicit SimEcuConnection(const EcuDefinition& definition, QObject* parent = nullptr);

  /// "SIM:demo".
  QString id() const override;
  /// "Simulated ECU (demo)".
  QString displayName() const override;
  ConnectionStatus status() const override { return status_; }
  /// Always succeeds.
  bool open() override;
  /// Drops pending input and replies.
  void close() override;
  /// Takes request bytes and queues the replies; the input's length, 0 when closed.
  qint64 write(const QByteArray& bytes) override;
  /// Takes up to maxBytes of queued reply bytes. Replies are queued by the write that asks, so
  /// with none queued the read waits out waitMs on the clock (the engine runs on meanwhile).
  QByteArray read(qint64 maxBytes, qint64 waitMs) override;
  /// The queued reply bytes.
  qint64 bytesAvailable() override;

  /// The answer to "S" of a controller whose answer to "Q" is signature: "Speeduino " and the
  /// version with a dot after its year ("speeduino 202501" gives "Speeduino 2025.01") when the
  /// signature starts with "speeduino" in any case, the signature itself otherwise.
  static QString defaultProductText(const QString& signature);
  /// Answers "S" with text instead of the signature.
  void setProductText(const QString& text) { productText_ = text; }

  /// Keeps the burned pages in the file at path, the definition's pages one after the other:
  /// loads them into both copies now (a missing file is zero-filled flash) and replaces the file
  /// whole after every burn. False, with errorString(), when the file cannot be read or is not
  /// exactly as long as the pages; a failed save is an Io error (errorOccurred).
  bool useFlashFile(const QString& path);

  /// Statuses with which the simulator refuses writes, as a controller with a locked or failing
  /// flash does; an empty member takes them as usual.
  struct Refusals {
    std::optional<quint8> writes;  ///< answer to chunk and value writes, which change nothing
    std::optional<quint8> burns;   ///< answer to burns, which leave the flash as it is
  };
  /// Refuses writes and burns from now on as refusals says.
  void setRefusals(const Refusals& refusals) { refusals_ = refusals; }

  /// Makes the engine's true VE differ from the tune's by error. The true VE is the VE table of
  /// the flash (see fuellingOfPages) the first time it holds a table that is not all 0 (now, or
  /// at a later load or burn) changed by error; the controller fuels by the tables of the working
  /// pages as they are at each moment. False when the definition has no VE table.
  bool setVeError(const SimVeError& error);

  /// Runs the engine on clock (which must outlive the simulator), starting again from 0 s; the
  /// real clock by default, a fake one in tests.
  void setClock(Clock& clock);
  /// Loads both copies of a page (0-based); bytes beyond the page are ignored, missing ones are 0.
  void loadPage(int pageIndex, const QByteArray& bytes);
  /// The working copy of a page; empty for an unknown page.
  QByteArray workingPage(int pageIndex) const;
  /// The burned copy of a page; empty for an unknown page.
  QByteArray burnedPage(int pageIndex) const;
  /// Reloads every working copy from flash, as a controller does after a reset.
  void powerCycle();
  /// Number of burns so far.
  int burnCount() const { return burnCount_; }
  /// The realtime block at the current engine time (the engine runs on to it).
  QByteArray realtimeBlock();

 private:
  struct Reply {
    quint8 status = 0;
    QByteArray data;
  };
  struct Logger {
    QByteArray start;
    QByteArray stop;
    QByteArray read;
    bool composite = false;
    int length = 0;
    int recordLength = 0;
    std::optional<qint64> armedAtMs;
  };

  void setStatus(ConnectionStatus status);
  void consumeInput();
  std::optional<Reply> answer(const QByteArray& command);
  std::optional<Reply> pageCommand(const QByteArray& command);
  std::optional<Reply> realtimeCommand(const QByteArray& command);
  std::optional<Reply> loggerCommand(const QByteArray& command);
  qint64 nowMs() const;
  const SimEngineState& engineNow();
  void saveFlash();
  void fitTrueVe();

  EcuDefinition definition_;
  ConnectionStatus status_ = ConnectionStatus::Disconnected;
  QByteArray input_;
  QByteArray output_;
  std::vector<QByteArray> ram_;
  std::vector<QByteArray> flash_;
  std::vector<Logger> loggers_;
  Clock* clock_ = &Clock::real();
  qint64 startMs_ = 0;
  qint64 lastInputMs_ = 0;  // on clock_, when bytes last came
  SimEngine engine_;
  int burnCount_ = 0;
  QString productText_;
  QString realtimeTemplate_;
  QByteArray pageLetters_;  // first bytes of the page commands
  QString flashPath_;
  Refusals refusals_;
  std::optional<SimVeError> veError_;
  std::optional<AnalysisGrid> trueBase_;  // the engine's VE before the error, once fitted
  bool fuellingStale_ = true;             // the working pages changed since the engine read them
};

}  // namespace tk::sim
