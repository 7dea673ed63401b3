// Reading a whole file, for the build-time generators (rcgen, helpgen).
#pragma once
#include <cstdio>
#include <string>

// Reads the file at path into *text; returns false when it cannot be opened.
inline bool readWholeFile(const std::string& path, std::string* text) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  text->clear();
  char buf[8192];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text->append(buf, n);
  std::fclose(f);
  return true;
}
