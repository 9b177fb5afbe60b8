#pragma once

// The chunks of a RIFF/WAVE file's header, as the program's start-up repair of an
// unfinished WAV and the sink's size clamp both read them. Header-only, plain C++.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tonvale::platform::riff {

inline std::uint16_t ReadLe16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

inline std::uint32_t ReadLe32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

inline void WriteLe32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

struct Chunk {
  std::size_t offset;  // of the chunk's id in the buffer; its payload starts 8 bytes later
  const std::uint8_t* id;
  std::uint32_t size;  // as the header states it
  bool Is(const char* name) const { return std::memcmp(id, name, 4) == 0; }
};

// Calls visit(chunk) for every chunk whose 8-byte header lies within the first `size`
// bytes of a RIFF/WAVE file, in order, until visit returns false. False when the bytes do
// not start a RIFF/WAVE file.
template <typename Visit>
bool WalkWavChunks(const std::uint8_t* data, std::size_t size, Visit visit) {
  if (size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WAVE", 4) != 0)
    return false;
  std::size_t pos = 12;
  while (pos + 8 <= size) {
    const Chunk chunk{pos, data + pos, ReadLe32(data + pos + 4)};
    if (!visit(chunk))
      break;
    // Chunks are padded to an even length.
    pos += 8 + static_cast<std::size_t>(chunk.size) + (chunk.size & 1u);
  }
  return true;
}

}  // namespace tonvale::platform::riff
