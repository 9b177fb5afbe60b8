#pragma once

// WAV headers as bytes, for the tests of the code that reads and mends them.

#include <cstdint>
#include <vector>

namespace tonvale::testing {

inline void PutLe(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// The RIFF header, fmt chunk (extensible: of 40 bytes, then a fact chunk) and data chunk header
// of 16-bit stereo at 44.1 kHz, stating these sizes; the samples follow.
inline std::vector<std::uint8_t> WavHeader(std::uint32_t riffSize, std::uint32_t dataSize,
                                           bool extensible = false) {
  std::vector<std::uint8_t> h;
  // Byte by byte: GCC 12 takes a four-byte range insert for an overflow.
  const auto tag = [&h](const char* t) {
    for (int i = 0; i < 4; ++i) h.push_back(static_cast<std::uint8_t>(t[i]));
  };
  tag("RIFF");
  PutLe(h, riffSize);
  tag("WAVE");
  tag("fmt ");
  PutLe(h, extensible ? 40 : 16);
  PutLe(h, 2 << 16 | (extensible ? 0xFFFE : 1));  // format, channels
  PutLe(h, 44100);
  PutLe(h, 44100 * 4);     // bytes a second
  PutLe(h, 16 << 16 | 4);  // block align, bits
  if (extensible) {
    h.insert(h.end(), 24, 0);
    tag("fact");
    PutLe(h, 4);
    PutLe(h, 0);
  }
  tag("data");
  PutLe(h, dataSize);
  return h;
}

}  // namespace tonvale::testing
