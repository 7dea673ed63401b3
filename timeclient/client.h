// The network end of kronsec: connecting to a Time service. Failures are
// returned with the step they happened at and the Winsock code they left;
// saying them to the user is the caller's.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/win32.h"

// Where a query ended without an answer.
enum class QueryStep {
  kResolve,        // the host is neither a dotted address nor a known name
  kService,        // the service has no port
  kSocket,         // no socket could be had
  kConnect,        // the connection was refused or failed
  kNotified,       // the socket's notification carried an error
  kRead,           // reading the answer failed
  kShortRead,      // fewer than the answer's four bytes arrived
  kTimeout,        // no answer came in time
  kContradiction,  // precise mode: the server's answers cannot all be true
  kNoTime,         // the answer says the server does not know the time: 0,
                   // or a count from 1900 (a clock never set)
  kLate,           // the answer took over mostLagMs: too uncertain to use
};

// Why a query got no answer, as its owner reports it.
// Plain data: the records that hold one are zero at start without code to
// make them so.
struct QueryFailure {
  QueryStep step;
  int32_t code;       // the Winsock code the step left; 0 where it left none
  int32_t bytes;      // kShortRead: how many of the four bytes had arrived
  bool serverClosed;  // kShortRead: the server had closed its end
  uint32_t value;     // kNoTime: the answer; kLate: its lag in ms
};

// The most servers one host text may name, every address of a name counted.
constexpr int32_t maxServers = 8;

// What one item of a host text is.
enum class HostItem {
  kAddress,   // a dotted IPv4 address, as inet_addr reads it
  kName,      // a host name: dot-separated labels of letters, digits, '-' and
              // '_', the last one not all digits (that is a broken address)
  kIpv6,      // an IPv6 address: bare, in brackets, or with its link's zone
  kNotAHost,  // neither: a ';' or '#' that starts a comment, a word with
              // other bytes, an over-long name, a malformed IPv6 address
};

// Returns what the length bytes at text are as an item of a host text.
HostItem classifyHostItem(const char* text, size_t length);

// Writes into out (size bytes) why a host text of several items that holds
// item, which is neither a name nor an address, asks no server.
void notAHostText(char* out, size_t size, const char* item);

// Returns the length of the next item of a host text at or after *at, and
// moves *at to its first byte; 0 when none is left. Items are separated by
// blanks, tabs and commas.
size_t nextHostItem(const char* text, size_t* at);

// Room for a server's label: a name as the user wrote it, or an address.
constexpr size_t serverLabelSize = 256;

// One server of a host text: a dotted address, or one address of a name.
struct ServerAddress {
  char name[serverLabelSize];   // the host text's item it came from, cut to fit
  char label[serverLabelSize];  // the name as given, or the address when the
                                // name has several; cut to fit
  KronAddress address;
  bool resolved;                // false: failure says why the name was not
  QueryFailure failure;
};

// What a host text held beside its servers.
struct HostTextNotes {
  // Servers written (or reached through a name) again: each distinct
  // address is one server, asked once and counted once.
  int32_t repeated;
  char repeatedLabels[maxServers][serverLabelSize];  // the first maxServers
  // A text of several items with one that is no host (a ';' that starts a
  // comment): nothing is resolved and no server is asked.
  bool refused;
  char notAHost[serverLabelSize];  // that item, cut to fit
};

// The servers a host text names, each name resolved once.
struct ServerList {
  int32_t count;     // entries in servers
  int32_t names;     // names and addresses in the text
  int32_t leftOut;   // servers past maxServers, not asked
  ServerAddress servers[maxServers];
  HostTextNotes notes;
};

// Returns the servers of a host text: names and addresses separated by
// blanks or commas, limited to one family (KRON_IPV4_ONLY, KRON_IPV6_ONLY)
// or not. A name with addresses of one family is a pool: each address is a
// server. A name with addresses of both is one machine: its addresses of
// the family of its first (the system's order of preference) are its
// servers. Each distinct address once, at most maxServers of them. A name
// that cannot be resolved is one entry with its failure (kResolve and the
// Winsock code; WSAEAFNOSUPPORT for an address of a family not spoken). A
// text of several items that holds one that is no host comes back refused,
// with nothing resolved.
ServerList resolveServers(const char* hostText, int32_t family);

// A connection attempt: the socket, or the failure.
struct Connection {
  SOCKET sock;           // INVALID_SOCKET when the attempt failed
  QueryFailure failure;  // when it failed
};

// Returns a socket connected to address on port (0: the named service over
// TCP), which the caller closes, or the step that failed with its Winsock
// code (read before any socket is closed).
Connection connectToAddress(const KronAddress& address, int32_t port, const char* service);
