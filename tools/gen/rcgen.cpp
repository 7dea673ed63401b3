// Turns the program's resource script into C++ tables for the Linux build, so
// that both platforms build their dialogs from the one ui/res/kronsec.rc.
//
//   rcgen <resource.h> <kronsec.rc> <pictures.txt> <output.cpp>
//
// It reads the plain subset of the resource language that kronsec.rc uses:
// "#define NAME number" headers; DIALOG templates with STYLE, CAPTION and FONT
// and generic CONTROL statements; ICON and CURSOR files; a VERSIONINFO block,
// of which it keeps the texts of StringFileInfo (the Linux build has no other
// way to read them). Styles are evaluated as the resource compiler does: a
// CONTROL starts from WS_CHILD | WS_VISIBLE, NOT clears bits, CAPTION adds
// WS_CAPTION and FONT adds DS_SETFONT. Anything else stops the build with a
// file:line message rather than producing tables that differ from what the
// Windows build gets. The icon and cursor become text drawings taken from
// pictures.txt, sized from the image files themselves.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tools/gen/rcgen.h"
#include "tools/gen/text.h"

namespace {

using rcgen::Failure;

[[noreturn]] void fail(const std::string& file, int line, const std::string& message) {
  std::string where = line > 0 ? file + ":" + std::to_string(line) : file;
  throw Failure{where + ": error: " + message};
}

std::string readFile(const std::string& path) {
  std::string text;
  if (!readWholeFile(path, &text)) fail(path, 0, "cannot open");
  return text;
}

std::string directoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string baseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool sameWord(const std::string& a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(uint8_t(a[i])) != std::toupper(uint8_t(b[i]))) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Style names, with the values Windows gives them.

struct NamedValue {
  const char* name;
  uint32_t value;
};

const NamedValue kStyleNames[] = {
    {"WS_OVERLAPPED", 0x00000000}, {"WS_POPUP", 0x80000000},
    {"WS_CHILD", 0x40000000},      {"WS_MINIMIZE", 0x20000000},
    {"WS_VISIBLE", 0x10000000},    {"WS_DISABLED", 0x08000000},
    {"WS_CLIPSIBLINGS", 0x04000000}, {"WS_CLIPCHILDREN", 0x02000000},
    {"WS_MAXIMIZE", 0x01000000},   {"WS_CAPTION", 0x00C00000},
    {"WS_BORDER", 0x00800000},     {"WS_DLGFRAME", 0x00400000},
    {"WS_VSCROLL", 0x00200000},    {"WS_HSCROLL", 0x00100000},
    {"WS_SYSMENU", 0x00080000},    {"WS_THICKFRAME", 0x00040000},
    {"WS_GROUP", 0x00020000},      {"WS_TABSTOP", 0x00010000},
    {"WS_MINIMIZEBOX", 0x00020000}, {"WS_MAXIMIZEBOX", 0x00010000},
    {"DS_ABSALIGN", 0x0001},       {"DS_SYSMODAL", 0x0002},
    {"DS_3DLOOK", 0x0004},         {"DS_FIXEDSYS", 0x0008},
    {"DS_NOFAILCREATE", 0x0010},   {"DS_LOCALEDIT", 0x0020},
    {"DS_SETFONT", 0x0040},        {"DS_MODALFRAME", 0x0080},
    {"DS_NOIDLEMSG", 0x0100},      {"DS_SETFOREGROUND", 0x0200},
    {"DS_CONTROL", 0x0400},        {"DS_CENTER", 0x0800},
    {"DS_CENTERMOUSE", 0x1000},    {"DS_CONTEXTHELP", 0x2000},
    {"ES_LEFT", 0x0000},           {"ES_CENTER", 0x0001},
    {"ES_RIGHT", 0x0002},          {"ES_MULTILINE", 0x0004},
    {"ES_UPPERCASE", 0x0008},      {"ES_LOWERCASE", 0x0010},
    {"ES_PASSWORD", 0x0020},       {"ES_AUTOVSCROLL", 0x0040},
    {"ES_AUTOHSCROLL", 0x0080},    {"ES_NOHIDESEL", 0x0100},
    {"ES_OEMCONVERT", 0x0400},     {"ES_READONLY", 0x0800},
    {"ES_WANTRETURN", 0x1000},     {"ES_NUMBER", 0x2000},
    {"BS_PUSHBUTTON", 0x0000},     {"BS_DEFPUSHBUTTON", 0x0001},
    {"BS_CHECKBOX", 0x0002},       {"BS_AUTOCHECKBOX", 0x0003},
    {"BS_RADIOBUTTON", 0x0004},    {"BS_3STATE", 0x0005},
    {"BS_AUTO3STATE", 0x0006},     {"BS_GROUPBOX", 0x0007},
    {"BS_AUTORADIOBUTTON", 0x0009}, {"BS_LEFTTEXT", 0x0020},
    {"SS_LEFT", 0x0000},           {"SS_CENTER", 0x0001},
    {"SS_RIGHT", 0x0002},          {"SS_ICON", 0x0003},
    {"SS_BLACKRECT", 0x0004},      {"SS_GRAYRECT", 0x0005},
    {"SS_WHITERECT", 0x0006},      {"SS_BLACKFRAME", 0x0007},
    {"SS_GRAYFRAME", 0x0008},      {"SS_WHITEFRAME", 0x0009},
    {"SS_SIMPLE", 0x000B},         {"SS_LEFTNOWORDWRAP", 0x000C},
    {"SS_NOPREFIX", 0x0080},       {"CBS_SIMPLE", 0x0001},
    {"CBS_DROPDOWN", 0x0002},      {"CBS_DROPDOWNLIST", 0x0003},
    {"CBS_AUTOHSCROLL", 0x0040},   {"CBS_OEMCONVERT", 0x0080},
    {"CBS_SORT", 0x0100},          {"CBS_HASSTRINGS", 0x0200},
    {"CBS_NOINTEGRALHEIGHT", 0x0400}, {"CBS_DISABLENOSCROLL", 0x0800},
};

constexpr uint32_t kWsChildVisible = 0x40000000 | 0x10000000;
constexpr uint32_t kWsPopupBorderSysmenu = 0x80000000 | 0x00800000 | 0x00080000;
constexpr uint32_t kWsCaption = 0x00C00000;
constexpr uint32_t kDsSetFont = 0x0040;
constexpr uint32_t kSsTypeMask = 0x001F;
constexpr uint32_t kSsIcon = 0x0003;

const NamedValue* findStyleName(const std::string& name) {
  for (const NamedValue& s : kStyleNames) {
    if (name == s.name) return &s;
  }
  return nullptr;
}

// The control classes the platform layer implements, spelled as it expects.
const char* const kClassNames[] = {"Static", "Edit", "Button", "ComboBox"};

// ---------------------------------------------------------------------------
// resource.h: "#define NAME number" lines, "#pragma once" and // comments.

using Symbols = std::map<std::string, int64_t>;

bool parseInteger(std::string s, int64_t* value) {
  while (s.size() >= 2 && s.front() == '(' && s.back() == ')') s = s.substr(1, s.size() - 2);
  bool negative = !s.empty() && s[0] == '-';
  if (negative) s.erase(0, 1);
  while (!s.empty() && (s.back() == 'L' || s.back() == 'l' || s.back() == 'U' || s.back() == 'u'))
    s.pop_back();
  if (s.empty()) return false;
  int base = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X') ? 16 : 10;
  size_t i = base == 16 ? 2 : 0;
  int64_t v = 0;
  for (; i < s.size(); ++i) {
    if (!std::isxdigit(uint8_t(s[i]))) return false;
    int digit = std::isdigit(uint8_t(s[i])) ? s[i] - '0' : std::toupper(uint8_t(s[i])) - 'A' + 10;
    if (digit >= base || v > 0xFFFFFFFFLL) return false;
    v = v * base + digit;
  }
  *value = negative ? -v : v;
  return true;
}

std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r");
  size_t e = s.find_last_not_of(" \t\r");
  return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    lines.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return lines;
}

