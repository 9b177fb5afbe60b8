#pragma once

// An element between the MP3 encoder and the file writer that puts a Xing header in front of
// the stream: a placeholder before the first frame, rewritten at the end of the stream (by a
// byte segment back to the start) with the final counts. Unlike GStreamer's xingmux it keeps
// a seek table of fixed size, so a recording of any length uses the same memory. Told the
// encoder's delay and how many samples it took in, the final header also carries a LAME tag
// with the delay and padding, so that gapless decoders give back exactly the encoder's input.

#include <gst/gst.h>

G_BEGIN_DECLS

#define TONVALE_TYPE_XING_WRITER (tonvale_xing_writer_get_type())
G_DECLARE_FINAL_TYPE(TonvaleXingWriter, tonvale_xing_writer, TONVALE, XING_WRITER, GstElement)

G_END_DECLS
