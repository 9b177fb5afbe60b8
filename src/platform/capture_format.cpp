#include "platform/capture_format.h"

#include <cstdlib>

namespace tonvale::platform {

namespace {

constexpr double kMinus3dB = 0.7071067811865476;

std::array<double, 2> Weights(Speaker speaker) {
  switch (speaker) {
    case Speaker::FrontLeft:
    case Speaker::FrontLeftOfCenter:
    case Speaker::TopFrontLeft:
      return {1.0, 0.0};
    case Speaker::FrontRight:
    case Speaker::FrontRightOfCenter:
    case Speaker::TopFrontRight:
      return {0.0, 1.0};
    case Speaker::Mono:
    case Speaker::FrontCenter:
    case Speaker::RearCenter:
    case Speaker::TopCenter:
    case Speaker::TopFrontCenter:
    case Speaker::TopRearCenter:
      return {kMinus3dB, kMinus3dB};
    case Speaker::RearLeft:
    case Speaker::SideLeft:
    case Speaker::TopRearLeft:
      return {kMinus3dB, 0.0};
    case Speaker::RearRight:
    case Speaker::SideRight:
    case Speaker::TopRearRight:
      return {0.0, kMinus3dB};
    case Speaker::Lfe:
      return {0.0, 0.0};
    case Speaker::Other:
      break;
  }
  return {0.5, 0.5};
}

}  // namespace

int RecordedSampleRate(int rate) {
  if (rate <= 0)
    return kDefaultCaptureRate;
  int best = kMp3SampleRates.front();
  for (int candidate : kMp3SampleRates) {
    if (std::abs(candidate - rate) <= std::abs(best - rate))
      best = candidate;
  }
  return best;
}

int RecordedChannels(int channels) {
  return channels == 1 ? 1 : 2;
}

std::vector<std::array<double, 2>> DownmixCoefficients(const std::vector<Speaker>& speakers) {
  std::vector<std::array<double, 2>> weights;
  std::array<double, 2> sums{};
  for (Speaker speaker : speakers) {
    weights.push_back(Weights(speaker));
    sums[0] += weights.back()[0];
    sums[1] += weights.back()[1];
  }
  for (auto& w : weights) {
    for (std::size_t side = 0; side < 2; ++side) {
      if (sums[side] > 1.0)
        w[side] /= sums[side];
    }
  }
  return weights;
}

}  // namespace tonvale::platform
