// The help's one source, doc/kronsec.but with doc/linux.but and
// doc/windows.but, held to the code it describes and kept apart by system,
// and the steps of tools/gen/helpgen that turn it into the terminal pages,
// the context map of kronsec.hlp and a man page in man(7)'s shape.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "linux/cli.h"
#include "linux/drift.h"
#include "linux/frontends.h"
#include "linux/report.h"
#include "linux/timeservices.h"
#include "linux/settingscheck.h"
#include "linux/tui/keys.h"
#include "platform/posix/ini/store.h"
#include "tests/support/support.h"
#include "tools/gen/helpgen.h"
#include "ui/res/resource.h"

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string sourceFile(const std::string& path) {
  std::string text = readFile(std::string(KRONSEC_SOURCE_DIR) + "/" + path);
  EXPECT_FALSE(text.empty()) << path;
  return text;
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::vector<std::string> matches(const std::string& text, const std::string& pattern) {
  std::vector<std::string> found;
  std::regex re(pattern);
  for (std::sregex_iterator m(text.begin(), text.end(), re), end; m != end; ++m)
    found.push_back((*m)[1]);
  return found;
}

// The help's source files: what every system's help holds, and each
// system's own chapters.
const char kCommonHelp[] = "doc/kronsec.but";
const char kLinuxHelp[] = "doc/linux.but";
const char kWindowsHelp[] = "doc/windows.but";

// The chapter of the sources whose \cfg{winhelp-topic} is `topic`, markup kept.
std::string chapter(const std::string& topic) {
  std::string source =
      sourceFile(kCommonHelp) + "\n" + sourceFile(kLinuxHelp) + "\n" + sourceFile(kWindowsHelp);
  size_t at = source.find("\\cfg{winhelp-topic}{" + topic + "}");
  EXPECT_NE(at, std::string::npos) << topic;
  size_t next = std::min(source.find("\n\\U ", at), source.find("\n\\C{", at));
  return source.substr(at, next == std::string::npos ? std::string::npos : next - at);
}

// Every key the settings load reads: the names in its calls and tables, the
// day and month names.
std::set<std::string> settingsKeysTheProgramReads() {
  std::string code = sourceFile("app/settings.cpp") + sourceFile("app/names.cpp");
  std::set<std::string> keys;
  for (const char* pattern :
       {R"re((?:readText|readInt|readRangedSetting|readOptionalText|readLongSetting|loadList)\("(\w+)")re",
        R"re(\{"(\w+)",\s*[&"])re"}) {
    for (const std::string& key : matches(code, pattern)) keys.insert(key);
  }
  EXPECT_GE(keys.size(), 30u) << "the scan of the settings code found too few keys";
  return keys;
}

// ---- the source against the code ----------------------------------------------

// Every key the settings load reads (names in its calls and tables, the day
// and month names) is named as \c{key} in the settings topic. Keys are read
// without regard to case, so the topic may spell them as the file does.
TEST(HelpSource, NamesEverySettingsKeyTheProgramReads) {
  std::set<std::string> keys = settingsKeysTheProgramReads();
  std::set<std::string> documented;
  for (const std::string& word : matches(chapter("settings"), R"re(\\c\{(\w+)\})re"))
    documented.insert(lower(word));
  for (const std::string& key : keys) {
    EXPECT_TRUE(documented.count(lower(key)))
        << "the settings topic of doc/kronsec.but lacks \\c{" << key << "}";
  }
}

// Every value of ExitStatus has its \dt in the exit status topic.
TEST(HelpSource, NamesEveryExitStatus) {
  std::string header = sourceFile("timeclient/runreport.h");
  size_t begin = header.find("enum RunStatus");
  ASSERT_NE(begin, std::string::npos);
  std::string values = header.substr(begin, header.find("};", begin) - begin);
  std::vector<std::string> statuses = matches(values, R"re(=\s*(\d+))re");
  ASSERT_GE(statuses.size(), 6u);
  std::string topic = chapter("exitstatus");
  for (const std::string& status : statuses) {
    EXPECT_TRUE(std::regex_search(topic, std::regex("\n\\\\dt " + status + "\n")))
        << "the exit status topic of doc/linux.but lacks \\dt " << status;
  }
}

// The topics of the sources, read as halibut reads them in this order. A
// system's file on its own is read after the common one, whose chapters its
// cross-references may name, and keeps only its own topics after an empty
// contents page.
std::vector<helpgen::Topic> topicsOf(std::initializer_list<const char*> paths) {
  bool withCommon = std::string(*paths.begin()) == kCommonHelp;
  std::vector<helpgen::Source> sources;
  if (!withCommon) sources.push_back({kCommonHelp, sourceFile(kCommonHelp)});
  for (const char* path : paths) sources.push_back({path, sourceFile(path)});
  std::vector<helpgen::Topic> topics = helpgen::parseHelpSources(sources);
  if (withCommon) return topics;
  size_t common = topicsOf({kCommonHelp}).size();
  topics.erase(topics.begin() + 1, topics.begin() + static_cast<std::ptrdiff_t>(common));
  topics[0].text.clear();
  return topics;
}

