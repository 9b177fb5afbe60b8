#include "audio_analysis.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <fstream>
#include <numbers>

#include "platform/riff.h"
#include "sink/xing_header.h"

namespace tonvale::testing {
namespace {

namespace riff = platform::riff;

void Fft(std::vector<std::complex<double>>& x) {
  const std::size_t n = x.size();
  if (n < 2)
    return;
  std::vector<std::complex<double>> even(n / 2), odd(n / 2);
  for (std::size_t i = 0; i < n; ++i) (i % 2 == 0 ? even : odd)[i / 2] = x[i];
  Fft(even);
  Fft(odd);
  for (std::size_t k = 0; k < n / 2; ++k) {
    const auto t = std::polar(1.0, -2 * std::numbers::pi * double(k) / double(n)) * odd[k];
    x[k] = even[k] + t;
    x[k + n / 2] = even[k] - t;
  }
}

// Peak of a Hann-windowed FFT over the middle of the signal (at most 2^16 samples), refined
// by a parabola through the log magnitudes of the peak bin and its neighbours; 0 if silent.
double DominantFrequency(const std::vector<float>& signal, int rate) {
  std::size_t n = 1;
  while (n * 2 <= std::min<std::size_t>(signal.size(), 1u << 16)) n *= 2;
  if (n < 64)
    return 0;
  std::vector<std::complex<double>> x(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double hann = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * double(i) / double(n - 1));
    x[i] = signal[(signal.size() - n) / 2 + i] * hann;
  }
  Fft(x);
  std::size_t peak = 1;
  for (std::size_t k = 2; k + 1 < n / 2; ++k) {
    if (std::abs(x[k]) > std::abs(x[peak]))
      peak = k;
  }
  if (std::abs(x[peak]) < 1e-9)
    return 0;
  const double a = std::log(std::abs(x[peak - 1]) + 1e-12);
  const double b = std::log(std::abs(x[peak]) + 1e-12);
  const double c = std::log(std::abs(x[peak + 1]) + 1e-12);
  const double offset = a - 2 * b + c != 0 ? 0.5 * (a - c) / (a - 2 * b + c) : 0;
  return (double(peak) + offset) * rate / double(n);
}

// Every sample of the file, one vector per channel; the analysis's error when it fails.
std::vector<std::vector<float>> Decode(const std::string& path, AudioAnalysis* result) {
  gst_init(nullptr, nullptr);  // once; later calls do nothing
  GstElement* pipeline = gst_parse_launch(
      "filesrc name=in ! decodebin ! audioconvert ! audio/x-raw,format=F32LE,layout=interleaved "
      "! appsink name=out sync=false",
      nullptr);
  gst_child_proxy_set(GST_CHILD_PROXY(pipeline), "in::location", path.c_str(), nullptr);
  auto* out = GST_APP_SINK(gst_bin_get_by_name(GST_BIN(pipeline), "out"));
  std::vector<std::vector<float>> channels;
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  while (GstSample* sample = gst_app_sink_try_pull_sample(out, 120 * GST_SECOND)) {
    const GstStructure* caps = gst_caps_get_structure(gst_sample_get_caps(sample), 0);
    gst_structure_get_int(caps, "rate", &result->sampleRate);
    gst_structure_get_int(caps, "channels", &result->channels);
    channels.resize(std::size_t(std::max(result->channels, 1)));
    GstMapInfo map;
    if (gst_buffer_map(gst_sample_get_buffer(sample), &map, GST_MAP_READ)) {
      const auto* v = reinterpret_cast<const float*>(map.data);
      for (std::size_t i = 0; i < map.size / sizeof(float); ++i)
        channels[i % channels.size()].push_back(v[i]);
      gst_buffer_unmap(gst_sample_get_buffer(sample), &map);
    }
    gst_sample_unref(sample);
  }
  result->ok = gst_app_sink_is_eos(out) && !channels.empty() && !channels[0].empty();
  GstBus* bus = gst_element_get_bus(pipeline);
  if (GstMessage* message = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR)) {
    GError* error = nullptr;
    gst_message_parse_error(message, &error, nullptr);
    result->error = error->message;
    g_error_free(error);
    gst_message_unref(message);
  } else if (!result->ok) {
    result->error = "no audio decoded";
  }
  gst_object_unref(bus);
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(out);
  gst_object_unref(pipeline);
  return channels;
}

}  // namespace

