#include "platform/gst/gst_pins.h"

namespace tonvale::platform {

HRESULT GstPadPin::QueryDirection(PinDirection* direction) {
  if (direction == nullptr)
    return E_POINTER;
  *direction = direction_;
  return S_OK;
}

HRESULT GstPadPin::QueryPinInfo(std::string* name) {
  if (name == nullptr)
    return E_POINTER;
  *name = name_;
  return S_OK;
}

HRESULT GstPadPin::QueryMixer(std::shared_ptr<AudioInputMixer>* mixer) {
  if (mixer == nullptr)
    return E_POINTER;
  mixer->reset();
  return E_NOINTERFACE;
}

HRESULT PinListEnumerator::Next(std::shared_ptr<Pin>* pin) {
  if (pin == nullptr)
    return E_POINTER;
  if (next_ >= pins_.size()) {
    pin->reset();
    return S_FALSE;
  }
  *pin = pins_[next_++];
  return S_OK;
}

HRESULT PinListEnumerator::Reset() {
  next_ = 0;
  return S_OK;
}

}  // namespace tonvale::platform
