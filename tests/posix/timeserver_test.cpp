// The scripted time server, seen from a plain TCP client on loopback: what
// each behaviour puts on the wire, that connections do not wait for each
// other, that stop() is prompt, and which scripts are rejected.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "tools/timeserver/timeserver.h"

namespace {

using Clock = std::chrono::steady_clock;

enum class End { Eof, Reset, Timeout, Refused };

struct Reply {
  std::vector<unsigned char> bytes;
  End end = End::Timeout;
  int64_t elapsedMs = 0;  // from connect to the end
};

int64_t msSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

int connectTo(uint16_t port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return fd;
  int saved = errno;
  close(fd);
  return -saved;
}

// Reads until EOF, an error, or waitMs without the connection ending.
Reply readReply(int fd, int waitMs, Clock::time_point start = Clock::now()) {
  Reply r;
  for (;;) {
    int left = waitMs - static_cast<int>(msSince(start));
    pollfd p{fd, POLLIN, 0};
    if (left <= 0 || poll(&p, 1, left) <= 0) break;
    unsigned char buf[512];
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n > 0) {
      r.bytes.insert(r.bytes.end(), buf, buf + n);
      continue;
    }
    r.end = n == 0 ? End::Eof : errno == ECONNRESET ? End::Reset : End::Timeout;
    break;
  }
  r.elapsedMs = msSince(start);
  return r;
}

// One connection to `port`, read to its end or for waitMs.
Reply ask(uint16_t port, int waitMs = 3000) {
  Clock::time_point start = Clock::now();
  int fd = connectTo(port);
  if (fd == -ECONNREFUSED) return Reply{{}, End::Refused, 0};
  EXPECT_GE(fd, 0) << strerror(-fd);
  if (fd < 0) return Reply{};
  Reply r = readReply(fd, waitMs, start);
  close(fd);
  return r;
}

uint32_t valueOf(const Reply& r) {
  EXPECT_GE(r.bytes.size(), 4u);
  if (r.bytes.size() < 4) return 0;
  return uint32_t{r.bytes[0]} << 24 | uint32_t{r.bytes[1]} << 16 | uint32_t{r.bytes[2]} << 8 |
         uint32_t{r.bytes[3]};
}

// Records MS as the test's property NAME, for tools/bench/test_timings.sh.
// The bounds asserted beside it are ten times what a loopback run takes.
void record(const char* name, int64_t ms) {
  ::testing::Test::RecordProperty(name, static_cast<int>(ms));
}

uint32_t realNow() { return static_cast<uint32_t>(time(nullptr)) + 2208988800u; }

// The distance between two 32-bit times, across the wrap.
int64_t gap(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b); }

std::vector<Behaviour> script(const char* text) {
  std::vector<Behaviour> s;
  std::string error;
  EXPECT_TRUE(parseScript(text, &s, &error)) << text << ": " << error;
  return s;
}

struct Started {
  TimeServer server;
  explicit Started(const char* text) : server(script(text)) {
    EXPECT_TRUE(server.start()) << server.error();
  }
};

TEST(TimeServer, EachBehaviourOnTheWire) {
  struct Case {
    const char* behaviour;
    size_t bytes;
    End end;
  };
  const Case cases[] = {
      {"fixed:3155673600", 4, End::Eof}, {"short:0", 0, End::Eof}, {"short:1", 1, End::Eof},
      {"short:3", 3, End::Eof},          {"long:0", 4, End::Eof},  {"long:5", 9, End::Eof},
      {"long:65536", 65540, End::Eof},   {"silent", 0, End::Timeout},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.behaviour);
    Started s(c.behaviour);
    Reply r = ask(s.server.port(), c.end == End::Timeout ? 200 : 3000);
    EXPECT_EQ(r.bytes.size(), c.bytes);
    EXPECT_EQ(r.end, c.end);
  }
  Started fixed("fixed:3155673600");
  EXPECT_EQ(ask(fixed.server.port()).bytes, (std::vector<unsigned char>{0xBC, 0x17, 0xC2, 0x00}));
  Started shorter("short:2");
  Reply partial = ask(shorter.server.port());
  ASSERT_EQ(partial.bytes.size(), 2u);
  EXPECT_EQ(partial.bytes[0], realNow() >> 24);  // the real value's leading bytes
}

