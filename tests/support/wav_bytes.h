#pragma once

// WAV headers as bytes, for the tests of the code that reads and mends them.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tonvale::testing {

struct WavLayout {
  std::uint32_t riffSize = 0;
  std::uint32_t dataSize = 0;
  std::uint16_t channels = 2;
  std::uint32_t rate = 44100;
  std::uint16_t bits = 16;
  bool extensible = false;  // a 40-byte fmt chunk and a fact chunk before the data
};

inline void PutLe(std::vector<std::uint8_t>& out, std::uint32_t v, int bytes = 4) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// RIFF header, fmt (and fact) chunks and the data chunk's header; the samples follow.
inline std::vector<std::uint8_t> WavHeader(const WavLayout& w) {
  std::vector<std::uint8_t> h;
  // Byte by byte: GCC 12 takes a four-byte range insert for an overflow.
  const auto tag = [&h](const char* t) {
    for (int i = 0; i < 4; ++i) h.push_back(static_cast<std::uint8_t>(t[i]));
  };
  tag("RIFF");
  PutLe(h, w.riffSize);
  tag("WAVE");
  tag("fmt ");
  PutLe(h, w.extensible ? 40 : 16);
  const std::uint16_t align = static_cast<std::uint16_t>(w.channels * w.bits / 8);
  PutLe(h, w.extensible ? 0xFFFE : 1, 2);
  PutLe(h, w.channels, 2);
  PutLe(h, w.rate);
  PutLe(h, w.rate * align);
  PutLe(h, align, 2);
  PutLe(h, w.bits, 2);
  if (w.extensible) {
    h.insert(h.end(), 24, 0);
    tag("fact");
    PutLe(h, 4);
    PutLe(h, 0);
  }
  tag("data");
  PutLe(h, w.dataSize);
  return h;
}

inline std::uint32_t Le32At(const std::vector<std::uint8_t>& b, std::size_t pos) {
  return static_cast<std::uint32_t>(b[pos]) | static_cast<std::uint32_t>(b[pos + 1]) << 8 |
         static_cast<std::uint32_t>(b[pos + 2]) << 16 |
         static_cast<std::uint32_t>(b[pos + 3]) << 24;
}

}  // namespace tonvale::testing
