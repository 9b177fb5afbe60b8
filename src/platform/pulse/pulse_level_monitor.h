#pragma once

// The level meter's reading of a source on the pulse server: a record stream of its own on the
// source, in the source's own rate and channel map (nothing resampled or remixed), as 32-bit
// float in fragments of 60 ms; each fragment's peak and RMS are taken per channel on the
// libpulse thread. The source's mute flag is followed through the server's change events.

#include <memory>
#include <string>

#include "platform/level_monitor.h"
#include "platform/pulse/pulse_context.h"

namespace tonvale::platform {

class PulseLevelMonitor : public LevelMonitor {
 public:
  // Connects to the server at the first Watch, and again after the server went away.
  PulseLevelMonitor() = default;
  explicit PulseLevelMonitor(std::shared_ptr<PulseContext> context)
      : context_(std::move(context)) {}
  ~PulseLevelMonitor() override;
  PulseLevelMonitor(const PulseLevelMonitor&) = delete;
  PulseLevelMonitor& operator=(const PulseLevelMonitor&) = delete;

  // A pulse input pin's source; E_INVALIDARG for a pin of another backend.
  HRESULT Watch(const std::shared_ptr<Pin>& line) override;
  // Meters a source by the server's name; watching the one already metered changes nothing.
  HRESULT WatchSource(const std::string& source);
  void Stop() override;
  bool Read(LineLevels* levels) override;

  inline static constexpr int kFragmentMs = 60;

 private:
  struct Meter;

  std::shared_ptr<PulseContext> context_;
  std::shared_ptr<Meter> meter_;
};

}  // namespace tonvale::platform
