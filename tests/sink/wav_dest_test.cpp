// The WAV Dest plugin: its header code, and the element loaded from the build tree, fed a
// generated signal, its MP3 and WAV decoded and measured (and the measuring helper itself).

#include <gst/gst.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <QSettings>
#include <QString>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "audio_analysis.h"
#include "platform/sink_contract.h"
#include "private_server.h"
#include "sink/wav_header.h"
#include "sink/xing_header.h"
#include "wav_bytes.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace tonvale::platform;
using namespace tonvale::sink;
using namespace tonvale::testing;
using Bytes = std::vector<std::uint8_t>;
using Strings = std::vector<std::string>;
const auto Str = [](auto v) { return std::to_string(v); };

// A Layer III frame: version bits 3 = MPEG-1, 2 = MPEG-2, 0 = MPEG-2.5; rate index 0 is
// 44.1 kHz for MPEG-1 (halved and quartered for the others).
Bytes Frame(int version, int bitrateIndex, int rateIndex, bool padded, bool mono) {
  const std::uint8_t header[4] = {
      0xFF, static_cast<std::uint8_t>(0xE0 | version << 3 | 1 << 1 | 1),
      static_cast<std::uint8_t>(bitrateIndex << 4 | rateIndex << 2 | (padded ? 2 : 0)),
      static_cast<std::uint8_t>(mono ? 0xC4 : 0x44)};
  Bytes frame(header, header + 4);
  frame.resize(ParseMp3FrameHeader(header).value().frameBytes, 0x5A);
  return frame;
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

// Frames of every bitrate VBR uses, some padded (bytes that are no frame: the Xing writer below).
TEST(Mp3StreamCounter, CountsFramesHoweverTheStreamIsCut) {
  std::mt19937 random(7);
  Bytes stream;
  for (int i = 0; i < 500; ++i) {
    const Bytes f = Frame(3, 1 + static_cast<int>(random() % 14), 0, random() % 2 == 0, false);
    stream.insert(stream.end(), f.begin(), f.end());
  }
  Mp3StreamCounter counter;  // reset for every run
  for (std::size_t maxPiece : {stream.size(), std::size_t{1}, std::size_t{3}, std::size_t{700}}) {
    SCOPED_TRACE(::testing::Message() << "pieces of up to " << maxPiece << " bytes");
    counter.Reset();
    for (std::size_t pos = 0, piece = 0; pos < stream.size(); pos += piece) {
      piece = std::min<std::size_t>(1 + random() % maxPiece, stream.size() - pos);
      counter.Consume(stream.data() + pos, piece);
    }
    EXPECT_EQ(
        std::tuple(counter.lostSync(), counter.table().frames(), counter.bytes(),
                   counter.firstFrame().has_value(), counter.crc()),
        std::tuple(false, 500u, stream.size(), true, ReferenceCrc16(stream.data(), stream.size())));
  }
}

// A day of frames at 38 a second, a third of them 200 bytes, then 400 bytes each; and three
// frames of 400 bytes. Entry i of the table of contents is where i percent of the frames
// (interpolated) starts, in 256ths of the whole, after a lead of 100 bytes.
TEST(XingSeekTable, KeepsItsSizeForAnyLengthAndItsContentsFollowTheBytes) {
  EXPECT_EQ(XingSeekTable().Toc(100, 100), (std::array<std::uint8_t, 100>{}));
  for (const auto& [frames, small] : {std::pair{3'300'000ull, 1'100'000.0}, {3ull, 0.0}}) {
    SCOPED_TRACE(frames);
    const auto offset = [s = small](double f) { return f < s ? 200 * f : 200 * s + 400 * (f - s); };
    XingSeekTable table;
    for (std::uint64_t f = 0; f < frames; ++f) {
      table.AddFrame(static_cast<std::uint64_t>(offset(static_cast<double>(f))));
      ASSERT_LE(table.size(), XingSeekTable::kCapacity);
    }
    EXPECT_GE(table.size(), std::min<std::uint64_t>(frames, XingSeekTable::kCapacity / 2));
    EXPECT_EQ(table.frames(), frames);
    const auto total = static_cast<double>(100 + offset(static_cast<double>(frames)));
    const auto toc = table.Toc(100, static_cast<std::uint64_t>(total));
    for (std::size_t i = 0; i < toc.size(); ++i) {
      const double at = 100 + offset(static_cast<double>(frames * i) / 100);
      EXPECT_NEAR(toc[i], std::floor(256 * at / total), i == 0 ? 0 : 1) << i << "%";
      EXPECT_GE(toc[i], toc[i == 0 ? 0 : i - 1]);
    }
  }
}

// A frame of the stream's shape, whatever the first frame's bitrate and padding, with the Xing
// tag (frames, bytes, table of contents) and, with the encoder's padding, LAME's tag that states
// it for gapless decoding, with its CRCs. A placeholder of the same size states no length. The
// padding is stated only when the input fits the frames and twelve bits.
TEST(XingFrame, HasTheStreamsShapeAndStatesLengthAndGaplessPaddingAsPlayersReadThem) {
  // 45 MPEG-1 frames hold 51840 samples, 576 of them the encoder's delay.
  for (const auto& [input, expected] : {std::pair{49950ull, 1314},
                                        {51840ull - 576 - 4095, 4095},
                                        {51840ull - 576 + 1, -1},
                                        {51840ull - 576 - 4096, -1}}) {
    const auto padding = GaplessPadding(45, 1152, input, 576);
    EXPECT_EQ(padding ? padding->padding : -1, expected) << input;
  }
  const std::uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  ASSERT_EQ(ReferenceCrc16(check, sizeof check), 0xBB3D) << "the CRC-16 LAME uses";
  for (const auto& [version, rateIndex, mono, rate] : {std::tuple{3, 0, false, 44100},
                                                       {3, 1, true, 48000},
                                                       {2, 0, false, 22050},
                                                       {0, 2, true, 8000}}) {
    SCOPED_TRACE(rate);
    const auto audio = Frame(version, 1, rateIndex, true, mono);
    Bytes stream;
    for (int i = 0; i < 1234; ++i) stream.insert(stream.end(), audio.begin(), audio.end());
    Mp3StreamCounter counter;
    counter.Consume(stream.data(), stream.size());
    const Mp3FrameHeader& first = *counter.firstFrame();
    const EncoderPadding padding{576, 1234};
    const auto frame =
        BuildXingFrame(first, 1234, counter.table(), counter.bytes(), padding, counter.crc());
    const auto header = ParseMp3FrameHeader(frame.data());
    ASSERT_TRUE(header.has_value());
    EXPECT_EQ(std::tuple(header->frameBytes, header->sampleRate, header->bits & 0xC0u),
              std::tuple(frame.size(), rate, mono ? 0xC0u : 0x40u));
    const std::size_t tag = 4 + header->sideInfoBytes;
    ASSERT_GE(frame.size(), tag + 120 + 36) << "room for the LAME tag";
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&frame[tag]), 4), "Xing");
    // Frames, bytes and table are there; the frames, the bytes.
    EXPECT_EQ(std::tuple(Be32(&frame[tag + 4]) & 7u, Be32(&frame[tag + 8]), Be32(&frame[tag + 12])),
              std::tuple(7u, 1234u, frame.size() + stream.size()));
    const std::uint8_t* lame = frame.data() + tag + 120;
    EXPECT_EQ(std::string(lame, lame + 9), "LAME3.100");
    EXPECT_EQ((lame[21] << 16 | lame[22] << 8 | lame[23]), 576 << 12 | 1234);
    EXPECT_EQ(lame[32] << 8 | lame[33], ReferenceCrc16(stream.data(), stream.size()));
    EXPECT_EQ(lame[34] << 8 | lame[35], ReferenceCrc16(frame.data(), tag + 120 + 34));
    EXPECT_EQ(BuildXingFrame(first, 1234, counter.table(), counter.bytes())[tag + 120], 0);
    const auto placeholder = BuildXingFrame(first, 0, XingSeekTable(), 0, padding);
    EXPECT_EQ(std::tuple(placeholder.size(), placeholder[tag + 7], placeholder[tag + 120]),
              std::tuple(frame.size(), 0, 0));
  }
}

