#include "cli/ecu_detect.h"

#include <cstdio>

#include "comms/connection_provider.h"
#include "comms/device_detection_service.h"

namespace tk::cli {

int ecuDetectWith(comms::DeviceDetectionService& service, const QString& mode, const QString& ip,
                  QTextStream& out, QTextStream& err) {
  service.setProgressCallback([&err](const QString& message) {
    err << "[detect] " << message << "\n";
    err.flush();
  });
  QList<comms::DetectedDevice> devices;
  if (mode == QLatin1String("tcp")) {
    devices = service.detectTcpDevices(ip, QString());
  } else if (mode.isEmpty() || mode == QLatin1String("serial")) {
    // An address given with the serial mode has nothing to say about serial ports.
    devices = service.detectSerialDevices();
  } else {
    err << "ecu-detect: unknown mode '" << mode << "' (use serial or tcp)\n";
    err.flush();
    return 2;
  }
  for (const comms::DetectedDevice& device : devices) {
    out << device.protocol << ' ' << device.port;
    if (device.baudRate > 0) {
      out << " @ " << device.baudRate;
    }
    out << " -> \"" << device.signature << "\"\n";
  }
  out << devices.size() << " device(s) found\n";
  out.flush();
  return devices.isEmpty() ? 1 : 0;
}

int ecuDetect(const QString& mode, const QString& ip) {
  QTextStream out(stdout);
  QTextStream err(stderr);
  comms::SerialConnectionProvider provider;
  comms::DeviceDetectionService service(provider);
  return ecuDetectWith(service, mode, ip, out, err);
}

}  // namespace tk::cli
