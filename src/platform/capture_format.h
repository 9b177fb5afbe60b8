#pragma once

// The format a capture source delivers and the format a recording keeps of it.
//
// A recording keeps the source's channels and rate as far as MP3 allows: mono stays mono,
// stereo stays stereo, more channels are mixed down to stereo by the program itself with the
// fixed coefficients of DownmixCoefficients (never by the sound server, whose mixing differs
// between PulseAudio and PipeWire), and the rate is the source's own when MP3 has it, else
// the nearest MP3 rate.

#include <array>
#include <string>
#include <vector>

namespace tonvale::platform {

// Where a channel is meant to be heard.
enum class Speaker {
  Mono,
  FrontLeft,
  FrontRight,
  FrontCenter,
  Lfe,
  RearLeft,
  RearRight,
  RearCenter,
  SideLeft,
  SideRight,
  FrontLeftOfCenter,
  FrontRightOfCenter,
  TopCenter,
  TopFrontLeft,
  TopFrontRight,
  TopFrontCenter,
  TopRearLeft,
  TopRearRight,
  TopRearCenter,
  Other,  // an auxiliary channel with no place
};

struct CaptureFormat {
  int channels = 0;               // 0: not known
  int rate = 0;                   // Hz; 0: not known
  std::vector<Speaker> speakers;  // one per channel, in the source's order; may be empty
};

// The source to record and what it delivers.
struct CaptureSource {
  std::string name;  // "" is the server's default source
  CaptureFormat format;
};

inline constexpr std::array<int, 9> kMp3SampleRates = {8000,  11025, 12000, 16000, 22050,
                                                       24000, 32000, 44100, 48000};
// Assumed when the source does not say: the sound server's usual default.
inline constexpr int kDefaultCaptureRate = 44100;
inline constexpr int kDefaultCaptureChannels = 2;

// The MP3 rate nearest to `rate` (the higher one on a tie); 44100 when it is not known.
int RecordedSampleRate(int rate);
// 1 for a mono source, 2 for anything else (an unknown count included).
int RecordedChannels(int channels);

// How much of each source channel goes into the left and the right channel of a stereo
// recording, by where the channel is heard: front left/right 1 to its side; centre channels
// 0.7071 (-3 dB) to both; rear, side and top-rear channels 0.7071 to their side; the LFE
// nothing; a channel with no place 0.5 to both. Each output's weights are then scaled down
// so that they sum to at most 1: the mix is never louder than the loudest source channel
// and never clips what the source did not clip.
std::vector<std::array<double, 2>> DownmixCoefficients(const std::vector<Speaker>& speakers);

}  // namespace tonvale::platform