// Only a RIFF header's sizes that overflow become 0xFFFFFFFF; no other byte changes. A header
// cut short of its data chunk gets only the RIFF size fixed.
TEST(WavHeaderClamp, SizesThatOverflowBecomeTheMaximumAndNothingElseChanges) {
  constexpr std::uint64_t k4GiB = 1ull << 32, kBoth = 4'613'734'492ull;
  // Stream bytes, extensible, bytes of the header given (0: all), tag; what is clamped.
  for (const auto& [streamBytes, extensible, cutTo, tag, riff, data] :
       {std::tuple{1'000'044ull, false, 0, "RIFF", false, false},
        {k4GiB - 1 + 8, false, 0, "RIFF", false, false},  // the largest RIFF size that fits
        {k4GiB + 20, false, 0, "RIFF", true, false},
        {kBoth, false, 0, "RIFF", true, true},
        {kBoth, true, 0, "RIFF", true, true},
        {5 * k4GiB, false, 30, "RIFF", true, false},
        {5 * k4GiB, false, 0, "RF64", false, false}}) {
    SCOPED_TRACE(std::to_string(streamBytes) + (extensible ? " extensible " : " ") + tag);
    // The header wavenc writes at the end of the stream: sizes modulo 2^32.
    const std::size_t dataStart = WavHeader(0, 0, extensible).size();
    Bytes h = WavHeader(static_cast<std::uint32_t>(streamBytes - 8),
                        static_cast<std::uint32_t>(streamBytes - dataStart), extensible);
    h.resize(cutTo == 0 ? h.size() : static_cast<std::size_t>(cutTo));
    std::memcpy(h.data(), tag, 4);
    Bytes expected = h;
    std::fill_n(expected.begin() + 4, riff ? 4 : 0, 0xFF);
    std::fill_n(expected.end() - 4, data ? 4 : 0, 0xFF);
    EXPECT_EQ(ClampOversizedWavHeader(h.data(), h.size(), streamBytes), riff || data);
    EXPECT_EQ(h, expected);
  }
}