void readHeaderLine(const std::string& file, int line, std::string text, Symbols& symbols) {
  size_t comment = text.find("//");
  if (comment != std::string::npos) text.erase(comment);
  text = trim(text);
  if (text.empty() || text == "#pragma once") return;
  char name[128], value[128], rest[8];
  if (std::sscanf(text.c_str(), "#define %127s %127s %7s", name, value, rest) != 2)
    fail(file, line, "expected '#define NAME number', found '" + text + "'");
  int64_t v;
  if (!parseInteger(value, &v)) fail(file, line, std::string("not a number: ") + value);
  if (symbols.count(name) && symbols[name] != v) fail(file, line, std::string("redefined: ") + name);
  symbols[name] = v;
}

Symbols readHeader(const std::string& path) {
  Symbols symbols;
  std::vector<std::string> lines = splitLines(readFile(path));
  for (size_t i = 0; i < lines.size(); ++i) readHeaderLine(path, int(i + 1), lines[i], symbols);
  return symbols;
}

// ---------------------------------------------------------------------------
// The resource script's tokens.

enum class Kind { End, Name, Number, String, Punct, Directive };

struct Token {
  Kind kind;
  std::string text;  // names, punctuation, directives; a string's decoded bytes
  int64_t value;     // numbers
  int line;
};

