// rcgen <resource.h> <kronsec.rc> <pictures.txt> <output.cpp>
#include <cstdio>

#include "tools/gen/rcgen.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: rcgen <resource.h> <script.rc> <pictures.txt> <output.cpp>\n");
    return 2;
  }
  try {
    rcgen::run(argv[1], argv[2], argv[3], argv[4]);
  } catch (const rcgen::Failure& f) {
    std::fprintf(stderr, "%s\n", f.text.c_str());
    return 1;
  }
  return 0;
}
