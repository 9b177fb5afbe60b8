#include "platform/gst_support.h"

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

}  // namespace tonvale::platform
