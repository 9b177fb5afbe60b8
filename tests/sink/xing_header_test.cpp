#include "sink/xing_header.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "audio_analysis.h"
#include "private_server.h"

namespace {

using tonvale::sink::BuildXingFrame;
using tonvale::sink::EncoderPadding;
using tonvale::sink::GaplessPadding;
using tonvale::sink::Mp3StreamCounter;
using tonvale::sink::ParseMp3FrameHeader;
using tonvale::sink::XingSeekTable;

// A silent Layer III frame: version bits 3 = MPEG-1, 2 = MPEG-2, 0 = MPEG-2.5; rate index 0
// is 44.1 kHz for MPEG-1 (halved and quartered for the others).
std::vector<std::uint8_t> Frame(int version, int bitrateIndex, int rateIndex, bool padded,
                                bool mono) {
  const std::uint8_t header[4] = {
      0xFF, static_cast<std::uint8_t>(0xE0 | version << 3 | 1 << 1 | 1),
      static_cast<std::uint8_t>(bitrateIndex << 4 | rateIndex << 2 | (padded ? 2 : 0)),
      static_cast<std::uint8_t>(mono ? 0xC4 : 0x44)};
  const auto parsed = ParseMp3FrameHeader(header);
  EXPECT_TRUE(parsed.has_value());
  std::vector<std::uint8_t> frame(parsed ? parsed->frameBytes : 4, 0);
  std::copy(header, header + 4, frame.begin());
  return frame;
}

// MPEG-1, 44.1 kHz stereo frames of every bitrate a VBR encoder uses, some padded.
std::vector<std::uint8_t> VbrStream(int frames, std::vector<std::size_t>* sizes = nullptr) {
  std::mt19937 random(7);
  std::vector<std::uint8_t> stream;
  for (int i = 0; i < frames; ++i) {
    const auto frame = Frame(3, 1 + static_cast<int>(random() % 14), 0, random() % 2 == 0, false);
    stream.insert(stream.end(), frame.begin(), frame.end());
    if (sizes != nullptr)
      sizes->push_back(frame.size());
  }
  return stream;
}

TEST(Mp3StreamCounter, CountsEveryFrameHoweverTheStreamIsCutIntoBuffers) {
  std::vector<std::size_t> sizes;
  const auto stream = VbrStream(500, &sizes);
  // Known sizes of MPEG-1 44.1 kHz frames: 32 kbit/s is 104 bytes, 320 kbit/s 1044 (+1 padded).
  for (std::size_t size : sizes) {
    EXPECT_GE(size, 104u);
    EXPECT_LE(size, 1045u);
  }
  std::mt19937 random(11);
  for (std::size_t maxPiece : {stream.size(), std::size_t{1}, std::size_t{3}, std::size_t{700}}) {
    SCOPED_TRACE("pieces of up to " + std::to_string(maxPiece) + " bytes");
    Mp3StreamCounter counter;
    for (std::size_t pos = 0; pos < stream.size();) {
      const std::size_t piece = std::min<std::size_t>(1 + random() % maxPiece, stream.size() - pos);
      counter.Consume(stream.data() + pos, piece);
      pos += piece;
    }
    EXPECT_FALSE(counter.lostSync());
    EXPECT_EQ(counter.table().frames(), 500u);
    EXPECT_EQ(counter.bytes(), stream.size());
    ASSERT_TRUE(counter.firstFrame().has_value());
    EXPECT_EQ(counter.firstFrame()->frameBytes, sizes.front());
  }
}

TEST(Mp3StreamCounter, BytesThatAreNoFrameStopTheFrameCountButNotTheByteCount) {
  auto stream = VbrStream(10);
  stream.insert(stream.end(), 100, 0x00);
  const auto more = VbrStream(10);
  stream.insert(stream.end(), more.begin(), more.end());
  Mp3StreamCounter counter;
  counter.Consume(stream.data(), stream.size());
  EXPECT_TRUE(counter.lostSync());
  EXPECT_EQ(counter.table().frames(), 10u);
  EXPECT_EQ(counter.bytes(), stream.size());

  counter.Reset();
  const auto fresh = VbrStream(3);
  counter.Consume(fresh.data(), fresh.size());
  EXPECT_FALSE(counter.lostSync());
  EXPECT_EQ(counter.table().frames(), 3u);
  EXPECT_EQ(counter.bytes(), fresh.size());
}

// A day of frames at 38 a second: a third of them 200 bytes, then 400 bytes each.
TEST(XingSeekTable, KeepsItsSizeForAnyLengthAndItsContentsFollowTheBytes) {
  constexpr std::uint64_t kFrames = 3'300'000;
  constexpr std::uint64_t kSmall = kFrames / 3;
  auto offsetOf = [](std::uint64_t frame) {
    return frame < kSmall ? 200 * frame : 200 * kSmall + 400 * (frame - kSmall);
  };
  XingSeekTable table;
  for (std::uint64_t f = 0; f < kFrames; ++f) {
    table.AddFrame(offsetOf(f));
    ASSERT_LE(table.size(), XingSeekTable::kCapacity);
  }
  EXPECT_GE(table.size(), XingSeekTable::kCapacity / 2);
  EXPECT_EQ(table.frames(), kFrames);

  constexpr std::uint64_t kLead = 156;
  const std::uint64_t total = kLead + offsetOf(kFrames);
  const auto toc = table.Toc(kLead, total);
  for (int i = 0; i < 100; ++i) {
    const double expected =
        256.0 *
        static_cast<double>(kLead + offsetOf(kFrames * static_cast<std::uint64_t>(i) / 100)) /
        static_cast<double>(total);
    EXPECT_NEAR(toc[static_cast<std::size_t>(i)], std::floor(expected), 1.0) << "at " << i << "%";
    if (i > 0) {
      EXPECT_GE(toc[static_cast<std::size_t>(i)], toc[static_cast<std::size_t>(i - 1)]);
    }
  }
  EXPECT_EQ(toc[0], 0);
}

TEST(XingSeekTable, ShortAndEmptyStreamsGetAnOrderedTable) {
  XingSeekTable table;
  EXPECT_EQ(table.Toc(100, 100), (std::array<std::uint8_t, 100>{}));
  for (std::uint64_t f = 0; f < 3; ++f) table.AddFrame(f * 400);
  const auto toc = table.Toc(100, 1300);
  // Frame 0 starts at byte 100 of 1300, frame 1 at 500, frame 2 at 900.
  EXPECT_EQ(toc[0], 256 * 100 / 1300);
  EXPECT_EQ(toc[34], static_cast<int>(256 * (100 + 400 * 1.02) / 1300));
  for (std::size_t i = 1; i < toc.size(); ++i) {
    EXPECT_GE(toc[i], toc[i - 1]);
  }
  EXPECT_LT(toc[99], 255);
}

class XingFrameTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = tonvale::testing::MakeTempDir("tonvale-xing-"); }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string dir_;
};

