#include "fake_media.h"

namespace tonvale::testing {
namespace {

struct VectorPins : PinEnumerator {
  std::vector<std::shared_ptr<FakePin>> pins;
  size_t next = 0;
  HRESULT Next(std::shared_ptr<Pin>* pin) override {
    if (next >= pins.size())
      return S_FALSE;
    *pin = pins[next++];
    return S_OK;
  }
  HRESULT Reset() override {
    next = 0;
    return S_OK;
  }
};

struct VectorDevices : MonikerEnumerator {
  std::vector<std::shared_ptr<FakeDevice>> devices;
  size_t next = 0;
  HRESULT Next(std::shared_ptr<Moniker>* m) override {
    if (next >= devices.size())
      return S_FALSE;
    *m = devices[next++];
    return S_OK;
  }
};

}  // namespace

HRESULT FakeFilter::EnumPins(std::unique_ptr<PinEnumerator>* out) {
  if (Failed(enumResult))
    return enumResult;
  auto e = std::make_unique<VectorPins>();
  e->pins = pins;
  *out = std::move(e);
  return S_OK;
}

HRESULT FakeMediaFactory::CreateAudioInputEnumerator(std::unique_ptr<MonikerEnumerator>* out) {
  if (Failed(enumeratorResult))
    return enumeratorResult;
  if (devices.empty())
    return S_FALSE;
  auto e = std::make_unique<VectorDevices>();
  e->devices = devices;
  *out = std::move(e);
  return S_OK;
}

}  // namespace tonvale::testing