class Lexer {
 public:
  Lexer(std::string file, std::string text) : file_(std::move(file)), text_(std::move(text)) {}

  const std::string& file() const { return file_; }

  Token next() {
    skipBlanksAndComments();
    Token t{Kind::End, "", 0, line_};
    if (pos_ >= text_.size()) return t;
    char c = text_[pos_];
    if (c == '#' && atLineStart()) return directive(t);
    if (c == '"') return quoted(t);
    if (std::isdigit(uint8_t(c))) return number(t);
    if (std::isalpha(uint8_t(c)) || c == '_') return name(t);
    if (std::strchr(",|(){}-", c)) {
      t.kind = Kind::Punct;
      t.text = std::string(1, c);
      ++pos_;
      return t;
    }
    fail(file_, line_, std::string("unexpected character '") + c + "'");
  }

 private:
  bool atLineStart() const {
    for (size_t i = pos_; i > 0 && text_[i - 1] != '\n'; --i) {
      if (text_[i - 1] != ' ' && text_[i - 1] != '\t') return false;
    }
    return true;
  }

  void skipBlanksAndComments() {
    while (pos_ < text_.size()) {
      char c = text_[pos_];
      if (c == '\n') {
        ++line_;
        ++pos_;
      } else if (std::isspace(uint8_t(c))) {
        ++pos_;
      } else if (text_.compare(pos_, 2, "//") == 0) {
        while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
      } else if (text_.compare(pos_, 2, "/*") == 0) {
        size_t end = text_.find("*/", pos_ + 2);
        if (end == std::string::npos) fail(file_, line_, "unterminated comment");
        for (; pos_ < end + 2; ++pos_) line_ += text_[pos_] == '\n';
      } else {
        return;
      }
    }
  }

  Token directive(Token t) {
    size_t end = text_.find('\n', pos_);
    if (end == std::string::npos) end = text_.size();
    t.kind = Kind::Directive;
    t.text = trim(text_.substr(pos_, end - pos_));
    pos_ = end;
    return t;
  }

  Token number(Token t) {
    size_t end = pos_;
    while (end < text_.size() && std::isalnum(uint8_t(text_[end]))) ++end;
    t.kind = Kind::Number;
    t.text = text_.substr(pos_, end - pos_);
    if (!parseInteger(t.text, &t.value)) fail(file_, line_, "bad number '" + t.text + "'");
    pos_ = end;
    return t;
  }

  Token name(Token t) {
    size_t end = pos_;
    while (end < text_.size() && (std::isalnum(uint8_t(text_[end])) || text_[end] == '_')) ++end;
    t.kind = Kind::Name;
    t.text = text_.substr(pos_, end - pos_);
    pos_ = end;
    return t;
  }

