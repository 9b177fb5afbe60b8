#include "sink/xing_writer.h"

#include <vector>

#include "sink/xing_header.h"

GST_DEBUG_CATEGORY_STATIC(tonvale_xing_writer_debug);
#define GST_CAT_DEFAULT tonvale_xing_writer_debug

struct _TonvaleXingWriter {
  GstElement parent;

  GstPad* sinkPad;
  GstPad* srcPad;

  // Touched by the streaming thread, and by state changes while it does not run.
  tonvale::sink::Mp3StreamCounter* counter;
  gboolean started;     // the first data went out, after the segment that starts the file
  gboolean headerSent;  // the placeholder went out ahead of the first frame
};

// GLib's type boilerplate is C and casts the C way.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"
G_DEFINE_TYPE(TonvaleXingWriter, tonvale_xing_writer, GST_TYPE_ELEMENT)
#pragma GCC diagnostic pop

namespace {

GstStaticPadTemplate sinkTemplate =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS,
                            GST_STATIC_CAPS("audio/mpeg, mpegversion = (int) 1, layer = (int) 3"));
GstStaticPadTemplate srcTemplate =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS,
                            GST_STATIC_CAPS("audio/mpeg, mpegversion = (int) 1, layer = (int) 3"));

GstBuffer* ToBuffer(const std::vector<std::uint8_t>& bytes) {
  return gst_buffer_new_memdup(bytes.data(), bytes.size());
}

// The header for what went through so far. Frames that could not be counted would make it
// state too short a length: then it states none, like the placeholder.
GstBuffer* FinalHeader(TonvaleXingWriter* self) {
  const auto& counter = *self->counter;
  const std::uint64_t frames = counter.lostSync() ? 0 : counter.table().frames();
  return ToBuffer(tonvale::sink::BuildXingFrame(*counter.firstFrame(), frames, counter.table(),
                                                counter.bytes()));
}

// Reserves the room the final header takes.
GstBuffer* Placeholder(TonvaleXingWriter* self) {
  static const tonvale::sink::XingSeekTable kNothing;
  return ToBuffer(tonvale::sink::BuildXingFrame(*self->counter->firstFrame(), 0, kNothing, 0));
}

// The file writer takes a byte segment as the position to write at.
gboolean PushByteSegment(TonvaleXingWriter* self, guint32 seqnum) {
  GstSegment segment;
  gst_segment_init(&segment, GST_FORMAT_BYTES);
  GstEvent* event = gst_event_new_segment(&segment);
  if (seqnum != GST_SEQNUM_INVALID)
    gst_event_set_seqnum(event, seqnum);
  return gst_pad_push_event(self->srcPad, event);
}

GstFlowReturn Chain(GstPad*, GstObject* parent, GstBuffer* buffer) {
  auto* self = TONVALE_XING_WRITER(parent);
  GstMapInfo map;
  if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) {
    gst_buffer_unref(buffer);
    return GST_FLOW_ERROR;
  }
  self->counter->Consume(map.data, map.size);
  gst_buffer_unmap(buffer, &map);
  if (!self->started) {
    self->started = TRUE;
    PushByteSegment(self, GST_SEQNUM_INVALID);
    if (!self->counter->firstFrame()) {
      GST_WARNING_OBJECT(self, "the stream does not start with an MP3 frame; it gets no header");
    } else {
      self->headerSent = TRUE;
      const GstFlowReturn flow = gst_pad_push(self->srcPad, Placeholder(self));
      if (flow != GST_FLOW_OK) {
        gst_buffer_unref(buffer);
        return flow;
      }
    }
  }
  return gst_pad_push(self->srcPad, buffer);
}

gboolean SinkEvent(GstPad* pad, GstObject* parent, GstEvent* event) {
  auto* self = TONVALE_XING_WRITER(parent);
  switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_SEGMENT:
      // The output is a file: one byte segment from its start (sent with the first data).
      // Time segments of a paused and resumed source must not move the write position.
      gst_event_unref(event);
      return TRUE;
    case GST_EVENT_EOS: {
      if (self->headerSent) {
        if (self->counter->lostSync())
          GST_WARNING_OBJECT(self, "the stream lost frame sync; the header states no length");
        PushByteSegment(self, gst_event_get_seqnum(event));
        const GstFlowReturn flow = gst_pad_push(self->srcPad, FinalHeader(self));
        if (flow != GST_FLOW_OK)
          GST_WARNING_OBJECT(self, "could not write the final header: %s", gst_flow_get_name(flow));
        GST_DEBUG_OBJECT(
            self,
            "header: %" G_GUINT64_FORMAT " frames, %" G_GUINT64_FORMAT " bytes, %zu table points",
            self->counter->table().frames(), self->counter->bytes(), self->counter->table().size());
      }
      return gst_pad_event_default(pad, parent, event);
    }
    default:
      return gst_pad_event_default(pad, parent, event);
  }
}

GstStateChangeReturn ChangeState(GstElement* element, GstStateChange transition) {
  auto* self = TONVALE_XING_WRITER(element);
  if (transition == GST_STATE_CHANGE_READY_TO_PAUSED) {
    self->counter->Reset();
    self->headerSent = FALSE;
    self->started = FALSE;
  }
  return GST_ELEMENT_CLASS(tonvale_xing_writer_parent_class)->change_state(element, transition);
}

void Finalize(GObject* object) {
  delete TONVALE_XING_WRITER(object)->counter;
  G_OBJECT_CLASS(tonvale_xing_writer_parent_class)->finalize(object);
}

}  // namespace

static void tonvale_xing_writer_class_init(TonvaleXingWriterClass* klass) {
  GST_DEBUG_CATEGORY_INIT(tonvale_xing_writer_debug, "tonvalexingwriter", 0,
                          "Tonvale Xing header writer");
  G_OBJECT_CLASS(klass)->finalize = Finalize;
  GstElementClass* elementClass = GST_ELEMENT_CLASS(klass);
  elementClass->change_state = ChangeState;
  gst_element_class_set_static_metadata(elementClass, "Xing header writer", "Formatter/Audio",
                                        "Puts a Xing header in front of an MP3 stream",
                                        "Tonvale developers");
  gst_element_class_add_static_pad_template(elementClass, &sinkTemplate);
  gst_element_class_add_static_pad_template(elementClass, &srcTemplate);
}

static void tonvale_xing_writer_init(TonvaleXingWriter* self) {
  self->counter = new tonvale::sink::Mp3StreamCounter();
  self->sinkPad = gst_pad_new_from_static_template(&sinkTemplate, "sink");
  gst_pad_set_chain_function(self->sinkPad, Chain);
  gst_pad_set_event_function(self->sinkPad, SinkEvent);
  GST_PAD_SET_PROXY_CAPS(self->sinkPad);
  gst_element_add_pad(GST_ELEMENT(self), self->sinkPad);
  self->srcPad = gst_pad_new_from_static_template(&srcTemplate, "src");
  GST_PAD_SET_PROXY_CAPS(self->srcPad);
  gst_element_add_pad(GST_ELEMENT(self), self->srcPad);
}