class WavDestTest : public ::testing::Test {
 protected:
  // GStreamer, here and in gst-launch-1.0 children, finds the plugin in the build tree through
  // a registry of its own (the user's is left alone).
  static void SetUpTestSuite() {
    const char* build = std::getenv("TONVALE_BUILD_DIR");
    ASSERT_NE(build, nullptr) << "run through ctest";
    registry_ = MakeTempDir("tonvale-gstreg-");
    setenv("GST_REGISTRY", (registry_ + "/registry.bin").c_str(), 1);
    setenv("GST_PLUGIN_PATH", (std::string(build) + "/lib/tonvale").c_str(), 1);
    gst_init(nullptr, nullptr);
  }
  static void TearDownTestSuite() { fs::remove_all(registry_); }
  void SetUp() override { dir_ = MakeTempDir("tonvale-sink-"); }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs `seconds` of a 1 kHz `wave` into the sink (no location: none set), its WAV to a file.
  // "" at the end, else "[refused ]<element>: <resource error code> <text>" of the first error.
  std::string Run(const std::string& location, const std::string& wav, double seconds = 2.0,
                  int rate = 44100, int channels = 1, const std::string& wave = "sine") {
    GstElement* pipeline = gst_parse_launch(
        ("audiotestsrc wave=" + wave + " freq=1000 volume=0.5 samplesperbuffer=" + Str(rate / 50) +
         " num-buffers=" + Str(std::lround(seconds * 50)) +
         " ! audio/x-raw,format=S16LE,rate=" + Str(rate) + ",channels=" + Str(channels) +
         " ! tonvalewavdest name=dest ! filesink name=wav")
            .c_str(),
        nullptr);
    if (pipeline == nullptr)
      return "the plugin is not found";
    if (!location.empty())
      gst_child_proxy_set(GST_CHILD_PROXY(pipeline), "dest::location", location.c_str(), nullptr);
    gst_child_proxy_set(GST_CHILD_PROXY(pipeline), "wav::location", wav.c_str(), nullptr);
    const bool refused =
        gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE;
    GstMessage* m = gst_bus_timed_pop_filtered(
        GST_ELEMENT_BUS(pipeline), 60 * GST_SECOND,
        static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    std::string outcome = m == nullptr ? "timed out" : "";
    if (m != nullptr && GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR) {
      GError* e = nullptr;
      gst_message_parse_error(m, &e, nullptr);
      outcome = (refused ? "refused " : "") + std::string(GST_MESSAGE_SRC_NAME(m)) + ": " +
                (e->domain == GST_RESOURCE_ERROR ? Str(e->code) : "?") + " " + e->message;
      g_error_free(e);
    }
    g_clear_pointer(&m, gst_message_unref);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return outcome;
  }

  std::string dir_;
  inline static std::string registry_;
};

// Gapless decoders give back exactly the WAV's samples from the MP3, in step (noise, unlike a
// tone, never matches itself shifted); 20 ms end before LAME put out a frame; more than two
// channels fold to mono. Pitch and level per channel: tests/recorder/recording_test.
TEST_F(WavDestTest, MakesAnMp3AndAWavOfTheSameAudioThatDecodeGapless) {
  for (const auto& [rate, channels, seconds] : {std::tuple{44100, 2, 3.0},
                                                {48000, 1, 2.0},
                                                {22050, 2, 1.0},
                                                {48000, 6, 1.0},
                                                {44100, 2, 0.02}}) {
    SCOPED_TRACE(::testing::Message() << rate << " Hz, " << channels << " ch, " << seconds << " s");
    const std::string mp3 = dir_ + "/out.mp3", wav = dir_ + "/out.wav", raw = dir_ + "/out.raw";
    ASSERT_EQ(Run(mp3, wav, seconds, rate, channels, "pink-noise"), "");
    EXPECT_NEAR(HeaderDurationSeconds(wav), seconds, 1e-6);
    if (channels > 2) {
      const AudioAnalysis m = AnalyzeAudioFile(mp3), w = AnalyzeAudioFile(wav);
      ASSERT_TRUE(m.ok && w.ok) << m.error << w.error;
      EXPECT_EQ(std::tuple(m.sampleRate, m.channels, w.channels), std::tuple(rate, 1, channels));
      EXPECT_NEAR(m.durationSeconds, seconds, 0.1);
      EXPECT_NEAR(m.rms, w.rms, 0.2 * w.rms);  // 0.89 of it
      continue;
    }
    // The WAV's samples, then the MP3's by each decoder (ffmpeg's probe takes some 20 ms MP3s
    // of noise for video).
    std::vector<std::int16_t> reference;
    for (const Strings& decoder :
         {Strings{"ffmpeg", "-v", "error", "-y", "-i", wav, "-f", "s16le", raw},
          {"ffmpeg", "-v", "error", "-y", "-f", "mp3", "-i", mp3, "-f", "s16le", raw},
          {"mpg123", "-q", "-e", "s16", "-O", raw, mp3}}) {
      SCOPED_TRACE(::testing::PrintToString(decoder));
      std::string output;
      ASSERT_EQ(RunProgram(decoder, &output), 0) << output;
      std::ifstream in(raw, std::ios::binary | std::ios::ate);
      std::vector<std::int16_t> samples(static_cast<std::size_t>(in.tellg()) / 2);
      in.seekg(0).read(reinterpret_cast<char*>(samples.data()),
                       std::streamsize(samples.size()) * 2);
      if (reference.empty()) {
        reference = samples;
        ASSERT_EQ(reference.size(), static_cast<std::size_t>(rate * seconds * channels + 0.5));
        continue;
      }
      ASSERT_EQ(samples.size(), reference.size());
      // Energy of channel 0, `lag` samples early, minus the reference, relative to it.
      const auto mismatch = [&, c = channels](int lag) {
        double difference = 0, energy = 0;
        for (std::size_t i = 2000; i + 2000 < reference.size() / c; ++i) {
          difference += std::pow(reference[i * c] - samples[(i + lag) * c], 2);
          energy += std::pow(reference[i * c], 2);
        }
        return difference / energy;
      };
      // In step: a shift by one sample would match far worse.
      EXPECT_TRUE(seconds < 0.5 || mismatch(0) * 2 < std::min(mismatch(-1), mismatch(1)));
    }
  }
}

// The MP3 goes to the location when set, else to the hand-off path exactly as named; a recording
// there stays until the new one has audio. A path that cannot be opened fails the start, a full
// disk the run, either way with an error from the sink that names the path and the reason.
TEST_F(WavDestTest, WritesWhereItIsToldOnlyOnceThereIsAudioAndNamesPathAndReasonOfAFailure) {
  const std::string wav = dir_ + "/x.wav", given = dir_ + "/given.mp3", kept = dir_ + "/kept.mp3";
  const std::string odd = dir_ + "/my rec 'q' \"dq\" ünïcødé $(touch pwned) `touch bq` ;.mp3";
  std::ofstream(kept) << "last take";
  fs::create_directory(dir_ + "/a-directory.mp3");
  ::umask(022);
  const auto open = [](const std::string& path, const char* reason) {
    return "refused dest: " + std::to_string(GST_RESOURCE_ERROR_OPEN_WRITE) + " Could not open \"" +
           path + "\" for writing: " + reason;
  };
  for (const auto& [handOff, location, seconds, outcome] :
       std::vector<std::tuple<std::string, std::string, double, std::string>>{
           {odd, "", 2.0, ""},
           {odd, given, 2.0, ""},
           {odd, kept, 0.0, ""},
           {"", "", 2.0, open("", "no output file name is set")},
           {"", "/no/such/dir/x.mp3", 2.0, open("/no/such/dir/x.mp3", "No such file or directory")},
           {"", dir_ + "/a-directory.mp3", 2.0, open(dir_ + "/a-directory.mp3", "Is a directory")},
           {"", "/dev/full", 2.0,
            "dest: " + std::to_string(GST_RESOURCE_ERROR_NO_SPACE_LEFT) +
                " Could not write to \"/dev/full\": No space left on device"}}) {
    SCOPED_TRACE(location);
    QSettings(QString::fromLatin1(kHandOffOrganisation), QString::fromLatin1(kHandOffApplication))
        .setValue(QString::fromLatin1(kHandOffKey), QString::fromStdString(handOff));
    EXPECT_EQ(Run(location, wav, seconds), outcome);
  }
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir_)) names.insert(entry.path().string());
  EXPECT_EQ(names, (std::set<std::string>{dir_ + "/a-directory.mp3", given, kept, odd, wav}));
  std::ifstream old(kept);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(old), {}), "last take");
  for (const std::string& path : {odd, given}) {
    ExpectTone(path, 2.0, 0.1, 1000);
    EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write)
        << "a recording is readable by its owner alone, whatever the umask";
  }
  EXPECT_FALSE(fs::exists("pwned"));
}