  // A string as the resource compiler reads it: "" stands for one quote, and
  // the C escapes are decoded.
  Token quoted(Token t) {
    t.kind = Kind::String;
    for (++pos_;; ++pos_) {
      if (pos_ >= text_.size() || text_[pos_] == '\n') fail(file_, line_, "unterminated string");
      char c = text_[pos_];
      if (c == '"') {
        if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '"') {
          t.text += '"';
          ++pos_;
          continue;
        }
        ++pos_;
        return t;
      }
      t.text += c == '\\' ? escape() : c;
    }
  }

  char escape() {
    char c = ++pos_ < text_.size() ? text_[pos_] : '\0';
    switch (c) {
      case 'a': return '\a';
      case 'b': return '\b';
      case 'f': return '\f';
      case 'n': return '\n';
      case 'r': return '\r';
      case 't': return '\t';
      case 'v': return '\v';
      case '\\': case '"': case '\'': return c;
      case 'x': return digitsEscape(16, 2);
      default:
        if (c >= '0' && c <= '7') {
          --pos_;
          return digitsEscape(8, 3);
        }
        fail(file_, line_, std::string("unknown escape '\\") + c + "'");
    }
  }

  // Up to maxDigits digits in the base after pos_; leaves pos_ on the last one.
  char digitsEscape(int base, int maxDigits) {
    int value = 0, count = 0;
    while (count < maxDigits && pos_ + 1 < text_.size()) {
      char d = text_[pos_ + 1];
      int digit = std::isdigit(uint8_t(d)) ? d - '0'
                : std::isxdigit(uint8_t(d)) ? std::toupper(uint8_t(d)) - 'A' + 10 : 99;
      if (digit >= base) break;
      value = value * base + digit;
      ++count;
      ++pos_;
    }
    if (count == 0 || value > 255) fail(file_, line_, "bad numeric escape");
    return char(value);
  }

  std::string file_;
  std::string text_;
  size_t pos_ = 0;
  int line_ = 1;
};

// ---------------------------------------------------------------------------
// What the script describes.

struct Control {
  int line = 0;
  std::string className, text;
  int64_t id = 0, x = 0, y = 0, cx = 0, cy = 0, iconId = 0;
  uint32_t style = 0;
};

struct Dialog {
  int line = 0;
  int64_t id = 0, x = 0, y = 0, cx = 0, cy = 0, pointSize = 0;
  uint32_t style = 0;
  std::string title, fontName;
  bool hasCaption = false, hasFont = false;
  std::vector<Control> controls;
};

struct ImageFile {
  int64_t id;
  bool isCursor;
  std::string path;
  int line;
};

struct Script {
  std::vector<Dialog> dialogs;
  std::vector<ImageFile> images;
  std::vector<std::pair<std::string, std::string>> versionValues;  // name, text
};

class Parser {
 public:
  Parser(Lexer& lexer, const Symbols& symbols, std::string headerName)
      : lex_(lexer), symbols_(symbols), headerName_(std::move(headerName)) {
    advance();
  }

  Script parse() {
    Script script;
    while (tok_.kind != Kind::End) {
      if (tok_.kind == Kind::Directive) {
        include();
      } else {
        resource(script);
      }
    }
    return script;
  }

 private:
  [[noreturn]] void error(const std::string& message) { fail(lex_.file(), tok_.line, message); }

  std::string describe() const {
    if (tok_.kind == Kind::End) return "end of file";
    if (tok_.kind == Kind::String) return "a string";
    return "'" + tok_.text + "'";
  }

  void advance() { tok_ = lex_.next(); }

  bool isPunct(const char* p) const { return tok_.kind == Kind::Punct && tok_.text == p; }
  bool isWord(const char* w) const { return tok_.kind == Kind::Name && sameWord(tok_.text, w); }
  bool isBegin() const { return isWord("BEGIN") || isPunct("{"); }
  bool isEnd() const { return isWord("END") || isPunct("}"); }

  void expectPunct(const char* p) {
    if (!isPunct(p)) error(std::string("expected '") + p + "', found " + describe());
    advance();
  }

  std::string expectString() {
    if (tok_.kind != Kind::String) error("expected a string, found " + describe());
    std::string s = tok_.text;
    advance();
    return s;
  }

  // The compiler's own header is only needed by windres; ours must be the one
  // whose names this run has read.
  void include() {
    const std::string& d = tok_.text;
    bool ok = d == "#include <windows.h>" || d == "#include \"" + headerName_ + "\"";
    if (!ok) error("unsupported directive '" + d + "'");
    advance();
  }

