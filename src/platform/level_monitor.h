#pragma once

// The level of an input line as the sound server sees it, read while the window shows it.

#include <memory>
#include <vector>

#include "platform/media.h"

namespace tonvale::platform {

// Linear full-scale levels (1.0 is 0 dBFS) of one channel over one stretch of sound.
struct ChannelLevel {
  float peak = 0.0F;
  float rms = 0.0F;
};

struct LineLevels {
  std::vector<ChannelLevel> channels;  // in the source's channel order; empty: no sound yet
  bool muted = false;                  // the server mutes the source
};

// Meters one input line at a time. Called on the UI thread only.
class LevelMonitor {
 public:
  virtual ~LevelMonitor() = default;
  // Starts metering the line the pin stands for (an input pin of a capture filter), in place
  // of the one metered before. Nothing is written anywhere.
  virtual HRESULT Watch(const std::shared_ptr<Pin>& line) = 0;
  // Stops metering; Read then reports nothing.
  virtual void Stop() = 0;
  // The levels since the last Read: each channel's peak and RMS (those of the Read before when
  // no sound arrived since; no channels once none arrived for a while). False while nothing
  // is metered.
  virtual bool Read(LineLevels* levels) = 0;
};

}  // namespace tonvale::platform
