#include "comms/realtime_data.h"

#include <algorithm>

#include "comms/command_builder.h"
#include "comms/ecu_command_service.h"
#include "definition/ecu_definition.h"
#include "definition/scaling.h"
#include "tune/raw_codec.h"

namespace tk::comms {
namespace {

constexpr int kDefaultBlockSize = 100;
constexpr int kChunkTimeoutMs = 2000;

void appendLittleEndian16(QByteArray& bytes, int value) {
  bytes.append(static_cast<char>(value & 0xFF));
  bytes.append(static_cast<char>((value >> 8) & 0xFF));
}

// The raw number of a channel at offset (which the caller checked). A type this reader does not
// know reads as the unsigned byte at its offset, and so does a wide type cut off by the end of
// the block.
double rawValue(const QByteArray& block, const QString& dataType, int offset, bool bigEndian) {
  const RawType type = rawTypeOf(dataType);
  if (offset + rawWidth(type) > block.size()) {
    return readRaw(block, offset, RawType::U08, bigEndian);
  }
  return readRaw(block, offset, type, bigEndian);
}

}  // namespace

QByteArray buildRealtimeRequest(const QString& ochGetCommand, int offset, int count) {
  // The fields split the text into literal runs; neither an escape nor the CAN-id placeholder
  // can contain one, so each run is decoded on its own. Real controllers of this class read the
  // command byte after the CAN id, so the placeholder is replaced here as for page commands.
  QByteArray request;
  qsizetype runStart = 0;
  const auto flushRun = [&](qsizetype end) {
    request.append(decodeEscapes(ochGetCommand.mid(runStart, end - runStart), 0));
  };
  for (qsizetype i = 0; i + 2 < ochGetCommand.size(); ++i) {
    if (ochGetCommand.at(i) != QLatin1Char('%') || ochGetCommand.at(i + 1) != QLatin1Char('2')) {
      continue;
    }
    const QChar field = ochGetCommand.at(i + 2);
    if (field != QLatin1Char('o') && field != QLatin1Char('c')) {
      continue;
    }
    flushRun(i);
    appendLittleEndian16(request, field == QLatin1Char('o') ? offset : count);
    runStart = i + 3;
    i += 2;
  }
  flushRun(ochGetCommand.size());
  return request;
}

int realtimeBlockSize(const EcuDefinition& definition) {
  return definition.OchBlockSize < 1 ? kDefaultBlockSize : definition.OchBlockSize;
}

RealtimeSnapshot decodeRealtimeBlock(const EcuDefinition& definition, const QByteArray& block) {
  // The realtime block defaults to little-endian, unlike the page commands: only "big" is big.
  const bool bigEndian = definition.isBigEndian();
  RealtimeSnapshot snapshot{true, {}};
  for (const auto& [name, channel] : definition.OutputChannels) {
    if (channel.DataType.isEmpty() || channel.Offset < 0 || channel.Offset >= block.size() ||
        channel.Expression) {
      continue;
    }
    // Deliberately no bit range here: a bit channel reads as its whole container, so a flag's
    // value holds every bit of its byte, not just its own.
    const double raw = rawValue(block, channel.DataType, channel.Offset, bigEndian);
    snapshot.values.append({name, physicalFromRaw(raw, channel.Scale, channel.Translate)});
  }
  return snapshot;
}

RealtimeSnapshot readRealtimeSnapshot(const EcuDefinition& definition,
                                      EcuCommandService& commands) {
  if (definition.OchGetCommand.isEmpty()) {
    return {};
  }
  const int blockSize = realtimeBlockSize(definition);
  const int chunk = definition.BlockingFactor < 1 ? blockSize : definition.BlockingFactor;
  QByteArray block(blockSize, '\0');
  // Stepping by count never passes the block's end, so a huge factor cannot overflow the offset.
  int count = 0;
  for (int offset = 0; offset < blockSize; offset += count) {
    count = std::min(chunk, blockSize - offset);
    // Never empty: the command has at least one character.
    const QByteArray request = buildRealtimeRequest(definition.OchGetCommand, offset, count);
    const EcuResponse response = commands.sendCommand(request, kChunkTimeoutMs);
    if (!response.ok || response.data.isEmpty()) {
      return {};
    }
    const qsizetype copied = std::min<qsizetype>(count, response.data.size());
    std::copy_n(response.data.cbegin(), copied, block.begin() + offset);
  }
  return decodeRealtimeBlock(definition, block);
}

}  // namespace tk::comms
