#pragma once

// Pins of the GStreamer filters: a pin names one pad of the filter's element.

#include <memory>
#include <string>
#include <vector>

#include "platform/media.h"

namespace tonvale::platform {

class GstPadPin : public Pin {
 public:
  GstPadPin(PinDirection direction, std::string padName, std::string displayName)
      : direction_(direction), padName_(std::move(padName)), name_(std::move(displayName)) {}

  HRESULT QueryDirection(PinDirection* direction) override;
  HRESULT QueryPinInfo(std::string* name) override;
  HRESULT QueryMixer(std::shared_ptr<AudioInputMixer>* mixer) override;

  PinDirection direction() const { return direction_; }
  // The name of the element pad this pin stands for.
  const std::string& padName() const { return padName_; }

 private:
  PinDirection direction_;
  std::string padName_;
  std::string name_;
};

// Delivers a fixed list of pins in order.
class PinListEnumerator : public PinEnumerator {
 public:
  explicit PinListEnumerator(std::vector<std::shared_ptr<Pin>> pins) : pins_(std::move(pins)) {}
  HRESULT Next(std::shared_ptr<Pin>* pin) override;
  HRESULT Reset() override;

 private:
  std::vector<std::shared_ptr<Pin>> pins_;
  std::size_t next_ = 0;
};

}  // namespace tonvale::platform