TEST(TimeServer, ResetAbortsTheConnection) {
  Started s("reset");
  Reply r = ask(s.server.port());
  EXPECT_TRUE(r.bytes.empty());
  EXPECT_TRUE(r.end == End::Reset || r.end == End::Eof);
  ASSERT_TRUE(s.server.waitFinished(1, 2000));
  EXPECT_EQ(s.server.log()[0].ending, "reset");
}

TEST(TimeServer, RealOffsetAndDelayedValues) {
  Started real("real");
  EXPECT_LE(std::abs(gap(valueOf(ask(real.server.port())), realNow())), 2);
  Started early("offset:-3600");
  EXPECT_LE(std::abs(gap(valueOf(ask(early.server.port())), realNow() - 3600)), 2);
  Started far("offset:4294967295");  // a whole wrap less one second
  EXPECT_LE(std::abs(gap(valueOf(ask(far.server.port())), realNow() - 1)), 2);
  const int delayMs = 300;
  Started late(("delay:" + std::to_string(delayMs) + ":offset:120").c_str());
  Reply r = ask(late.server.port(), 10 * delayMs);
  record("delayed_answer_ms", r.elapsedMs);
  EXPECT_GE(r.elapsedMs, delayMs);
  EXPECT_EQ(r.end, End::Eof) << "no answer within ten times its delay";
  EXPECT_LE(std::abs(gap(valueOf(r), realNow() + 120)), 2);
}

TEST(TimeServer, ScriptAdvancesAndLastRepeats) {
  Started s("fixed:1,short:1,fixed:3");
  EXPECT_EQ(valueOf(ask(s.server.port())), 1u);
  EXPECT_EQ(ask(s.server.port()).bytes.size(), 1u);
  EXPECT_EQ(valueOf(ask(s.server.port())), 3u);
  EXPECT_EQ(valueOf(ask(s.server.port())), 3u);
  ASSERT_TRUE(s.server.waitFinished(4, 2000));
  EXPECT_EQ(s.server.accepted(), 4u);
  std::vector<ConnectionRecord> log = s.server.log();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[1].number, 2u);
  EXPECT_EQ(describeBehaviour(log[1].behaviour), "short:1");
  EXPECT_EQ(log[1].bytesSent, 1u);
  EXPECT_EQ(log[3].value, 3u);
  EXPECT_EQ(log[3].peer.rfind("127.0.0.1:", 0), 0u);
  EXPECT_LE(std::abs(log[0].acceptedMs / 1000 - static_cast<int64_t>(time(nullptr))), 2);
}

// Served one after another, the third connection would wait a minute for the
// delayed one, or for ever behind the silent one.
TEST(TimeServer, SilentConnectionDoesNotBlockTheNext) {
  Started s("silent,delay:60000:real,real");
  int silent = connectTo(s.server.port());
  int delayed = connectTo(s.server.port());
  ASSERT_TRUE(silent >= 0 && delayed >= 0);
  Reply r = ask(s.server.port(), 10000);
  record("answer_beside_waiting_ms", r.elapsedMs);
  EXPECT_EQ(r.bytes.size(), 4u);
  EXPECT_EQ(r.end, End::Eof);
  close(silent);
  close(delayed);
}