AudioAnalysis AnalyzeAudioFile(const std::string& path, double silenceThreshold) {
  AudioAnalysis result;
  const auto channels = Decode(path, &result);
  if (!result.ok)
    return result;
  const std::size_t frames = channels[0].size();
  const std::size_t block = std::size_t(result.sampleRate / 100);  // 10 ms
  std::vector<float> mix(frames);
  double squares = 0, blockSquares = 0;
  std::size_t silentRun = 0, longestRun = 0, firstSound = frames;
  for (std::size_t f = 0; f < frames; ++f) {
    for (const auto& channel : channels) {
      const double v = channel[f];
      mix[f] += float(v / double(channels.size()));
      squares += v * v;
      blockSquares += v * v;
      result.peak = std::max(result.peak, std::abs(v));
      if (std::abs(v) >= 0.001 && firstSound == frames)
        firstSound = f;
    }
    if ((f + 1) % block == 0 || f + 1 == frames) {
      const std::size_t n = f % block + 1;
      const bool silent = std::sqrt(blockSquares / double(n * channels.size())) < silenceThreshold;
      silentRun = silent ? silentRun + n : 0;
      longestRun = std::max(longestRun, silentRun);
      blockSquares = 0;
    }
  }
  const double rate = result.sampleRate;
  result.durationSeconds = double(frames) / rate;
  result.rms = std::sqrt(squares / double(frames * channels.size()));
  result.longestSilenceSeconds = double(longestRun) / rate;
  result.leadingSilenceSeconds = double(firstSound) / rate;
  result.dominantFrequencyHz = DominantFrequency(mix, result.sampleRate);
  for (const auto& channel : channels) {
    result.channelFrequencyHz.push_back(DominantFrequency(channel, result.sampleRate));
    double middle = 0;
    for (std::size_t i = frames / 4; i < frames - frames / 4; ++i)
      middle += channel[i] * channel[i];
    const double rms = std::sqrt(middle / double(frames - frames / 2));
    result.channelLevelDb.push_back(20 * std::log10(std::max(rms, 1e-10)));
  }
  return result;
}

double HeaderDurationSeconds(const std::string& path) {
  std::vector<std::uint8_t> head(1 << 16);
  std::ifstream file(path, std::ios::binary);
  file.read(reinterpret_cast<char*>(head.data()), std::streamsize(head.size()));
  head.resize(std::size_t(file.gcount()));
  double seconds = -1;
  std::uint32_t byteRate = 0;
  // A WAV: the data chunk's size over the byte rate.
  const bool wav = riff::WalkWavChunks(head.data(), head.size(), [&](const riff::Chunk& c) {
    if (c.Is("fmt ") && c.offset + 20 <= head.size())
      byteRate = riff::ReadLe32(head.data() + c.offset + 16);
    if (c.Is("data") && byteRate > 0)
      seconds = double(c.size) / byteRate;
    return !c.Is("data");
  });
  if (wav)
    return seconds;
  // An MP3: the frame count of the Xing or Info tag of its first frame, after any ID3 tag.
  std::size_t pos = 0;
  if (head.size() >= 10 && std::memcmp(head.data(), "ID3", 3) == 0)
    pos = 10 + std::size_t(head[6] << 21 | head[7] << 14 | head[8] << 7 | head[9]);
  while (pos + 4 <= head.size() && !sink::ParseMp3FrameHeader(head.data() + pos)) ++pos;
  if (pos + 4 > head.size())
    return -1;
  const auto frame = *sink::ParseMp3FrameHeader(head.data() + pos);
  const std::size_t tag = pos + 4 + frame.sideInfoBytes;
  if (tag + 12 > head.size() || (std::memcmp(head.data() + tag, "Xing", 4) != 0 &&
                                 std::memcmp(head.data() + tag, "Info", 4) != 0))
    return -1;
  if ((head[tag + 7] & 1u) == 0)  // no frame count
    return -1;
  const auto frames = std::uint32_t(head[tag + 8] << 24 | head[tag + 9] << 16 |
                                    head[tag + 10] << 8 | head[tag + 11]);
  return double(frames) * frame.samplesPerFrame / frame.sampleRate;
}

AudioAnalysis ExpectTone(const std::string& path, double seconds, double tolerance, double hz,
                         bool finished) {
  SCOPED_TRACE(path);
  const AudioAnalysis audio = AnalyzeAudioFile(path);
  EXPECT_TRUE(audio.ok) << audio.error;
  if (!audio.ok)
    return audio;
  EXPECT_NEAR(audio.durationSeconds, seconds, tolerance);
  EXPECT_NEAR(audio.dominantFrequencyHz, hz, 15.0);
  EXPECT_LT(audio.longestSilenceSeconds, 0.2);
  EXPECT_NEAR(HeaderDurationSeconds(path), finished ? audio.durationSeconds : -1, 0.1);
  return audio;
}

}  // namespace tonvale::testing
