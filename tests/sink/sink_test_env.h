#pragma once

// Points GStreamer (this process and the gst-launch-1.0 children it starts) at the plugin in
// the build tree, with a private registry so the user's registry cache is left alone.

#include <gst/gst.h>

#include <cstdlib>
#include <string>

#include "private_server.h"

namespace tonvale::testing {

// Returns the registry's directory (the caller removes it), or "" outside ctest.
inline std::string InitGstWithSinkPlugin() {
  const char* build = std::getenv("TONVALE_BUILD_DIR");
  if (build == nullptr)
    return {};
  std::string dir = MakeTempDir("tonvale-gstreg-");
  setenv("GST_REGISTRY", (dir + "/registry.bin").c_str(), 1);
  setenv("GST_PLUGIN_PATH", (std::string(build) + "/lib/tonvale").c_str(), 1);
  gst_init(nullptr, nullptr);
  return dir;
}

}  // namespace tonvale::testing
