#include "sink/xing_header.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "audio_analysis.h"
#include "private_server.h"

namespace {

using namespace tonvale::sink;
using Bytes = std::vector<std::uint8_t>;

// A Layer III frame: version bits 3 = MPEG-1, 2 = MPEG-2, 0 = MPEG-2.5; rate index 0 is
// 44.1 kHz for MPEG-1 (halved and quartered for the others). The body is a pattern.
Bytes Frame(int version, int bitrateIndex, int rateIndex, bool padded, bool mono) {
  const std::uint8_t header[4] = {
      0xFF, static_cast<std::uint8_t>(0xE0 | version << 3 | 1 << 1 | 1),
      static_cast<std::uint8_t>(bitrateIndex << 4 | rateIndex << 2 | (padded ? 2 : 0)),
      static_cast<std::uint8_t>(mono ? 0xC4 : 0x44)};
  const auto parsed = ParseMp3FrameHeader(header);
  EXPECT_TRUE(parsed.has_value());
  Bytes frame(parsed ? parsed->frameBytes : 4);
  for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<std::uint8_t>(i * 7);
  std::copy(header, header + 4, frame.begin());
  return frame;
}

// MPEG-1, 44.1 kHz stereo frames of every bitrate a VBR encoder uses, some padded.
Bytes VbrStream(int frames, unsigned seed) {
  std::mt19937 random(seed);
  Bytes stream;
  for (int i = 0; i < frames; ++i) {
    const auto frame = Frame(3, 1 + static_cast<int>(random() % 14), 0, random() % 2 == 0, false);
    stream.insert(stream.end(), frame.begin(), frame.end());
  }
  return stream;
}

std::uint32_t Be32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0] << 24 | p[1] << 16 | p[2] << 8 | p[3]);
}

// CRC-16, polynomial 0x8005 with reflected bits, one bit at a time.
std::uint16_t ReferenceCrc16(const std::uint8_t* data, std::size_t size) {
  unsigned crc = 0;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) != 0 ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return static_cast<std::uint16_t>(crc);
}

TEST(Mp3StreamCounter, CountsFramesHoweverTheStreamIsCutAndStopsAtBytesThatAreNone) {
  auto broken = VbrStream(10, 7);
  broken.insert(broken.end(), 100, 0x00);
  const auto more = VbrStream(10, 8);
  broken.insert(broken.end(), more.begin(), more.end());
  std::mt19937 random(11);
  Mp3StreamCounter counter;  // reset for every run
  for (const auto& [stream, frames, lost] :
       {std::tuple{broken, 10u, true}, std::tuple{VbrStream(500, 9), 500u, false}}) {
    for (std::size_t maxPiece : {stream.size(), std::size_t{1}, std::size_t{3}, std::size_t{700}}) {
      SCOPED_TRACE(std::to_string(frames) + " frames in pieces of up to " +
                   std::to_string(maxPiece) + " bytes");
      counter.Reset();
      for (std::size_t pos = 0, piece = 0; pos < stream.size(); pos += piece) {
        piece = std::min<std::size_t>(1 + random() % maxPiece, stream.size() - pos);
        counter.Consume(stream.data() + pos, piece);
      }
      EXPECT_EQ(counter.lostSync(), lost);
      EXPECT_EQ(counter.table().frames(), frames);
      EXPECT_EQ(counter.bytes(), stream.size());
      ASSERT_TRUE(counter.firstFrame().has_value());
      EXPECT_EQ(counter.firstFrame()->bits, Be32(stream.data()));
    }
  }
}

// A day of frames at 38 a second, a third of them 200 bytes, then 400 bytes each; and three
// frames of 400 bytes. Entry i of the table of contents is where i percent of the frames
// (interpolated) starts, in 256ths of the whole.
TEST(XingSeekTable, KeepsItsSizeForAnyLengthAndItsContentsFollowTheBytes) {
  EXPECT_EQ(XingSeekTable().Toc(100, 100), (std::array<std::uint8_t, 100>{}));
  for (const auto& [frames, small] : {std::pair{3'300'000ull, 1'100'000.0}, {3ull, 0.0}}) {
    SCOPED_TRACE(frames);
    const auto offsetOf = [s = small](double f) {
      return f < s ? 200 * f : 200 * s + 400 * (f - s);
    };
    XingSeekTable table;
    for (std::uint64_t f = 0; f < frames; ++f) {
      table.AddFrame(static_cast<std::uint64_t>(offsetOf(static_cast<double>(f))));
      ASSERT_LE(table.size(), XingSeekTable::kCapacity);
    }
    EXPECT_GE(table.size(), std::min<std::uint64_t>(frames, XingSeekTable::kCapacity / 2));
    EXPECT_EQ(table.frames(), frames);
    const std::uint64_t lead = 100;
    const auto total = static_cast<std::uint64_t>(lead + offsetOf(static_cast<double>(frames)));
    const auto toc = table.Toc(lead, total);
    EXPECT_EQ(toc[0], 256 * lead / total);
    for (std::size_t i = 1; i < toc.size(); ++i) {
      const double at = lead + offsetOf(static_cast<double>(frames * i) / 100);
      EXPECT_NEAR(toc[i], std::floor(256 * at / static_cast<double>(total)), 1.0) << i << "%";
      EXPECT_GE(toc[i], toc[i - 1]);
    }
  }
}

