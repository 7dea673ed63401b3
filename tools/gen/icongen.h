// Draws kronsec's icon and busy cursor. tools/gen/icongen writes them into ui/res;
// the tests draw them again and compare with the files kept there.
#pragma once
#include <cstdint>
#include <vector>

// The cursor's hot spot, in pixels from its top left corner.
constexpr int kBusyCursorHotX = 17;
constexpr int kBusyCursorHotY = 13;

// Returns the bytes of kronsec.ico: one 32x32 image in 16 colours (a grey clock
// face with red hour marks and blue hands), transparent around the face.
std::vector<uint8_t> makeIconFile();

// Returns the bytes of busy.cur: one 32x32 monochrome lightning bolt with the
// hot spot at (kBusyCursorHotX, kBusyCursorHotY).
std::vector<uint8_t> makeCursorFile();