  int64_t numberExpr() {
    if (isPunct("-")) {
      advance();
      return -numberExpr();
    }
    if (isPunct("(")) {
      advance();
      int64_t v = numberExpr();
      expectPunct(")");
      return v;
    }
    int64_t v = 0;
    if (tok_.kind == Kind::Number) {
      v = tok_.value;
    } else if (tok_.kind == Kind::Name && symbols_.count(tok_.text)) {
      v = symbols_.at(tok_.text);
    } else {
      error("expected a number or a name from " + headerName_ + ", found " + describe());
    }
    advance();
    return v;
  }

  uint32_t styleValue() {
    if (tok_.kind == Kind::Name) {
      if (const NamedValue* s = findStyleName(tok_.text)) {
        advance();
        return s->value;
      }
    }
    return uint32_t(numberExpr());
  }

  // NAME | NOT NAME | ...: each term sets or clears bits of `style`.
  uint32_t styleExpr(uint32_t style) {
    for (;;) {
      bool clear = isWord("NOT");
      if (clear) advance();
      uint32_t v = styleValue();
      style = clear ? style & ~v : style | v;
      if (!isPunct("|")) return style;
      advance();
    }
  }

  void resource(Script& script) {
    if (tok_.kind != Kind::Number && !(tok_.kind == Kind::Name && symbols_.count(tok_.text)))
      error("expected a resource number, found " + describe());
    int line = tok_.line;
    int64_t id = numberExpr();
    if (isWord("DIALOG")) {
      advance();
      script.dialogs.push_back(dialog(id, line));
    } else if (isWord("ICON") || isWord("CURSOR")) {
      bool cursor = isWord("CURSOR");
      int line = tok_.line;
      advance();
      script.images.push_back({id, cursor, expectString(), line});
    } else if (isWord("VERSIONINFO")) {
      advance();
      versionInfo(script);
    } else {
      error("unsupported resource type " + describe());
    }
  }

  // The fixed part (FILEVERSION, FILEOS, ...) has no use on Linux and names
  // constants resource.h does not define, so it is passed over unread.
  void versionInfo(Script& script) {
    while (!isBegin()) {
      if (tok_.kind == Kind::End) error("VERSIONINFO without BEGIN");
      advance();
    }
    versionBlock(script, false);
  }

  // BEGIN, BLOCKs and VALUEs, END. Only below "StringFileInfo" are VALUEs a
  // name and its text; elsewhere (VarFileInfo) they carry numbers.
  void versionBlock(Script& script, bool strings) {
    advance();  // BEGIN
    while (!isEnd()) {
      if (isWord("BLOCK")) {
        advance();
        bool stringTable = expectString() == "StringFileInfo" || strings;
        if (!isBegin()) error("expected BEGIN after BLOCK, found " + describe());
        versionBlock(script, stringTable);
      } else if (isWord("VALUE")) {
        advance();
        versionValue(script, strings);
      } else {
        error("expected BLOCK, VALUE or END in VERSIONINFO, found " + describe());
      }
    }
    advance();
  }

  // The accessor takes a bare name, so a second text under the same name
  // (another language's table) would leave it ambiguous.
  void versionValue(Script& script, bool strings) {
    int line = tok_.line;
    std::string name = expectString();
    expectPunct(",");
    if (!strings) {
      numberExpr();
      while (isPunct(",")) {
        advance();
        numberExpr();
      }
      return;
    }
    for (const auto& v : script.versionValues) {
      if (sameWord(v.first, name.c_str())) fail(lex_.file(), line, "version value \"" + name + "\" given twice");
    }
    script.versionValues.push_back({name, expectString()});
  }

  Dialog dialog(int64_t id, int line) {
    Dialog d;
    d.id = id;
    d.line = line;
    rectangle(&d.x, &d.y, &d.cx, &d.cy);
    bool hasStyle = false;
    while (!isBegin()) {
      if (isWord("STYLE")) {
        advance();
        d.style = styleExpr(0);
        hasStyle = true;
      } else if (isWord("CAPTION")) {
        advance();
        d.title = expectString();
        d.hasCaption = true;
      } else if (isWord("FONT")) {
        advance();
        d.pointSize = numberExpr();
        expectPunct(",");
        d.fontName = expectString();
        d.hasFont = true;
      } else {
        error("unsupported dialog statement " + describe());
      }
    }
    if (!hasStyle) d.style = kWsPopupBorderSysmenu;
    if (d.hasCaption) d.style |= kWsCaption;
    if (d.hasFont) d.style |= kDsSetFont;
    controls(d);
    return d;
  }

