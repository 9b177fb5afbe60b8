#pragma once

// The last seconds of a capture source, kept while nothing records, so that a recording can
// begin with what was said just before Record.
//
// A pipeline of its own captures the source in the format a recording keeps of it (through a
// capture filter of its own on the same source) and keeps the last `keepMs` and a little more
// in memory, each fragment with the system-clock time of its first frame. Nothing is written.

#include <gst/audio/audio.h>
#include <gst/gst.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tonvale::platform {

class GstCaptureFilter;

class GstPreRoll {
 public:
  // Starts capturing `filter`'s source now; null when it cannot run.
  static std::unique_ptr<GstPreRoll> Start(std::shared_ptr<GstCaptureFilter> filter, int keepMs);
  ~GstPreRoll();
  GstPreRoll(const GstPreRoll&) = delete;
  GstPreRoll& operator=(const GstPreRoll&) = delete;

  const std::string& sourceName() const { return sourceName_; }
  int keepMs() const { return keepMs_; }
  // The system clock's time now.
  static GstClockTime Now();
  // The last `until - from` (system clock) of kept audio before where `live` starts: the live
  // stream's first frames are looked for in the last second kept, so the two join without a gap
  // or a repeat. When they are not found, the kept audio from `from` up to `until`. Empty when
  // the formats differ.
  std::vector<std::uint8_t> Before(GstClockTime from, GstClockTime until, GstBuffer* live,
                                   const GstAudioInfo& liveInfo);

 private:
  GstPreRoll(std::shared_ptr<GstCaptureFilter> filter, int keepMs);
  static void OnFragment(GstElement* sink, GstBuffer* buffer, GstPad* pad, gpointer self);
  // The byte offset of the frame the source was at when the clock read `time`; kept bytes
  // are guarded by mutex_.
  std::size_t OffsetAt(GstClockTime time) const;
  // The system-clock time just after the last frame kept.
  GstClockTime KeptUntil() const;

  std::shared_ptr<GstCaptureFilter> filter_;
  GstElement* pipeline_ = nullptr;
  std::string sourceName_;
  const int keepMs_;

  std::mutex mutex_;
  std::condition_variable grown_;
  GstAudioInfo info_{};
  bool formatKnown_ = false;
  std::vector<std::uint8_t> kept_;  // from keptStart_ on
  // The system-clock time of each fragment's first frame and its byte offset in kept_.
  std::deque<std::pair<GstClockTime, std::size_t>> marks_;
};

}  // namespace tonvale::platform
