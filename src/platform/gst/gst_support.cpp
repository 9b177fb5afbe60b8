#include "platform/gst/gst_support.h"

#include <mutex>

Q_LOGGING_CATEGORY(lcGraph, "tonvale.graph")

namespace tonvale::platform {

bool EnsureGstInitialized() {
  static std::once_flag once;
  static bool ok = false;
  std::call_once(once, [] {
    GError* error = nullptr;
    ok = gst_init_check(nullptr, nullptr, &error) != FALSE;
    if (!ok) {
      qCWarning(lcGraph, "GStreamer initialisation failed: %s",
                error != nullptr ? error->message : "unknown error");
    }
    if (error != nullptr)
      g_error_free(error);
  });
  return ok;
}

std::string FirstLine(const char* text) {
  if (text == nullptr)
    return {};
  std::string line(text);
  const auto end = line.find('\n');
  if (end != std::string::npos)
    line.resize(end);
  return line;
}

std::vector<GstRef<GstPad>> PadsOf(GstElement* element, GstPadDirection direction) {
  std::vector<GstRef<GstPad>> pads;
  GstIterator* it = direction == GST_PAD_SRC ? gst_element_iterate_src_pads(element)
                                             : gst_element_iterate_sink_pads(element);
  GValue item = G_VALUE_INIT;
  for (bool done = false; !done;) {
    switch (gst_iterator_next(it, &item)) {
      case GST_ITERATOR_OK:
        pads.push_back(GstRef<GstPad>::Share(GST_PAD(g_value_get_object(&item))));
        g_value_reset(&item);
        break;
      case GST_ITERATOR_RESYNC:
        pads.clear();
        gst_iterator_resync(it);
        break;
      default:
        done = true;
        break;
    }
  }
  g_value_unset(&item);
  gst_iterator_free(it);
  return pads;
}

bool CurrentAudioInfo(GstPad* pad, GstAudioInfo* info) {
  GstCaps* caps = gst_pad_get_current_caps(pad);
  const bool known =
      caps != nullptr && gst_audio_info_from_caps(info, caps) && GST_AUDIO_INFO_BPF(info) > 0;
  if (caps != nullptr)
    gst_caps_unref(caps);
  return known;
}

}  // namespace tonvale::platform
