#pragma once

// Reading what the platform's filters and graphs show: pins and queued events.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "platform/media.h"

namespace tonvale::platform {

// The filter's pins as "in:name" or "out:name"; the first pin's mixer and the output pin.
inline std::vector<std::string> Pins(Filter& filter,
                                     std::shared_ptr<AudioInputMixer>* firstMixer = nullptr,
                                     std::shared_ptr<Pin>* output = nullptr) {
  std::unique_ptr<PinEnumerator> pins;
  EXPECT_EQ(filter.EnumPins(&pins), S_OK);
  std::vector<std::string> out;
  std::shared_ptr<Pin> pin;
  while (pins && pins->Next(&pin) == S_OK) {
    PinDirection direction{};
    std::string name;
    EXPECT_EQ(pin->QueryDirection(&direction), S_OK);
    EXPECT_EQ(pin->QueryPinInfo(&name), S_OK);
    if (firstMixer != nullptr && out.empty())
      pin->QueryMixer(firstMixer);
    if (output != nullptr && direction == PinDirection::Output)
      *output = pin;
    out.push_back((direction == PinDirection::Input ? "in:" : "out:") + name);
  }
  return out;
}

// The next event within `timeoutMs`, its parameters freed: code, param1, param2 (0 for an
// EC_ERRORABORT) and the error text; (0, the failure, 0, "") when none was read.
using Event = std::tuple<long, std::intptr_t, std::intptr_t, std::string>;
inline Event NextEvent(MediaEvent& events, int timeoutMs = 0) {
  long code = 0;
  std::intptr_t p1 = 0, p2 = 0;
  if (const HRESULT hr = events.GetEvent(&code, &p1, &p2, timeoutMs); hr != S_OK)
    return {0, hr, 0, ""};
  const Event event{code, p1, code == EC_ERRORABORT ? 0 : p2, ErrorEventText(code, p2)};
  EXPECT_EQ(events.FreeEventParams(code, p1, p2), S_OK);
  return event;
}

}  // namespace tonvale::platform