// The titles of the sources' chapters (the contents page left out).
std::vector<std::string> chapterTitles(std::initializer_list<const char*> paths) {
  std::vector<std::string> titles;
  std::vector<helpgen::Topic> topics = topicsOf(paths);
  for (size_t t = 1; t < topics.size(); ++t) titles.push_back(topics[t].title);
  return titles;
}

// Each system's help speaks of its own files only: what every system reads
// never names the other's, and the Linux chapters never name kronsec.hlp or
// the Windows folder.
TEST(HelpSource, KeepsEachSystemsTextToItsOwnFile) {
  struct Row {
    const char* file;
    const char* word;
  } rows[] = {
      {kCommonHelp, "kronsec.hlp"},       {kCommonHelp, "Windows folder"},
      {kCommonHelp, "Control Panel"},     {kCommonHelp, "--config"},
      {kCommonHelp, "XDG_CONFIG_HOME"},   {kCommonHelp, "On Linux"},
      {kCommonHelp, "Keys in the terminal"}, {kLinuxHelp, "kronsec.hlp"},
      {kLinuxHelp, "Windows folder"},     {kLinuxHelp, "Control Panel"},
      {kWindowsHelp, "XDG_CONFIG_HOME"},  {kWindowsHelp, "--"},
  };
  for (const Row& r : rows) {
    std::string text;  // what the help says: its comment lines left out
    std::istringstream lines(sourceFile(r.file));
    for (std::string line; std::getline(lines, line);)
      if (line.compare(0, 2, "\\#") != 0) text += lower(line) + "\n";
    EXPECT_EQ(text.find(lower(r.word)), std::string::npos) << r.file << " speaks of " << r.word;
  }
  // The sources read together: every chapter title once.
  std::set<std::string> titles;
  for (const helpgen::Topic& t : topicsOf({kCommonHelp, kLinuxHelp, kWindowsHelp}))
    EXPECT_TRUE(titles.insert(t.title).second) << "two chapters named " << t.title;
}

// The key names of the terminal's tables, as their bindings give them.
std::set<std::string> keyNames(const std::vector<const KeyTable*>& tables) {
  std::set<std::string> names;
  for (const KeyTable* table : tables)
    for (const KeyGroup* group : *table)
      for (const KeyBinding& binding : *group) names.insert(binding.name);
  return names;
}

// The keys each part of the "Keys in the terminal" topic names in its terms;
// a paragraph of its own starts the next part. "Arrow keys" are the four, the
// mouse is no key.
std::vector<std::set<std::string>> documentedKeyParts() {
  std::vector<std::set<std::string>> parts;
  bool partEnded = true;
  for (const helpgen::Topic& topic :
       topicsOf({kLinuxHelp})) {
    if (topic.winhelpTopic != "keys") continue;
    std::istringstream lines(topic.text);
    for (std::string line; std::getline(lines, line);) {
      size_t tab = line.find('\t');
      if (tab == std::string::npos) {
        partEnded = partEnded || !line.empty();
        continue;
      }
      if (partEnded) parts.emplace_back();
      partEnded = false;
      std::istringstream terms(line.substr(0, tab));
      for (std::string name; std::getline(terms >> std::ws, name, ',');) {
        if (name == "Arrow keys") parts.back().insert({"Up", "Down", "Left", "Right"});
        else if (name != "Mouse") parts.back().insert(name);
      }
    }
  }
  return parts;
}

// The help and the terminal's key tables name the same keys, part by part:
// the dialogs (with their fields, lists and boxes), the help viewer, the
// file chooser.
TEST(HelpSource, NamesTheKeysOfTheTerminalsTables) {
  const std::vector<std::vector<const KeyTable*>> tables = {
      {&screenKeys(), &dialogKeys(), &editKeys(), &openListKeys(), &messageBoxKeys()},
      {&helpContentsKeys(), &helpTopicKeys()},
      {&chooserKeys(), &chooserTypeKeys(), &editKeys()},
  };
  std::vector<std::set<std::string>> documented = documentedKeyParts();
  ASSERT_EQ(documented.size(), tables.size());
  for (size_t part = 0; part < tables.size(); ++part) {
    std::set<std::string> bound = keyNames(tables[part]);
    for (const std::string& name : bound)
      EXPECT_TRUE(documented[part].count(name))
          << "part " << part << " of the keys topic lacks " << name;
    for (const std::string& name : documented[part])
      EXPECT_TRUE(bound.count(name)) << "part " << part << " of the keys topic names " << name
                                     << ", which no table binds";
  }
}

