// helpgen's command line: the build runs one step per call.
#include <cstdio>
#include <string>
#include <vector>

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

// sources: the help sources the man page was made from, in halibut's order.
void run(const std::string& step, const std::string& in, const std::string& out,
         const std::vector<std::string>& sources) {
  if (step == "pages") {
    writeFile(out, helpgen::pagesSource(helpgen::parseHelpSource(readFile(in), in), baseName(in)));
  } else if (step == "hlpmap") {
    writeFile(out,
              helpgen::withContextMap(readFile(out), helpgen::parseHelpSource(readFile(in), in)));
  } else if (step == "man") {
    std::vector<std::vector<helpgen::Topic>> parsed;
    for (const std::string& source : sources)
      parsed.push_back(helpgen::parseHelpSource(readFile(source), source));
    writeFile(out, helpgen::tidyManPage(readFile(in), helpgen::numberedChapterTitles(parsed)));
  } else {
    throw helpgen::Error("unknown step '" + step + "'");
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || (argc > 4 && std::string(argv[1]) != "man")) {
    std::fputs(
        "usage: helpgen pages SOURCE.but OUT.cpp | hlpmap SOURCE.but FILE.hlp |"
        " man IN.1 OUT.1 [SOURCE.but...]\n",
        stderr);
    return 2;
  }
  try {
    run(argv[1], argv[2], argv[3], std::vector<std::string>(argv + 4, argv + argc));
  } catch (const helpgen::Error& e) {
    std::fprintf(stderr, "helpgen: %s\n", e.what());
    return 1;
  }
  return 0;
}
