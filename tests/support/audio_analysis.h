#pragma once

// Decoding and measuring audio files in tests: length, pitch, level and gaps of whatever
// GStreamer can read (MP3, WAV, ...), and the length a file's header claims.

#include <string>
#include <vector>

namespace tonvale::testing {

struct AudioAnalysis {
  bool ok = false;
  std::string error;           // why decoding failed, when !ok
  double durationSeconds = 0;  // of the decoded samples
  int sampleRate = 0;
  int channels = 0;
  double dominantFrequencyHz = 0;  // strongest in the channel mix; 0 when silent
  double rms = 0;                  // over all samples of all channels, full scale = 1.0
  double peak = 0;                 // the largest sample magnitude
  // The longest run of 10 ms blocks whose RMS is below the silence threshold, and how long
  // the file holds nothing above -60 dBFS before its first sound.
  double longestSilenceSeconds = 0;
  double leadingSilenceSeconds = 0;
  // Per channel, over the middle half of the file (clear of how a stream starts and ends):
  // the strongest frequency and the RMS level in dBFS.
  std::vector<double> channelFrequencyHz;
  std::vector<double> channelLevelDb;
};

// Decodes the whole file in-process (calls gst_init when needed). A block counts as silent
// when its RMS is below silenceThreshold (0.001 is -60 dBFS).
AudioAnalysis AnalyzeAudioFile(const std::string& path, double silenceThreshold = 0.001);

// The duration the file's header states, in seconds: for a WAV the data chunk's size over
// the byte rate, for an MP3 the frame count of its Xing/Info tag. Negative when the file
// cannot be read or its header states no length.
double HeaderDurationSeconds(const std::string& path);

// The one check of a recording: it decodes, lasts `seconds` give or take `tolerance`, holds
// a tone of `hz` (within 15 Hz) with no gap over 0.2 s, and its header states the length it
// decodes to (no length, for a file that was never `finished`). Failures are test failures.
AudioAnalysis ExpectTone(const std::string& path, double seconds, double tolerance, double hz,
                         bool finished = true);

}  // namespace tonvale::testing
