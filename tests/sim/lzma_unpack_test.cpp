// Unpacking compressed downloads: the .lzma data a good encoder writes is taken, and a
// stream that does not agree with the announced sizes is refused.
#include "sim/lzma_unpack.h"

#include <gtest/gtest.h>
#include <lzma.h>

#include <string>
#include <vector>

namespace stb::sim {
namespace {

// .lzma data: properties (lc0 lp2), dictionary, size (or unknown), raw LZMA1 with or
// without an end marker.
std::vector<uint8_t> Pack(const std::vector<uint8_t>& plain, bool knownSize, bool endMarker) {
  lzma_options_lzma opt;
  lzma_lzma_preset(&opt, 6);
  opt.lc = 0;
  opt.lp = 2;
  opt.dict_size = 1 << 20;
  if (!endMarker) {
    opt.ext_flags = 0;
    opt.ext_size_low = static_cast<uint32_t>(plain.size());
    opt.ext_size_high = 0;
  }
  lzma_filter filters[2] = {{endMarker ? LZMA_FILTER_LZMA1 : LZMA_FILTER_LZMA1EXT, &opt},
                            {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream s = LZMA_STREAM_INIT;
  EXPECT_EQ(lzma_raw_encoder(&s, filters), LZMA_OK);
  std::vector<uint8_t> out(13 + plain.size() + plain.size() / 2 + 1024);
  s.next_in = plain.data();
  s.avail_in = plain.size();
  s.next_out = out.data() + 13;
  s.avail_out = out.size() - 13;
  lzma_ret r = LZMA_OK;
  while (r == LZMA_OK) r = lzma_code(&s, LZMA_FINISH);
  EXPECT_EQ(r, LZMA_STREAM_END);
  out.resize(13 + s.total_out);
  lzma_end(&s);
  out[0] = (2 * 5 + 2) * 9 + 0;
  for (int i = 0; i < 4; ++i) out[1 + i] = static_cast<uint8_t>(opt.dict_size >> (8 * i));
  const uint64_t size = knownSize ? plain.size() : UINT64_MAX;
  for (int i = 0; i < 8; ++i) out[5 + i] = static_cast<uint8_t>(size >> (8 * i));
  return out;
}

std::vector<uint8_t> Sample() {
  std::vector<uint8_t> plain(70000);
  for (size_t i = 0; i < plain.size(); ++i)
    plain[i] = static_cast<uint8_t>((i * 31) % 97 + i / 5000);
  return plain;
}

TEST(LzmaUnpack, TakesKnownAndUnknownSizes) {
  const std::vector<uint8_t> plain = Sample();
  for (auto [known, marker] : {std::pair{true, false}, {true, true}, {false, true}}) {
    std::vector<uint8_t> out;
    std::string why;
    ASSERT_TRUE(
        UnpackLzma(Pack(plain, known, marker), static_cast<uint32_t>(plain.size()), out, why))
        << known << marker << ": " << why;
    EXPECT_EQ(out, plain);
  }
}

TEST(LzmaUnpack, RefusesStreamsThatDisagreeWithTheAnnouncedSizes) {
  const std::vector<uint8_t> plain = Sample();
  const uint32_t size = static_cast<uint32_t>(plain.size());
  const std::vector<uint8_t> good = Pack(plain, true, false);
  std::vector<uint8_t> flipped = good;
  flipped[good.size() / 2] ^= 0x55;
  std::vector<uint8_t> trailing = good;
  trailing.push_back(0);
  struct Case {
    const char* what;
    std::vector<uint8_t> packed;
    uint32_t announced;
  } cases[] = {
      {"header size differs", good, size - 1},
      {"unknown size, stream longer than announced", Pack(plain, false, true), size - 10},
      {"unknown size, stream shorter than announced", Pack(plain, false, true), size + 10},
      {"truncated", std::vector<uint8_t>(good.begin(), good.end() - 20), size},
      {"corrupted", flipped, size},
      {"bytes behind the stream", trailing, size},
      {"no header", std::vector<uint8_t>(good.begin(), good.begin() + 12), size},
      {"garbage", std::vector<uint8_t>(500, 0xA7), size},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> out;
    std::string why;
    EXPECT_FALSE(UnpackLzma(c.packed, c.announced, out, why)) << c.what;
    EXPECT_FALSE(why.empty()) << c.what;
  }
}

}  // namespace
}  // namespace stb::sim