  void rectangle(int64_t* x, int64_t* y, int64_t* cx, int64_t* cy) {
    *x = numberExpr();
    expectPunct(",");
    *y = numberExpr();
    expectPunct(",");
    *cx = numberExpr();
    expectPunct(",");
    *cy = numberExpr();
  }

  void controls(Dialog& d) {
    advance();  // BEGIN
    while (!isEnd()) {
      if (!isWord("CONTROL")) error("expected CONTROL or END, found " + describe());
      d.controls.push_back(control());
    }
    advance();
  }

  // CONTROL text, id, "class", style, x, y, cx, cy. A number as the text names
  // the icon of an icon control.
  Control control() {
    Control c;
    c.line = tok_.line;
    advance();
    if (tok_.kind == Kind::String) {
      c.text = expectString();
    } else {
      c.iconId = numberExpr();
    }
    expectPunct(",");
    c.id = numberExpr();
    expectPunct(",");
    c.className = className(expectString());
    expectPunct(",");
    c.style = styleExpr(kWsChildVisible);
    expectPunct(",");
    rectangle(&c.x, &c.y, &c.cx, &c.cy);
    bool iconControl = c.className == "Static" && (c.style & kSsTypeMask) == kSsIcon;
    if (iconControl != (c.iconId != 0))
      fail(lex_.file(), c.line, "an icon control is a Static with SS_ICON and a resource number as text");
    return c;
  }

  std::string className(const std::string& name) {
    for (const char* known : kClassNames) {
      if (sameWord(name, known)) return known;
    }
    error("unsupported control class \"" + name + "\"");
  }

  Lexer& lex_;
  const Symbols& symbols_;
  std::string headerName_;
  Token tok_{};
};

// ---------------------------------------------------------------------------
// pictures.txt and the image files.

struct Picture {
  int64_t id = 0;
  bool isCursor = false;
  int64_t width = 0, height = 0, hotX = 0, hotY = 0;
  std::vector<std::string> rows;
};

int64_t pictureId(const std::string& file, int line, const std::string& word, const Symbols& symbols) {
  int64_t v;
  if (parseInteger(word, &v)) return v;
  if (symbols.count(word)) return symbols.at(word);
  fail(file, line, "unknown picture number '" + word + "'");
}

// Fills in the size and hot spot from the first image of an .ico or .cur file.
void readImageHeader(const std::string& rcFile, const ImageFile& image, Picture& p) {
  std::string path = directoryOf(rcFile) + "/" + image.path;
  std::string bytes = readFile(path);
  auto u16 = [&](size_t at) { return unsigned(uint8_t(bytes[at])) | unsigned(uint8_t(bytes[at + 1])) << 8; };
  unsigned type = image.isCursor ? 2 : 1;
  if (bytes.size() < 22 || u16(0) != 0 || u16(2) != type || u16(4) == 0)
    fail(rcFile, image.line, "'" + image.path + "' is not " + (image.isCursor ? "a cursor" : "an icon") + " file");
  p.width = uint8_t(bytes[6]) ? uint8_t(bytes[6]) : 256;
  p.height = uint8_t(bytes[7]) ? uint8_t(bytes[7]) : 256;
  if (image.isCursor) {
    p.hotX = u16(10);
    p.hotY = u16(12);
  }
}