// ---- reading the source ----------------------------------------------------------

TEST(HelpSource, BecomesTheTerminalsTextForm) {
  struct Case {
    const char* source;
    const char* text;  // of the one chapter
  } cases[] = {
      {"\\U T\n\nOne\nparagraph.\n\nTwo.\n", "One paragraph.\n\nTwo."},
      {"\\U T\n\n\\dt \\c{host}\n\n\\dd The \\e{server}.\n\n\\dt b\n\n\\dd c\n\nAfter.\n",
       "host\tThe server.\nb\tc\n\nAfter."},
      {"\\U T\n\n\\b one\n\n\\b two\n", "- one\n- two"},
      {"\\U T\n\n\\c a  b\n\\c\n\\c c\n", "    a  b\n    \n    c"},
      {"\\U T\n\n\\q{quoted}, \\W{http://x}{link}, \\\\ \\{ \\}\\#{gone}.\n",
       "\"quoted\", link, \\ { }."},
      {"\\# a comment\n\n\\U T\n\n\\cfg{winhelp-topic}{t}\n\nText.\n", "Text."},
      // Index terms show as their text, or not at all; \IM is for the index.
      {"\\U T\n\n\\IM{w} word, index form\n\nA \\i{word}, \\I{hidden}\\i\\c{code}.\n\n\\dt \\i{Host}\n\n\\dd x\n",
       "A word, code.\n\nHost\tx"},
      // A cross-reference is the title of the \C chapter it names.
      {"\\C{t} T\n\nSee \\k{t}, \\K{t}.\n", "See T, T."},
  };
  for (const Case& c : cases) {
    std::vector<helpgen::Topic> topics = helpgen::parseHelpSource(c.source, "t.but");
    ASSERT_EQ(topics.size(), 2u) << c.source;
    EXPECT_EQ(topics[1].title, "T");
    EXPECT_EQ(topics[1].text, c.text) << c.source;
  }
}

TEST(HelpSource, StopsAtWhatItCannotRead) {
  for (const char* source :
       {"\\U T\n\n\\S{x} Section\n", "\\U T\n\nSee \\k{nowhere}.\n", "\\C{} T\n",
        "\\C{a} A\n\n\\C{a} B\n", "\\U T\n\n\\dt term\n\nNo dd.\n",
        "\\U T\n\n\\cfg{kronsec-context}{x}\n", "\\cfg{kronsec-context}{5}\n",
        "\\U T\n\nCaf\xc3\xa9.\n", "\\U T\n\nA { b.\n"})
    EXPECT_THROW(helpgen::parseHelpSource(source, "t.but"), helpgen::Error) << source;
}

// Later sources add chapters; text before their first chapter would land in
// the previous file's last chapter in halibut's output.
TEST(HelpSource, SeveralSourcesReadAsOne) {
  std::vector<helpgen::Topic> topics = helpgen::parseHelpSources(
      {{"a.but", "Intro.\n\n\\U A\n\nOne.\n"}, {"b.but", "\\# note\n\n\\U B\n\nTwo.\n"}});
  ASSERT_EQ(topics.size(), 3u);
  EXPECT_EQ(topics[0].text, "Intro.");
  EXPECT_EQ(topics[2].title, "B");
  EXPECT_EQ(topics[2].text, "Two.");
  EXPECT_THROW(helpgen::parseHelpSources({{"a.but", "\\U A\n"}, {"b.but", "Stray.\n\n\\U B\n"}}),
               helpgen::Error);
}

// A cross-reference may name a chapter of an earlier or a later source.
TEST(HelpSource, CrossReferencesReachEverySource) {
  std::vector<helpgen::Topic> topics = helpgen::parseHelpSources(
      {{"a.but", "\\C{a} A\n\nSee \\k{b}.\n"}, {"b.but", "\\C{b} B\n\nSee \\k{a}.\n"}});
  ASSERT_EQ(topics.size(), 3u);
  EXPECT_EQ(topics[1].text, "See B.");
  EXPECT_EQ(topics[2].text, "See A.");
  EXPECT_TRUE(topics[1].numbered);
}

TEST(HelpSource, KeepsContextsWithTheirChapter) {
  std::vector<helpgen::Topic> topics = helpgen::parseHelpSource(
      "\\cfg{winhelp-contents-titlepage}{Start}\n\nIntro.\n\n\\U A\n\n\\U B\n\n"
      "\\cfg{winhelp-topic}{b}\n\n\\cfg{kronsec-context}{1000}\n",
      "t.but");
  ASSERT_EQ(topics.size(), 3u);
  EXPECT_EQ(topics[0].title, "Start");
  EXPECT_EQ(topics[0].text, "Intro.");
  EXPECT_TRUE(topics[1].contexts.empty());
  EXPECT_EQ(topics[2].winhelpTopic, "b");
  EXPECT_EQ(topics[2].contexts, std::vector<uint32_t>{1000});
}

