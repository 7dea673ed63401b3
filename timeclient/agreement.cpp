#include "timeclient/agreement.h"

#include <algorithm>

#include "base/units.h"

namespace {
constexpr int32_t mostServers = 32;

struct Edge {
  int64_t at;
  int32_t step;  // +1 an interval opens, -1 one closes
};

// Opening edges first where two meet: intervals that touch share a point.
bool before(const Edge& a, const Edge& b) { return a.at != b.at ? a.at < b.at : a.step > b.step; }

uint32_t membersAt(const ServerInterval* servers, int32_t count, int64_t low, int64_t high) {
  uint32_t members = 0;
  for (int32_t i = 0; i < count; ++i)
    if (servers[i].answered && servers[i].lowUs <= low && servers[i].highUs >= high)
      members |= 1u << i;
  return members;
}
}  // namespace

Agreement agree(const ServerInterval* servers, int32_t count) {
  Agreement a{};
  Edge edges[2 * mostServers];
  int32_t n = 0;
  for (int32_t i = 0; i < count && i < mostServers; ++i) {
    if (!servers[i].answered) continue;
    ++a.answered;
    edges[n++] = Edge{servers[i].lowUs, +1};
    edges[n++] = Edge{servers[i].highUs, -1};
  }
  std::sort(edges, edges + n, before);
  // The sweep over the edges: where the most intervals overlap, and whether
  // another stretch as crowded holds a different group.
  int32_t open = 0;
  for (int32_t e = 0; e < n; ++e) {
    open += edges[e].step;
    if (edges[e].step < 0 || open < a.groupSize) continue;
    int64_t low = edges[e].at, high = edges[e + 1].at;
    uint32_t members = membersAt(servers, count, low, high);
    if (open > a.groupSize) {
      a = Agreement{false, false, a.answered, open, members, low, high, 0, 0};
    } else if (members != a.members) {
      a.tied = true;
    }
  }
  a.found = a.groupSize > 0 && !a.tied && 2 * a.groupSize > a.answered;
  if (a.found) {
    a.offsetUs = a.lowUs + (a.highUs - a.lowUs) / 2;
    a.boundUs = a.highUs - a.offsetUs;
  }
  return a;
}

int64_t distanceFrom(const ServerInterval& server, int64_t offsetUs) {
  if (offsetUs < server.lowUs) return server.lowUs - offsetUs;
  if (offsetUs > server.highUs) return server.highUs - offsetUs;
  return 0;
}

ServerInterval wholeSecondInterval(int64_t serverSecs, int64_t arrivedMs, int32_t lagMs) {
  int64_t arrivedUs = arrivedMs * usPerMs;
  int64_t startedUs = arrivedUs - int64_t{lagMs} * usPerMs;
  return ServerInterval{true, serverSecs * usPerSecond - arrivedUs,
                        (serverSecs + 1) * usPerSecond - startedUs};
}

ToldDistance toldDistance(int64_t us, bool precise) {
  int64_t unit = precise ? usPerMs : usPerSecond;
  return ToldDistance{((us < 0 ? -us : us) + unit / 2) / unit, precise ? "ms" : "s"};
}

bool agreementSettled(const Agreement& a, int32_t stillOut) {
  return a.found && a.groupSize > a.answered - a.groupSize + stillOut;
}
