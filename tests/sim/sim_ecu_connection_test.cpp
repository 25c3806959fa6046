#include "sim/sim_ecu_connection.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include "comms/comms_fakes.h"
#include "comms/ecu_command_service.h"
#include "comms/tune_comms_service.h"
#include "definition/ini_parser.h"

namespace tk::sim {
namespace {

using namespace comms;

using test::hex;

// The engine runs on a fake clock of its own; the protocol waits on another.
class SimEcuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim.setClock(engine);
    sim.open();
  }

  EcuResponse framed(const QByteArray& payload) { return commands.sendCommand(payload, 500); }
  QByteArray raw(const QByteArray& bytes) {
    sim.write(bytes);
    return sim.read(1 << 20, 0);
  }

  FakeClock engine;
  FakeClock wire;
  SimEcuConnection sim{test::syntheticDefinition()};
  EcuCommandService commands{&sim, wire};
};

EcuResponse ok(const QByteArray& data = {}, quint8 status = 0) {
  return EcuResponse{true, status, data, {}, FrameOutcome::Ok};
}

TEST_F(SimEcuTest, AnswersQueriesAndControllerCommandsFramedAndUnframed) {
  const QByteArray signature("speeduino 202501-tk");
  const QByteArrayList answers{"001", signature, signature, "Torvik Simulated ECU 1.0", "ok: 0"};
  for (int i = 0; i < 5; ++i) {
    const QByteArray query(1, "FQSVe"[i]);
    EXPECT_EQ(raw(query), answers.at(i));
    EXPECT_EQ(framed(query), ok(answers.at(i)));
  }
  EXPECT_EQ(commands.crcCoverage(), CrcCoverage::Payload);
  EXPECT_EQ(framed(hex("450201")), ok());
  // Up to eight bytes starting with a query letter are one command, not the start of a frame.
  EXPECT_EQ(raw("Sxx"), QByteArray());
  EXPECT_EQ(framed("Z"), ok({}, 0x83));
  EXPECT_EQ(framed(hex("5401")), ok({}, 0x83));    // an unknown logger sub-command
  EXPECT_EQ(framed(hex("450203")), ok({}, 0x83));  // not a controller command
  EXPECT_EQ(raw(hex("7A7A7A7A7A7A7A7A7A")), QByteArray());
}

TEST_F(SimEcuTest, SplitFramesWaitJoinedOnesAreAnsweredInOrderBadOnesAreUnframed) {
  const QByteArray q = EcuCommandService::wrapFrame("Q");
  EXPECT_EQ(sim.write(q.left(3)), 3);
  EXPECT_EQ(sim.bytesAvailable(), 0);
  EXPECT_EQ(raw(q.mid(3) + EcuCommandService::wrapFrame("V")),
            test::okFrame("speeduino 202501-tk") + test::okFrame("Torvik Simulated ECU 1.0"));
  // The rest of a frame that comes half a second late is no rest: the start was dropped.
  sim.write(q.left(3));
  engine.advance(500);
  EXPECT_EQ(raw(q), test::okFrame("speeduino 202501-tk"));
  QByteArray bad = q;
  bad[bad.size() - 1] = char(bad.back() ^ 0x5A);
  for (const QByteArray& unframed : {bad, hex("0000"), hex("9C4000")}) {
    EXPECT_EQ(raw(unframed), QByteArray());
    EXPECT_EQ(framed("Q").data, QByteArrayLiteral("speeduino 202501-tk"));
  }
}

