#include "sink/wav_header.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "wav_bytes.h"

namespace {

using tonvale::sink::ClampOversizedWavHeader;
using tonvale::testing::WavHeader;

constexpr std::uint64_t k4GiB = 1ull << 32;

// The header wavenc writes at the end of a stream of `streamBytes`: sizes modulo 2^32.
std::vector<std::uint8_t> Header(std::uint64_t streamBytes, bool extensible) {
  const std::size_t dataStart = WavHeader({.extensible = extensible}).size();
  return WavHeader({.riffSize = static_cast<std::uint32_t>(streamBytes - 8),
                    .dataSize = static_cast<std::uint32_t>(streamBytes - dataStart),
                    .extensible = extensible});
}

// Only a RIFF header's sizes that overflow become 0xFFFFFFFF; no other byte changes. A header
// cut short of its data chunk gets only the RIFF size fixed.
TEST(WavHeaderClamp, SizesThatOverflowBecomeTheMaximumAndNothingElseChanges) {
  struct Case {
    const char* name;
    std::uint64_t streamBytes;
    bool extensible = false;
    std::size_t cutTo = 0;  // 0: the whole header
    const char* tag = "RIFF";
    bool riffClamped = false, dataClamped = false;
  };
  for (const Case& c :
       {Case{"small pcm", 1'000'044}, Case{"exactly 4 GiB riff", k4GiB - 1 + 8},
        Case{"riff overflows, data fits", k4GiB + 20, false, 0, "RIFF", true},
        Case{"both overflow", 4'613'734'492ull, false, 0, "RIFF", true, true},
        Case{"both overflow, extensible", 4'613'734'492ull, true, 0, "RIFF", true, true},
        Case{"no data chunk in the buffer", 5 * k4GiB, false, 30, "RIFF", true},
        Case{"not RIFF", 5 * k4GiB, false, 0, "RF64"}}) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> h = Header(c.streamBytes, c.extensible);
    if (c.cutTo != 0)
      h.resize(c.cutTo);
    std::memcpy(h.data(), c.tag, 4);
    std::vector<std::uint8_t> expected = h;
    if (c.riffClamped)
      std::fill_n(expected.begin() + 4, 4, 0xFF);
    if (c.dataClamped)
      std::fill_n(expected.end() - 4, 4, 0xFF);
    EXPECT_EQ(ClampOversizedWavHeader(h.data(), h.size(), c.streamBytes),
              c.riffClamped || c.dataClamped);
    EXPECT_EQ(h, expected);
  }
}

}  // namespace
