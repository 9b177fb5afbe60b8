#pragma once

// Capture devices and their input lines on a pulse server: which cards and sources count as
// devices, which lines each one offers, and the pins and mixers through which the program
// picks the recorded line and its level.

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/media.h"
#include "platform/pulse/pulse_context.h"

namespace tonvale::platform {

// A capture device: a card, or a source that belongs to no card.
struct PulseDevice {
  PulseFacility facility = PulseFacility::Card;  // Card or Source
  std::string name;                              // the server's name: the device's identity
  std::uint32_t index = kNoIndex;
  std::string friendlyName;
};

// One input line: what to record from, and the port to activate first (empty for none).
struct PulseLine {
  std::string label;
  std::string source;
  std::string port;
  LineRole role = LineRole::Input;
};

// The devices in listing order: cards with an input or an output, and sources that belong
// to no card and do not monitor a card's sink, sorted by the names the user sees (then by
// the server's name, so that two alike keep one order).
std::vector<PulseDevice> ListPulseDevices(const PulseSnapshot& snapshot);

// The device's lines in pin order: the ports (or, without ports, the source itself) of each
// of a card's inputs, then the monitor of each of its sinks; a card-less source is one line.
// Empty when the snapshot does not hold the device.
std::vector<PulseLine> PulseDeviceLines(const PulseSnapshot& snapshot, const PulseDevice& device);

// The line chosen for recording on one bound device, shared by its pins and its filter.
// Thread-safe: the graph reads source() when it starts streaming.
class PulseLineSelection {
 public:
  explicit PulseLineSelection(std::vector<PulseLine> lines) : lines_(std::move(lines)) {}
  const std::vector<PulseLine>& lines() const { return lines_; }
  // The chosen line's source, else the first line's, else "" (the server's default).
  std::string source() const;
  // The chosen line, or -1.
  int current() const;
  void Choose(int line);
  // Forgets the choice if `line` is the chosen one.
  void Release(int line);

 private:
  const std::vector<PulseLine> lines_;
  mutable std::mutex mutex_;
  int current_ = -1;
};

// An input line's level and enable control. Levels are those of the line's source.
class PulseLineMixer : public AudioInputMixer {
 public:
  PulseLineMixer(std::shared_ptr<PulseContext> context,
                 std::shared_ptr<PulseLineSelection> selection, int line);
  // true: makes it the recorded line and activates its port, if it has one. Fails when the
  // source is gone or refuses the port; the line stays chosen all the same.
  // false: takes it out of the choice if it was chosen; other lines are unaffected.
  HRESULT put_Enable(bool enable) override;
  // Clamped to 0.0 .. 1.0; sets every channel of the source.
  HRESULT put_MixLevel(double level) override;
  // The average over channels, capped at 1.0.
  HRESULT get_MixLevel(double* level) override;

 private:
  std::shared_ptr<PulseContext> context_;
  std::shared_ptr<PulseLineSelection> selection_;
  int line_;
};

class PulseInputPin : public Pin {
 public:
  PulseInputPin(std::shared_ptr<PulseContext> context,
                std::shared_ptr<PulseLineSelection> selection, int line);
  HRESULT QueryDirection(PinDirection* direction) override;
  HRESULT QueryPinInfo(std::string* name) override;
  HRESULT QueryLineRole(LineRole* role) override;
  HRESULT QueryMixer(std::shared_ptr<AudioInputMixer>* mixer) override;
  // The server's name of the source the line records.
  const std::string& source() const { return source_; }

 private:
  std::shared_ptr<AudioInputMixer> mixer_;
  std::string name_;
  std::string source_;
  LineRole role_;
};

// The pins of a device's lines, in order.
std::vector<std::shared_ptr<Pin>> MakePulseInputPins(
    const std::shared_ptr<PulseContext>& context,
    const std::shared_ptr<PulseLineSelection>& selection);

}  // namespace tonvale::platform
