// helpgen's command line: the build runs one step per call.
#include <cstdio>
#include <string>

#include "tools/gen/helpgen.h"
#include "tools/gen/text.h"

namespace {

std::string readFile(const std::string& path) {
  std::string text;
  if (!readWholeFile(path, &text)) throw helpgen::Error(path + ": cannot open");
  return text;
}

void writeFile(const std::string& path, const std::string& bytes) {
  if (!writeWholeFile(path, bytes)) throw helpgen::Error(path + ": cannot write");
}

std::string baseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void run(const std::string& step, const std::string& in, const std::string& out) {
  if (step == "pages") {
    writeFile(out, helpgen::pagesSource(helpgen::parseHelpSource(readFile(in), in), baseName(in)));
  } else if (step == "hlpmap") {
    writeFile(out,
              helpgen::withContextMap(readFile(out), helpgen::parseHelpSource(readFile(in), in)));
  } else if (step == "man") {
    writeFile(out, helpgen::tidyManPage(readFile(in)));
  } else {
    throw helpgen::Error("unknown step '" + step + "'");
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fputs(
        "usage: helpgen pages SOURCE.but OUT.cpp | hlpmap SOURCE.but FILE.hlp | man IN.1 OUT.1\n",
        stderr);
    return 2;
  }
  try {
    run(argv[1], argv[2], argv[3]);
  } catch (const helpgen::Error& e) {
    std::fprintf(stderr, "helpgen: %s\n", e.what());
    return 1;
  }
  return 0;
}
