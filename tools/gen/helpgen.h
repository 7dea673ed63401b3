// The steps of our own around halibut that turn doc/kronsec.but into every
// form of kronsec's help: the terminal viewer's topic table, the context
// numbers of kronsec.hlp, and a man page that lints clean. tools/gen/helpgen runs
// them at build time; the tests call them directly.
#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace helpgen {

// Every failure: a "file:line: error: ..." or a plain message.
struct Error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// One topic of the help: a \C or \U chapter, or the contents page (the text before
// the first chapter). text is in the terminal viewer's form (see
// linux/tui/helptext.h).
struct Topic {
  std::string title;
  std::string text;
  std::string winhelpTopic;        // its \cfg{winhelp-topic}, or ""
  std::vector<uint32_t> contexts;  // its \cfg{kronsec-context} numbers
  bool numbered = false;           // a \C chapter, which halibut numbers
};

// Reads the halibut subset doc/kronsec.but is written in; topic 0 is the
// contents page. name is used in messages.
std::vector<Topic> parseHelpSource(const std::string& source, const std::string& name);

// One help source file: its name (for messages) and its text.
struct Source {
  std::string name, text;
};

// Reads sources that halibut reads as one document, in their order: the
// first holds the contents page; a later one may hold only chapters (text
// before its first chapter is an error).
std::vector<Topic> parseHelpSources(const std::vector<Source>& sources);

// The C++ source of helpTopics() and helpTopicForContext() for the topics.
std::string pagesSource(const std::vector<Topic>& topics, const std::string& from);

// WinHelp's hash of a context string (letters, digits, '.' and '_').
uint32_t contextHash(const std::string& id);

// Readers of a .hlp file's bytes. Each throws Error on a malformed file.
struct DirectoryEntry {
  std::string name;
  uint32_t offset;     // of the internal file's header
  size_t offsetField;  // where that offset is stored in the directory
};
std::vector<DirectoryEntry> hlpDirectory(const std::string& hlp);
// |CONTEXT: (hash, topic offset) in file order.
std::vector<std::pair<uint32_t, uint32_t>> hlpContexts(const std::string& hlp);
// |TTLBTREE: (topic offset, title).
std::vector<std::pair<uint32_t, std::string>> hlpTitles(const std::string& hlp);
// |CTXOMAP: (context number, topic offset).
std::vector<std::pair<uint32_t, uint32_t>> hlpContextMap(const std::string& hlp);
// |KWBTREE: the keywords of the Index, in the file's order.
std::vector<std::string> hlpKeywords(const std::string& hlp);
// |SYSTEM's contents topic, the one HELP_CONTENTS opens.
uint32_t hlpContentsTopic(const std::string& hlp);

// The .hlp with its |CTXOMAP holding each topic's context numbers, mapped
// through the topic's WinHelp context string to where |CONTEXT puts it.
std::string withContextMap(const std::string& hlp, const std::vector<Topic>& topics);

// halibut's man page in the shape man(7) gives one: the sections it names
// first, in its order (NAME, SYNOPSIS, DESCRIPTION, OPTIONS, EXIT STATUS,
// ENVIRONMENT, FILES, EXAMPLES), the help's other chapters after them in
// their order, SEE ALSO last, every heading in capitals; and with what
// mandoc -T lint objects to taken out: no paragraph macro right after a
// heading, a plain date, no text line longer than 80 bytes. A man page's
// headings carry no numbers, so each cross-reference halibut wrote as
// "chapter N" becomes the title of the N-th numbered chapter,
// chapterTitles[N - 1].
std::string tidyManPage(const std::string& page, const std::vector<std::string>& chapterTitles = {});

// The titles of the numbered (\C) chapters among the topics, in halibut's order.
std::vector<std::string> numberedChapterTitles(const std::vector<Topic>& topics);

}  // namespace helpgen
