// An RFC 868 Time server for the tests and the demo (Linux, IPv4 and IPv6). Each TCP
// connection it accepts is answered by the next behaviour of a script, so a
// test can stage wrong, partial, late, silent or broken answers for a client.
//
// Behaviour syntax (also the tool's --serve list, comma-separated):
//   real           the machine's time now: seconds since 1970 + 2208988800, mod 2^32
//   offset:S       real plus S seconds (S signed, |S| <= 4294967295, with up to
//                  three decimals: offset:0.437), mod 2^32; the server's clock
//                  is moved by S and its second then truncated, as real is
//   fixed:N        the 32-bit value N as given (0..4294967295)
//   delay:MS:B     wait MS milliseconds, then do behaviour B (delays nest and add);
//                  MS may be a range LO-HI, a fresh uniform draw per connection
//   short:K        send only the first K bytes (0..3) of the real value, then close
//   long:K         send the 4 real bytes and then K zero bytes (0..65536), then close
//   silent         send nothing; hold the connection until the client closes or
//                  the server stops
//   reset          close at once with an RST (SO_LINGER {1, 0})
//   refuse         never listen: connections are refused. Only allowed as the
//                  whole script; the server then binds its port without listening
//                  (Linux answers a SYN there with an RST), which holds the port
//                  so that no other program can answer on it.
// Connection n gets script[n], and the last behaviour repeats.
#pragma once
#include <cstdint>
#include <cstdio>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <sys/socket.h>

enum class BehaviourKind { Real, Offset, Fixed, Short, Long, Silent, Reset, Refuse };

struct Behaviour {
  BehaviourKind kind = BehaviourKind::Real;
  int64_t offsetMs = 0;    // Offset: added to the real clock before truncation
  uint32_t value = 0;      // Fixed: the value sent
  uint32_t bytes = 0;      // Short: bytes sent; Long: extra bytes after the four
  uint32_t delayMs = 0;    // waited before the behaviour starts (at least)
  uint32_t delaySpreadMs = 0;  // up to this much more, drawn per connection
};

// Parses one behaviour; on failure returns false and says why in *error.
bool parseBehaviour(std::string_view text, Behaviour* out, std::string* error);

// Parses a comma-separated script (at least one behaviour; refuse only alone);
// on failure returns false and says why in *error.
bool parseScript(std::string_view list, std::vector<Behaviour>* out, std::string* error);

// Returns the behaviour in the syntax parseBehaviour reads.
std::string describeBehaviour(const Behaviour& b);

// Returns the script in the syntax parseScript reads.
std::string describeScript(const std::vector<Behaviour>& script);

// What the server did with one connection.
struct ConnectionRecord {
  uint32_t number = 0;      // 1 for the first connection accepted
  int64_t acceptedMs = 0;   // wall clock at accept, milliseconds since 1970
  std::string peer;         // "address:port" of the client
  Behaviour behaviour;
  bool answered = false;    // a time value was computed and sending began
  uint32_t value = 0;       // that value, when answered
  uint32_t bytesSent = 0;
  bool finished = false;    // the server's side of the connection is closed
  std::string ending;       // "answered", "send failed", "reset", "client closed"
                            // or "server stopped"
};

class TimeServer {
 public:
  // Serves `script` (default: real for every connection) once started.
  TimeServer();
  explicit TimeServer(std::vector<Behaviour> script);
  ~TimeServer();
  TimeServer(const TimeServer&) = delete;
  TimeServer& operator=(const TimeServer&) = delete;

  // Settings take effect at start(): IPv4 or IPv6 address, port (0: an ephemeral one),
  // and a stream for one line per accepted and per finished connection.
  void setScript(std::vector<Behaviour> script);
  void setBindAddress(const std::string& address);
  void setPort(uint16_t port);
  void setLogFile(FILE* log);
  // Accepts at most `limit` connections (0: no limit), then stops listening.
  void setConnectionLimit(uint32_t limit);

  // Binds (and listens, unless the script is refuse) and starts the accept
  // thread; returns false with the reason in error() when it cannot. Once only.
  bool start();
  // Closes the listener and every connection, and joins all threads; prompt
  // even with silent or delayed connections open. Safe to call twice.
  void stop();

  // The port bound by start(), or 0 before it.
  uint16_t port() const { return boundPort_; }
  const std::string& error() const { return error_; }

  // Counts of connections accepted and finished so far.
  uint32_t accepted() const;
  uint32_t finished() const;
  // Waits up to timeoutMs until at least n connections were accepted (finished);
  // returns whether that happened.
  bool waitAccepted(uint32_t n, int timeoutMs) const;
  bool waitFinished(uint32_t n, int timeoutMs) const;
  // A copy of the records of all connections accepted so far, in order.
  std::vector<ConnectionRecord> log() const;

 private:
  struct Connection;
  void acceptLoop();
  void acceptOne();
  void serve(Connection c);
  bool openListener(sockaddr_storage* addr, socklen_t length, bool listening);
  void answer(Connection& c, ConnectionRecord* out);
  void finish(Connection& c, ConnectionRecord result);
  void reapWorkers();
  void writeLog(const ConnectionRecord& r, bool atEnd);
  bool waitCount(const uint32_t& count, uint32_t n, int timeoutMs) const;

  std::vector<Behaviour> script_;
  std::string bindAddress_ = "127.0.0.1";
  uint16_t requestedPort_ = 0;
  uint16_t boundPort_ = 0;
  FILE* logFile_ = nullptr;
  uint32_t limit_ = 0;
  std::string error_;

  int listenFd_ = -1;
  int stopRead_ = -1;   // readable once stop() begins: wakes every poll
  int stopWrite_ = -1;
  bool started_ = false;
  std::thread acceptThread_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  uint32_t accepted_ = 0;
  uint32_t finished_ = 0;
  std::vector<ConnectionRecord> records_;
  std::map<uint32_t, std::thread> workers_;  // by connection number
  std::vector<uint32_t> doneWorkers_;        // numbers whose thread is ending
};
