#include "sink/xing_header.h"

#include <algorithm>
#include <limits>

namespace tonvale::sink {

namespace {

// Layer III bitrates in kbit/s by index; index 0 ("free") and 15 are not used.
constexpr int kMpeg1Kbps[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr int kMpeg2Kbps[15] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
constexpr int kMpeg1Rates[3] = {44100, 48000, 32000};

// The Xing tag: "Xing", flags, frames, bytes, the 100-entry table of contents and a quality
// field, which LAME always writes and some readers expect even when it is 0.
constexpr std::size_t kXingBytes = 4 + 4 + 4 + 4 + 100 + 4;
constexpr std::uint32_t kFramesFlag = 0x1;
constexpr std::uint32_t kBytesFlag = 0x2;
constexpr std::uint32_t kTocFlag = 0x4;
constexpr std::uint32_t kQualityFlag = 0x8;
// The LAME tag after it. Decoders take the delay and padding only from a tag that names LAME,
// the encoder that lamemp3enc runs.
constexpr std::size_t kLameBytes = 36;
constexpr char kLameVersion[9] = {'L', 'A', 'M', 'E', '3', '.', '1', '0', '0'};
constexpr int kMax12Bits = 0xFFF;

constexpr std::uint32_t kNoCrcBit = 1u << 16;
constexpr std::uint32_t kPaddingBit = 1u << 9;
constexpr int kBitrateShift = 12;

std::size_t FrameBytes(int version, int kbps, int sampleRate, bool padded) {
  const int factor = version == 3 ? 144000 : 72000;
  return static_cast<std::size_t>(factor * kbps / sampleRate + (padded ? 1 : 0));
}

// Side information of a frame with these header bits, not counting a CRC.
std::size_t SideInfoBytes(std::uint32_t bits) {
  const bool mpeg1 = ((bits >> 19) & 3) == 3;
  const bool mono = ((bits >> 6) & 3) == 3;
  return mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
}

void PutBe32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

std::uint32_t Clamp32(std::uint64_t v) {
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(v, 0xFFFFFFFFu));
}

// CRC-16 with the polynomial 0x8005, bits reflected, as LAME computes its CRCs.
constexpr std::array<std::uint16_t, 256> kCrcTable = [] {
  std::array<std::uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned crc = i;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) != 0 ? (crc >> 1) ^ 0xA001 : crc >> 1;
    table[i] = static_cast<std::uint16_t>(crc);
  }
  return table;
}();

std::uint16_t Crc16(std::uint16_t crc, const std::uint8_t* data, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i)
    crc = static_cast<std::uint16_t>((crc >> 8) ^ kCrcTable[(crc ^ data[i]) & 0xFF]);
  return crc;
}

// The LAME tag's "misc" byte: the channel mode LAME was set to, taken from the frame header
// (bits 2-4), and the input's sample rate class, the frames' own (bits 6-7). Noise shaping
// (bits 0-1) is not known and stays 0.
std::uint8_t LameMisc(const Mp3FrameHeader& first) {
  static constexpr std::uint8_t kModes[4] = {1, 3, 2, 0};  // stereo, joint, dual, mono
  const std::uint8_t mode = kModes[(first.bits >> 6) & 3];
  const std::uint8_t rate = first.sampleRate <= 32000   ? 0
                            : first.sampleRate == 44100 ? 1
                            : first.sampleRate == 48000 ? 2
                                                        : 3;
  return static_cast<std::uint8_t>(rate << 6 | mode << 2);
}

}  // namespace

