// kronsec's user help for the terminal front end: the topics and the way
// their text is broken into screen lines. The topics come from doc/kronsec.but,
// the source of every form of the help: tools/gen/helpgen turns it into
// helpTopics() and helpTopicForContext() at build time.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

// One topic. Its text is a list of paragraphs separated by '\n'; an empty
// paragraph is a blank line. Leading blanks indent a paragraph, "- " starts a
// bullet, and a TAB splits a paragraph into a term and its description, which
// is lined up in a column of its own. Four or more leading blanks mark a line
// that is shown as it is (less two blanks), never wrapped.
struct HelpTopic {
  const char* title;
  const char* text;
};

// The topics, one per chapter of the source; topic 0 is Contents, whose text
// introduces the list of the others.
const std::vector<HelpTopic>& helpTopics();

// The topic shown for a help context number (the source's
// \cfg{kronsec-context}: 1000 is Advanced options), Contents (0) for any
// number without a topic.
size_t helpTopicForContext(unsigned long context);

// Breaks a topic text into lines of at most `width` columns (width >= 1).
std::vector<std::string> wrapHelpText(const char* text, int width);
