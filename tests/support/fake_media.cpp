#include "fake_media.h"

namespace tonvale::testing {
namespace {

// Hands out the items of a list one by one, as the media layer's enumerators do.
template <typename Base, typename Item, typename Out>
struct ListEnumerator : Base {
  std::vector<std::shared_ptr<Item>> items;
  std::size_t next = 0;
  explicit ListEnumerator(std::vector<std::shared_ptr<Item>> list) : items(std::move(list)) {}
  HRESULT Next(std::shared_ptr<Out>* out) override {
    return next < items.size() ? Give(S_OK, out, items[next++]) : S_FALSE;
  }
};

struct Pins : ListEnumerator<PinEnumerator, FakePin, Pin> {
  using ListEnumerator::ListEnumerator;
  HRESULT Reset() override { return Keep(next, 0u); }
};

}  // namespace

HRESULT FakeFilter::EnumPins(std::unique_ptr<PinEnumerator>* out) {
  return Give(S_OK, out, std::make_unique<Pins>(pins));
}

std::shared_ptr<FakeDevice> FakeMediaFactory::AddDevice(const std::string& name,
                                                        const std::vector<std::string>& lines) {
  auto& device = devices.emplace_back(std::make_shared<FakeDevice>(name));
  for (const std::string& line : lines) {
    const LineRole role = line[0] == '*'   ? LineRole::DefaultOutputMonitor
                          : line[0] == '+' ? LineRole::Monitor
                                           : LineRole::Input;
    device->filter->AddPin(PinDirection::Input, line.substr(role != LineRole::Input))->role = role;
  }
  device->filter->AddPin(PinDirection::Output, "Capture");
  return device;
}

HRESULT FakeMediaFactory::CreateAudioInputEnumerator(std::unique_ptr<MonikerEnumerator>* out) {
  using Devices = ListEnumerator<MonikerEnumerator, FakeDevice, Moniker>;
  return devices.empty() ? S_FALSE : Give(S_OK, out, std::make_unique<Devices>(devices));
}

}  // namespace tonvale::testing
