// kronsec's own formatter against the C library's vsnprintf: the same text
// and the same result for every conversion kronsec writes, and for the
// bounds of the buffer.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <string>

#include "base/format.h"

namespace {
constexpr size_t roomy = 128;

// Formats with both into buffers of `size` bytes (primed with '#', so a
// missing terminator shows) and expects the same bytes and result.
void expectAsLibrary(size_t size, const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));
void expectAsLibrary(size_t size, const char* format, ...) {
  char theirs[roomy], ours[roomy];
  std::string(roomy - 1, '#').copy(theirs, roomy);
  std::string(roomy - 1, '#').copy(ours, roomy);
  theirs[roomy - 1] = ours[roomy - 1] = '\0';
  va_list a, b;
  va_start(a, format);
  va_copy(b, a);
  int expected = std::vsnprintf(theirs, size, format, a);
  int got = formatText(ours, size, format, b);
  va_end(b);
  va_end(a);
  EXPECT_EQ(got, expected) << "\"" << format << "\" in " << size << " bytes";
  EXPECT_STREQ(ours, theirs) << "\"" << format << "\" in " << size << " bytes";
}

TEST(Format, EveryConversionKronsecWritesAsTheLibraryDoes) {
  expectAsLibrary(roomy, "plain text, no conversion");
  expectAsLibrary(roomy, "%s %s %d, %d", "Tue", "Jul", 4, 1995);
  expectAsLibrary(roomy, "%02d:%02d:%02d", 7, 0, 59);
  expectAsLibrary(roomy, "%ld secs", -437L);
  expectAsLibrary(roomy, "%s%ld.%03ld secs (%s%ld.%ld ms)", "-", 0L, 37L, "\xB1", 8L, 1L);
  expectAsLibrary(roomy, "%u secs", 4294967295u);
  expectAsLibrary(roomy, "%d %d %i", -2147483647 - 1, 2147483647, 0);
  expectAsLibrary(roomy, "%ld %lu %lld %llu", -5L, 5UL, -9223372036854775807LL - 1, 18446744073709551615ULL);
  expectAsLibrary(roomy, "%hd %hu %hhd %hhu", 70000, 70000, 300, 300);
  expectAsLibrary(roomy, "%zu", static_cast<size_t>(512));
  expectAsLibrary(roomy, "[%5d] [%-5d] [%05d] [%+d] [% d] [%+05d] [%-+5d]", 42, 42, 42, 42, 42, -42, 42);
  expectAsLibrary(roomy, "[%.3d] [%.0d] [%5.3d] [%.0u]", 7, 0, -7, 0u);
  expectAsLibrary(roomy, "[%x] [%X] [%08x]", 0xbeefu, 0xbeefu, 0x1fu);
  expectAsLibrary(roomy, "[%c] [%3c] [%-3c]", 'k', 'k', 'k');
  expectAsLibrary(roomy, "[%.*s] [%.3s] [%10s] [%-10s|] [%*s] [%-*s|]", 4, "kronsec", "kronsec", "kron",
                  "kron", 6, "ab", -6, "ab");
  expectAsLibrary(roomy, "%s", "");
  expectAsLibrary(roomy, "100%% sure");
  expectAsLibrary(roomy, "\r\n%s (%d)\r\n%s\r\n", "kronsec: could not connect to host 127.0.0.1\r\n",
                  10061, "The attempt to connect was refused");
  expectAsLibrary(roomy, "bytes %s stay", "\xE4\xF6\xFC\xB1\xFF");  // bytes, not characters
}

TEST(Format, TheBufferBoundsAsTheLibrarysDo) {
  const size_t sizes[] = {0, 1, 2, 5, 12, 13};
  for (size_t size : sizes) {
    expectAsLibrary(size, "%s:%d", "kronsec", 1995);  // 12 characters
    expectAsLibrary(size, "%05d|%-4s|", -3, "ab");
  }
}

int ourFormat(char* out, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int length = formatText(out, size, format, args);
  va_end(args);
  return length;
}

TEST(Format, AFormatEndingInAConversionIsCopied) {
  char out[roomy];
  EXPECT_EQ(ourFormat(out, sizeof out, "50%"), 3);
  EXPECT_STREQ(out, "50%");
  EXPECT_EQ(ourFormat(out, sizeof out, "50%-4"), 5);
  EXPECT_STREQ(out, "50%-4");
}
}  // namespace