TEST_F(SimEcuTest, PagesAreWorkingCopiesUntilBurnedAndCheckTheirBounds) {
  sim.loadPage(2, QByteArray(200, '\x07'));  // longer than the page: cut to 128
  EXPECT_EQ(sim.burnedPage(2), QByteArray(128, '\x07'));
  EXPECT_EQ(framed(hex("70000378001000")).status, 0x84);  // 16 bytes at 120 of 128
  EXPECT_EQ(framed(hex("4D0003000003000102")).status, 0x80);
  EXPECT_EQ(framed(hex("4D0003000001000102")).status, 0x81);
  EXPECT_EQ(framed(hex("4D000380000100AA")).status, 0x84);
  EXPECT_EQ(framed(hex("4D00037F000100AA")), ok());
  EXPECT_EQ(framed(hex("70000370001000")).data, QByteArray(15, '\x07') + '\xAA');
  // The CRC check answers the CRC-32 of the working page, big-endian.
  EXPECT_EQ(qFromBigEndian<quint32>(framed(hex("640003")).data.constData()),
            crc32(sim.workingPage(2)));
  EXPECT_EQ(framed(hex("620003")), ok({}, 0x04));
  EXPECT_EQ(sim.burnedPage(2), sim.workingPage(2));
  EXPECT_EQ(sim.burnCount(), 1);
  // A page the definition lacks, or a page command too short to name one, is out of range.
  EXPECT_EQ(framed(hex("70000400000100")).status, 0x84);
  EXPECT_EQ(framed(hex("7000")).status, 0x84);
}

TEST_F(SimEcuTest, RealtimeBlockAndLoggersFollowTheEngine) {
  const QByteArray request = hex("72003000003000");  // offset 0, count 48
  const auto rpm = [](const QByteArray& b) {
    return qFromLittleEndian<quint16>(b.constData() + 14);
  };
  engine.advance(1000);
  const QByteArray cranking = framed(request).data;
  EXPECT_EQ(framed("T").status, 0x84);  // the tooth logger is not started
  EXPECT_EQ(framed("H"), ok());
  EXPECT_EQ(framed("T").status, 0x84);  // nothing captured yet
  engine.advance(23500);                // in the first full-throttle pull
  const QByteArray pull = framed(request).data;
  ASSERT_EQ(cranking.size(), 48);
  EXPECT_EQ(quint8(cranking[2]), 0x02);  // cranking, not running
  EXPECT_EQ(quint8(pull[2]), 0x01);
  EXPECT_LT(rpm(cranking), 400);
  EXPECT_GT(rpm(pull), 4500);
  EXPECT_EQ(quint8(cranking[7]), 20 + 40);  // coolant 20 C cold, translate -40
  EXPECT_EQ(framed(hex("7200300E000200")).data, pull.mid(14, 2));
  EXPECT_EQ(framed(hex("7200302F000200")).status, 0x84);
  // A 36-1 wheel: a tooth every 1/36 turn, twice that over the gap.
  const QByteArray teeth = framed("T").data;
  ASSERT_EQ(teeth.size(), 508);
  const double toothUs = 60.0e6 / (rpm(pull) * 36.0);
  EXPECT_NEAR(qFromBigEndian<quint32>(teeth.constData()), toothUs, 2);
  EXPECT_NEAR(qFromBigEndian<quint32>(teeth.constData() + 34 * 4), 2 * toothUs, 3);
  EXPECT_EQ(framed("h"), ok());
  EXPECT_EQ(framed("T").status, 0x84);
  EXPECT_EQ(framed("J"), ok());
  engine.advance(100);
  EXPECT_EQ(framed("O").data.size(), 1275);
}

// Real definitions write the CAN id into the realtime command; requests carry it as one byte.
TEST(SimEcuCanIdTest, RealtimeRequestsCarryTheCanIdByteNotThePlaceholder) {
  const EcuDefinition d = IniParser().parse(QString::fromUtf8(TK_SOURCE_ROOT) +
                                            QStringLiteral("/examples/speeduino-demo.ini"));
  ASSERT_EQ(d.OchGetCommand, QStringLiteral("r\\$tsCanId\\x30%2o%2c"));
  SimEcuConnection sim(d);
  FakeClock engine(0);
  sim.setClock(engine);
  sim.open();
  FakeClock wire;
  EcuCommandService commands(&sim, wire);
  EXPECT_EQ(commands.sendCommand(hex("72003000002800"), 500).data.size(), 40);
  EXPECT_EQ(commands.sendCommand(hex("7200301000040000"), 500).status, 0x83);  // too long
  EXPECT_EQ(commands.sendCommand(QByteArrayLiteral("r\\$tsCanId0") + hex("00002800"), 500).status,
            0x83);
}