// A gst-launch-1.0 run killed while recording leaves an MP3 that decodes and states no length
// (how much it keeps: tests/reliability). The Xing writer puts a Xing frame of 208 bytes before
// MPEG-1 frames of 417; it states no length when some bytes are no frame.
TEST_F(WavDestTest, WorksFromGstLaunchAndStatesNoLengthItCouldNotCount) {
  const std::string mp3 = dir_ + "/launch.mp3", wav = dir_ + "/launch.wav";
  const pid_t pid =
      StartProgram({"gst-launch-1.0", "-q", "audiotestsrc", "is-live=true", "freq=1000", "!",
                    "tonvalewavdest", "location=" + mp3, "!", "filesink", "location=" + wav});
  ASSERT_GT(pid, 0);
  const auto started = [&] { return fs::exists(mp3) && fs::file_size(mp3) > 0; };
  for (int i = 0; i < 100 && !started(); ++i) std::this_thread::sleep_for(100ms);
  std::this_thread::sleep_for(2500ms);
  kill(pid, SIGKILL);
  StopProcess(pid);  // reaps it
  ASSERT_TRUE(started()) << "nothing reached the MP3 file within 10 s";
  EXPECT_TRUE(AnalyzeAudioFile(mp3).ok);
  EXPECT_LT(HeaderDurationSeconds(mp3), 0);

  std::string stream;
  for (int i = 0; i < 300; ++i)
    stream +=
        (i == 150 ? std::string(100, '\0') : "") + "\xFF\xFB\x90\x44" + std::string(413, '\0');
  std::ofstream(dir_ + "/in.mp3", std::ios::binary) << stream;
  ASSERT_EQ(RunProgram({"gst-launch-1.0", "-q", "filesrc", "location=" + dir_ + "/in.mp3", "!",
                        "audio/mpeg,mpegversion=1,layer=3", "!", "tonvalexingwriter", "!",
                        "filesink", "location=" + mp3}),
            0);
  EXPECT_EQ(fs::file_size(mp3), stream.size() + 208);
  EXPECT_LT(HeaderDurationSeconds(mp3), 0);
}

