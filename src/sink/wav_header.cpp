#include "sink/wav_header.h"

#include <cstring>
#include <limits>

namespace tonvale::sink {

namespace {

constexpr std::uint64_t kMax32 = std::numeric_limits<std::uint32_t>::max();

std::uint32_t ReadLe32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void WriteLe32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

bool ClampOversizedWavHeader(std::uint8_t* header, std::size_t size, std::uint64_t streamBytes) {
  if (size < 12 || std::memcmp(header, "RIFF", 4) != 0 || std::memcmp(header + 8, "WAVE", 4) != 0)
    return false;
  bool changed = false;
  if (streamBytes > kMax32 + 8) {
    WriteLe32(header + 4, static_cast<std::uint32_t>(kMax32));
    changed = true;
  }
  // Walk the chunks up to the data chunk's header.
  std::size_t pos = 12;
  while (pos + 8 <= size) {
    if (std::memcmp(header + pos, "data", 4) == 0) {
      std::uint64_t payload = streamBytes > pos + 8 ? streamBytes - (pos + 8) : 0;
      if (payload > kMax32) {
        WriteLe32(header + pos + 4, static_cast<std::uint32_t>(kMax32));
        changed = true;
      }
      break;
    }
    std::uint64_t chunk = ReadLe32(header + pos + 4);
    pos += 8 + static_cast<std::size_t>(chunk + (chunk & 1));
  }
  return changed;
}

}  // namespace tonvale::sink
