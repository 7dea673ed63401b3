// icongen ui/res: writes the icon and the busy cursor into that folder.
#include <cstdio>
#include <string>

#include "tools/gen/icongen.h"
#include "tools/gen/text.h"

namespace {

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  bool ok = writeWholeFile(path, std::string(bytes.begin(), bytes.end()));
  if (!ok) std::fprintf(stderr, "icongen: cannot write %s\n", path.c_str());
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: icongen <directory>\n");
    return 2;
  }
  std::string dir = argv[1];
  bool ok = writeFile(dir + "/kronsec.ico", makeIconFile());
  ok = writeFile(dir + "/busy.cur", makeCursorFile()) && ok;
  return ok ? 0 : 1;
}