// The measuring helper on WAVs of known content: 0.5 s of a 0.5 sine, `gap` s of silence, 0.5 s
// of the sine. Its MP3 header reading is checked on the sink's MP3s above.
TEST_F(WavDestTest, TheMeasuringHelperMeasuresLengthPitchLevelAndGapOfAKnownWav) {
  const std::string path = dir_ + "/tone.wav";
  for (const auto& [rate, channels, hz, gap] :
       {std::tuple{22050, 2, 440, 0.3}, {48000, 1, 1000, 0.05}}) {
    SCOPED_TRACE(rate);
    Strings sox = {"sox", "-n", "-r", Str(rate), "-c", Str(channels), "-b", "16", path, "synth"};
    sox.insert(sox.end(), {"0.5", "sine", Str(hz), "vol", "0.5", "pad", "0", Str(gap), "repeat"});
    sox.insert(sox.end(), {"1", "trim", "0", Str(1 + gap)});
    ASSERT_EQ(RunProgram(sox), 0);
    const AudioAnalysis a = AnalyzeAudioFile(path);
    ASSERT_TRUE(a.ok) << a.error;
    EXPECT_EQ(std::pair(a.sampleRate, a.channels), std::pair(rate, channels));
    EXPECT_NEAR(a.durationSeconds, 1.0 + gap, 1.0 / rate);
    EXPECT_NEAR(HeaderDurationSeconds(path), 1.0 + gap, 1.0 / rate);
    EXPECT_NEAR(a.dominantFrequencyHz, hz, 1.0);
    EXPECT_NEAR(a.rms, 0.5 / std::sqrt(2.0) * std::sqrt(1.0 / (1.0 + gap)), 0.005);
    EXPECT_NEAR(a.longestSilenceSeconds, gap, 0.02);  // the whole 10 ms blocks inside it
  }
}

}  // namespace
