#pragma once

// The audio capture devices of the pulse server (PulseAudio or PipeWire's pulse server).

#include <memory>

#include "platform/media.h"

namespace tonvale::platform {

// Connects to the default server. Fails with a negative HRESULT when it is unreachable.
//
// The enumerator lists the devices in a stable order (cards with an input or an output, then
// sources that belong to no card, e.g. a null sink's monitor); S_FALSE with no enumerator
// when there are none. Each moniker binds to a GstCaptureFilter whose input pins are the
// device's lines. While that filter is in a graph it queues EC_DEVICE_LOST (param2 0) when
// the device disappears and EC_DEVICE_LOST (param2 1) when a device of the same identity
// appears again; those events are queued from the libpulse thread.
HRESULT CreatePulseDeviceEnumerator(std::shared_ptr<DeviceEnumerator>* devices);

}  // namespace tonvale::platform
