#include "sink/wav_header.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

using tonvale::sink::ClampOversizedWavHeader;

constexpr std::uint64_t k4GiB = 1ull << 32;

void PutLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void PutTag(std::vector<std::uint8_t>& out, const char* tag) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(tag[i]));
}

// A header as wavenc writes it at the end: sizes modulo 2^32. With `fact`, the extensible
// float layout (fmt 40 bytes, fact chunk) moves the data chunk further in.
std::vector<std::uint8_t> Header(std::uint64_t streamBytes, bool withFact) {
  std::vector<std::uint8_t> h;
  PutTag(h, "RIFF");
  PutLe32(h, static_cast<std::uint32_t>(streamBytes - 8));
  PutTag(h, "WAVE");
  PutTag(h, "fmt ");
  const std::uint32_t fmtSize = withFact ? 40 : 16;
  PutLe32(h, fmtSize);
  h.insert(h.end(), fmtSize, 0);
  if (withFact) {
    PutTag(h, "fact");
    PutLe32(h, 4);
    PutLe32(h, 0);
  }
  PutTag(h, "data");
  const std::size_t dataStart = h.size() + 4;
  PutLe32(h, static_cast<std::uint32_t>(streamBytes - dataStart));
  return h;
}

std::uint32_t Le32At(const std::vector<std::uint8_t>& h, std::size_t pos) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | h[pos + static_cast<std::size_t>(i)];
  return v;
}

std::size_t DataSizePos(const std::vector<std::uint8_t>& h) {
  return h.size() - 4;
}

TEST(WavHeaderClamp, SizesThatOverflowBecomeTheMaximumAndOthersStay) {
  struct Case {
    std::string name;
    std::uint64_t streamBytes;
    bool withFact;
    bool changed;
    bool riffClamped;
    bool dataClamped;
  };
  const std::vector<Case> cases = {
      {"small pcm", 1'000'044, false, false, false, false},
      {"exactly 4 GiB riff", k4GiB - 1 + 8, false, false, false, false},
      {"riff overflows, data fits", k4GiB + 20, false, true, true, false},
      {"both overflow", 4'613'734'492ull, false, true, true, true},
      {"both overflow, extensible with fact", 4'613'734'492ull, true, true, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> h = Header(c.streamBytes, c.withFact);
    const std::vector<std::uint8_t> before = h;
    EXPECT_EQ(ClampOversizedWavHeader(h.data(), h.size(), c.streamBytes), c.changed);
    EXPECT_EQ(Le32At(h, 4), c.riffClamped ? 0xFFFFFFFFu : Le32At(before, 4));
    EXPECT_EQ(Le32At(h, DataSizePos(h)),
              c.dataClamped ? 0xFFFFFFFFu : Le32At(before, DataSizePos(before)));
    // Nothing but the two size fields may change.
    for (std::size_t i = 0; i < h.size(); ++i) {
      if ((i >= 4 && i < 8) || i >= DataSizePos(h))
        continue;
      ASSERT_EQ(h[i], before[i]) << "byte " << i;
    }
  }
}

TEST(WavHeaderClamp, LeavesAnythingButARiffHeaderAlone) {
  std::vector<std::uint8_t> notWav(64, 0xAB);
  std::memcpy(notWav.data(), "RF64", 4);
  const std::vector<std::uint8_t> before = notWav;
  EXPECT_FALSE(ClampOversizedWavHeader(notWav.data(), notWav.size(), 5 * k4GiB));
  EXPECT_EQ(notWav, before);

  // A truncated header (no data chunk inside the buffer) only gets the RIFF size fixed.
  std::vector<std::uint8_t> cut = Header(5 * k4GiB, false);
  cut.resize(30);
  EXPECT_TRUE(ClampOversizedWavHeader(cut.data(), cut.size(), 5 * k4GiB));
  EXPECT_EQ(Le32At(cut, 4), 0xFFFFFFFFu);
}

}  // namespace