// ---- kronsec.hlp ----------------------------------------------------------------------

// The topics of kronsec.hlp, as halibut reads its sources.
std::vector<helpgen::Topic> helpTopicsOfSource() { return topicsOf({kCommonHelp, kWindowsHelp}); }

// The title kronsec.hlp gives a topic: halibut puts "Chapter N: " before
// the titles of the numbered chapters.
std::string titleInHelpFile(const std::vector<helpgen::Topic>& topics, size_t topic) {
  if (!topics[topic].numbered) return topics[topic].title;
  size_t number = 0;
  for (size_t t = 0; t <= topic; ++t) number += topics[t].numbered ? 1 : 0;
  return "Chapter " + std::to_string(number) + ": " + topics[topic].title;
}

std::string builtHelpFile() {
#ifdef KRONSEC_TEST_HLP
  return readFile(KRONSEC_TEST_HLP);
#else
  return "";
#endif
}

// The internal file at offset: its 9-byte header and the bytes it uses.
std::string internalFile(const std::string& hlp, uint32_t offset) {
  uint32_t used = 0;
  for (int i = 3; i >= 0; --i)
    used = used << 8 | static_cast<unsigned char>(hlp.at(offset + 4 + i));
  return hlp.substr(offset, 9 + used);
}

std::string titleAt(const std::string& hlp, uint32_t offset) {
  for (const auto& t : helpgen::hlpTitles(hlp))
    if (t.first == offset) return t.second;
  return "(no topic at " + std::to_string(offset) + ")";
}

// halibut hashes each topic's context string as helpgen does.
TEST(HelpFile, HalibutHashesTheTopicNamesAsWeDo) {
  std::string hlp = builtHelpFile();
  if (hlp.empty()) GTEST_SKIP() << "no kronsec.hlp: halibut is not installed";
  std::set<uint32_t> hashes;
  for (const auto& c : helpgen::hlpContexts(hlp)) hashes.insert(c.first);
  for (const helpgen::Topic& t : helpTopicsOfSource()) {
    if (t.winhelpTopic.empty()) continue;
    EXPECT_TRUE(hashes.count(helpgen::contextHash(t.winhelpTopic))) << t.winhelpTopic;
  }
}

// HELP_CONTEXT n opens the chapter that declares n; HELP_CONTENTS the
// contents page.
TEST(HelpFile, MapsEachContextNumberToItsTopic) {
  std::string hlp = builtHelpFile();
  if (hlp.empty()) GTEST_SKIP() << "no kronsec.hlp: halibut is not installed";
  std::vector<std::pair<uint32_t, std::string>> wanted;
  std::vector<helpgen::Topic> topics = helpTopicsOfSource();
  bool advanced = false;
  for (size_t t = 0; t < topics.size(); ++t) {
    for (uint32_t number : topics[t].contexts) wanted.emplace_back(number, titleInHelpFile(topics, t));
    advanced = advanced || (topics[t].title == "Advanced options" &&
                            std::count(topics[t].contexts.begin(), topics[t].contexts.end(), IDH_ADVANCED));
  }
  ASSERT_TRUE(advanced) << "the Advanced options chapter lacks the context IDH_ADVANCED";
  std::vector<std::pair<uint32_t, std::string>> mapped;
  for (const auto& m : helpgen::hlpContextMap(hlp))
    mapped.emplace_back(m.first, titleAt(hlp, m.second));
  EXPECT_EQ(mapped, wanted);
  EXPECT_EQ(titleAt(hlp, helpgen::hlpContentsTopic(hlp)), "Contents");
}

