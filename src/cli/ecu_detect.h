#pragma once

#include <QString>
#include <QTextStream>

namespace tk::comms {
class DeviceDetectionService;
}

namespace tk::cli {

/// Runs the scan the mode names ("serial" or empty: serial ports; "tcp": the bridge at ip, or
/// the local /24 subnets when ip is empty) with service, writes one line per device and the
/// count to out and the progress lines to err; returns 0 when something was found, 1 when not,
/// 2 for an unknown mode.
int ecuDetectWith(comms::DeviceDetectionService& service, const QString& mode, const QString& ip,
                  QTextStream& out, QTextStream& err);

/// ecu-detect [serial|tcp] [ip] on the machine's serial ports and network; the exit code.
int ecuDetect(const QString& mode, const QString& ip);

}  // namespace tk::cli
