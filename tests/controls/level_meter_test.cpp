// The level meter: its model step by step, and its painting read back pixel by pixel.

#include "controls/level_meter.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QImage>
#include <QScreen>
#include <QSet>
#include <cmath>
#include <random>

namespace tonvale::controls {
namespace {

// Readings in time order: each one's input and what the first channel then shows.
TEST(LevelMeterModel, MapsToDbHoldsPeaksASecondKeepsClipsUntilResetAndShowsMute) {
  const float half = 0.5F, quarter = 0.25F, tiny = 1e-4F;
  struct Step {
    std::int64_t ms;
    std::vector<MeterLevel> in;
    bool muted;
    double peak, rms, hold;
    bool clipped;
    const char* name;
  };
  const Step steps[] = {
      {0, {{half, quarter}}, false, -6.02, -12.04, -6.02, false, "Input level -6 dB"},
      {500, {{quarter, 0.1F}}, false, -12.04, -20, -6.02, false, "Input level -12 dB"},
      {999, {{tiny, tiny}}, false, -60, -60, -6.02, false, "Input level silent"},
      {1000, {{quarter, quarter}}, false, -12.04, -12.04, -12.04, false, "Input level -12 dB"},
      {1100, {{1.0F, 0.9F}}, false, 0, -0.92, 0, true, "Input level 0 dB, clipped"},
      {1200, {{2.0F, half}}, false, 0, -6.02, 0, true, "Input level 0 dB, clipped"},
      {3000, {}, true, -60, -60, -60, true, "Input level muted, clipped"},
      {3100, {{half, 0.7F}}, false, -6.02, -6.02, -6.02, true, "Input level -6 dB, clipped"},
  };
  LevelMeterModel m;
  for (const Step& s : steps) {
    SCOPED_TRACE(s.ms);
    m.Update(s.in, s.muted, s.ms);
    ASSERT_EQ(m.channels().size(), 1u);
    const LevelMeterModel::Channel& c = m.channels()[0];
    EXPECT_NEAR(c.peakDb, s.peak, 0.01);
    EXPECT_NEAR(c.rmsDb, s.rms, 0.01);  // never above the peak
    EXPECT_NEAR(c.holdDb, s.hold, 0.01);
    EXPECT_EQ(c.clipped, s.clipped);
    EXPECT_EQ(m.AccessibleName(), QString::fromLatin1(s.name));
  }
  m.ResetClip();
  EXPECT_EQ(m.AccessibleName(), QStringLiteral("Input level -6 dB"));
  // Six channels each on their own; NaN and silence sit on the floor.
  m.Update({{0, 0}, {half, half}, {std::nanf(""), 0}, {1.0F, 0}, {0, 0}, {tiny, 0}}, false, 4000);
  ASSERT_EQ(m.channels().size(), 6u);
  EXPECT_EQ(std::tuple(m.channels()[0].clipped, m.channels()[3].clipped, m.channels()[2].peakDb),
            std::tuple(false, true, kMeterFloorDb));
  EXPECT_TRUE(m.AccessibleDescription().startsWith(
      QStringLiteral("channel 1: peak -60 dB, RMS -60 dB; channel 2: peak -6 dB, RMS -6 dB;")));
}

// Two rows in a 127-pixel meter: 120 pixels of bar, 2 per dB, from x = 1.
TEST(Painting, LevelMeterBarsByZoneHoldClipAndMuteInsideASunkenEdge) {
  LevelMeter meter;
  meter.resize(127, 20);
  const auto x = [](double db) { return 1 + int(std::lround(2 * (db + 60))); };
  const float minus6 = 0.501F, minus15 = 0.178F;
  meter.SetLevels({{minus6, minus15}, {1.0F, 0.708F}}, false, 0);  // rows y 1-8 and 10-18
  using M = LevelMeter;
  struct Probe {
    int x, y;
    QColor colour;
  };
  const Probe probes[] = {
      {0, 0, M::kShadow},       {125, 0, M::kShadow},        {126, 0, M::kHighlight},
      {0, 19, M::kHighlight},   {126, 19, M::kHighlight},    {1, 9, M::kBackground},
      {x(-40), 4, M::kRms[0]},  {x(-13), 4, M::kPeak[0]},    {x(-8), 4, M::kPeak[1]},
      {x(-6), 4, M::kPeak[1]},  {x(-5), 4, M::kBackground},  {x(-2), 4, M::kBackground},
      {123, 4, M::kClipOff},    {x(-40), 15, M::kRms[0]},    {x(-10), 15, M::kRms[1]},
      {x(-2), 15, M::kPeak[2]}, {x(0) - 1, 18, M::kPeak[2]}, {121, 15, M::kBackground},
      {123, 15, M::kClipOn},
  };
  QImage img = meter.grab().toImage();
  for (const Probe& p : probes) EXPECT_EQ(img.pixelColor(p.x, p.y), p.colour) << p.x << ',' << p.y;
  // Quieter: the hold line stays at -6 dB for its second, over the background and the ticks.
  meter.SetLevels({{0.001F, 0.001F}, {0, 0}}, false, 500);
  img = meter.grab().toImage();
  EXPECT_EQ(img.pixelColor(x(-6), 4), M::kPeak[1]);
  EXPECT_EQ(img.pixelColor(x(-48), 4), M::kTick);
  EXPECT_EQ(img.pixelColor(x(-30), 4), M::kBackground);
  EXPECT_EQ(img.pixelColor(123, 15), M::kClipOn);
  // Muted: the word and neither bars nor clip boxes.
  meter.SetLevels({{1.0F, 1.0F}, {1.0F, 1.0F}}, true, 1100);
  img = meter.grab().toImage().copy(1, 1, 125, 18);
  QSet<QRgb> colours;
  for (int i = 0; i < img.width() * img.height(); ++i) colours << img.pixel(i % 125, i / 125);
  EXPECT_GT(colours.size(), 2);  // the background, the ticks and the word
  EXPECT_FALSE(colours.contains(M::kRms[0].rgb()) || colours.contains(M::kClipOn.rgb()));
}

// Shown, the meter repaints only the stretches a reading moves: after every reading the screen
// holds what a full painting gives, and a reading that moves nothing paints nothing. The
// accessible texts are the model's.
TEST(Painting, LevelMeterOnScreenMatchesAFullPaintingAfterEveryReading) {
  LevelMeter meter;
  meter.resize(127, 20);
  meter.show();
  QApplication::processEvents();
  std::minstd_rand random(7);
  std::uniform_real_distribution<float> level(0.0F, 1.05F);
  for (int step = 0; step < 120; ++step) {
    SCOPED_TRACE(step);
    std::vector<MeterLevel> levels(step / 40 == 1 ? 1 : 2);  // two rows, one, then two again
    for (MeterLevel& l : levels) {
      l.peak = step % 7 == 3 ? 0.0F : level(random);
      l.rms = std::min(l.peak, level(random));
    }
    meter.SetLevels(levels, step % 25 == 24, step * 60);
    if (step % 30 == 29)
      meter.ResetClip();
    QApplication::processEvents();
    const QImage screen =
        meter.screen()->grabWindow(meter.winId()).toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(screen, meter.grab().toImage().convertToFormat(QImage::Format_RGB32));
  }
  const std::int64_t paints = meter.paints();
  meter.SetLevels({{0.5F, 0.25F}}, false, 10000);
  meter.SetLevels({{0.5F, 0.25F}}, false, 10060);
  QApplication::processEvents();
  EXPECT_EQ(meter.paints(), paints + 1);

  QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&meter);
  ASSERT_NE(accessible, nullptr);
  EXPECT_EQ(accessible->text(QAccessible::Name), QStringLiteral("Input level -6 dB"));
  EXPECT_EQ(accessible->text(QAccessible::Description),
            QStringLiteral("channel 1: peak -6 dB, RMS -12 dB"));
}

}  // namespace
}  // namespace tonvale::controls
