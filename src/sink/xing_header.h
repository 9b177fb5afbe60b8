#pragma once

// The Xing header of a VBR MP3 stream: a silent first frame that tells players the number of
// frames, the number of bytes and where each percent of the playing time starts, so that they
// show the right length and can seek.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace tonvale::sink {

// What a Layer III frame header says about its frame.
struct Mp3FrameHeader {
  std::uint32_t bits = 0;   // the four header bytes, big-endian
  int version = 0;          // 3 = MPEG-1, 2 = MPEG-2, 0 = MPEG-2.5
  int sampleRate = 0;       // Hz
  int samplesPerFrame = 0;  // per channel
  std::size_t frameBytes = 0;
  std::size_t sideInfoBytes = 0;  // after the header (and its CRC, if any)
};

// Parses the four bytes at `data`; nothing for anything but an MPEG Layer III frame header
// with a known bitrate and sample rate.
std::optional<Mp3FrameHeader> ParseMp3FrameHeader(const std::uint8_t* data);

// The byte offset of every n-th frame of a stream, in a table of fixed size: when it is
// full, every second entry goes and n doubles. A stream of any length gets the same memory,
// and the table still holds at least kCapacity / 2 evenly spaced points to seek by.
class XingSeekTable {
 public:
  static constexpr std::size_t kCapacity = 1024;

  void Reset();
  // The next frame of the stream starts at `byteOffset`.
  void AddFrame(std::uint64_t byteOffset);
  std::uint64_t frames() const { return frames_; }
  // The table of contents for a stream of `streamBytes` whose frames are what was added,
  // preceded by `leadBytes` (the Xing frame): entry i is the position, in 256ths of the
  // stream, of the frame that starts i percent of the playing time.
  std::array<std::uint8_t, 100> Toc(std::uint64_t leadBytes, std::uint64_t streamBytes) const;
  std::size_t size() const { return offsets_.size(); }

 private:
  std::vector<std::uint64_t> offsets_;  // of frames 0, step_, 2 * step_, ...
  std::uint64_t step_ = 1;
  std::uint64_t frames_ = 0;
};

// What a gapless decoder drops from the decoded frames to give back exactly the encoder's
// input, in samples per channel: the encoder's delay at the start and the padding that fills
// the last frame.
struct EncoderPadding {
  int delay = 0;
  int padding = 0;
};

// The padding of `frames` frames of `samplesPerFrame` that encode `inputSamples` after
// `encoderDelay`; nothing when the input does not fit those frames or either value does not
// fit the 12 bits the header has for it.
std::optional<EncoderPadding> GaplessPadding(std::uint64_t frames, int samplesPerFrame,
                                             std::uint64_t inputSamples, int encoderDelay);

// Follows a stream of MP3 bytes, however it is cut into buffers, and counts its frames.
class Mp3StreamCounter {
 public:
  void Reset();
  void Consume(const std::uint8_t* data, std::size_t size);

  // The first frame's header, once one was seen.
  const std::optional<Mp3FrameHeader>& firstFrame() const { return first_; }
  std::uint64_t bytes() const { return bytes_; }
  const XingSeekTable& table() const { return table_; }
  // Whether the bytes stopped looking like frames; from there on only bytes are counted.
  bool lostSync() const { return lostSync_; }
  // CRC-16 of all bytes, as the LAME tag states it.
  std::uint16_t crc() const { return crc_; }

 private:
  std::optional<Mp3FrameHeader> first_;
  XingSeekTable table_;
  std::uint64_t bytes_ = 0;
  std::uint64_t frameRest_ = 0;  // bytes of the current frame still to come
  std::array<std::uint8_t, 4> header_{};
  std::size_t headerHave_ = 0;
  bool lostSync_ = false;
  std::uint16_t crc_ = 0;
};

// A silent frame shaped like `first` (same version, rate and channel mode, the smallest
// bitrate the tags fit in) that carries a Xing tag for `frames` audio frames, the table of
// contents and the total stream length (this frame included). With `padding`, a LAME tag
// follows that states it, and `audioCrc`, the CRC-16 of the audio bytes, for gapless
// decoding. With no frames it states nothing; the frame has the same size either way.
std::vector<std::uint8_t> BuildXingFrame(const Mp3FrameHeader& first, std::uint64_t frames,
                                         const XingSeekTable& table, std::uint64_t audioBytes,
                                         const std::optional<EncoderPadding>& padding = {},
                                         std::uint16_t audioCrc = 0);

}  // namespace tonvale::sink
