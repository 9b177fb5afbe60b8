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

struct NoFiltergraph : CaptureGraphBuilder {
  HRESULT SetFiltergraph(const std::shared_ptr<GraphBuilder>&) override { return S_OK; }
};

}  // namespace

HRESULT FakeFilter::EnumPins(std::unique_ptr<PinEnumerator>* out) {
  return Give(enumResult, out, std::make_unique<Pins>(pins));
}

HRESULT FakeMediaFactory::CreateCaptureGraphBuilder(std::shared_ptr<CaptureGraphBuilder>* b) {
  return Give(S_OK, b, std::make_shared<NoFiltergraph>());
}

HRESULT FakeMediaFactory::CreateAudioInputEnumerator(std::unique_ptr<MonikerEnumerator>* out) {
  if (Succeeded(enumeratorResult) && devices.empty())
    return S_FALSE;
  using Devices = ListEnumerator<MonikerEnumerator, FakeDevice, Moniker>;
  return Give(enumeratorResult, out, std::make_unique<Devices>(devices));
}

}  // namespace tonvale::testing
