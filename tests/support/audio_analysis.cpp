#include "audio_analysis.h"

#include <gtest/gtest.h>

#include <gst/app/gstappsink.h>
#include <gst/audio/audio.h>
#include <gst/gst.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <numbers>
#include <vector>

namespace tonvale::testing {

namespace {

constexpr int kBlocksPerSecond = 100;
constexpr std::size_t kMaxDftWindow = 1u << 16;
constexpr GstClockTime kDecodeTimeout = 120 * GST_SECOND;

void EnsureGstreamer() {
  if (!gst_is_initialized())
    gst_init(nullptr, nullptr);
}

// In-place radix-2 FFT; data.size() must be a power of two.
void Fft(std::vector<std::complex<double>>& data) {
  const std::size_t n = data.size();
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; (j & bit) != 0; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j)
      std::swap(data[i], data[j]);
  }
  for (std::size_t len = 2; len <= n; len <<= 1) {
    const double angle = -2.0 * std::numbers::pi / static_cast<double>(len);
    const std::complex<double> step(std::cos(angle), std::sin(angle));
    for (std::size_t i = 0; i < n; i += len) {
      std::complex<double> w(1.0);
      for (std::size_t k = 0; k < len / 2; ++k) {
        const std::complex<double> u = data[i + k];
        const std::complex<double> v = data[i + k + len / 2] * w;
        data[i + k] = u + v;
        data[i + k + len / 2] = u - v;
        w *= step;
      }
    }
  }
}

// Peak of a Hann-windowed DFT over the middle of the signal, refined by a parabola through
// the log magnitudes of the peak bin and its neighbours.
double DominantFrequency(const std::vector<float>& mono, int rate) {
  std::size_t n = 1;
  while (n * 2 <= std::min(mono.size(), kMaxDftWindow)) n *= 2;
  if (n < 64 || rate <= 0)
    return 0;
  const std::size_t start = (mono.size() - n) / 2;
  std::vector<std::complex<double>> data(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double hann = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) /
                                             static_cast<double>(n - 1));
    data[i] = mono[start + i] * hann;
  }
  Fft(data);
  std::size_t peak = 1;
  for (std::size_t k = 2; k < n / 2; ++k) {
    if (std::abs(data[k]) > std::abs(data[peak]))
      peak = k;
  }
  const double magnitude = std::abs(data[peak]);
  if (magnitude < 1e-9)
    return 0;
  double offset = 0;
  if (peak + 1 < n / 2) {
    const double a = std::log(std::abs(data[peak - 1]) + 1e-12);
    const double b = std::log(magnitude + 1e-12);
    const double c = std::log(std::abs(data[peak + 1]) + 1e-12);
    const double denominator = a - 2 * b + c;
    if (denominator != 0)
      offset = 0.5 * (a - c) / denominator;
  }
  return (static_cast<double>(peak) + offset) * rate / static_cast<double>(n);
}

std::string BusError(GstElement* pipeline) {
  GstBus* bus = gst_element_get_bus(pipeline);
  std::string text;
  while (GstMessage* message = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR)) {
    GError* error = nullptr;
    gst_message_parse_error(message, &error, nullptr);
    if (text.empty())
      text = error->message;
    g_error_free(error);
    gst_message_unref(message);
  }
  gst_object_unref(bus);
  return text;
}

std::vector<unsigned char> ReadHead(const std::string& path, std::size_t bytes) {
  std::ifstream file(path, std::ios::binary);
  std::vector<unsigned char> data(bytes);
  file.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(bytes));
  data.resize(static_cast<std::size_t>(file.gcount()));
  return data;
}

std::uint32_t Le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint64_t Le64(const unsigned char* p) {
  return Le32(p) | static_cast<std::uint64_t>(Le32(p + 4)) << 32;
}

std::uint32_t Be32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}

double WavHeaderDuration(const std::vector<unsigned char>& head) {
  const bool rf64 = std::memcmp(head.data(), "RF64", 4) == 0;
  std::uint64_t byteRate = 0;
  std::uint64_t rf64DataSize = 0;
  std::size_t pos = 12;
  while (pos + 8 <= head.size()) {
    const unsigned char* chunk = head.data() + pos;
    const std::uint32_t size = Le32(chunk + 4);
    if (std::memcmp(chunk, "ds64", 4) == 0 && pos + 8 + 16 <= head.size()) {
      rf64DataSize = Le64(chunk + 8 + 8);
    } else if (std::memcmp(chunk, "fmt ", 4) == 0 && pos + 8 + 12 <= head.size()) {
      byteRate = Le32(chunk + 8 + 8);
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      if (byteRate == 0)
        return -1;
      const std::uint64_t dataSize = rf64 && size == 0xFFFFFFFFu ? rf64DataSize : size;
      return static_cast<double>(dataSize) / static_cast<double>(byteRate);
    }
    pos += 8 + size + (size & 1u);
  }
  return -1;
}

