// Realtime snapshots against a scripted ECU on a fake clock: the requests each chunk sends, what
// the block's bytes decode to, and the failures that leave a snapshot invalid.

#include "comms/realtime_data.h"

#include <gtest/gtest.h>

#include "comms_fakes.h"

namespace tk::comms {
namespace {

using test::hex;
using test::okFrame;

ConstantDef channel(const char* dataType, int offset, double scale = 1.0, double translate = 0.0) {
  ConstantDef c;
  c.DataType = QString::fromLatin1(dataType);
  c.Offset = offset;
  c.Scale = scale;
  c.Translate = translate;
  return c;
}

// The payloads of the framed requests written so far, as hex text.
QList<QByteArray> payloads(const ScriptedEcuConnection& ecu) {
  QList<QByteArray> result;
  for (const QByteArray& frame : ecu.writes()) {
    result.append(frame.mid(2, frame.size() - 6).toHex());
  }
  return result;
}

class RealtimeTest : public ::testing::Test {
 protected:
  RealtimeTest() { definition.OchGetCommand = QStringLiteral(R"(r\x00\x30%2o%2c)"); }

  RealtimeSnapshot read() { return readRealtimeSnapshot(definition, service); }

  EcuDefinition definition;
  test::LapClock clock;
  test::TimedEcu ecu{clock};
  EcuCommandService service{&ecu, clock};
};

struct RequestCase {
  const char* command;
  int offset;
  int count;
  const char* bytes;  // hex
};

// The placeholder in both spellings (the first as the real definitions write it), the fields
// little-endian whatever the definition's order,
// "%2" before another letter and a cut-off escape as ordinary characters.
const RequestCase kRequests[] = {
    {R"(r\$tsCanId\x30%2o%2c)", 0, 130, "72003000008200"},
    {R"(r$tsCanId\x30%2o%2c)", 0x0102, 0x0304, "72003002010403"},
    {R"(\x72%2c%2o)", 1, 2, "7202000100"},
    {"A%2xB%5%", 0, 0, "4125327842253525"},
    {R"(r\x3)", 0, 0, "725c7833"},
    {R"(r\xZZ%2o)", 300, 0, "725c785a5a2c01"},
    {"%2o%2", 7, 0, "07002532"},
};

TEST(RealtimeRequestTest, BuildsEachChunksRequest) {
  for (const RequestCase& c : kRequests) {
    SCOPED_TRACE(c.command);
    EXPECT_EQ(buildRealtimeRequest(QString::fromLatin1(c.command), c.offset, c.count).toHex(),
              QByteArray(c.bytes));
  }
}

TEST_F(RealtimeTest, FetchesTheBlockInChunksOfTheBlockingFactor) {
  definition.OchBlockSize = 300;
  definition.BlockingFactor = 256;
  definition.OutputChannels.insert(QStringLiteral("first"), channel("U08", 0));
  definition.OutputChannels.insert(QStringLiteral("last"), channel("U08", 299));
  ecu.reply(okFrame(QByteArray(256, '\x05')));
  ecu.reply(okFrame(QByteArray(44, '\x06')));
  const RealtimeSnapshot expected{true,
                                  {{QStringLiteral("first"), 5}, {QStringLiteral("last"), 6}}};
  EXPECT_EQ(read(), expected);
  EXPECT_EQ(payloads(ecu), (QList<QByteArray>{"72003000000001", "72003000012c00"}));
}

struct BlockCase {
  const char* name;
  int blockSize;
  int blockingFactor;
  QList<QByteArray> requests;  // hex payloads
};

const BlockCase kBlocks[] = {
    {"NoSizeFetchesHundredBytes", 0, 0, {"72003000006400"}},
    {"NoFactorFetchesAllAtOnce", 300, 0, {"72003000002c01"}},
    {"FactorAboveTheBlock", 40, 251, {"72003000002800"}},
    {"HugeFactor", 300, 0x7fffffff, {"72003000002c01"}},
    {"ExactMultiple", 20, 10, {"72003000000a00", "7200300a000a00"}},
};

TEST_F(RealtimeTest, ChunksFollowBlockSizeAndFactor) {
  for (const BlockCase& c : kBlocks) {
    SCOPED_TRACE(c.name);
    test::TimedEcu local{clock};
    EcuCommandService localService{&local, clock};
    definition.OchBlockSize = c.blockSize;
    definition.BlockingFactor = c.blockingFactor;
    for (qsizetype i = 0; i < c.requests.size(); ++i) {
      local.reply(okFrame(QByteArray(1, '\x01')));
    }
    EXPECT_TRUE(readRealtimeSnapshot(definition, localService).valid);
    EXPECT_EQ(payloads(local), c.requests);
  }
}

// A short answer fills only its own length; the rest of the chunk stays zero.
TEST_F(RealtimeTest, ShortResponseLeavesTheRestZero) {
  definition.OchBlockSize = 10;
  definition.OutputChannels.insert(QStringLiteral("answered"), channel("U08", 2));
  definition.OutputChannels.insert(QStringLiteral("missing"), channel("U08", 3, 1.0, 7.0));
  ecu.reply(okFrame(hex("090909")));
  const RealtimeSnapshot expected{
      true, {{QStringLiteral("answered"), 9}, {QStringLiteral("missing"), 7}}};
  EXPECT_EQ(read(), expected);
}

TEST_F(RealtimeTest, AnyFailedChunkMakesTheSnapshotInvalid) {
  definition.OchBlockSize = 20;
  definition.BlockingFactor = 10;
  definition.OutputChannels.insert(QStringLiteral("rpm"), channel("U08", 0));
  struct Case {
    const char* name;
    QList<QByteArray> replies;
    int writes;
  };
  const Case cases[] = {
      {"SecondChunkRefused", {okFrame(hex("01")), test::framed(hex("8401"))}, 2},
      {"EmptyAnswer", {okFrame({})}, 1},
      {"Silence", {}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TimedEcu local{clock};
    EcuCommandService localService{&local, clock};
    for (const QByteArray& r : c.replies) {
      local.reply(r);
    }
    EXPECT_EQ(readRealtimeSnapshot(definition, localService), RealtimeSnapshot());
    EXPECT_EQ(local.writes().size(), c.writes);
  }
  definition.OchGetCommand.clear();
  EXPECT_EQ(read(), RealtimeSnapshot());
  EXPECT_TRUE(ecu.writes().isEmpty());
}

struct DecodeCase {
  const char* type;
  int offset;
  bool bigEndian;
  double value;
};

// 80 01 02 03 04 | ff ff ff fe | 00 00 c0 3f | 3f c0 00 00 | 7f
const QByteArray kBlock =
    hex("8001020304"
        "fffffffe"
        "0000c03f"
        "3fc00000"
        "7f");

const DecodeCase kDecodes[] = {
    {"U08", 0, false, 128},        {"S08", 0, false, -128},      {"U16", 0, false, 0x0180},
    {"U16", 0, true, 0x8001},      {"S16", 0, true, -32767},     {"u16", 0, false, 0x0180},
    {"U32", 1, false, 0x04030201}, {"U32", 1, true, 0x01020304}, {"S32", 5, false, -16777217},
    {"S32", 5, true, -2},          {"F32", 9, false, 1.5},       {"F32", 13, true, 1.5},
    {"U16", 17, false, 127},       {"S32", 15, true, 0},         {"ASCII", 0, false, 128},
    {"S64", 5, false, 255},
};

TEST(RealtimeDecodeTest, ReadsEachTypeInTheBlocksByteOrder) {
  for (const DecodeCase& c : kDecodes) {
    SCOPED_TRACE(std::string(c.type) + " at " + std::to_string(c.offset) +
                 (c.bigEndian ? " big" : " little"));
    EcuDefinition definition;
    // Only "big" in any case is big-endian; an empty order is little, unlike page commands.
    definition.Endianness = c.bigEndian ? QStringLiteral("BIG") : QString();
    definition.OutputChannels.insert(QStringLiteral("ch"), channel(c.type, c.offset));
    const RealtimeSnapshot expected{true, {{QStringLiteral("ch"), c.value}}};
    EXPECT_EQ(decodeRealtimeBlock(definition, kBlock), expected);
  }
}

// Physical values are (raw + translate) x scale; channels the block cannot hold, computed
// channels and channels without a type are left out, the others keep definition order.
TEST(RealtimeDecodeTest, ScalesDeclaredChannelsAndLeavesOutTheRest) {
  EcuDefinition definition;
  definition.OutputChannels.insert(QStringLiteral("coolant"), channel("U08", 17, 0.5, -27));
  definition.OutputChannels.insert(QStringLiteral("untyped"), channel("", 0));
  definition.OutputChannels.insert(QStringLiteral("before"), channel("U08", -1));
  definition.OutputChannels.insert(QStringLiteral("beyond"), channel("U08", 18));
  ConstantDef computed = channel("F32", 0);
  computed.Expression = QStringLiteral("coolant * 2");
  definition.OutputChannels.insert(QStringLiteral("computed"), computed);
  definition.OutputChannels.insert(QStringLiteral("afr"), channel("U08", 0, 0.1));
  const RealtimeSnapshot expected{true,
                                  {{QStringLiteral("coolant"), 50}, {QStringLiteral("afr"), 12.8}}};
  EXPECT_EQ(decodeRealtimeBlock(definition, kBlock), expected);
}

}  // namespace
}  // namespace tk::comms