std::vector<Picture> readPictures(const std::string& path, const Symbols& symbols) {
  std::vector<Picture> pictures;
  std::vector<std::string> lines = splitLines(readFile(path));
  bool inside = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    int line = int(i + 1);
    std::string text = trim(lines[i]);
    if (!inside && (text.empty() || text[0] == '#')) continue;
    char kind[16], word[128], rest[8];
    if (!inside && std::sscanf(text.c_str(), "%15s %127s %7s", kind, word, rest) == 2 &&
        (std::strcmp(kind, "icon") == 0 || std::strcmp(kind, "cursor") == 0)) {
      pictures.push_back(Picture());
      pictures.back().id = pictureId(path, line, word, symbols);
      pictures.back().isCursor = kind[0] == 'c';
      inside = true;
    } else if (inside && text == "end") {
      if (pictures.back().rows.empty()) fail(path, line, "a drawing without rows");
      inside = false;
    } else if (inside && text.size() >= 2 && text.front() == '|' && text.back() == '|') {
      std::vector<std::string>& rows = pictures.back().rows;
      rows.push_back(text.substr(1, text.size() - 2));
      if (rows.front().size() != rows.back().size()) fail(path, line, "rows of one drawing differ in width");
    } else {
      fail(path, line, inside ? "expected a row between bars or 'end'" : "expected 'icon NAME' or 'cursor NAME'");
    }
  }
  if (inside) fail(path, int(lines.size()), "drawing without 'end'");
  return pictures;
}

// Every ICON and CURSOR of the script needs a drawing, and every drawing a file.
void pairPictures(const std::string& rcFile, const std::string& picturesFile,
                  const std::vector<ImageFile>& images, std::vector<Picture>& pictures) {
  for (const ImageFile& image : images) {
    Picture* found = nullptr;
    for (Picture& p : pictures) {
      if (p.id == image.id && p.isCursor == image.isCursor) found = &p;
    }
    if (!found) fail(rcFile, image.line, "no drawing in " + baseName(picturesFile) + " for this resource");
    readImageHeader(rcFile, image, *found);
  }
  for (const Picture& p : pictures) {
    if (p.width == 0)
      fail(picturesFile, 0, std::string(p.isCursor ? "cursor " : "icon ") + std::to_string(p.id) +
                                " has no " + (p.isCursor ? "CURSOR" : "ICON") + " statement in " + baseName(rcFile));
  }
}

// ---------------------------------------------------------------------------
// The generated source.

std::string emitControls(const Dialog& d) {
  std::string out = "const ControlTemplate kControls" + std::to_string(d.id) + "[] = {\n";
  for (const Control& c : d.controls) {
    char buf[160];
    std::snprintf(buf, sizeof buf, ", %lld, %lld, %lld, %lld, %lld, 0x%08Xu, %lld},\n",
                  (long long)c.id, (long long)c.x, (long long)c.y, (long long)c.cx,
                  (long long)c.cy, unsigned(c.style), (long long)c.iconId);
    out += "    {" + cLiteral(c.className) + ", " + cLiteral(c.text) + buf;
  }
  return out + "};\n\n";
}

std::string emitDialogs(const std::vector<Dialog>& dialogs) {
  std::string out;
  for (const Dialog& d : dialogs) out += emitControls(d);
  out += "const DialogTemplate kDialogs[] = {\n";
  for (const Dialog& d : dialogs) {
    char buf[200];
    std::snprintf(buf, sizeof buf, "    {%lld, %s, %lld, %lld, %lld, %lld, 0x%08Xu, ", (long long)d.id,
                  cLiteral(d.title).c_str(), (long long)d.x, (long long)d.y, (long long)d.cx,
                  (long long)d.cy, unsigned(d.style));
    out += buf + cLiteral(d.fontName) + ", " + std::to_string(d.pointSize) + ", kControls" +
           std::to_string(d.id) + ", " + std::to_string(d.controls.size()) + "},\n";
  }
  return out + "};\n\n";
}

std::string emitPictures(const std::vector<Picture>& pictures) {
  std::string out, table = "const PictureResource kPictures[] = {\n";
  for (const Picture& p : pictures) {
    std::string rows = std::string(p.isCursor ? "kCursor" : "kIcon") + std::to_string(p.id) + "Rows";
    out += "const char* const " + rows + "[] = {\n";
    for (const std::string& r : p.rows) out += "    " + cLiteral(r) + ",\n";
    out += "};\n\n";
    char buf[160];
    std::snprintf(buf, sizeof buf, "    {%lld, %s, %lld, %lld, %lld, %lld, %s, %d},\n", (long long)p.id,
                  p.isCursor ? "true" : "false", (long long)p.width, (long long)p.height,
                  (long long)p.hotX, (long long)p.hotY, rows.c_str(), int(p.rows.size()));
    table += buf;
  }
  return out + table + "};\n\n";
}

