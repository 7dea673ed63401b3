#include "base/format.h"

#include <cstdint>

namespace {
// Where the text goes: as much as fits, and the length of all of it.
struct Output {
  char* out;
  size_t size;
  size_t length;
  void put(char c) {
    if (length + 1 < size) out[length] = c;
    ++length;
  }
  void put(const char* text, size_t n) {
    for (size_t i = 0; i < n; ++i) put(text[i]);
  }
  void pad(char c, int32_t count) {
    for (int32_t i = 0; i < count; ++i) put(c);
  }
};

enum class Length { kInt, kChar, kShort, kLong, kLongLong, kSize };

struct Directive {
  bool left = false, zero = false, plus = false, space = false;
  int32_t width = 0;
  int32_t precision = -1;  // none
  Length length = Length::kInt;
  char conversion = 0;
};

// A width or precision: digits, or '*' taken from the arguments.
int32_t readCount(const char** p, va_list* args) {
  if (**p == '*') {
    ++*p;
    return static_cast<int32_t>(va_arg(*args, int));
  }
  int32_t n = 0;
  for (; **p >= '0' && **p <= '9'; ++*p) n = n * 10 + (**p - '0');
  return n;
}

Length readLength(const char** p) {
  const char* s = *p;
  Length length = Length::kInt;
  if (s[0] == 'h') length = s[1] == 'h' ? Length::kChar : Length::kShort;
  else if (s[0] == 'l') length = s[1] == 'l' ? Length::kLongLong : Length::kLong;
  else if (s[0] == 'z') length = Length::kSize;
  else return length;
  *p += (length == Length::kChar || length == Length::kLongLong) ? 2 : 1;
  return length;
}

// Reads what follows a '%' up to its conversion letter.
Directive readDirective(const char** p, va_list* args) {
  Directive d;
  for (;; ++*p) {
    if (**p == '-') d.left = true;
    else if (**p == '0') d.zero = true;
    else if (**p == '+') d.plus = true;
    else if (**p == ' ') d.space = true;
    else break;
  }
  d.width = readCount(p, args);
  if (d.width < 0) {  // a negative '*' width means left-justified
    d.left = true;
    d.width = -d.width;
  }
  if (**p == '.') {
    ++*p;
    d.precision = readCount(p, args);
    if (d.precision < 0) d.precision = -1;
  }
  d.length = readLength(p);
  d.conversion = **p;
  return d;
}

// The text, padded to the width on the side the flags say.
void putField(Output* o, const Directive& d, const char* text, size_t n) {
  int32_t fill = d.width > static_cast<int32_t>(n) ? d.width - static_cast<int32_t>(n) : 0;
  if (!d.left) o->pad(' ', fill);
  o->put(text, n);
  if (d.left) o->pad(' ', fill);
}

uint64_t takeUnsigned(const Directive& d, va_list* args) {
  switch (d.length) {
    case Length::kChar: return static_cast<unsigned char>(va_arg(*args, unsigned));
    case Length::kShort: return static_cast<unsigned short>(va_arg(*args, unsigned));
    case Length::kLong: return va_arg(*args, unsigned long);
    case Length::kLongLong: return va_arg(*args, unsigned long long);
    case Length::kSize: return va_arg(*args, size_t);
    default: return va_arg(*args, unsigned);
  }
}

int64_t takeSigned(const Directive& d, va_list* args) {
  switch (d.length) {
    case Length::kChar: return static_cast<signed char>(va_arg(*args, int));
    case Length::kShort: return static_cast<short>(va_arg(*args, int));
    case Length::kLong: return va_arg(*args, long);
    case Length::kLongLong: return va_arg(*args, long long);
    case Length::kSize: return static_cast<int64_t>(va_arg(*args, size_t));
    default: return va_arg(*args, int);
  }
}

void putInteger(Output* o, const Directive& d, va_list* args) {
  bool isSigned = d.conversion == 'd' || d.conversion == 'i';
  uint64_t magnitude;
  char sign = 0;
  if (isSigned) {
    int64_t value = takeSigned(d, args);
    magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    sign = value < 0 ? '-' : d.plus ? '+' : d.space ? ' ' : 0;
  } else {
    magnitude = takeUnsigned(d, args);
  }
  unsigned base = d.conversion == 'x' || d.conversion == 'X' ? 16 : 10;
  const char* digitsOf = d.conversion == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
  char digits[24];  // 2^64 has 20 decimal digits
  int32_t n = 0;
  for (; magnitude != 0; magnitude /= base) digits[n++] = digitsOf[magnitude % base];
  int32_t minimum = d.precision >= 0 ? d.precision : 1;
  int32_t zeros = minimum > n ? minimum - n : 0;
  int32_t body = (sign ? 1 : 0) + zeros + n;
  if (d.zero && !d.left && d.precision < 0 && d.width > body) {
    zeros += d.width - body;
    body = d.width;
  }
  int32_t fill = d.width > body ? d.width - body : 0;
  if (!d.left) o->pad(' ', fill);
  if (sign) o->put(sign);
  o->pad('0', zeros);
  while (n > 0) o->put(digits[--n]);
  if (d.left) o->pad(' ', fill);
}

void putConversion(Output* o, const Directive& d, va_list* args, const char* from, const char* to) {
  switch (d.conversion) {
    case 'd': case 'i': case 'u': case 'x': case 'X': return putInteger(o, d, args);
    case 'c': {
      char c = static_cast<char>(va_arg(*args, int));
      return putField(o, d, &c, 1);
    }
    case 's': {
      const char* text = va_arg(*args, const char*);
      if (!text) text = "(null)";
      size_t n = 0;
      while (text[n] && (d.precision < 0 || n < static_cast<size_t>(d.precision))) ++n;
      return putField(o, d, text, n);
    }
    case '%': return o->put('%');
    default: return o->put(from, static_cast<size_t>(to - from));
  }
}
}  // namespace

int formatText(char* out, size_t size, const char* format, va_list args) {
  Output o{out, size, 0};
  va_list rest;
  va_copy(rest, args);
  for (const char* p = format; *p; ++p) {
    if (*p != '%') {
      o.put(*p);
      continue;
    }
    const char* start = p++;
    Directive d = readDirective(&p, &rest);
    if (!*p) {  // the format ends inside a conversion: copied as it stands
      o.put(start, static_cast<size_t>(p - start));
      break;
    }
    putConversion(&o, d, &rest, start, p + 1);
  }
  va_end(rest);
  if (size > 0) out[o.length < size ? o.length : size - 1] = '\0';
  return static_cast<int>(o.length);
}
