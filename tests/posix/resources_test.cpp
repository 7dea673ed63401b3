// The icon and busy cursor kept in ui/res are exactly what tools/gen/icongen draws
// today, and they are what the program's description asks for: a 32x32
// 16-colour clock with twelve red hour marks and blue hands, transparent
// around the face, and a 32x32 monochrome cursor with its hot spot on the bolt.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/support.h"
#include "tools/gen/icongen.h"

namespace {

// The source tree holds this file at tests/posix/; the images live beside the
// resource script.
std::string resourcePath(const char* name) {
  std::string self = __FILE__;
  std::string root = self.substr(0, self.size() - std::string("tests/posix/resources_test.cpp").size());
  return root + "ui/res/" + name;
}

std::vector<uint8_t> committed(const char* name) {
  std::string bytes = readFileBytes(resourcePath(name));
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

unsigned u16(const std::vector<uint8_t>& b, size_t at) { return b[at] | unsigned(b[at + 1]) << 8; }

uint32_t u32(const std::vector<uint8_t>& b, size_t at) { return u16(b, at) | uint32_t(u16(b, at + 2)) << 16; }

// Offsets in a one-image file: directory (6), entry (16), BITMAPINFOHEADER
// (40), palette, XOR bitmap, AND mask.
constexpr size_t kHeader = 22;

// Pixel access into the bottom-up bitmaps of a 32x32 image.
struct ImageView {
  const std::vector<uint8_t>& bytes;
  int bitCount;

  size_t xorStart() const { return kHeader + 40 + 4 * (size_t(1) << bitCount); }
  size_t andStart() const { return xorStart() + 32 * 32 * size_t(bitCount) / 8; }

  unsigned colour(int x, int y) const {
    size_t row = xorStart() + size_t(31 - y) * 32 * bitCount / 8;
    int perByte = 8 / bitCount;
    unsigned byte = bytes[row + size_t(x / perByte)];
    int shift = (perByte - 1 - x % perByte) * bitCount;
    return (byte >> shift) & ((1u << bitCount) - 1);
  }

  bool transparent(int x, int y) const {
    return (bytes[andStart() + size_t(31 - y) * 4 + size_t(x / 8)] >> (7 - x % 8)) & 1;
  }
};

TEST(ResourceImages, CommittedFilesAreWhatIcongenDraws) {
  EXPECT_TRUE(committed("kronsec.ico") == makeIconFile())
      << "ui/res/kronsec.ico is stale: run icongen ui/res";
  EXPECT_TRUE(committed("busy.cur") == makeCursorFile())
      << "ui/res/busy.cur is stale: run icongen ui/res";
}

TEST(ResourceImages, IconIsOne32x32SixteenColourImage) {
  std::vector<uint8_t> ico = makeIconFile();
  ASSERT_EQ(ico.size(), kHeader + 40 + 64 + 512 + 128);
  EXPECT_EQ(u16(ico, 0), 0u);
  EXPECT_EQ(u16(ico, 2), 1u);  // icon
  EXPECT_EQ(u16(ico, 4), 1u);  // one image
  EXPECT_EQ(ico[6], 32);
  EXPECT_EQ(ico[7], 32);
  EXPECT_EQ(ico[8], 16);        // colours
  EXPECT_EQ(u16(ico, 12), 4u);  // bits per pixel
  EXPECT_EQ(u32(ico, 14), ico.size() - kHeader);
  EXPECT_EQ(u32(ico, 18), kHeader);
  EXPECT_EQ(u32(ico, 22), 40u);
  EXPECT_EQ(u32(ico, 26), 32u);
  EXPECT_EQ(u32(ico, 30), 64u);  // XOR and AND bitmaps together
  EXPECT_EQ(u16(ico, 36), 4u);
}

TEST(ResourceImages, CursorIsMonochromeWithItsHotSpot) {
  std::vector<uint8_t> cur = makeCursorFile();
  ASSERT_EQ(cur.size(), kHeader + 40 + 8 + 128 + 128);
  EXPECT_EQ(u16(cur, 2), 2u);  // cursor
  EXPECT_EQ(u16(cur, 4), 1u);
  EXPECT_EQ(cur[6], 32);
  EXPECT_EQ(cur[7], 32);
  EXPECT_EQ(u16(cur, 10), 17u);
  EXPECT_EQ(u16(cur, 12), 13u);
  EXPECT_EQ(u32(cur, 26), 32u);
  EXPECT_EQ(u32(cur, 30), 64u);
  EXPECT_EQ(u16(cur, 36), 1u);  // one bit per pixel
  ImageView view{cur, 1};
  EXPECT_FALSE(view.transparent(17, 13)) << "the hot spot lies on the bolt";
  EXPECT_TRUE(view.transparent(0, 0));
}

// Counts the 8-connected areas of one colour.
int countAreas(const ImageView& view, unsigned colour) {
  bool seen[32][32] = {};
  int areas = 0;
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      if (seen[y][x] || view.transparent(x, y) || view.colour(x, y) != colour) continue;
      ++areas;
      std::vector<std::pair<int, int>> stack{{x, y}};
      seen[y][x] = true;
      while (!stack.empty()) {
        auto [px, py] = stack.back();
        stack.pop_back();
        for (int dy = -1; dy <= 1; ++dy) {
          for (int dx = -1; dx <= 1; ++dx) {
            int nx = px + dx, ny = py + dy;
            if (nx < 0 || ny < 0 || nx > 31 || ny > 31 || seen[ny][nx]) continue;
            if (view.transparent(nx, ny) || view.colour(nx, ny) != colour) continue;
            seen[ny][nx] = true;
            stack.push_back({nx, ny});
          }
        }
      }
    }
  }
  return areas;
}

TEST(ResourceImages, IconShowsAClock) {
  std::vector<uint8_t> ico = makeIconFile();
  ImageView view{ico, 4};
  const unsigned lightGrey = 7, red = 9, darkBlue = 4, blue = 12;
  EXPECT_TRUE(view.transparent(0, 0));
  EXPECT_TRUE(view.transparent(31, 31));
  EXPECT_FALSE(view.transparent(16, 0));  // the rim touches the edge
  EXPECT_EQ(view.colour(16, 22), lightGrey);
  EXPECT_EQ(countAreas(view, red), 12);
  EXPECT_GT(countAreas(view, darkBlue) + countAreas(view, blue), 0);
  // Palette entries: light grey, red and blue as the standard 16 colours.
  size_t palette = kHeader + 40;
  EXPECT_EQ(u32(ico, palette + 4 * lightGrey), 0x00C0C0C0u);
  EXPECT_EQ(u32(ico, palette + 4 * red), 0x00FF0000u);
  EXPECT_EQ(u32(ico, palette + 4 * blue), 0x000000FFu);
}

}  // namespace
