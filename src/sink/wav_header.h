#pragma once

// Size fields of a RIFF/WAVE header for streams longer than 32 bits can count.

#include <cstddef>
#include <cstdint>

namespace tonvale::sink {

// wavenc writes the RIFF and data chunk sizes modulo 2^32, so a stream past 4 GiB gets a
// header that claims a few seconds. Given the header buffer it rewrites at the end and the
// stream's total length, sets each size that does not fit to 0xFFFFFFFF, which readers take
// as "up to the end of the file". Returns whether it changed anything.
bool ClampOversizedWavHeader(std::uint8_t* header, std::size_t size, std::uint64_t streamBytes);

}  // namespace tonvale::sink