TEST(GaplessPadding, IsStatedOnlyWhenTheInputFitsTheFramesAndTwelveBits) {
  // 45 MPEG-1 frames hold 51840 samples, 576 of them the encoder's delay.
  for (const auto& [input, expected] : {std::pair{49950ull, 1314},
                                        {51840ull - 576 - 4095, 4095},
                                        {51840ull - 576 + 1, -1},
                                        {51840ull - 576 - 4096, -1}}) {
    const auto padding = GaplessPadding(45, 1152, input, 576);
    EXPECT_EQ(padding ? padding->padding : -1, expected) << input;
  }
}

// The Xing frame is a frame of the stream's shape, whatever the first audio frame's bitrate
// and padding, with the Xing tag (frames, bytes, table of contents) and, when the encoder's
// padding is known, the LAME tag that states it for gapless decoding, with its CRCs.
TEST(XingFrame, HasTheStreamsShapeAndStatesLengthAndGaplessPaddingAsPlayersReadThem) {
  const std::uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  ASSERT_EQ(ReferenceCrc16(check, sizeof check), 0xBB3D) << "the CRC-16 LAME uses";
  const std::string dir = tonvale::testing::MakeTempDir("tonvale-xing-");
  struct Case {
    const char* name;
    int version, rateIndex;
    bool mono;
    int sampleRate, samplesPerFrame;
  };
  for (const Case& c : {Case{"MPEG-1 44.1 kHz stereo", 3, 0, false, 44100, 1152},
                        Case{"MPEG-1 48 kHz mono", 3, 1, true, 48000, 1152},
                        Case{"MPEG-2 22.05 kHz stereo", 2, 0, false, 22050, 576},
                        Case{"MPEG-2.5 8 kHz mono", 0, 2, true, 8000, 576}}) {
    SCOPED_TRACE(c.name);
    const auto audio = Frame(c.version, 1, c.rateIndex, true, c.mono);
    Mp3StreamCounter counter;
    Bytes stream;
    for (int i = 0; i < 1234; ++i) {
      counter.Consume(audio.data(), audio.size());
      stream.insert(stream.end(), audio.begin(), audio.end());
    }
    const Mp3FrameHeader& first = *counter.firstFrame();
    const EncoderPadding padding{576, 1234};
    const auto frame =
        BuildXingFrame(first, 1234, counter.table(), counter.bytes(), padding, counter.crc());
    const auto header = ParseMp3FrameHeader(frame.data());
    ASSERT_TRUE(header.has_value());
    EXPECT_EQ(header->frameBytes, frame.size());
    EXPECT_EQ(header->sampleRate, c.sampleRate);
    EXPECT_EQ(header->bits & 0xC0u, c.mono ? 0xC0u : 0x40u);
    const std::size_t tag = 4 + header->sideInfoBytes;
    ASSERT_GE(frame.size(), tag + 120 + 36) << "room for the LAME tag";
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&frame[tag]), 4), "Xing");
    EXPECT_EQ(Be32(&frame[tag + 4]) & 7u, 7u);  // frames, bytes and table
    EXPECT_EQ(Be32(&frame[tag + 8]), 1234u);
    EXPECT_EQ(Be32(&frame[tag + 12]), frame.size() + stream.size());
    const std::uint8_t* lame = frame.data() + tag + 120;
    EXPECT_EQ(std::string(lame, lame + 9), "LAME3.100");
    EXPECT_EQ((lame[21] << 16 | lame[22] << 8 | lame[23]), 576 << 12 | 1234);
    EXPECT_EQ(lame[32] << 8 | lame[33], ReferenceCrc16(stream.data(), stream.size()));
    EXPECT_EQ(lame[34] << 8 | lame[35], ReferenceCrc16(frame.data(), tag + 120 + 34));

    // No LAME tag without the padding, or for frames that could not all be counted; a
    // placeholder of the same size states no length.
    EXPECT_EQ(BuildXingFrame(first, 1234, counter.table(), counter.bytes())[tag + 120], 0);
    const auto placeholder = BuildXingFrame(first, 0, XingSeekTable(), 0, padding);
    EXPECT_EQ(placeholder.size(), frame.size());
    EXPECT_EQ(placeholder[tag + 7], 0);
    EXPECT_EQ(placeholder[tag + 120], 0);

    stream.insert(stream.begin(), frame.begin(), frame.end());
    const std::string path = dir + "/x.mp3";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(stream.data()),
               static_cast<std::streamsize>(stream.size()));
    EXPECT_NEAR(tonvale::testing::HeaderDurationSeconds(path),
                1234.0 * c.samplesPerFrame / c.sampleRate, 1e-9);
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
