#include "timeclient/client.h"

#include <cstdio>
#include <cstring>

namespace {
// Names in a host text are separated by blanks or commas.
bool separates(char c) { return c == ' ' || c == '\t' || c == ','; }

constexpr size_t longestLabel = 63;  // of a host name's parts (RFC 1035)
constexpr size_t longestHostName = 253;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isLabelByte(char c) {
  return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '_';
}

// Whether the length bytes at text can be one part of a host name.
bool isNameLabel(const char* text, size_t length) {
  if (length == 0 || length > longestLabel || text[0] == '-' || text[length - 1] == '-') return false;
  for (size_t i = 0; i < length; ++i)
    if (!isLabelByte(text[i])) return false;
  return true;
}

bool isHostName(const char* text, size_t length) {
  if (length > 0 && text[length - 1] == '.') --length;  // the root's dot
  if (length == 0 || length > longestHostName) return false;
  size_t last = length;
  while (last > 0 && text[last - 1] != '.') --last;
  bool lastAllDigits = true;
  for (size_t i = last; i < length; ++i) lastAllDigits = lastAllDigits && isDigit(text[i]);
  if (lastAllDigits) return false;
  for (size_t from = 0; from <= length;) {
    size_t end = from;
    while (end < length && text[end] != '.') ++end;
    if (!isNameLabel(text + from, end - from)) return false;
    from = end + 1;
  }
  return true;
}

void setLabel(ServerAddress* s, const char* text, size_t length) {
  if (length >= serverLabelSize) length = serverLabelSize - 1;
  std::memcpy(s->label, text, length);
  s->label[length] = '\0';
}

void labelWithAddress(ServerAddress* s) {
  const unsigned char* b = reinterpret_cast<const unsigned char*>(&s->address);
  std::snprintf(s->label, serverLabelSize, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}

bool sameLabel(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    char x = *a >= 'A' && *a <= 'Z' ? static_cast<char>(*a - 'A' + 'a') : *a;
    char y = *b >= 'A' && *b <= 'Z' ? static_cast<char>(*b - 'A' + 'a') : *b;
    if (x != y) return false;
  }
  return *a == *b;
}

// Whether the list has this server already: the same address, or for a
// name that did not resolve, the same name.
bool alreadyListed(const ServerList& list, const ServerAddress& s) {
  for (int32_t i = 0; i < list.count; ++i) {
    const ServerAddress& known = list.servers[i];
    if (known.resolved != s.resolved) continue;
    if (s.resolved ? known.address == s.address : sameLabel(known.label, s.label)) return true;
  }
  return false;
}

void noteRepeated(ServerList* list, const char* label) {
  HostTextNotes& notes = list->notes;
  if (notes.repeated < maxServers)
    std::snprintf(notes.repeatedLabels[notes.repeated], serverLabelSize, "%s", label);
  ++notes.repeated;
}

// Adds one server unless it is listed already; counts those past the limit.
void addServer(ServerList* list, const ServerAddress& s) {
  if (alreadyListed(*list, s)) return noteRepeated(list, s.label);
  if (list->count == maxServers) {
    ++list->leftOut;
    return;
  }
  list->servers[list->count++] = s;
}

// Adds one name's servers to the list: its address, its every address, or
// its failure.
void addName(ServerList* list, const char* name) {
  ServerAddress one{};
  setLabel(&one, name, std::strlen(name));
  std::memcpy(one.name, one.label, sizeof one.name);
  uint32_t dotted = static_cast<uint32_t>(inet_addr(name));
  hostent* entry = dotted != static_cast<uint32_t>(INADDR_NONE) ? nullptr : gethostbyname(name);
  int32_t addresses = 1;
  if (dotted == static_cast<uint32_t>(INADDR_NONE) && !entry) {
    one.failure = QueryFailure{QueryStep::kResolve, WSAGetLastError(), 0, false};
  } else {
    one.resolved = true;
    one.address = dotted;
    if (entry) {
      for (addresses = 0; entry->h_addr_list[addresses]; ++addresses) {}
      std::memcpy(&one.address, entry->h_addr_list[0], sizeof one.address);
    }
  }
  for (int32_t i = 0; i < addresses; ++i) {
    ServerAddress s = one;
    if (i > 0) std::memcpy(&s.address, entry->h_addr_list[i], sizeof s.address);
    if (addresses > 1) labelWithAddress(&s);
    addServer(list, s);
  }
}

// A text of several items is refused whole when one is no host: it most
// likely holds a comment, whose words would be asked as servers.
bool refuseNotAHost(ServerList* list, const char* text) {
  size_t at = 0, items = 0, length;
  const char* bad = nullptr;
  size_t badLength = 0;
  while ((length = nextHostItem(text, &at)) != 0) {
    ++items;
    if (!bad && classifyHostItem(text + at, length) == HostItem::kNotAHost) {
      bad = text + at;
      badLength = length;
    }
    at += length;
  }
  if (items < 2 || !bad) return false;
  list->notes.refused = true;
  if (badLength >= serverLabelSize) badLength = serverLabelSize - 1;
  std::memcpy(list->notes.notAHost, bad, badLength);
  list->notes.notAHost[badLength] = '\0';
  return true;
}

bool settlePort(int32_t port, const char* service, sockaddr_in* address) {
  if (port != 0) {
    address->sin_port = htons(static_cast<uint16_t>(port));
    return true;
  }
  servent* entry = getservbyname(service, "tcp");
  if (!entry) return false;
  address->sin_port = static_cast<uint16_t>(entry->s_port);
  return true;
}

Connection failedAt(QueryStep step) {
  return Connection{INVALID_SOCKET, QueryFailure{step, WSAGetLastError(), 0, false}};
}
}  // namespace

