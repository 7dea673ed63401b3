// The resource script as tables for the Linux build (see rcgen.cpp for the
// subset of the resource language it reads).
#pragma once
#include <string>

namespace rcgen {

// Every failure, as "file:line: error: message".
struct Failure {
  std::string text;
};

// Reads the "#define" header, the resource script and the pictures file and
// writes the C++ tables to output; throws Failure, leaving output untouched.
void run(const std::string& header, const std::string& rcFile, const std::string& picturesFile,
         const std::string& output);

}  // namespace rcgen
