#include "sim/sim_engine.h"

#include <gtest/gtest.h>

#include <QtEndian>
#include <bit>
#include <cmath>

#include "definition/ini_parser.h"

namespace tk::sim {
namespace {

// Where the drive puts the engine: each quantity within a plausible band for that moment.
struct Phase {
  double at;
  const char* what;
  double rpmLow, rpmHigh;
  double mapLow, mapHigh;
  double afrLow, afrHigh;
  bool cranking, running, fuelCut;
};

const Phase kPhases[] = {
    {1.0, "cranking", 150, 350, 85, 100, 10.5, 13, true, false, false},
    {7.0, "cold fast idle", 1000, 1300, 30, 42, 12.5, 14, false, true, false},
    {12.5, "accelerating", 2500, 4000, 70, 85, 11.5, 13.5, false, true, false},
    {19.5, "cruising", 2000, 2600, 55, 68, 12.5, 14, false, true, false},
    {25.0, "full throttle", 5000, 6600, 90, 100, 11, 12.5, false, true, false},
    {27.0, "overrun", 2000, 3500, 20, 36, 20, 22, false, true, true},
    {285.0, "warm idle", 800, 950, 33, 42, 14.2, 15.1, false, true, false},
};

TEST(SimEngineTest, DrivesThroughPlausiblePhasesWhileWarmingUp) {
  SimEngine engine;
  double coolant = engine.state().coolant;
  const auto within = [](double v, double low, double high) { return v >= low && v <= high; };
  for (const Phase& p : kPhases) {
    const SimEngineState& s = engine.advanceTo(p.at);
    SCOPED_TRACE(p.what);
    EXPECT_NEAR(s.seconds, p.at, 0.011);
    EXPECT_PRED3(within, s.rpm, p.rpmLow, p.rpmHigh);
    EXPECT_PRED3(within, s.map, p.mapLow, p.mapHigh);
    EXPECT_PRED3(within, s.afr, p.afrLow, p.afrHigh);
    EXPECT_EQ(s.cranking, p.cranking);
    EXPECT_EQ(s.running, p.running);
    EXPECT_EQ(s.fuelCut, p.fuelCut);
    EXPECT_EQ(s.pulseWidth == 0.0, p.fuelCut);
    // The starter pulls the battery down; the alternator charges it.
    EXPECT_TRUE(p.cranking ? s.battery < 11.5 : s.battery > 13.0 && s.battery < 14.5);
    EXPECT_GE(s.coolant, coolant);  // it only warms up on this drive
    coolant = s.coolant;
  }
  EXPECT_GT(coolant, 85.0);
  EXPECT_LT(coolant, 92.0);  // the thermostat holds it
}

// Channels of every storage form, stored as physical = (raw + translate) x scale.
const char kChannels[] = R"(
[MegaTune]
   signature = "enc 1"
[Constants]
   endianness = %1
[OutputChannels]
   ochBlockSize = 24
   rpm        = scalar, U16,  0, "rpm", 1.000, 0.000
   coolant    = scalar, U08,  2, "C",   1.000, -40.000
   clt        = scalar, U08,  3, "°F",  1.800, -22.230
   iat        = scalar, S16,  4, "degF", 0.100, 0.000
   pulseWidth = scalar, U16,  6, "ms",  0.001, 0.000
   advance    = scalar, S08,  8, "deg", 1.000, 0.000
   lambda     = scalar, F32,  9, "",    1.000, 0.000
   running    = bits,   U08, 13, [0:0]
   cranking   = bits,   U08, 13, [1:1]
   map        = scalar, U32, 14, "kPa", 0.500, 2.000
   fuelLoad   = scalar, S16, 18, "kPa", { loadScale }, 0.000
   unknownOne = scalar, U08, 20, "",    1.000, 0.000
   afr        = scalar, U16, 23, "AFR", 0.100, 0.000
)";

TEST(SimEngineTest, BlockStoresEachChannelThroughItsScaleTranslateTypeAndByteOrder) {
  SimEngine engine;
  const SimEngineState& s = engine.advanceTo(25.0);  // full throttle, still cold
  for (const char* order : {"little", "big"}) {
    SCOPED_TRACE(order);
    const bool big = QLatin1String(order) == QLatin1String("big");
    const EcuDefinition d = IniParser().parseBytes(
        QString::fromUtf8(kChannels).arg(QLatin1String(order)).toUtf8(), QString());
    const QByteArray block = simRealtimeBlock(d, s);
    ASSERT_EQ(block.size(), 24);
    const auto u16 = [&](int at) {
      return big ? qFromBigEndian<quint16>(block.constData() + at)
                 : qFromLittleEndian<quint16>(block.constData() + at);
    };
    const auto u32 = [&](int at) {
      return big ? qFromBigEndian<quint32>(block.constData() + at)
                 : qFromLittleEndian<quint32>(block.constData() + at);
    };
    const double fahrenheit = s.coolant * 1.8 + 32.0;
    EXPECT_NEAR(u16(0), s.rpm, 0.5);
    EXPECT_NEAR(quint8(block[2]) - 40.0, s.coolant, 0.5);
    EXPECT_NEAR((quint8(block[3]) - 22.23) * 1.8, fahrenheit, 0.9);
    EXPECT_NEAR(qint16(u16(4)) * 0.1, s.intakeAir * 1.8 + 32.0, 0.05);
    EXPECT_NEAR(u16(6) * 0.001, s.pulseWidth, 0.0005);
    EXPECT_NEAR(qint8(block[8]), s.advance, 0.5);
    EXPECT_FLOAT_EQ(std::bit_cast<float>(u32(9)), static_cast<float>(s.afr / 14.7));
    EXPECT_EQ(quint8(block[13]), 0x01);  // running, not cranking
    EXPECT_NEAR((u32(14) + 2.0) * 0.5, s.map, 0.25);
    EXPECT_EQ(u16(18), 0);  // a computed scale is not guessed
    EXPECT_EQ(block[20], '\0');
    EXPECT_EQ(block[23], '\0');  // a two-byte channel beyond the block is left out
  }
}

}  // namespace
}  // namespace tk::sim
