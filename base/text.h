// The shared scratch text and the owned-text replacement rule.
#pragma once
#include <cstddef>

// One process-wide text buffer: every profile read, dialog text read and
// message format lands here. Its contents are valid only until its next use.
constexpr size_t scratchSize = 512;
extern char scratchText[scratchSize];

// Capacity handed to the profile and dialog reads: 511 bytes including the
// terminator, as the settings store has always read.
constexpr unsigned scratchReadSize = scratchSize - 1;

// Returns a heap copy of newText and frees oldValue; when the copy cannot be
// made, returns oldValue unchanged. The caller stores the result back into the
// field it came from and frees it with heapFree.
char* replaceString(char* oldValue, const char* newText);

// Returns whether c is one of the C locale's white-space bytes (space, tab,
// line feed, vertical tab, form feed, carriage return): the blanks around a
// number or a path typed into a field or written into the settings.
inline bool isSpaceByte(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Returns whether c is a control byte (below 0x20, or DEL): bytes that must
// not reach a log line or a terminal from a text that came from outside.
inline bool isControlByte(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return u < 0x20 || u == 0x7F;
}

// Returns a heap copy of text with every control byte written as '?', or
// nullptr when it cannot be allocated; the caller frees it with heapFree.
char* printableCopy(const char* text);

// Returns a heap copy of text, or nullptr when it cannot be allocated; the
// caller frees it with heapFree.
char* copyText(const char* text);