std::optional<Mp3FrameHeader> ParseMp3FrameHeader(const std::uint8_t* data) {
  const std::uint32_t bits = static_cast<std::uint32_t>(data[0]) << 24 |
                             static_cast<std::uint32_t>(data[1]) << 16 |
                             static_cast<std::uint32_t>(data[2]) << 8 | data[3];
  if ((bits >> 21) != 0x7FF)
    return std::nullopt;
  const int version = static_cast<int>((bits >> 19) & 3);
  const int layer = static_cast<int>((bits >> 17) & 3);
  const int bitrateIndex = static_cast<int>((bits >> 12) & 0xF);
  const int rateIndex = static_cast<int>((bits >> 10) & 3);
  if (version == 1 || layer != 1 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
    return std::nullopt;
  Mp3FrameHeader h;
  h.bits = bits;
  h.version = version;
  h.sampleRate = kMpeg1Rates[rateIndex] / (version == 3 ? 1 : version == 2 ? 2 : 4);
  h.samplesPerFrame = version == 3 ? 1152 : 576;
  const int kbps = (version == 3 ? kMpeg1Kbps : kMpeg2Kbps)[bitrateIndex];
  h.frameBytes = FrameBytes(version, kbps, h.sampleRate, (bits & kPaddingBit) != 0);
  h.sideInfoBytes = SideInfoBytes(bits) + ((bits & kNoCrcBit) == 0 ? 2 : 0);
  return h;
}

std::optional<EncoderPadding> GaplessPadding(std::uint64_t frames, int samplesPerFrame,
                                             std::uint64_t inputSamples, int encoderDelay) {
  // The header states at most 2^32 - 1 frames; decoders cut the padding from that many.
  if (frames == 0 || frames > 0xFFFFFFFFu || samplesPerFrame <= 0 || encoderDelay < 0 ||
      encoderDelay > kMax12Bits)
    return std::nullopt;
  const std::uint64_t decoded = frames * static_cast<std::uint64_t>(samplesPerFrame);
  if (inputSamples > decoded || decoded - inputSamples < static_cast<std::uint64_t>(encoderDelay))
    return std::nullopt;
  const std::uint64_t padding = decoded - inputSamples - static_cast<std::uint64_t>(encoderDelay);
  if (padding > kMax12Bits)
    return std::nullopt;
  return EncoderPadding{encoderDelay, static_cast<int>(padding)};
}

// ---- XingSeekTable ----

void XingSeekTable::Reset() {
  offsets_.clear();
  step_ = 1;
  frames_ = 0;
}

void XingSeekTable::AddFrame(std::uint64_t byteOffset) {
  if (frames_ % step_ == 0) {
    if (offsets_.size() == kCapacity) {
      // Keep frames 0, 2 * step_, 4 * step_, ...
      for (std::size_t i = 0; 2 * i < offsets_.size(); ++i) offsets_[i] = offsets_[2 * i];
      offsets_.resize(kCapacity / 2);
      step_ *= 2;
    }
    if (frames_ % step_ == 0)
      offsets_.push_back(byteOffset);
  }
  ++frames_;
}

std::array<std::uint8_t, 100> XingSeekTable::Toc(std::uint64_t leadBytes,
                                                 std::uint64_t streamBytes) const {
  std::array<std::uint8_t, 100> toc{};
  if (frames_ == 0 || streamBytes == 0)
    return toc;
  const std::uint64_t audioBytes = streamBytes > leadBytes ? streamBytes - leadBytes : 0;
  int previous = 0;
  for (int percent = 0; percent < 100; ++percent) {
    // The frame at this share of the playing time, between two points of the table; the
    // last point's successor is the end of the stream.
    const double frame = static_cast<double>(frames_) * percent / 100.0;
    const auto index = static_cast<std::size_t>(frame / static_cast<double>(step_));
    const double from = static_cast<double>(offsets_[index]);
    const double fromFrame = static_cast<double>(index * step_);
    const bool last = index + 1 >= offsets_.size();
    const double to =
        last ? static_cast<double>(audioBytes) : static_cast<double>(offsets_[index + 1]);
    const double toFrame =
        last ? static_cast<double>(frames_) : static_cast<double>((index + 1) * step_);
    const double offset = toFrame > fromFrame
                              ? from + (to - from) * (frame - fromFrame) / (toFrame - fromFrame)
                              : from;
    const double position = static_cast<double>(leadBytes) + offset;
    int entry = static_cast<int>(256.0 * position / static_cast<double>(streamBytes));
    entry = std::clamp(entry, previous, 255);
    toc[static_cast<std::size_t>(percent)] = static_cast<std::uint8_t>(entry);
    previous = entry;
  }
  return toc;
}

// ---- Mp3StreamCounter ----

void Mp3StreamCounter::Reset() {
  first_.reset();
  table_.Reset();
  bytes_ = 0;
  frameRest_ = 0;
  headerHave_ = 0;
  lostSync_ = false;
  crc_ = 0;
}

void Mp3StreamCounter::Consume(const std::uint8_t* data, std::size_t size) {
  crc_ = Crc16(crc_, data, size);
  std::size_t pos = 0;
  while (pos < size) {
    if (lostSync_) {
      bytes_ += size - pos;
      return;
    }
    if (frameRest_ > 0) {
      const std::size_t n =
          static_cast<std::size_t>(std::min<std::uint64_t>(frameRest_, size - pos));
      frameRest_ -= n;
      pos += n;
      bytes_ += n;
      continue;
    }
    // A frame starts here; its header may be cut between two buffers.
    while (headerHave_ < header_.size() && pos < size) header_[headerHave_++] = data[pos++];
    if (headerHave_ < header_.size())
      return;
    headerHave_ = 0;
    const std::uint64_t start = bytes_;
    bytes_ += header_.size();
    const auto header = ParseMp3FrameHeader(header_.data());
    if (!header) {
      lostSync_ = true;
      continue;
    }
    if (!first_)
      first_ = header;
    table_.AddFrame(start);
    frameRest_ = header->frameBytes - header_.size();
  }
}

// ---- The Xing frame ----

std::vector<std::uint8_t> BuildXingFrame(const Mp3FrameHeader& first, std::uint64_t frames,
                                         const XingSeekTable& table, std::uint64_t audioBytes,
                                         const std::optional<EncoderPadding>& padding,
                                         std::uint16_t audioCrc) {
  const std::size_t sideInfo = SideInfoBytes(first.bits);  // the frame gets no CRC
  const std::size_t needed = 4 + sideInfo + kXingBytes + kLameBytes;
  const int* kbps = first.version == 3 ? kMpeg1Kbps : kMpeg2Kbps;
  int index = 1;
  while (index < 14 && FrameBytes(first.version, kbps[index], first.sampleRate, false) < needed)
    ++index;
  const std::size_t frameBytes = FrameBytes(first.version, kbps[index], first.sampleRate, false);

  std::vector<std::uint8_t> frame(frameBytes, 0);
  std::uint32_t bits = first.bits | kNoCrcBit;
  bits &= ~kPaddingBit;
  bits = (bits & ~(0xFu << kBitrateShift)) | static_cast<std::uint32_t>(index) << kBitrateShift;
  PutBe32(frame.data(), bits);
  // Zero side information makes the frame decode to silence.
  std::uint8_t* tag = frame.data() + 4 + sideInfo;
  const std::uint64_t streamBytes = frameBytes + audioBytes;
  std::copy_n("Xing", 4, tag);
  // Without frames (the placeholder, or what a killed recording leaves) the tag claims
  // nothing, and players estimate the length from the frames themselves.
  const bool lame = frames > 0 && padding && padding->delay >= 0 && padding->delay <= kMax12Bits &&
                    padding->padding >= 0 && padding->padding <= kMax12Bits;
  PutBe32(tag + 4, frames == 0 ? 0
                   : lame      ? kFramesFlag | kBytesFlag | kTocFlag | kQualityFlag
                               : kFramesFlag | kBytesFlag | kTocFlag);
  PutBe32(tag + 8, Clamp32(frames));
  PutBe32(tag + 12, Clamp32(streamBytes));
  const auto toc = table.Toc(frameBytes, streamBytes);
  std::copy(toc.begin(), toc.end(), tag + 16);
  if (!lame)
    return frame;

  // Quality 0 stays. What the LAME tag leaves 0 is not known here: tag revision and VBR
  // method, lowpass, peak, replay gains, encoding flags, bitrate, MP3 gain and preset.
  std::uint8_t* info = tag + kXingBytes;
  std::copy_n(kLameVersion, sizeof kLameVersion, info);
  const auto delayAndPadding = static_cast<std::uint32_t>(padding->delay) << 12 |
                               static_cast<std::uint32_t>(padding->padding);
  info[21] = static_cast<std::uint8_t>(delayAndPadding >> 16);
  info[22] = static_cast<std::uint8_t>(delayAndPadding >> 8);
  info[23] = static_cast<std::uint8_t>(delayAndPadding);
  info[24] = LameMisc(first);
  PutBe32(info + 28, Clamp32(streamBytes));
  info[32] = static_cast<std::uint8_t>(audioCrc >> 8);
  info[33] = static_cast<std::uint8_t>(audioCrc);
  // The tag's own CRC covers the frame up to it.
  const std::uint16_t crc =
      Crc16(0, frame.data(), static_cast<std::size_t>(info + 34 - frame.data()));
  info[34] = static_cast<std::uint8_t>(crc >> 8);
  info[35] = static_cast<std::uint8_t>(crc);
  return frame;
}

}  // namespace tonvale::sink