// Ends with a null name so that a script without texts still gives a table.
std::string emitVersionValues(const std::vector<std::pair<std::string, std::string>>& values) {
  std::string out = "struct VersionString {\n  const char* name;\n  const char* text;\n};\n\n"
                    "const VersionString kVersionValues[] = {\n";
  for (const auto& v : values) out += "    {" + cLiteral(v.first) + ", " + cLiteral(v.second) + "},\n";
  return out + "    {nullptr, nullptr},\n};\n\n";
}

const char kLookups[] =
    "}  // namespace\n\n"
    "const DialogTemplate* findDialogTemplate(int32_t id) {\n"
    "  for (const DialogTemplate& d : kDialogs) {\n"
    "    if (d.id == id) return &d;\n"
    "  }\n"
    "  return nullptr;\n"
    "}\n\n"
    "const PictureResource* findPicture(int32_t id, bool isCursor) {\n"
    "  for (const PictureResource& p : kPictures) {\n"
    "    if (p.id == id && p.isCursor == isCursor) return &p;\n"
    "  }\n"
    "  return nullptr;\n"
    "}\n\n"
    "// Names are matched without regard to case, as Windows' version API does.\n"
    "const char* versionValue(const char* name) {\n"
    "  for (const VersionString* v = kVersionValues; name && v->name; ++v) {\n"
    "    if (strcasecmp(v->name, name) == 0) return v->text;\n"
    "  }\n"
    "  return nullptr;\n"
    "}\n";

std::string generate(const Script& script, const std::vector<Picture>& pictures, const std::string& rcFile) {
  std::string out = "// Generated by tools/gen/rcgen from " + baseName(rcFile) +
                    "; edit that file, not this one.\n"
                    "#include \"platform/posix/resources.h\"\n\n"
                    "#include <strings.h>\n\n"
                    "namespace {\n\n";
  return out + emitDialogs(script.dialogs) + emitPictures(pictures) + emitVersionValues(script.versionValues) +
         kLookups;
}

// ---------------------------------------------------------------------------
// Checks that the tables can carry what the script says.

void checkRange(const std::string& file, int line, int64_t v, int64_t lo, int64_t hi,
                const std::string& what) {
  if (v < lo || v > hi) fail(file, line, what + " " + std::to_string(v) + " out of range");
}

void checkScript(const std::string& rcFile, const Script& script) {
  if (script.dialogs.empty()) fail(rcFile, 0, "no DIALOG templates");
  for (size_t i = 0; i < script.dialogs.size(); ++i) {
    const Dialog& d = script.dialogs[i];
    checkRange(rcFile, d.line, d.id, 1, 0xFFFF, "dialog number");
    for (size_t j = 0; j < i; ++j) {
      if (script.dialogs[j].id == d.id) fail(rcFile, d.line, "dialog " + std::to_string(d.id) + " defined twice");
    }
    for (const Control& c : d.controls) {
      checkRange(rcFile, c.line, c.id, -1, 0xFFFF, "control identifier");
      checkRange(rcFile, c.line, c.iconId, 0, 0xFFFF, "icon number");
    }
  }
}

void writeOutput(const std::string& path, const std::string& text) {
  std::string temporary = path + ".tmp";
  FILE* f = std::fopen(temporary.c_str(), "wb");
  if (!f) fail(temporary, 0, "cannot create");
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  ok = std::fclose(f) == 0 && ok;
  if (!ok || std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    fail(path, 0, "cannot write");
  }
}

}  // namespace

namespace rcgen {

void run(const std::string& header, const std::string& rcFile, const std::string& picturesFile,
         const std::string& output) {
  Symbols symbols = readHeader(header);
  Lexer lexer(rcFile, readFile(rcFile));
  Script script = Parser(lexer, symbols, baseName(header)).parse();
  checkScript(rcFile, script);
  std::vector<Picture> pictures = readPictures(picturesFile, symbols);
  pairPictures(rcFile, picturesFile, script.images, pictures);
  writeOutput(output, generate(script, pictures, rcFile));
}

}  // namespace rcgen
