// Text broken into screen lines at its blanks, for the terminal front end's
// message boxes, notices and help pages.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

// Appends to *out the lines that the blank-separated `words` make at `width`
// columns: the first line starts with `line` (an indent or a term), each
// further one with `hang` blanks. Only a word longer than a line is cut,
// where the line ends; blanks at a break are dropped, runs of blanks within a
// line kept.
void wrapWords(std::string line, const std::string& words, size_t hang, size_t width,
               std::vector<std::string>* out);

// Returns text in lines of at most width columns (at least 1): each '\n'
// starts a new line, an empty one stays as a blank line, '\r' is ignored;
// blank lines at the end are dropped.
std::vector<std::string> wrapText(const std::string& text, int width);
