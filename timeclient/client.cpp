#include "timeclient/client.h"

#include <cstring>

namespace {
Connection failedAt(QueryStep step) {
  return Connection{INVALID_SOCKET, QueryFailure{step, WSAGetLastError(), 0, false}};
}

bool resolveHost(const char* host, sockaddr_in* address) {
  uint32_t dotted = static_cast<uint32_t>(inet_addr(host));
  if (dotted != static_cast<uint32_t>(INADDR_NONE)) {
    address->sin_addr.s_addr = dotted;
    return true;
  }
  hostent* entry = gethostbyname(host);
  if (!entry) return false;
  size_t length = static_cast<size_t>(entry->h_length);
  if (length > sizeof address->sin_addr) length = sizeof address->sin_addr;
  std::memcpy(&address->sin_addr, entry->h_addr_list[0], length);
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
}  // namespace

Connection connectToHost(const char* host, int32_t port, const char* service) {
  sockaddr_in address;
  std::memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  if (!resolveHost(host, &address)) return failedAt(QueryStep::kResolve);
  if (!settlePort(port, service, &address)) return failedAt(QueryStep::kService);
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return failedAt(QueryStep::kSocket);
  if (connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) >= 0)
    return Connection{s, {}};
  // The code first: closing the socket may leave another.
  Connection failed = failedAt(QueryStep::kConnect);
  closesocket(s);
  return failed;
}