TEST(TimeServer, StopIsPromptWithOpenConnections) {
  TimeServer server(script("silent,delay:60000:real"));
  ASSERT_TRUE(server.start());
  int silent = connectTo(server.port());
  int delayed = connectTo(server.port());
  ASSERT_TRUE(server.waitAccepted(2, 2000));
  Clock::time_point start = Clock::now();
  server.stop();
  int64_t stopMs = msSince(start);
  record("stop_ms", stopMs);
  EXPECT_LT(stopMs, 5000);  // not the delayed answer's minute
  EXPECT_EQ(server.finished(), 2u);
  EXPECT_EQ(readReply(silent, 1000).end, End::Eof);  // closed, not left hanging
  EXPECT_EQ(server.log()[1].ending, "server stopped");
  close(silent);
  close(delayed);
  EXPECT_EQ(ask(server.port()).end, End::Refused);
}

TEST(TimeServer, StopsListeningAtTheConnectionLimit) {
  TimeServer server(script("fixed:9"));
  server.setConnectionLimit(1);
  ASSERT_TRUE(server.start());
  EXPECT_EQ(valueOf(ask(server.port())), 9u);
  ASSERT_TRUE(server.waitFinished(1, 2000));
  EXPECT_EQ(ask(server.port()).end, End::Refused);
  EXPECT_EQ(server.accepted(), 1u);
}

TEST(TimeServer, RefuseHoldsThePortWithoutListening) {
  Started s("refuse");
  ASSERT_NE(s.server.port(), 0);
  EXPECT_EQ(ask(s.server.port()).end, End::Refused);
  EXPECT_EQ(s.server.accepted(), 0u);
}

TEST(TimeServer, StartFailuresAreExplained) {
  Started first("real");
  TimeServer clash;
  clash.setPort(first.server.port());
  EXPECT_FALSE(clash.start());
  EXPECT_NE(clash.error().find("bind"), std::string::npos) << clash.error();
  TimeServer badAddress;
  badAddress.setBindAddress("localhost");
  EXPECT_FALSE(badAddress.start());
}

TEST(TimeServer, LogsEachConnectionWithATimestamp) {
  FILE* f = tmpfile();
  ASSERT_NE(f, nullptr);
  {
    TimeServer server(script("fixed:7"));
    server.setLogFile(f);
    ASSERT_TRUE(server.start());
    ask(server.port());
    ASSERT_TRUE(server.waitFinished(1, 2000));
  }
  rewind(f);
  char text[1024] = {};
  size_t n = fread(text, 1, sizeof text - 1, f);
  fclose(f);
  std::string log(text, n);
  EXPECT_NE(log.find("Z #1 from 127.0.0.1:"), std::string::npos) << log;
  EXPECT_NE(log.find(": fixed:7\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Z #1 answered, 4 bytes of value 7\n"), std::string::npos) << log;
}

TEST(TimeServerParse, RoundTripsTheSyntax) {
  const char* text = "real,offset:-5,fixed:3155673600,delay:2500:real,short:0,long:3,silent,reset";
  EXPECT_EQ(describeScript(script(text)), text);
  EXPECT_EQ(describeScript(script(" offset:+7 , delay:1:delay:2:silent")),
            "offset:7,delay:3:silent");
  EXPECT_EQ(describeScript(script("offset:0.437,offset:-2.25,offset:-0.5,delay:20-80:real")),
            "offset:0.437,offset:-2.25,offset:-0.5,delay:20-80:real");
  EXPECT_EQ(describeScript(script("delay:10-20:delay:5:offset:1.000")), "delay:15-25:offset:1");
  EXPECT_EQ(describeScript(script("refuse")), "refuse");
}

TEST(TimeServerParse, RejectsBadScripts) {
  const char* bad[] = {"",          "bogus",       "Real",          "real:1",
                       "silent:0",  "offset:",     "offset:1x",     "offset:--1",
                       "fixed:-1",  "short:4",     "long:65537",    "offset:4294967296",
                       "delay:100", "delay:x:real", "delay:80-20:real", "offset:0.4375", "offset:1.", "delay:100:refuse", "fixed:4294967296",
                       "real,",     "real,,real",  "refuse,real",   "real,refuse"};
  for (const char* text : bad) {
    std::vector<Behaviour> out;
    std::string error;
    EXPECT_FALSE(parseScript(text, &out, &error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
}

}  // namespace
