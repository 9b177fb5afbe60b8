#include "platform/capture_format.h"

#include <gtest/gtest.h>

namespace tonvale::platform {
namespace {

TEST(CaptureFormat, RecordingKeepsMonoAndStereoAndTakesTheNearestMp3Rate) {
  EXPECT_EQ(RecordedChannels(1), 1);
  EXPECT_EQ(RecordedChannels(2), 2);
  EXPECT_EQ(RecordedChannels(6), 2);
  EXPECT_EQ(RecordedChannels(0), 2);
  for (int rate : kMp3SampleRates) EXPECT_EQ(RecordedSampleRate(rate), rate);
  EXPECT_EQ(RecordedSampleRate(96000), 48000);
  EXPECT_EQ(RecordedSampleRate(46050), 48000);  // a tie goes up
  EXPECT_EQ(RecordedSampleRate(7000), 8000);
  EXPECT_EQ(RecordedSampleRate(0), kDefaultCaptureRate);
}

TEST(CaptureFormat, DownmixNeverRaisesTheLevelAndKeepsTheSides) {
  using enum Speaker;
  const std::vector<std::vector<Speaker>> layouts = {
      {FrontLeft, FrontRight, FrontCenter, Lfe, RearLeft, RearRight},
      {FrontLeft, FrontRight, FrontCenter, Lfe, RearLeft, RearRight, SideLeft, SideRight},
      {Other, Other, Other},
      {FrontLeft, FrontRight, RearCenter}};
  for (const auto& layout : layouts) {
    const auto weights = DownmixCoefficients(layout);
    ASSERT_EQ(weights.size(), layout.size());
    double left = 0, right = 0;
    for (const auto& w : weights) {
      EXPECT_GE(w[0], 0);
      left += w[0];
      right += w[1];
    }
    EXPECT_NEAR(left, 1.0, 1e-9);
    EXPECT_NEAR(right, 1.0, 1e-9);
  }
  // 5.1: front 1, centre and rear -3 dB, LFE left out, before scaling to a sum of 1.
  const auto surround = DownmixCoefficients(layouts[0]);
  EXPECT_NEAR(surround[0][0], 0.41421, 1e-5);
  EXPECT_EQ(surround[0][1], 0.0);
  EXPECT_NEAR(surround[2][0], surround[2][1], 1e-12);
  EXPECT_NEAR(surround[2][0], 0.29289, 1e-5);
  EXPECT_EQ(surround[3][0] + surround[3][1], 0.0);
  EXPECT_EQ(surround[4][1], 0.0);
}

}  // namespace
}  // namespace tonvale::platform
