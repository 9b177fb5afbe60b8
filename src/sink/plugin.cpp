// The plugin's entry point; GStreamer finds it by the library's file name.

#include <gst/gst.h>

#include "sink/wav_dest.h"

namespace {

gboolean PluginInit(GstPlugin* plugin) {
  return tonvale::sink::RegisterWavDest(plugin);
}

}  // namespace

#define PACKAGE "tonvale"
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, tonvalesink,
                  "Tonvale's WAV Dest: MP3 file writer with a WAV pass-through", PluginInit,
                  TONVALE_SINK_VERSION, "LGPL", "Tonvale", "Tonvale project")