TEST(SimEcuProductTest, DefaultProductTextNamesTheFirmwareAndItsVersion) {
  // clang-format off
  const std::pair<const char*, const char*> cases[] = {
      {"speeduino 202501", "Speeduino 2025.01"}, {"speeduino 202504-dev", "Speeduino 2025.04-dev"},
      {"Speeduino  201909 ", "Speeduino 2019.09"}, {"speeduino", "Speeduino"},
      {"speeduino v1.2", "Speeduino v1.2"}, {"MS3 Format 0569.00 ", "MS3 Format 0569.00 "},
      {"rusEFI master.2024.10.27", "rusEFI master.2024.10.27"}};
  // clang-format on
  for (const auto& [signature, product] : cases) {
    EXPECT_EQ(SimEcuConnection::defaultProductText(QLatin1String(signature)),
              QLatin1String(product));
  }
}

TEST_F(SimEcuTest, FlashFileHoldsEveryPageAfterEachBurnAndReportsAFailedSave) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("flash.bin"));
  sim.loadPage(0, QByteArray(16, '\x11'));
  ASSERT_TRUE(sim.useFlashFile(path));  // a missing file is blank flash
  EXPECT_EQ(sim.workingPage(0), QByteArray(288, '\0'));
  EXPECT_FALSE(QFile::exists(path));
  EXPECT_EQ(framed(hex("4D00030000020055AA")), ok());
  EXPECT_EQ(test::readFile(path), QByteArray());  // written on a burn only
  EXPECT_EQ(framed(hex("620003")).status, 0x04);
  QByteArray image(288 + 512 + 128, '\0');
  image[800] = '\x55';
  image[801] = '\xAA';
  EXPECT_EQ(test::readFile(path), image);
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("flash.bin")});

  QStringList errors;
  QObject::connect(&sim, &EcuConnection::errorOccurred,
                   [&errors](const QString& m) { errors.append(m); });
  ASSERT_TRUE(sim.useFlashFile(dir.filePath(QStringLiteral("gone/flash.bin"))));
  EXPECT_EQ(framed(hex("620003")).status, 0x04);  // the burn itself succeeds
  ASSERT_EQ(errors.size(), 1);
  EXPECT_TRUE(errors.at(0).startsWith(QStringLiteral("Flash file ") + dir.path()));
}

// Every real definition makes a controller that a tune service can read, write and burn, and
// that answers its realtime request (the CAN id as one byte) with its whole block.
TEST(SimEcuCorpusTest, EveryCorpusDefinitionServesItsPagesAndRealtimeBlock) {
  const QString corpus = test::corpusDir();
  if (corpus.isEmpty()) {
    GTEST_SKIP() << "corpus not found";
  }
  const QStringList inis =
      QDir(corpus + QStringLiteral("/ini")).entryList({QStringLiteral("*.ini")});
  ASSERT_FALSE(inis.isEmpty());
  for (const QString& name : inis) {
    SCOPED_TRACE(name.toStdString());
    const EcuDefinition d = IniParser().parse(corpus + QStringLiteral("/ini/") + name);
    SimEcuConnection sim(d);
    sim.open();
    FakeClock wire;
    EcuCommandService commands(&sim, wire);
    TuneCommsService tune(commands, sim);
    tune.forceCrcProtocol();
    // A signature of three bytes or fewer (an early one is "20") is never taken as one.
    EXPECT_EQ(tune.verifySignature(d), d.Signature.trimmed().size() > 3);
    if (name == QLatin1String("speeduino-202501.ini")) {
      EXPECT_EQ(commands.sendCommand(hex("72003000008200"), 500).data.size(), 130);
    }
    for (int page = 0; page < d.NPages; ++page) {
      const int size = d.PageSizes.value(page);
      if (size < 1 || d.PageReadCommands.value(page).isEmpty() ||
          d.PageChunkWriteCommands.value(page).isEmpty()) {
        continue;
      }
      QByteArray bytes(size, '\0');
      for (int i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>(i * 31 + page);
      }
      EXPECT_FALSE(tune.writePage(d, page, bytes, true).failed());
      EXPECT_EQ(tune.readPage(d, page).bytes, bytes) << page;
      EXPECT_EQ(sim.burnedPage(page),
                d.BurnCommands.value(page).isEmpty() ? QByteArray(size, '\0') : bytes)
          << page;
    }
  }
}

}  // namespace
}  // namespace tk::sim