double Mp3HeaderDuration(const std::vector<unsigned char>& head) {
  std::size_t pos = 0;
  if (head.size() >= 10 && std::memcmp(head.data(), "ID3", 3) == 0) {
    pos = 10 + (static_cast<std::size_t>(head[6] & 0x7F) << 21 |
                static_cast<std::size_t>(head[7] & 0x7F) << 14 |
                static_cast<std::size_t>(head[8] & 0x7F) << 7 | (head[9] & 0x7F));
  }
  for (; pos + 4 <= head.size(); ++pos) {
    if (head[pos] == 0xFF && (head[pos + 1] & 0xE0) == 0xE0)
      break;
  }
  if (pos + 4 > head.size())
    return -1;
  const unsigned char* frame = head.data() + pos;
  const int version = (frame[1] >> 3) & 3;  // 3 = MPEG-1, 2 = MPEG-2, 0 = MPEG-2.5
  const int layer = (frame[1] >> 1) & 3;    // 1 = Layer III
  const int rateIndex = (frame[2] >> 2) & 3;
  const bool mono = ((frame[3] >> 6) & 3) == 3;
  if (version == 1 || layer != 1 || rateIndex == 3)
    return -1;
  static constexpr int kRates[] = {44100, 48000, 32000};
  const int rate = kRates[rateIndex] / (version == 3 ? 1 : version == 2 ? 2 : 4);
  const int samplesPerFrame = version == 3 ? 1152 : 576;
  const std::size_t sideInfo = version == 3 ? (mono ? 17 : 32) : (mono ? 9 : 17);
  std::uint32_t frames = 0;
  const std::size_t xing = pos + 4 + sideInfo;
  const std::size_t vbri = pos + 4 + 32;
  if (xing + 12 <= head.size() && (std::memcmp(head.data() + xing, "Xing", 4) == 0 ||
                                   std::memcmp(head.data() + xing, "Info", 4) == 0)) {
    if ((Be32(head.data() + xing + 4) & 1u) == 0)
      return -1;
    frames = Be32(head.data() + xing + 8);
  } else if (vbri + 18 <= head.size() && std::memcmp(head.data() + vbri, "VBRI", 4) == 0) {
    frames = Be32(head.data() + vbri + 14);
  } else {
    return -1;
  }
  return static_cast<double>(frames) * samplesPerFrame / rate;
}

}  // namespace

