#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <utility>

namespace tk {
struct EcuDefinition;
}

namespace tk::comms {

class EcuCommandService;

/// One fetch of the output-channel block: every declared channel's physical value, in
/// definition order; an invalid snapshot holds nothing.
struct RealtimeSnapshot {
  bool valid = false;
  QList<std::pair<QString, double>> values;

  bool operator==(const RealtimeSnapshot&) const = default;
};

/// The realtime request for one chunk: the CAN-id placeholder becomes the byte 0, "\xHH"
/// escapes their byte, "%2o" and "%2c" the offset and count as two bytes least significant
/// first; every other character its low byte.
QByteArray buildRealtimeRequest(const QString& ochGetCommand, int offset, int count);

/// The size of the block a snapshot fetches: OchBlockSize, or 100 when it is below 1.
int realtimeBlockSize(const EcuDefinition& definition);

/// Decodes every declared channel that lies in the block (computed channels and channels
/// without a data type are left out) into a valid snapshot; little-endian unless the
/// definition says "big".
RealtimeSnapshot decodeRealtimeBlock(const EcuDefinition& definition, const QByteArray& block);

/// Fetches the block in chunks of the blocking factor, one framed exchange each, and decodes it;
/// invalid when the definition has no realtime command or any chunk fails (nothing is retried).
RealtimeSnapshot readRealtimeSnapshot(const EcuDefinition& definition, EcuCommandService& commands);

}  // namespace tk::comms