TEST_F(XingFrameTest, IsASilentFrameOfTheStreamsShapeThatPlayersReadTheLengthFrom) {
  struct Case {
    const char* name;
    int version;
    int rateIndex;
    bool mono;
    int sampleRate;
    int samplesPerFrame;
  };
  for (const Case& c : {Case{"MPEG-1 44.1 kHz stereo", 3, 0, false, 44100, 1152},
                        Case{"MPEG-1 48 kHz mono", 3, 1, true, 48000, 1152},
                        Case{"MPEG-2 22.05 kHz stereo", 2, 0, false, 22050, 576},
                        Case{"MPEG-2.5 8 kHz mono", 0, 2, true, 8000, 576}}) {
    SCOPED_TRACE(c.name);
    // A low-rate padded first frame: the header must not copy its bitrate or padding.
    const auto first = Frame(c.version, 1, c.rateIndex, true, c.mono);
    Mp3StreamCounter counter;
    for (int i = 0; i < 1234; ++i) counter.Consume(first.data(), first.size());
    const auto frame = BuildXingFrame(*counter.firstFrame(), counter.table().frames(),
                                      counter.table(), counter.bytes());

    const auto header = ParseMp3FrameHeader(frame.data());
    ASSERT_TRUE(header.has_value());
    EXPECT_EQ(header->frameBytes, frame.size());
    EXPECT_EQ(header->sampleRate, c.sampleRate);
    EXPECT_EQ(header->bits & 0xC0u, c.mono ? 0xC0u : 0x40u);
    const std::size_t tag = 4 + header->sideInfoBytes;
    ASSERT_GE(frame.size(), tag + 120 + 36) << "room for the LAME tag";
    EXPECT_EQ(std::string(frame.begin() + static_cast<long>(tag),
                          frame.begin() + static_cast<long>(tag) + 4),
              "Xing");
    auto be32 = [&](std::size_t at) {
      return static_cast<std::uint32_t>(frame[at]) << 24 | frame[at + 1] << 16 |
             frame[at + 2] << 8 | frame[at + 3];
    };
    EXPECT_EQ(be32(tag + 8), 1234u);
    EXPECT_EQ(be32(tag + 12), frame.size() + counter.bytes());

    const auto placeholder = BuildXingFrame(*counter.firstFrame(), 0, XingSeekTable(), 0);
    EXPECT_EQ(placeholder.size(), frame.size());
    EXPECT_EQ(be32(tag + 4), 7u);  // frames, bytes and table
    EXPECT_EQ(frame[tag + 120], 0) << "no LAME tag without the encoder's padding";
    EXPECT_EQ(placeholder[tag + 7], 0) << "a placeholder must not claim a length";

    // What the tests' own reader, and so a player, takes as the length.
    std::vector<std::uint8_t> file = frame;
    for (int i = 0; i < 1234; ++i) file.insert(file.end(), first.begin(), first.end());
    const std::string path = dir_ + "/x.mp3";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
    EXPECT_NEAR(tonvale::testing::HeaderDurationSeconds(path),
                1234.0 * c.samplesPerFrame / c.sampleRate, 1e-9);
  }
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

TEST(GaplessPadding, IsStatedOnlyWhenTheInputFitsTheFramesAndTwelveBits) {
  const auto padding = [](std::uint64_t input, int delay) {
    return GaplessPadding(45, 1152, input, delay).value_or(EncoderPadding{-1, -1}).padding;
  };
  // 45 MPEG-1 frames hold 51840 samples.
  EXPECT_EQ(padding(49950, 576), 1314);
  EXPECT_EQ(padding(51840 - 576 - 4095, 576), 4095);
  EXPECT_EQ(padding(51840 - 576 + 1, 576), -1) << "more than the frames hold";
  EXPECT_EQ(padding(51840 - 576 - 4096, 576), -1) << "padding past 12 bits";
}

TEST(XingFrame, CarriesTheEncoderPaddingInALameTagWithItsCrcs) {
  const std::uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  ASSERT_EQ(ReferenceCrc16(check, sizeof check), 0xBB3D) << "the CRC-16 LAME uses";
  // The largest and the smallest side information.
  for (const auto& [version, rateIndex, mono] : {std::tuple{3, 0, false}, std::tuple{0, 2, true}}) {
    auto audio = Frame(version, 9, rateIndex, false, mono);
    for (std::size_t i = 4; i < audio.size(); ++i) audio[i] = static_cast<std::uint8_t>(i * 7);
    Mp3StreamCounter counter;
    counter.Consume(audio.data(), audio.size());
    const auto frame = BuildXingFrame(*counter.firstFrame(), 1, counter.table(), counter.bytes(),
                                      EncoderPadding{576, 1234}, counter.crc());
    const std::size_t tag = 4 + ParseMp3FrameHeader(frame.data())->sideInfoBytes;
    const std::uint8_t* lame = frame.data() + tag + 120;
    EXPECT_EQ(std::string(lame, lame + 9), "LAME3.100") << version;
    EXPECT_EQ((lame[21] << 16 | lame[22] << 8 | lame[23]), 576 << 12 | 1234);
    EXPECT_EQ(lame[32] << 8 | lame[33], ReferenceCrc16(audio.data(), audio.size()));
    EXPECT_EQ(lame[34] << 8 | lame[35],
              ReferenceCrc16(frame.data(), static_cast<std::size_t>(lame + 34 - frame.data())));
    // Frames that could not all be counted get none.
    EXPECT_EQ(BuildXingFrame(*counter.firstFrame(), 0, counter.table(), counter.bytes(),
                             EncoderPadding{576, 1234})[tag + 120],
              0);
  }
}

}  // namespace