AudioAnalysis AnalyzeAudioFile(const std::string& path, double silenceThreshold) {
  EnsureGstreamer();
  AudioAnalysis result;
  GError* parseError = nullptr;
  GstElement* pipeline = gst_parse_launch(
      "filesrc name=source ! decodebin ! audioconvert ! "
      "audio/x-raw,format=F32LE,layout=interleaved ! appsink name=out sync=false",
      &parseError);
  if (pipeline == nullptr) {
    result.error = parseError != nullptr ? parseError->message : "cannot build the decoder";
    g_clear_error(&parseError);
    return result;
  }
  GstElement* source = gst_bin_get_by_name(GST_BIN(pipeline), "source");
  g_object_set(source, "location", path.c_str(), nullptr);
  gst_object_unref(source);
  GstElement* out = gst_bin_get_by_name(GST_BIN(pipeline), "out");
  GstAppSink* sink = GST_APP_SINK(out);

  std::vector<float> mono;
  std::vector<std::vector<float>> perChannel;
  bool heard = false;
  double sumSquares = 0;
  std::uint64_t frames = 0;
  std::uint64_t blockFrames = 0;
  double blockSquares = 0;
  std::uint64_t silentRun = 0;
  std::uint64_t longestRun = 0;
  auto closeBlock = [&] {
    const double blockRms = std::sqrt(
        blockSquares / static_cast<double>(blockFrames * static_cast<unsigned>(result.channels)));
    silentRun = blockRms < silenceThreshold ? silentRun + blockFrames : 0;
    longestRun = std::max(longestRun, silentRun);
    blockFrames = 0;
    blockSquares = 0;
  };

  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  GstClockTime waited = 0;
  while (waited < kDecodeTimeout) {
    GstSample* sample = gst_app_sink_try_pull_sample(sink, 100 * GST_MSECOND);
    if (sample == nullptr) {
      if (gst_app_sink_is_eos(sink)) {
        result.ok = true;
        break;
      }
      result.error = BusError(pipeline);
      if (!result.error.empty())
        break;
      waited += 100 * GST_MSECOND;
      continue;
    }
    GstAudioInfo info;
    if (result.channels == 0 && gst_audio_info_from_caps(&info, gst_sample_get_caps(sample))) {
      result.sampleRate = GST_AUDIO_INFO_RATE(&info);
      result.channels = GST_AUDIO_INFO_CHANNELS(&info);
      perChannel.resize(static_cast<std::size_t>(result.channels));
    }
    GstMapInfo map;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (result.channels > 0 && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
      const auto* samples = reinterpret_cast<const float*>(map.data);
      const std::size_t count = map.size / sizeof(float) / static_cast<unsigned>(result.channels);
      const auto blockSize = static_cast<std::uint64_t>(result.sampleRate / kBlocksPerSecond);
      for (std::size_t f = 0; f < count; ++f) {
        double mix = 0;
        for (int c = 0; c < result.channels; ++c) {
          const double v = samples[f * static_cast<unsigned>(result.channels) + c];
          perChannel[static_cast<std::size_t>(c)].push_back(static_cast<float>(v));
          if (std::abs(v) >= 0.001 && !heard) {
            heard = true;
            result.leadingSilenceSeconds = static_cast<double>(frames + f) / result.sampleRate;
          }
          result.peak = std::max(result.peak, std::abs(v));
          mix += v;
          sumSquares += v * v;
          blockSquares += v * v;
        }
        mono.push_back(static_cast<float>(mix / result.channels));
        if (++blockFrames == blockSize)
          closeBlock();
      }
      frames += count;
      gst_buffer_unmap(buffer, &map);
    }
    gst_sample_unref(sample);
  }
  if (!result.ok && result.error.empty())
    result.error = "decoding timed out";
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(out);
  gst_object_unref(pipeline);
  if (!result.ok)
    return result;
  if (blockFrames > 0)
    closeBlock();
  if (result.sampleRate <= 0 || frames == 0) {
    result.ok = false;
    result.error = "no audio decoded";
    return result;
  }
  result.durationSeconds = static_cast<double>(frames) / result.sampleRate;
  result.rms =
      std::sqrt(sumSquares / static_cast<double>(frames * static_cast<unsigned>(result.channels)));
  result.longestSilenceSeconds = static_cast<double>(longestRun) / result.sampleRate;
  result.dominantFrequencyHz = DominantFrequency(mono, result.sampleRate);
  for (const auto& channel : perChannel) {
    result.channelFrequencyHz.push_back(DominantFrequency(channel, result.sampleRate));
    const std::size_t from = channel.size() / 4;
    const std::size_t to = channel.size() - channel.size() / 4;
    double squares = 0;
    for (std::size_t i = from; i < to; ++i) squares += static_cast<double>(channel[i]) * channel[i];
    const double rms = to > from ? std::sqrt(squares / static_cast<double>(to - from)) : 0;
    result.channelLevelDb.push_back(20 * std::log10(std::max(rms, 1e-10)));
  }
  return result;
}

double HeaderDurationSeconds(const std::string& path) {
  const std::vector<unsigned char> head = ReadHead(path, 1 << 16);
  if (head.size() < 12)
    return -1;
  if ((std::memcmp(head.data(), "RIFF", 4) == 0 || std::memcmp(head.data(), "RF64", 4) == 0) &&
      std::memcmp(head.data() + 8, "WAVE", 4) == 0) {
    return WavHeaderDuration(head);
  }
  return Mp3HeaderDuration(head);
}

AudioAnalysis ExpectTone(const std::string& path, double seconds, double tolerance, double hz) {
  SCOPED_TRACE(path);
  const AudioAnalysis audio = AnalyzeAudioFile(path);
  EXPECT_TRUE(audio.ok) << audio.error;
  if (!audio.ok)
    return audio;
  EXPECT_NEAR(audio.durationSeconds, seconds, tolerance);
  EXPECT_NEAR(audio.dominantFrequencyHz, hz, 15.0);
  EXPECT_LT(audio.longestSilenceSeconds, 0.2);
  EXPECT_NEAR(HeaderDurationSeconds(path), audio.durationSeconds, 0.1);
  return audio;
}

}  // namespace tonvale::testing