// The map moves; every other internal file stays where it was, byte for byte.
TEST(HelpFile, ANewMapLeavesTheRestOfTheFileAlone) {
  std::string hlp = builtHelpFile();
  if (hlp.empty()) GTEST_SKIP() << "no kronsec.hlp: halibut is not installed";
  std::vector<helpgen::Topic> topics = helpTopicsOfSource();
  topics[1].contexts = {7, 8};
  std::string remapped = helpgen::withContextMap(hlp, topics);
  std::vector<std::pair<uint32_t, std::string>> mapped;
  for (const auto& m : helpgen::hlpContextMap(remapped))
    mapped.emplace_back(m.first, titleAt(remapped, m.second));
  ASSERT_EQ(mapped.size(), 3u);
  EXPECT_EQ(mapped[0], std::make_pair(7u, titleInHelpFile(topics, 1)));
  EXPECT_EQ(mapped[1], std::make_pair(8u, titleInHelpFile(topics, 1)));
  std::vector<helpgen::DirectoryEntry> before = helpgen::hlpDirectory(hlp);
  std::vector<helpgen::DirectoryEntry> after = helpgen::hlpDirectory(remapped);
  ASSERT_EQ(before.size(), after.size());
  for (size_t i = 0; i < before.size(); ++i) {
    EXPECT_EQ(before[i].name, after[i].name);
    if (before[i].name != "|CTXOMAP") {
      EXPECT_EQ(before[i].offset, after[i].offset) << before[i].name;
      EXPECT_EQ(internalFile(remapped, after[i].offset), internalFile(hlp, before[i].offset))
          << before[i].name;
    }
  }
  EXPECT_THROW(helpgen::withContextMap("not a help file", topics), helpgen::Error);
}

// The Windows help holds the Windows chapters and none of Linux's.
TEST(HelpFile, HoldsNoLinuxChapter) {
  std::string hlp = builtHelpFile();
  if (hlp.empty()) GTEST_SKIP() << "no kronsec.hlp: halibut is not installed";
  std::set<std::string> titles;  // without the numbers halibut puts before them
  for (const auto& t : helpgen::hlpTitles(hlp))
    titles.insert(std::regex_replace(t.second, std::regex("^Chapter [0-9]+: "), ""));
  for (const std::string& title : chapterTitles({kLinuxHelp}))
    EXPECT_FALSE(titles.count(title)) << "kronsec.hlp holds " << title;
  for (const std::string& title : chapterTitles({kWindowsHelp}))
    EXPECT_TRUE(titles.count(title)) << "kronsec.hlp lacks " << title;
  EXPECT_TRUE(titles.count("The main dialog"));
}

