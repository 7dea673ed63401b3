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

std::vector<helpgen::Source> readSources(const std::vector<std::string>& paths) {
  std::vector<helpgen::Source> sources;
  for (const std::string& path : paths) sources.push_back({path, readFile(path)});
  return sources;
}

std::string names(const std::vector<std::string>& paths) {
  std::string joined;
  for (const std::string& path : paths) joined += (joined.empty() ? "" : ", ") + baseName(path);
  return joined;
}

void run(const std::string& step, const std::vector<std::string>& in, const std::string& out) {
  if (step == "pages") {
    writeFile(out, helpgen::pagesSource(helpgen::parseHelpSources(readSources(in)), names(in)));
  } else if (step == "hlpmap") {
    writeFile(out, helpgen::withContextMap(readFile(out),
                                           helpgen::parseHelpSources(readSources(in))));
  } else if (step == "man" && !in.empty()) {
    // After halibut's page, the sources its numbered chapters came from.
    std::vector<std::string> sources(in.begin() + 1, in.end());
    writeFile(out, helpgen::tidyManPage(readFile(in[0]), helpgen::numberedChapterTitles(
                                                             helpgen::parseHelpSources(readSources(sources)))));
  } else {
    throw helpgen::Error("unknown step '" + step + "', or the wrong number of files for it");
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fputs(
        "usage: helpgen pages SOURCE.but... OUT.cpp | hlpmap SOURCE.but... FILE.hlp | "
        "man IN.1 [SOURCE.but...] OUT.1\n",
        stderr);
    return 2;
  }
  try {
    run(argv[1], std::vector<std::string>(argv + 2, argv + argc - 1), argv[argc - 1]);
  } catch (const helpgen::Error& e) {
    std::fprintf(stderr, "helpgen: %s\n", e.what());
    return 1;
  }
  return 0;
}