HostItem classifyHostItem(const char* text, size_t length) {
  char item[longestHostName + 2];
  if (length == 0 || length >= sizeof item) return HostItem::kNotAHost;
  std::memcpy(item, text, length);
  item[length] = '\0';
  // inet_addr reads the all-ones address as its own failure.
  if (static_cast<uint32_t>(inet_addr(item)) != static_cast<uint32_t>(INADDR_NONE) ||
      std::strcmp(item, "255.255.255.255") == 0)
    return HostItem::kAddress;
  return isHostName(item, length) ? HostItem::kName : HostItem::kNotAHost;
}

void notAHostText(char* out, size_t size, const char* item) {
  std::snprintf(out, size,
                "\"%s\" is neither a host name nor an IPv4 address: kronsec asks no server of "
                "this host text (a comment goes on a line of its own, starting with ;)",
                item);
}

size_t nextHostItem(const char* text, size_t* at) {
  while (text[*at] && separates(text[*at])) ++*at;
  size_t length = 0;
  while (text[*at + length] && !separates(text[*at + length])) ++length;
  return length;
}

ServerList resolveServers(const char* hostText) {
  ServerList list{};
  char name[serverLabelSize];
  const char* text = hostText ? hostText : "";
  if (refuseNotAHost(&list, text)) return list;
  size_t at = 0, length;
  while ((length = nextHostItem(text, &at)) != 0) {
    ++list.names;
    // A name too long to keep is no host name: cut, it fails to resolve.
    size_t kept = length < sizeof name ? length : sizeof name - 1;
    std::memcpy(name, text + at, kept);
    name[kept] = '\0';
    addName(&list, name);
    at += length;
  }
  if (list.count == 0) {
    // Nothing but blanks and commas names no host.
    list.servers[0].failure = QueryFailure{QueryStep::kResolve, WSAHOST_NOT_FOUND, 0, false};
    list.count = 1;
  }
  return list;
}

Connection connectToAddress(uint32_t address, int32_t port, const char* service) {
  sockaddr_in to;
  std::memset(&to, 0, sizeof to);
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = address;
  if (!settlePort(port, service, &to)) return failedAt(QueryStep::kService);
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return failedAt(QueryStep::kSocket);
  if (connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) >= 0) return Connection{s, {}};
  // The code first: closing the socket may leave another.
  Connection failed = failedAt(QueryStep::kConnect);
  closesocket(s);
  return failed;
}
