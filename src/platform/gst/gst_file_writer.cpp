#include "platform/gst/gst_file_writer.h"

#include "platform/gst/gst_support.h"

namespace tonvale::platform {

GstFileWriter::GstFileWriter() {
  GstElement* sink =
      EnsureGstInitialized() ? gst_element_factory_make("filesink", nullptr) : nullptr;
  if (sink != nullptr) {
    // The writer finishes the file when the stream ends; it is not a clocked renderer. A small
    // write buffer puts the audio on disk within a few hundredths of a second.
    g_object_set(sink, "append", FALSE, "sync", FALSE, "async", FALSE, "buffer-mode", 0,
                 "buffer-size", 8192u, nullptr);
  } else {
    qCWarning(lcGraph, "The filesink element is not available");
  }
  filter_ = std::make_shared<GstElementFilter>(sink);
}

HRESULT GstFileWriter::SetMode(int mode) {
  if (!valid())
    return E_UNEXPECTED;
  if (mode != 0 && mode != kOverwrite)
    return E_INVALIDARG;
  g_object_set(filter_->element(), "append", FALSE, nullptr);
  return S_OK;
}

HRESULT GstFileWriter::SetFileName(const std::string& path) {
  if (!valid())
    return E_UNEXPECTED;
  if (path.empty() || path.find('\0') != std::string::npos)
    return E_INVALIDARG;
  GstState state = GST_STATE_NULL;
  gst_element_get_state(filter_->element(), &state, nullptr, 0);
  if (state > GST_STATE_READY)
    return E_UNEXPECTED;
  g_object_set(filter_->element(), "location", path.c_str(), nullptr);
  return S_OK;
}

HRESULT GstFileWriter::QueryFilter(std::shared_ptr<Filter>* filter) {
  if (filter == nullptr)
    return E_POINTER;
  if (!valid()) {
    filter->reset();
    return E_NOINTERFACE;
  }
  *filter = filter_;
  return S_OK;
}

}  // namespace tonvale::platform
