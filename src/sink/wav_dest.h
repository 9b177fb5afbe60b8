#pragma once

// "WAV Dest": a bin that encodes its raw audio input to an MP3 file (LAME, VBR -V2, with a
// Xing header) and hands the same audio on as a WAV stream on its "src" pad.
//
//   sink -> audioconvert -> tee -> queue -> audioconvert -> audioresample -> lamemp3enc
//                                   |        -> Xing header writer -> filesink (the MP3 file)
//                                   +-> queue -> audioconvert -> wavenc -> src
//
// The MP3 path is fixed when the element goes from NULL to READY: the "location" property
// when set, else the hand-off value the program stores in its settings. A path that is empty
// or cannot be opened fails that state change with a RESOURCE/OPEN_WRITE error naming the
// path and the system's reason. Write failures of the MP3 file reach the bus as errors from
// this element that name the file.

#include <gst/gst.h>

G_BEGIN_DECLS

#define TONVALE_TYPE_WAV_DEST (tonvale_wav_dest_get_type())
G_DECLARE_FINAL_TYPE(TonvaleWavDest, tonvale_wav_dest, TONVALE, WAV_DEST, GstBin)

G_END_DECLS

namespace tonvale::sink {

inline constexpr const char* kWavDestFactoryName = "tonvalewavdest";

gboolean RegisterWavDest(GstPlugin* plugin);

}  // namespace tonvale::sink
