// Draws icon 100 (a clock) and cursor 100 (a lightning bolt) pixel by pixel and
// writes them in the .ico and .cur formats. The images are code rather than
// binary blobs so that a change to them is a reviewable diff; the files in
// ui/res are this program's output and a test keeps the two in step.
//
//   icongen <directory>    writes <directory>/kronsec.ico and busy.cur
#include "tools/gen/icongen.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace {

constexpr int kSide = 32;

// The 16 colours of the standard VGA palette in the order Windows' 16-colour
// images use them, as (red, green, blue).
const uint8_t kPalette16[16][3] = {
    {0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
    {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
    {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
    {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};

enum Colour : uint8_t {
  kBlack = 0, kDarkBlue = 4, kLightGrey = 7, kDarkGrey = 8, kRed = 9,
  kBlue = 12, kWhite = 15
};

// One 32x32 image, top row first: a palette index and a transparency bit per
// pixel. Transparent pixels keep index 0 so that the AND/XOR pair shows the
// screen unchanged.
struct Image {
  uint8_t colour[kSide][kSide] = {};
  bool transparent[kSide][kSide] = {};
};

struct Point {
  double x, y;
};

double distanceToSegment(Point p, Point a, Point b) {
  double dx = b.x - a.x, dy = b.y - a.y;
  double lengthSquared = dx * dx + dy * dy;
  double t = lengthSquared > 0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / lengthSquared : 0;
  t = t < 0 ? 0 : (t > 1 ? 1 : t);
  return std::hypot(p.x - (a.x + t * dx), p.y - (a.y + t * dy));
}

// Even-odd rule on the pixel's centre.
bool insidePolygon(Point p, const Point* poly, int n) {
  bool inside = false;
  for (int i = 0, j = n - 1; i < n; j = i++) {
    if ((poly[i].y > p.y) != (poly[j].y > p.y) &&
        p.x < poly[j].x + (p.y - poly[j].y) * (poly[i].x - poly[j].x) /
                              (poly[i].y - poly[j].y)) {
      inside = !inside;
    }
  }
  return inside;
}

Point pixelCentre(int x, int y) { return {x + 0.5, y + 0.5}; }

// A point on the dial: `turn` is the fraction of a full turn clockwise from
// twelve o'clock, `radius` in pixels from the centre.
Point onDial(double turn, double radius) {
  const double pi = 3.14159265358979323846;
  return {16 + radius * std::sin(2 * pi * turn), 16 - radius * std::cos(2 * pi * turn)};
}

// Paints every pixel within halfWidth of the segment a-b.
void strokeSegment(Image& img, Point a, Point b, double halfWidth, uint8_t colour) {
  for (int y = 0; y < kSide; ++y) {
    for (int x = 0; x < kSide; ++x) {
      if (distanceToSegment(pixelCentre(x, y), a, b) <= halfWidth) {
        img.colour[y][x] = colour;
        img.transparent[y][x] = false;
      }
    }
  }
}

void drawFace(Image& img) {
  for (int y = 0; y < kSide; ++y) {
    for (int x = 0; x < kSide; ++x) {
      double d = std::hypot(x + 0.5 - 16, y + 0.5 - 16);
      img.transparent[y][x] = d > 15.6;
      img.colour[y][x] = d > 15.6 ? kBlack
                       : d > 14.4 ? kBlack
                       : d > 13.2 ? kDarkGrey
                                  : kLightGrey;
    }
  }
}

// Paints the 2x2 block of pixels around the pixel corner nearest to p.
void dot(Image& img, Point p, uint8_t colour) {
  int cx = int(std::lround(p.x)), cy = int(std::lround(p.y));
  for (int y = cy - 1; y <= cy; ++y) {
    for (int x = cx - 1; x <= cx; ++x) {
      img.colour[y][x] = colour;
      img.transparent[y][x] = false;
    }
  }
}

// Bars at the quarters, square dots at the other hours.
void drawHourMarks(Image& img) {
  for (int hour = 0; hour < 12; ++hour) {
    double turn = hour / 12.0;
    if (hour % 3 == 0) {
      strokeSegment(img, onDial(turn, 9.6), onDial(turn, 12.4), 0.9, kRed);
    } else {
      dot(img, onDial(turn, 11.3), kRed);
    }
  }
}

// Ten past ten: both hands clear of each other and of the marks.
void drawHands(Image& img) {
  Point centre{16, 16};
  strokeSegment(img, centre, onDial((10 + 10 / 60.0) / 12, 6.5), 1.1, kDarkBlue);
  strokeSegment(img, centre, onDial(10 / 60.0, 10.0), 0.8, kBlue);
  strokeSegment(img, centre, centre, 1.5, kDarkBlue);
}

// The bolt of the busy cursor, corners in pixel coordinates; the hot spot
// lies in its middle, where the two strokes meet.
const Point kBolt[] = {{21, 1}, {8, 18}, {15, 18}, {10, 31},
                       {25, 12}, {18, 12}, {25, 1}};
constexpr int kBoltCorners = sizeof kBolt / sizeof kBolt[0];

bool inBolt(int x, int y) {
  return x >= 0 && y >= 0 && x < kSide && y < kSide &&
         insidePolygon(pixelCentre(x, y), kBolt, kBoltCorners);
}

// White bolt with a black outline one pixel wide, so it shows on any background.
Image drawBolt() {
  Image img;
  for (int y = 0; y < kSide; ++y) {
    for (int x = 0; x < kSide; ++x) {
      bool edge = false;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) edge = edge || inBolt(x + dx, y + dy);
      img.transparent[y][x] = !edge;
      img.colour[y][x] = inBolt(x, y) ? 1 : 0;  // palette: 0 black, 1 white
    }
  }
  return img;
}

void put16(std::vector<uint8_t>& out, unsigned v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

// BITMAPINFOHEADER of an icon or cursor image: the height counts the XOR
// bitmap and the AND mask together.
void putBitmapHeader(std::vector<uint8_t>& out, int bitCount, uint32_t imageBytes) {
  put32(out, 40);
  put32(out, kSide);
  put32(out, 2 * kSide);
  put16(out, 1);
  put16(out, unsigned(bitCount));
  put32(out, 0);  // BI_RGB
  put32(out, imageBytes);
  put32(out, 0);
  put32(out, 0);
  put32(out, 0);
  put32(out, 0);
}

// The XOR bitmap (bitCount bits per pixel) then the AND mask, bottom row first
// as in every device-independent bitmap. 32 pixels fill whole 32-bit rows at
// both depths, so there is no padding.
void putBitmaps(std::vector<uint8_t>& out, const Image& img, int bitCount) {
  for (int y = kSide - 1; y >= 0; --y) {
    for (int x = 0; x < kSide; x += 8 / bitCount) {
      unsigned byte = 0;
      for (int k = 0; k < 8 / bitCount; ++k)
        byte = (byte << bitCount) | img.colour[y][x + k];
      out.push_back(uint8_t(byte));
    }
  }
  for (int y = kSide - 1; y >= 0; --y) {
    for (int x = 0; x < kSide; x += 8) {
      unsigned byte = 0;
      for (int k = 0; k < 8; ++k) byte = (byte << 1) | (img.transparent[y][x + k] ? 1 : 0);
      out.push_back(uint8_t(byte));
    }
  }
}

// One-image .ico or .cur file. For a cursor the directory entry's planes and
// bit-count fields hold the hot spot instead.
std::vector<uint8_t> imageFile(const Image& img, int bitCount, bool cursor) {
  int colours = 1 << bitCount;
  uint32_t bitmapBytes = uint32_t(kSide * kSide * bitCount / 8 + kSide * kSide / 8);
  uint32_t entryBytes = 40 + 4 * uint32_t(colours) + bitmapBytes;
  std::vector<uint8_t> out;
  put16(out, 0);
  put16(out, cursor ? 2 : 1);
  put16(out, 1);
  out.push_back(kSide);
  out.push_back(kSide);
  out.push_back(uint8_t(colours));
  out.push_back(0);
  put16(out, cursor ? kBusyCursorHotX : 1);
  put16(out, cursor ? kBusyCursorHotY : unsigned(bitCount));
  put32(out, entryBytes);
  put32(out, 6 + 16);
  putBitmapHeader(out, bitCount, bitmapBytes);
  for (int i = 0; i < colours; ++i) {
    const uint8_t* rgb = bitCount == 1 ? kPalette16[i ? kWhite : kBlack] : kPalette16[i];
    out.push_back(rgb[2]);
    out.push_back(rgb[1]);
    out.push_back(rgb[0]);
    out.push_back(0);
  }
  putBitmaps(out, img, bitCount);
  return out;
}

}  // namespace

std::vector<uint8_t> makeIconFile() {
  Image img;
  drawFace(img);
  drawHourMarks(img);
  drawHands(img);
  return imageFile(img, 4, false);
}

std::vector<uint8_t> makeCursorFile() { return imageFile(drawBolt(), 1, true); }
