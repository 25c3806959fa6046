#pragma once

#include <QString>
#include <QStringList>
#include <QTextStream>
#include <functional>
#include <memory>

namespace tk::comms {
class EcuConnection;
}

namespace tk::conformance {

/// Where the smoke test looks for controllers and how it reaches one.
struct SmokePorts {
  /// The candidate ports when none is given.
  std::function<QStringList()> autoDetect;
  /// A closed connection to the port at 115200 baud; null when there can be none.
  std::function<std::unique_ptr<comms::EcuConnection>(const QString& port)> connect;
};

/// The machine's STM32 virtual COM ports (USB 0483:5740), reached as serial ports.
SmokePorts systemSmokePorts();

/// The live end-to-end check of the definition at iniPath against the controller on port (the
/// auto-detected candidates when port is empty): signature, full read, scratch-area write and
/// restore, write and burn of the tune just read and its read-back. Writes its report to out;
/// returns 0 when every check passed, else 1.
int ecuSmokeWith(const QString& iniPath, const QString& port, const SmokePorts& ports,
                 QTextStream& out);

/// ecu-smoke <file.ini> [port] on the machine's serial ports; the exit code.
int ecuSmoke(const QString& iniPath, const QString& port);

}  // namespace tk::conformance
