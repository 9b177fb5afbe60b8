#include "platform/gst/gst_element_filter.h"

#include "platform/gst/gst_pins.h"
#include "platform/gst/gst_support.h"

namespace tonvale::platform {

GstElementFilter::GstElementFilter(GstElement* element) : element_(element) {
  if (element == nullptr)
    return;
  // Inputs first, then outputs, each in the element's order.
  for (GstPadDirection direction : {GST_PAD_SINK, GST_PAD_SRC}) {
    for (const auto& pad : PadsOf(element, direction)) {
      gchar* name = gst_pad_get_name(pad.get());
      pins_.push_back(std::make_shared<GstPadPin>(
          direction == GST_PAD_SINK ? PinDirection::Input : PinDirection::Output, name, name));
      g_free(name);
    }
  }
}

HRESULT GstElementFilter::EnumPins(std::unique_ptr<PinEnumerator>* pins) {
  if (pins == nullptr)
    return E_POINTER;
  *pins = std::make_unique<PinListEnumerator>(pins_);
  return S_OK;
}

void GstElementFilter::JoinFilterGraph(MediaEventSink* graph) {
  graph_.store(graph);
}

}  // namespace tonvale::platform
