#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstddef>

namespace tavimo::bridge {

// How long and how much one connection may take. One request per connection.
struct ConnectionLimits {
  std::chrono::milliseconds first_byte_wait{5000};  // an idle connection is closed after this
  std::chrono::milliseconds request_wait{5000};     // from its first byte, the whole request must arrive in this
  std::chrono::milliseconds write_stall{5000};      // a reader that takes nothing for this long is dropped
  std::size_t max_head_bytes = 32 * 1024;           // request line and headers
  std::size_t max_body_bytes = 64 * 1024;           // larger bodies get 413 unread
  std::size_t max_workers = 256;                    // connections served at once; more wait their turn
};

// An httplib server hardened for a loopback bridge that browsers reach:
// every connection gets a worker of its own at once (idle and slow clients
// cannot hold up others), reads are bounded in time and bytes, the listen
// queue is the system's largest, a body's framing is checked before it is
// read (ambiguous: 400, too large: 413, unknown coding: 501), a body-less
// POST is answered at once, and Shutdown ends every connection within
// a few milliseconds instead of at its time-out. Routes are set as on any httplib::Server;
// SetGate takes the place of its pre-routing handler.
class LoopbackHttpServer : public httplib::Server {
 public:
  explicit LoopbackHttpServer(ConnectionLimits limits = {});

  // Binds 127.0.0.1:`port` (0 picks a free port) with SO_REUSEADDR only (no
  // second program can share the port) and a deep listen queue. Returns the
  // port, or -1 when it cannot be bound.
  int BindLoopback(int port);
  // Stops accepting and makes every connection end its wait at once; the
  // thread running listen_after_bind() returns once they have. Idempotent.
  void Shutdown();
  bool ShuttingDown() const;
  const ConnectionLimits& Limits() const;
  // Decides on each request once its head is in and its framing is sound,
  // before its body is read: Handled with a status answers it there, as a
  // pre-routing handler does. Set before listening.
  void SetGate(HandlerWithResponse gate);
  // Answers `pattern` with `handler` for every method the library parses
  // (GET, HEAD, POST, PUT, PATCH, DELETE); a chunked body that came out
  // larger than the limit gets 413 instead.
  void Route(const std::string& pattern, Handler handler);

 private:
  bool process_and_close_socket(socket_t sock) override;

  ConnectionLimits limits_;
  HandlerWithResponse gate_;
  std::atomic<bool> shutting_down_ = false;
};

}  // namespace tavimo::bridge