// The texts of the controls of a dialog template in kronsec.rc that a person
// reads or presses (buttons, boxes, field labels), as the help names them:
// no '&', no blanks around, no ':' after a label.
std::vector<std::string> controlTexts(const std::string& rc, const std::string& dialog) {
  size_t begin = rc.find(dialog + " DIALOG");
  EXPECT_NE(begin, std::string::npos) << dialog;
  std::string block = rc.substr(begin, rc.find("\nEND", begin) - begin);
  std::vector<std::string> texts;
  std::regex control(R"re(CONTROL "([^"]+)", \w+, "(Button|Static)", ([A-Z_]+))re");
  for (std::sregex_iterator m(block.begin(), block.end(), control), end; m != end; ++m) {
    std::string text = (*m)[1], style = (*m)[3];
    if (style == "BS_GROUPBOX" || ((*m)[2] == "Static" && text.back() != ':')) continue;
    text.erase(std::remove(text.begin(), text.end(), '&'), text.end());
    while (text.front() == ' ') text.erase(0, 1);
    while (text.back() == ' ' || text.back() == ':') text.pop_back();
    texts.push_back(text);
  }
  return texts;
}

// The Index of kronsec.hlp lists every control of the main and the Advanced
// dialog, the keys of the dialogs (the main dialog's Alt+letters among them),
// every settings key and every message of Windows.
TEST(HelpFile, TheIndexNamesEveryControlKeySettingAndMessage) {
  std::string hlp = builtHelpFile();
  if (hlp.empty()) GTEST_SKIP() << "no kronsec.hlp: halibut is not installed";
  std::vector<std::string> keywords = helpgen::hlpKeywords(hlp);
  std::set<std::string> index(keywords.begin(), keywords.end());
  std::vector<std::string> wanted = {"Tab", "Shift+Tab", "Enter", "Esc", "Space", "Arrow keys"};
  std::string rc = sourceFile("ui/res/kronsec.rc");
  for (const char* dialog : {"IDD_MAIN", "IDD_ADVANCED"})
    for (const std::string& text : controlTexts(rc, dialog)) wanted.push_back(text);
  EXPECT_GE(wanted.size(), 30u) << "the scan of kronsec.rc found too few controls";
  for (const std::string& mnemonic : matches(rc.substr(0, rc.find("IDD_ABOUT")), R"re(CONTROL "[^"&]*&(\w))re"))
    wanted.push_back("Alt+" + std::string(1, static_cast<char>(std::toupper(mnemonic[0]))));
  for (const std::string& w : wanted) EXPECT_TRUE(index.count(w)) << "the Index lacks \"" << w << "\"";
  for (const std::string& key : settingsKeysTheProgramReads()) {
    bool found = false;
    for (const std::string& k : keywords)
      found = found || lower(k) == lower(key) + " key" || lower(k) == lower(key);
    EXPECT_TRUE(found) << "the Index lacks \"" << key << " key\"";
  }
  // Each message of kronsec.hlp is indexed where it is explained.
  for (const char* topic : {"messages", "windows"}) {
    std::vector<std::string> explained = matches(chapter(topic), R"re(\n\\dt [^\n]*\n\n\\dd ([^\n]*))re");
    EXPECT_GE(explained.size(), 4u) << topic;
    for (const std::string& dd : explained)
      EXPECT_EQ(dd.compare(0, 3, "\\I{"), 0) << "a message without its index term: " << dd;
  }
}

// ---- the man page -----------------------------------------------------------------------

// The built page: man(7)'s sections first, the Linux chapters in, the
// Windows ones and kronsec.hlp out.
TEST(ManPage, HoldsTheLinuxChaptersAndNoWindowsText) {
#ifdef KRONSEC_TEST_MAN
  std::string page = readFile(KRONSEC_TEST_MAN);
#else
  std::string page;
#endif
  if (page.empty()) GTEST_SKIP() << "no man page: halibut is not installed";
  std::vector<std::string> headings = matches(page, "\n\\.SH \"([^\"]*)\"");
  size_t shown = std::min<size_t>(8, headings.size());
  std::vector<std::string> leading(headings.begin(), headings.begin() + shown);
  EXPECT_EQ(leading, (std::vector<std::string>{"NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS",
                                               "EXIT STATUS", "ENVIRONMENT", "FILES", "EXAMPLES"}));
  EXPECT_EQ(headings.back(), "SEE ALSO");
  auto has = [&](const std::string& title) {
    std::string upper = title;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return std::count(headings.begin(), headings.end(), upper) == 1;
  };
  for (const std::string& title : chapterTitles({kCommonHelp, kLinuxHelp}))
    EXPECT_TRUE(has(title)) << title;
  for (const std::string& title : chapterTitles({kWindowsHelp})) EXPECT_FALSE(has(title)) << title;
  EXPECT_EQ(lower(page).find("kronsec.hlp"), std::string::npos);
}

TEST(ManPage, TidiedForLint) {
  struct Case {
    std::string page, tidy;
  } cases[] = {
      {".SH \"NAME\"\n.PP\ntext\n.PP\nmore\n", ".SH \"NAME\"\ntext\n.PP\nmore\n"},
      {".TH \"K\" \"1\" \"2026\\(hy12\\(hy07\" \"k\\ 1\"\n",
       ".TH \"K\" \"1\" \"2026-12-07\" \"k\\ 1\"\n"},
      {".nf\n" + std::string(90, 'x') + " y\n.fi\n", ".nf\n" + std::string(90, 'x') + " y\n.fi\n"},
      // man(7)'s order and capitals; what comes before the first heading stays first.
      {".TH \"K\"\n.SH \"NAME\"\nn\n.SH \"SEE ALSO\"\ns\n.SH \"DESCRIPTION\"\nd\n"
       ".SH \"The dialog\"\nt\n.SH \"Files\"\nf\n.SH \"Options\"\no\n.SH \"Keys\"\nk\n",
       ".TH \"K\"\n.SH \"NAME\"\nn\n.SH \"DESCRIPTION\"\nd\n.SH \"OPTIONS\"\no\n"
       ".SH \"FILES\"\nf\n.SH \"THE DIALOG\"\nt\n.SH \"KEYS\"\nk\n.SH \"SEE ALSO\"\ns\n"},
      {".SH \"Exit status\"\n.SH \"a\\(hyb \\[em] c\"\n",
       ".SH \"EXIT STATUS\"\n.SH \"A\\(hyB \\[em] C\"\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(helpgen::tidyManPage(c.page), c.tidy) << c.page;
}

// The man page's headings have no numbers: a cross-reference names the
// chapter's title instead of halibut's "chapter N".
TEST(ManPage, CrossReferencesNameTheChapter) {
  std::vector<std::string> titles = {"The main dialog", "Time zones"};
  EXPECT_EQ(helpgen::tidyManPage("See chapter 2. Chapter 1 too; chapter 3, chapters 2.\n", titles),
            "See Time zones. The main dialog too; chapter 3, chapters 2.\n");
  EXPECT_EQ(helpgen::numberedChapterTitles(helpgen::parseHelpSources(
                {{"a.but", "\\U A\n\n\\C{b} B\n"}, {"c.but", "\\U C\n\n\\C{d} D\n"}})),
            (std::vector<std::string>{"B", "D"}));
}

// Long text lines break at plain blanks, never before a control character
// or inside an escaped blank.
TEST(ManPage, LongLinesBreakWhereRoffReadsTheSame) {
  std::string words;
  for (int i = 0; i < 30; ++i) words += (i % 7 == 6 ? ".dot\\ x" : "word") + std::string(" ");
  words += "end";
  std::string tidy = helpgen::tidyManPage(words + "\n");
  std::string joined;
  std::istringstream lines(tidy);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_LE(line.size(), 80u) << line;
    EXPECT_NE(line[0], '.') << line;
    EXPECT_NE(line[0], ' ') << line;
    joined += (joined.empty() ? "" : " ") + line;
  }
  EXPECT_EQ(joined, words);
}

// ---- the man page against the program --------------------------------------------

// What the program writes to out.
template <typename Write>
std::string written(Write write) {
  char* text = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&text, &size);
  write(out);
  std::fclose(out);
  std::string s(text, size);
  std::free(text);
  return s;
}

// SYNOPSIS names every option --help lists, by its long or its short name.
TEST(ManPage, SynopsisNamesEveryOptionOfHelp) {
  std::string usage = written([](FILE* out) { printUsage(out); });
  usage = usage.substr(0, usage.find("\nEnvironment:"));
  std::string page = sourceFile("doc/manpage.but");
  size_t from = page.find("\\U SYNOPSIS");
  ASSERT_NE(from, std::string::npos);
  std::string synopsis = page.substr(from, page.find("\\U ", from + 1) - from);
  std::regex option(R"re(\n  (?:(-\w), )?\s*(--[\w-]+))re");
  size_t seen = 0;
  for (std::sregex_iterator m(usage.begin(), usage.end(), option), end; m != end; ++m, ++seen) {
    std::string shortName = (*m)[1], longName = (*m)[2];
    bool named = synopsis.find("\\c{" + longName + "}") != std::string::npos ||
                 (!shortName.empty() && synopsis.find("\\c{" + shortName + "}") != std::string::npos);
    EXPECT_TRUE(named) << "SYNOPSIS in doc/manpage.but lacks " << longName;
  }
  EXPECT_GE(seen, 10u) << "the scan of --help found too few options";
}

// A \dt line of the source as a pattern of the line it quotes: markup gone,
// each \e{WORD} (a word that stands for what it names) matching any text.
std::string quotedLinePattern(const std::string& source) {
  const std::string special = R"(\^$.|?*+()[]{})";
  auto literal = [&](const std::string& text) {
    std::string out;
    for (char c : text) out += (special.find(c) != std::string::npos ? "\\" : "") + std::string(1, c);
    return out;
  };
  std::string pattern;
  for (size_t i = 0; i < source.size(); ++i) {
    if (source[i] != '\\') {
      pattern += literal(source.substr(i, 1));
    } else if (i + 1 < source.size() && std::strchr("\\{}", source[i + 1])) {
      pattern += literal(source.substr(++i, 1));
    } else {
      size_t open = source.find('{', i), close = source.find('}', open);
      std::string command = source.substr(i + 1, open - i - 1);
      pattern += command == "e" ? ".+" : literal(source.substr(open + 1, close - open - 1));
      i = close;
    }
  }
  return pattern;
}

RunReport askedReport(const char* host) {
  RunReport r{};
  r.asked = true;
  r.servers = 1;
  std::snprintf(r.host, sizeof r.host, "%s", host);
  return r;
}

// A settings file with the mistakes the warnings name, each once, in a
// folder of its own (with the zone file of its zone name); returns its path.
std::string fileOfMistakes(const std::string& folder) {
  mkdir((folder + "/zones").c_str(), 0700);
  mkdir((folder + "/zones/Europe").c_str(), 0700);
  writeFileBytes(folder + "/zones/Europe/Madrid", std::string("TZif2") + std::string(39, '\0') +
                                                      "\nCET-1CEST,M3.5.0,M10.5.0/3\n");
  std::string path = folder + "/orv.ini";
  writeFileBytes(path, "reportOnly=1\n[kronsec]\nreport_only=1\nreportOnly=0\nreportOnly=1\n"
                       "maxAdjust=sixty\nadjOpt=5\nTZ=Europe/Madrid\nhost=300.1.2.3\nlogPath=/k.log ; the log\n"
                       "[KRONSEC]\n");
  return path;
}

std::string numberWarningText;
void keepNumberWarning(const std::string&, const std::string& text) { numberWarningText = text; }

// Every line the program writes that the diagnostics chapter quotes,
// made by the program's own code from sample values.
std::vector<std::string> linesTheProgramWrites(const std::string& folder) {
  std::string path = fileOfMistakes(folder);
  setenv("TZDIR", (folder + "/zones").c_str(), 1);
  std::string warnings = settingsWarnings(path, "kronsec --check");
  std::string many = folder + "/many.ini";
  std::string bytes = "[kronsec]\n";
  for (uint64_t i = 0; i <= mostWarnings; ++i) bytes += "unknown" + std::to_string(i) + "=1\n";
  writeFileBytes(many, bytes);
  warnings += settingsWarnings(many, "kronsec --check -c /etc/kronsec");
  unsetenv("TZDIR");
  ini::setNumberWarning(keepNumberWarning);
  GetPrivateProfileIntA("kronsec", "maxAdjust", 0, path.c_str());
  ini::setNumberWarning(nullptr);
  RunReport silent = askedReport("time.example.net"), noName = silent;
  silent.server[0].failure = QueryFailure{QueryStep::kTimeout, WSAETIMEDOUT, 0, false, 0};
  noName.server[0].failure = QueryFailure{QueryStep::kResolve, WSATRY_AGAIN, 0, false, 0};
  RunReport noTz = askedReport(""), noHost = noTz;
  noTz.asked = noHost.asked = false;
  noTz.missing = Missing::kNoTz;
  noHost.missing = Missing::kNoHost;
  RunReport unknownClock = askedReport("time.example.net");
  unknownClock.decided = unknownClock.overLimit = true;
  unknownClock.ask = ClockAsk::kHold;
  unknownClock.clock = ClockDone::kUntouched;
  RunReport changed = askedReport("time.example.net");
  changed.decided = true;
  changed.clock = ClockDone::kStepped;
  RunReport three = askedReport("a b c d e");
  three.servers = 5;
  three.server[1].use = ServerUse::kDisagreed;
  three.server[1].distanceUs = -60000000;
  three.server[2].use = ServerUse::kSilent;
  three.server[2].failure.step = QueryStep::kTimeout;
  three.server[3].use = ServerUse::kRefused;
  three.server[3].failure.step = QueryStep::kNoTime;
  three.server[4].use = ServerUse::kNotWaitedFor;
  three.notes.repeated = 1;
  for (int i = 0; i < 5; ++i) std::snprintf(three.server[i].label, sizeof three.server[i].label, "192.0.2.%d", i + 7);
  std::snprintf(three.notes.repeatedLabels[0], serverLabelSize, "192.0.2.7");
  // A damaged drift history, learnt from by a report-only run (which never
  // tells the kernel anything).
  setenv("XDG_STATE_HOME", folder.c_str(), 1);
  mkdir((folder + "/kronsec").c_str(), 0700);
  writeFileBytes(folder + "/kronsec/drift", "not a history\n");
  RunReport measured = askedReport("time.example.net");
  measured.decided = measured.diffKnown = true;
  std::string drift = learnDrift(measured, "").notes;
  unsetenv("XDG_STATE_HOME");
  std::string all = warnings + drift + lockBusyLine("/etc/kronsec", 1234) +
      clockProblemLines(unknownClock) + kernelStatusLine(changed) + serverLines(three) +
      headlessBoxLine("Settings Warning", fileBoxText(path, numberWarningText)) +
      headlessBoxLine("Winsock Error", "\r\nkronsec: no answer from host time.example.net\r\n"
                                       "(the server closed the connection after 2 bytes)\r\n") +
      fileProblemLine(path, cannotReadText(EACCES)) + configFolderMissingLine("/etc/kronsek") +
      saveFailedLine(path, "the file is read-only") + plainFailureLine(silent) + plainFailureLine(noName) +
      noStartAdvice(noTz, path, 0) + noStartAdvice(noHost, path, 0) +
      noTerminalLine("--terminal", "standard input is not a terminal") +
      timeServiceLine("chronyd") + stoppedLine(SIGTERM, true);
  std::vector<std::string> lines;
  std::istringstream in(all);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Every line the diagnostics chapter quotes is one the program writes, as
// it writes it (a box's line without the "kronsec: " of a headless run).
TEST(HelpSource, EveryDiagnosticIsALineTheProgramWrites) {
  char name[] = "/tmp/kronsec-diagnostics-XXXXXX";
  ASSERT_NE(mkdtemp(name), nullptr);
  std::vector<std::string> real = linesTheProgramWrites(name);
  std::vector<std::string> quoted = matches(chapter("diagnostics"), R"re(\n\\dt ([^\n]+))re");
  EXPECT_GE(quoted.size(), 18u);
  for (const std::string& line : quoted) {
    std::regex pattern(quotedLinePattern(line));
    bool found = std::any_of(real.begin(), real.end(), [&](const std::string& r) {
      const std::string own = "kronsec: ";
      return std::regex_match(r, pattern) ||
             (r.compare(0, own.size(), own) == 0 && std::regex_match(r.substr(own.size()), pattern));
    });
    EXPECT_TRUE(found) << "doc/linux.but quotes a line the program does not write:\n" << line;
  }
  std::string remove = std::string("rm -rf ") + name;
  EXPECT_EQ(std::system(remove.c_str()), 0);
}

}  // namespace
