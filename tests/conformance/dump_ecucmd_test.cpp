#include "conformance/dump_ecucmd.h"

#include "json/json_writer.h"
#include "support/test_support.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace tk::conformance {
namespace {

// Built once: the document takes a few seconds of scripted timeouts.
const JsonValue& document() {
  static const JsonValue doc = ecuCommandVectors();
  return doc;
}

const JsonValue& vector(const char* name) {
  for (const JsonValue& v : document().find(QStringLiteral("vectors"))->elements()) {
    if (v.find(QStringLiteral("name"))->toString() == QLatin1String(name)) {
      return v;
    }
  }
  static const JsonValue none;
  ADD_FAILURE() << "no vector " << name;
  return none;
}

QString text(const JsonValue& v, const char* key) {
  return v.find(QString::fromLatin1(key))->toString();
}
std::int64_t integer(const JsonValue& v, const char* key) {
  return v.find(QString::fromLatin1(key))->toInt();
}
const JsonValue& member(const JsonValue& v, const char* key) {
  return *v.find(QString::fromLatin1(key));
}

TEST(DumpEcuCmdTest, VectorNamesInOrder) {
  QStringList names;
  for (const JsonValue& v : document().find(QStringLiteral("vectors"))->elements()) {
    names.append(v.find(QStringLiteral("name"))->toString());
  }
  const QStringList expected =
      QStringLiteral(
          "scale-timeout wrap-write wrap-signature wrap-empty not-connected roundtrip-A-BE "
          "detect-1-BE detect-1-LE detect-2-BE detect-2-LE detect-3-BE detect-3-LE detect-4-BE "
          "detect-4-LE timeout-partial timeout-no-response invalid-size-big invalid-size-zero "
          "crc-garbage purge-stale tobuffer-clamp tobuffer-nodata-status tobuffer-timeout "
          "short-write "
          "no-response-burn console-timeout console-ok resync-dead resync-ok")
          .split(QLatin1Char(' '));
  EXPECT_EQ(names, expected);
}

TEST(DumpEcuCmdTest, FramesCarryTheStandardCrc) {
  EXPECT_EQ(text(vector("wrap-signature"), "frame"), QStringLiteral("00 01 51 CE 6E 8E EF"));
  EXPECT_EQ(text(vector("wrap-empty"), "frame"), QStringLiteral("00 00 00 00 00 00"));
  EXPECT_EQ(text(vector("wrap-write"), "crc32"), QStringLiteral("0x3670C49E"));
}

TEST(DumpEcuCmdTest, DetectionVectorsFixModeAndByteOrder) {
  // CRC-32 of 00 C0 FF EE under each coverage: whole payload 647D7B51, data BA787D5F,
  // length + payload 017BA32E, length + data 0C79C407.
  const std::tuple<const char*, const char*, int, bool> cases[] = {
      {"detect-1-BE", "64 7D 7B 51", 1, false}, {"detect-1-LE", "51 7B 7D 64", 1, true},
      {"detect-2-BE", "BA 78 7D 5F", 2, false}, {"detect-2-LE", "5F 7D 78 BA", 2, true},
      {"detect-3-BE", "01 7B A3 2E", 3, false}, {"detect-3-LE", "2E A3 7B 01", 3, true},
      {"detect-4-BE", "0C 79 C4 07", 4, false}, {"detect-4-LE", "07 C4 79 0C", 4, true}};
  for (const auto& [name, crc, mode, little] : cases) {
    const JsonValue& v = vector(name);
    EXPECT_EQ(text(v, "rx"), QStringLiteral("00 04 00 C0 FF EE ") + QString::fromLatin1(crc))
        << name;
    EXPECT_EQ(integer(v, "crcCoverage"), mode) << name;
    EXPECT_EQ(member(v, "crcLittleEndian").toBool(), little) << name;
    EXPECT_EQ(text(member(v, "response"), "data"), QStringLiteral("C0 FF EE")) << name;
  }
}

TEST(DumpEcuCmdTest, FailureVectorsCarryTheirMessagesAndCodes) {
  const std::tuple<const char*, const char*, int> cases[] = {
      {"not-connected", "Not connected", 255},
      {"timeout-partial", "Response timeout after 50ms", 255},
      {"timeout-no-response", "Response timeout after 50ms", 255},
      {"invalid-size-big", "Invalid payload size: 32769", 255},
      {"invalid-size-zero", "Invalid payload size: 0", 255},
      {"crc-garbage", "CRC mismatch", 130},
      {"short-write", "Command write failed", 255}};
  for (const auto& [name, error, status] : cases) {
    const JsonValue& r = member(vector(name), "response");
    EXPECT_FALSE(member(r, "ok").toBool()) << name;
    EXPECT_EQ(text(r, "error"), QString::fromLatin1(error)) << name;
    EXPECT_EQ(integer(r, "status"), status) << name;
    EXPECT_EQ(integer(vector(name), "bytesAvailableAfter"), 0) << name;
  }
  EXPECT_EQ(member(vector("not-connected"), "tx").size(), 0u);
  EXPECT_EQ(integer(vector("short-write"), "queuedRepliesLeft"), 1);
}

TEST(DumpEcuCmdTest, BufferAndUnansweredVectors) {
  EXPECT_EQ(integer(vector("tobuffer-clamp"), "count"), 4);
  EXPECT_EQ(text(vector("tobuffer-clamp"), "destination"),
            QStringLiteral("EE EE 01 02 03 04 EE EE"));
  EXPECT_EQ(integer(vector("tobuffer-nodata-status"), "count"), 0);
  EXPECT_EQ(integer(vector("tobuffer-timeout"), "count"), -1);
  // The burn's acknowledgement (2 length bytes, status 04, 4 CRC bytes) stays unread.
  EXPECT_EQ(integer(vector("no-response-burn"), "bytesAvailableAfter"), 7);
  EXPECT_EQ(integer(vector("no-response-burn"), "readCalls"), 0);
  EXPECT_EQ(member(vector("console-timeout"), "reply"), JsonValue());
  EXPECT_EQ(text(vector("console-ok"), "reply"), QStringLiteral("Speeduino console v1"));
  EXPECT_EQ(member(vector("console-ok"), "tx").elements().at(0).toString(),
            QStringLiteral("73 74 61 74 75 73 0A"));
  EXPECT_FALSE(member(vector("resync-dead"), "answered").toBool());
  EXPECT_TRUE(member(vector("resync-ok"), "answered").toBool());
  EXPECT_EQ(member(vector("resync-ok"), "tx").elements().at(0).toString(), QStringLiteral("46"));
}

TEST(DumpEcuCmdTest, CommandWritesTheGoldenDocument) {
  QTemporaryDir dir;
  const QString out = dir.filePath(QStringLiteral("ecucmd.json"));
  const auto r = test::runCli({QStringLiteral("dump-ecucmd"), out});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(r.err.isEmpty());
  EXPECT_EQ(test::readFile(out),
            test::readFile(test::dataPath(QStringLiteral("dump-ecucmd.json"))));
  EXPECT_EQ(test::readFile(out), serialize(document()) + '\n');
}

}  // namespace
}  // namespace tk::conformance
