// How network failures are worded: the Winsock error table, the short-answer
// words, host names fitted into a text, and the "Winsock Error" box.
#pragma once
#include <cstddef>
#include <cstdint>

#include "timeclient/client.h"

// Returns the text of a Winsock error code, or "unknown error".
const char* winsockErrorText(int code);

// Shows text with a Winsock error code and its text in a "Winsock Error" box
// owned by the host window, the code made the thread's last error; returns the length shown, or 0 when nothing
// could be shown.
int32_t winsockErrorBox(const char* text, int code);

// Shows the printf-formatted text in a "Winsock Error" box owned by the host
// window; returns the formatted length, or 0 when nothing was shown.
int32_t winsockMessageBox(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The size of a buffer that holds any shortAnswerText.
constexpr size_t shortAnswerTextSize = 64;

// Writes into out (shortAnswerTextSize bytes) why a read of the answer brought
// fewer than its four bytes: "the server closed the connection after N
// bytes" when the server had closed it, else "only N bytes had arrived when
// the time ran out" (one byte: "1 byte"). The dialog's box and the Linux
// lines say it in these words.
void shortAnswerText(char* out, int32_t bytes, bool serverClosed);

// The size of a buffer that holds any refusedAnswerText.
constexpr size_t refusedAnswerTextSize = 128;

// Writes into out (refusedAnswerTextSize bytes) why an answer was refused
// (a kNoTime or kLate failure): it was 0, a count from 1900, or too late.
// The dialog's box and the Linux lines say it in these words.
void refusedAnswerText(char* out, const QueryFailure& f);

// Formats a message that embeds a host into scratchText: `before` + host +
// `after`, cutting the host so the whole text fits the 512-byte buffer.
// Returns scratchText.
const char* formatWithHost(const char* before, const char* host, const char* after);
