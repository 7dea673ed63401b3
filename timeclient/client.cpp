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

void labelWithAddress(ServerAddress* s) { kronAddressText(&s->address, s->label, serverLabelSize); }

bool sameAddress(const KronAddress& a, const KronAddress& b) {
  return a.family == b.family && a.scope == b.scope && std::memcmp(a.bytes, b.bytes, sizeof a.bytes) == 0;
}

bool isHexDigit(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Whether the length bytes at text are a dotted IPv4 address of four
// decimal parts, as the end of an IPv6 address may be.
bool isDottedQuad(const char* text, size_t length) {
  int parts = 0;
  for (size_t from = 0; from <= length; ++parts) {
    size_t end = from;
    while (end < length && isDigit(text[end])) ++end;
    if (end == from || end - from > 3 || (end < length && text[end] != '.')) return false;
    from = end + 1;
  }
  return parts == 4;
}

// Whether the length bytes at text are an IPv6 address in its text form:
// groups of up to four hexadecimal digits between colons, one "::" at most
// standing for the groups left out, an IPv4 address at the end allowed.
bool isIpv6Text(const char* text, size_t length) {
  int groups = 0;
  bool gap = false;
  for (size_t at = 0; at < length;) {
    if (text[at] == ':' && at + 1 < length && text[at + 1] == ':') {
      if (gap) return false;
      gap = true;
      at += 2;
      continue;
    }
    if (text[at] == ':') {
      if (at == 0 || at + 1 == length) return false;
      ++at;
      continue;
    }
    size_t end = at;
    while (end < length && isHexDigit(text[end])) ++end;
    // An IPv4 address ends it, in the place of two groups.
    if (end < length && text[end] == '.')
      return isDottedQuad(text + at, length - at) && (gap ? groups + 2 <= 7 : groups + 2 == 8);
    if (end == at || end - at > 4) return false;
    ++groups;
    at = end;
  }
  return gap ? groups <= 7 : groups == 8;
}

// Whether the item is an IPv6 address: bare, in brackets, or with its
// link's zone after a '%'.
bool isIpv6Literal(const char* text, size_t length) {
  if (length > 2 && text[0] == '[' && text[length - 1] == ']') {
    ++text;
    length -= 2;
  }
  size_t zone = 0;
  while (zone < length && text[zone] != '%') ++zone;
  for (size_t i = zone + 1; i < length; ++i)
    if (!isLabelByte(text[i]) && text[i] != '.') return false;
  if (zone < length && zone + 1 == length) return false;  // a '%' and no zone
  return isIpv6Text(text, zone);
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
    if (s.resolved ? sameAddress(known.address, s.address) : sameLabel(known.label, s.label)) return true;
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

// A name with addresses of both families is one machine, not two servers:
// it keeps those of the family of its first address. Returns the count kept.
int32_t oneMachine(KronAddress* found, int32_t count) {
  int32_t kept = 0;
  for (int32_t i = 0; i < count; ++i)
    if (found[i].family == found[0].family) found[kept++] = found[i];
  return kept;
}

// Adds one name's servers to the list: its address, its every address, or
// its failure.
void addName(ServerList* list, const char* name, int32_t family) {
  ServerAddress one{};
  setLabel(&one, name, std::strlen(name));
  std::memcpy(one.name, one.label, sizeof one.name);
  KronAddress found[maxServers + 1];
  int32_t addresses = oneMachine(found, kronResolveHost(name, family, found, maxServers + 1));
  if (addresses == 0) {
    one.failure = QueryFailure{QueryStep::kResolve, WSAGetLastError(), 0, false, 0};
    return addServer(list, one);
  }
  one.resolved = true;
  for (int32_t i = 0; i < addresses; ++i) {
    ServerAddress s = one;
    s.address = found[i];
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

// The port in network order: the one given, or the service's.
bool settlePort(int32_t port, const char* service, uint16_t* networkPort) {
  if (port != 0) {
    *networkPort = htons(static_cast<uint16_t>(port));
    return true;
  }
  servent* entry = getservbyname(service, "tcp");
  if (!entry) return false;
  *networkPort = static_cast<uint16_t>(entry->s_port);
  return true;
}

Connection failedAt(QueryStep step) {
  return Connection{INVALID_SOCKET, QueryFailure{step, WSAGetLastError(), 0, false, 0}};
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
  if (isIpv6Literal(item, length)) return HostItem::kIpv6;
  return isHostName(item, length) ? HostItem::kName : HostItem::kNotAHost;
}

void notAHostText(char* out, size_t size, const char* item) {
  std::snprintf(out, size,
                "\"%s\" is neither a host name nor an address: kronsec asks no server of "
                "this host text (a comment goes on a line of its own, starting with ;)",
                item);
}

size_t nextHostItem(const char* text, size_t* at) {
  while (text[*at] && separates(text[*at])) ++*at;
  size_t length = 0;
  while (text[*at + length] && !separates(text[*at + length])) ++length;
  return length;
}

ServerList resolveServers(const char* hostText, int32_t family) {
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
    addName(&list, name, family);
    at += length;
  }
  if (list.count == 0) {
    // Nothing but blanks and commas names no host.
    list.servers[0].failure = QueryFailure{QueryStep::kResolve, WSAHOST_NOT_FOUND, 0, false, 0};
    list.count = 1;
  }
  return list;
}

Connection connectToAddress(const KronAddress& address, int32_t port, const char* service) {
  uint16_t networkPort = 0;
  if (!settlePort(port, service, &networkPort)) return failedAt(QueryStep::kService);
  SOCKET s = socket(address.family, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return failedAt(QueryStep::kSocket);
  if (kronConnectTo(s, &address, networkPort) >= 0) return Connection{s, {}};
  // The code first: closing the socket may leave another.
  Connection failed = failedAt(QueryStep::kConnect);
  closesocket(s);
  return failed;
}
