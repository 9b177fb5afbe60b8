#pragma once

// Small helpers shared by the GStreamer side of the media layer.

#include <gst/audio/audio.h>
#include <gst/gst.h>

#include <vector>

#include <QLoggingCategory>
#include <string>

#include "platform/result.h"

Q_DECLARE_LOGGING_CATEGORY(lcGraph)

namespace tonvale::platform {

// Initialises GStreamer once per process; safe from any thread. False when it failed.
bool EnsureGstInitialized();

// Owns one reference to a GstObject.
template <typename T>
class GstRef {
 public:
  GstRef() = default;
  // Takes over a reference the caller owns (a floating one is sunk).
  explicit GstRef(T* object) : object_(object) {
    if (object_ != nullptr && g_object_is_floating(object_))
      gst_object_ref_sink(object_);
  }
  GstRef(const GstRef& other) : object_(other.object_) {
    if (object_ != nullptr)
      gst_object_ref(object_);
  }
  GstRef& operator=(GstRef other) {
    std::swap(object_, other.object_);
    return *this;
  }
  ~GstRef() {
    if (object_ != nullptr)
      gst_object_unref(object_);
  }
  // Adds a reference of its own to object.
  static GstRef Share(T* object) {
    if (object != nullptr)
      gst_object_ref(object);
    return GstRef(object);
  }
  T* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  T* object_ = nullptr;
};

// The first line of a possibly multi-line debug text.
std::string FirstLine(const char* text);

// The element's pads of one direction, in the element's order.
std::vector<GstRef<GstPad>> PadsOf(GstElement* element, GstPadDirection direction);

// The raw audio format the pad carries now; false before it has one, or when its frames have
// no size.
bool CurrentAudioInfo(GstPad* pad, GstAudioInfo* info);

}  // namespace tonvale::platform
