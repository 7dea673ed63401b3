// Text helpers shared by the build-time generators (rcgen, helpgen, icongen).
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

// Writes bytes to the file at path; returns false when it cannot be created
// or written whole.
inline bool writeWholeFile(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

// Returns text as a C string literal that compiles to the same bytes: quotes
// and backslashes escaped, tabs and line feeds by name, every other byte
// outside printable ASCII as a three-digit octal escape (three digits, so a
// digit after it is never read into it). With breakLines, each line feed
// also ends the literal's source line, for generated text people read.
inline std::string cLiteral(const std::string& text, bool breakLines = false) {
  std::string out = "\"";
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == '\n') {
      out += breakLines ? "\\n\"\n        \"" : "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20 || u >= 0x7F) {
      char octal[8];
      std::snprintf(octal, sizeof octal, "\\%03o", u);
      out += octal;
    } else {
      out += c;
    }
  }
  return out + "\"";
}
