#include "sink/wav_header.h"

#include <limits>

#include "platform/riff.h"

namespace tonvale::sink {

namespace riff = platform::riff;

bool ClampOversizedWavHeader(std::uint8_t* header, std::size_t size, std::uint64_t streamBytes) {
  constexpr std::uint64_t kMax32 = std::numeric_limits<std::uint32_t>::max();
  bool changed = false;
  const bool wav = riff::WalkWavChunks(header, size, [&](const riff::Chunk& chunk) {
    if (!chunk.Is("data"))
      return true;
    const std::uint64_t payload =
        streamBytes > chunk.offset + 8 ? streamBytes - (chunk.offset + 8) : 0;
    if (payload > kMax32) {
      riff::WriteLe32(header + chunk.offset + 4, static_cast<std::uint32_t>(kMax32));
      changed = true;
    }
    return false;
  });
  if (wav && streamBytes > kMax32 + 8) {
    riff::WriteLe32(header + 4, static_cast<std::uint32_t>(kMax32));
    changed = true;
  }
  return changed;
}

}  // namespace tonvale::sink
