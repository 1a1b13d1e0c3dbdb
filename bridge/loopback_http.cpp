#include "bridge/loopback_http.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

namespace tavimo::bridge {
namespace {

using Clock = std::chrono::steady_clock;

// How often a waiting connection looks at the shutdown flag.
constexpr std::chrono::milliseconds kWaitSlice{20};
// A worker without a connection for this long ends; the next burst makes new ones.
constexpr std::chrono::seconds kWorkerIdle{10};
constexpr std::size_t kReadChunk = 4096;
// After the answer, what the client still sends is read and dropped for at
// most this long and this much, so that closing does not reset the
// connection before the client has read the answer.
constexpr std::chrono::milliseconds kDrainTime{200};
constexpr std::size_t kDrainBytes = 256 * 1024;

// Waits until `sock` is ready for `events`, `deadline` passes or `stop` is
// set. True when ready (an error or hang-up counts: the next call reports it).
bool WaitFor(socket_t sock, short events, Clock::time_point deadline, const std::atomic<bool>& stop) {
  while (!stop) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return false;
    const auto slice = std::min<Clock::duration>(left, kWaitSlice);
    pollfd ready{sock, events, 0};
    const int n = ::poll(&ready, 1, static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(slice).count()));
    if (n > 0) return true;
    if (n < 0 && errno != EINTR) return false;
  }
  return false;
}

void AddressOf(socket_t sock, bool peer, std::string& ip, int& port) {
  sockaddr_storage address{};
  socklen_t size = sizeof address;
  auto* raw = reinterpret_cast<sockaddr*>(&address);
  if ((peer ? ::getpeername(sock, raw, &size) : ::getsockname(sock, raw, &size)) != 0) return;
  char text[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
    ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
    port = ntohs(v4->sin_port);
  } else if (address.ss_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
    ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
    port = ntohs(v6->sin6_port);
  }
  ip = text;
}

// One connection's stream: reads end at a deadline, at a byte budget or at
// shutdown; writes give up on a reader that stalls, and at shutdown write
// only what the socket takes at once.
class DeadlineStream final : public httplib::Stream {
 public:
  DeadlineStream(socket_t sock, const std::atomic<bool>& stop, Clock::time_point read_deadline,
                 std::size_t read_budget, std::chrono::milliseconds write_stall)
      : sock_(sock), stop_(stop), read_deadline_(read_deadline), read_budget_(read_budget), write_stall_(write_stall) {}

  bool is_readable() const override {
    return begin_ < end_ || WaitFor(sock_, POLLIN, read_deadline_, stop_);
  }
  bool is_writable() const override { return WaitFor(sock_, POLLOUT, Clock::now() + write_stall_, stop_); }

  ssize_t read(char* ptr, size_t size) override {
    while (begin_ == end_) {
      const std::size_t budget = std::min(kReadChunk, read_budget_);
      if (budget == 0 || !WaitFor(sock_, POLLIN, read_deadline_, stop_)) return -1;
      const ssize_t n = ::recv(sock_, buffer_, budget, MSG_DONTWAIT);
      if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
      if (n <= 0) return n;
      begin_ = 0;
      end_ = static_cast<std::size_t>(n);
      read_budget_ -= end_;
    }
    const std::size_t take = std::min(size, end_ - begin_);
    std::memcpy(ptr, buffer_ + begin_, take);
    begin_ += take;
    return static_cast<ssize_t>(take);
  }

  ssize_t write(const char* ptr, size_t size) override {
    const Clock::time_point deadline = Clock::now() + write_stall_;
    while (true) {
      const ssize_t n = ::send(sock_, ptr, size, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n >= 0) return n;
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
      if (!WaitFor(sock_, POLLOUT, deadline, stop_)) return -1;
    }
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override { AddressOf(sock_, true, ip, port); }
  void get_local_ip_and_port(std::string& ip, int& port) const override { AddressOf(sock_, false, ip, port); }
  socket_t socket() const override { return sock_; }

 private:
  socket_t sock_;
  const std::atomic<bool>& stop_;
  Clock::time_point read_deadline_;
  std::size_t read_budget_;
  std::chrono::milliseconds write_stall_;
  char buffer_[kReadChunk] = {};
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
};

// Runs each connection at once on an idle worker or a new one, up to a cap;
// workers that stay idle end. shutdown() joins them all.
class ConnectionPool final : public httplib::TaskQueue {
 public:
  explicit ConnectionPool(std::size_t max_workers) : max_workers_(std::max<std::size_t>(1, max_workers)) {}
  ~ConnectionPool() override { shutdown(); }

  void enqueue(std::function<void()> fn) override {
    std::vector<std::thread> finished;
    {
      const std::lock_guard lock(mutex_);
      jobs_.push_back(std::move(fn));
      if (idle_ < jobs_.size() && workers_.size() < max_workers_) {
        const auto slot = workers_.emplace(workers_.end());
        // The worker waits for this lock before it looks at its slot.
        *slot = std::thread([this, slot] { Work(slot); });
      }
      finished.swap(finished_);
    }
    wake_.notify_one();
    for (std::thread& thread : finished) thread.join();
  }

  void shutdown() override {
    std::list<std::thread> workers;
    std::vector<std::thread> finished;
    {
      const std::lock_guard lock(mutex_);
      quit_ = true;
    }
    wake_.notify_all();
    {
      std::unique_lock lock(mutex_);
      // Workers finish their connections, then take no more.
      drained_.wait(lock, [this] { return jobs_.empty() && busy_ == 0; });
      workers.swap(workers_);
      finished.swap(finished_);
    }
    wake_.notify_all();
    for (std::thread& thread : workers) thread.join();
    for (std::thread& thread : finished) thread.join();
  }

 private:
  void Work(std::list<std::thread>::iterator slot) {
    std::unique_lock lock(mutex_);
    while (true) {
      ++idle_;
      const bool woken = wake_.wait_for(lock, kWorkerIdle, [this] { return quit_ || !jobs_.empty(); });
      --idle_;
      if (jobs_.empty()) {
        if (quit_) return;  // shutdown() joins this worker
        if (!woken) {
          finished_.push_back(std::move(*slot));
          workers_.erase(slot);
          return;
        }
        continue;
      }
      std::function<void()> job = std::move(jobs_.front());
      jobs_.pop_front();
      ++busy_;
      lock.unlock();
      job();
      lock.lock();
      --busy_;
      if (quit_ && jobs_.empty() && busy_ == 0) drained_.notify_all();
    }
  }

  const std::size_t max_workers_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable drained_;
  std::deque<std::function<void()>> jobs_;
  std::list<std::thread> workers_;
  std::vector<std::thread> finished_;  // ended idle; joined by the next enqueue or shutdown
  std::size_t idle_ = 0;
  std::size_t busy_ = 0;
  bool quit_ = false;
};

// Drops what the client still sends, briefly, then closes.
void CloseGently(socket_t sock, const std::atomic<bool>& stop) {
  ::shutdown(sock, SHUT_WR);
  const Clock::time_point deadline = Clock::now() + kDrainTime;
  char sink[kReadChunk];
  for (std::size_t drained = 0; drained < kDrainBytes && WaitFor(sock, POLLIN, deadline, stop);) {
    const ssize_t n = ::recv(sock, sink, sizeof sink, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) break;
    if (n > 0) drained += static_cast<std::size_t>(n);
  }
  ::close(sock);
}

constexpr int kFramingOk = 0;

bool AllDigits(const std::string& text) {
  return !text.empty() && text.size() <= 19 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// How the request's body is framed, before any of it is read: kFramingOk,
// 400 for an ambiguous length (two lengths, or a length beside chunked
// coding: the way requests are smuggled), 501 for a coding other than
// chunked, 413 for a declared length over `max_body`.
int FramingStatus(const httplib::Request& request, std::size_t max_body) {
  const std::size_t lengths = request.get_header_value_count("Content-Length");
  const std::size_t codings = request.get_header_value_count("Transfer-Encoding");
  if (lengths > 1 || codings > 1 || (lengths == 1 && codings == 1)) return 400;
  if (codings == 1) {
    std::string coding = request.get_header_value("Transfer-Encoding");
    std::transform(coding.begin(), coding.end(), coding.begin(), [](char c) { return c | 0x20; });
    return coding == "chunked" ? kFramingOk : 501;
  }
  if (lengths == 1) {
    const std::string length = request.get_header_value("Content-Length");
    if (!AllDigits(length)) return 400;
    if (std::stoull(length) > max_body) return 413;
  }
  return kFramingOk;
}

}  // namespace

LoopbackHttpServer::LoopbackHttpServer(ConnectionLimits limits) : limits_(limits) {
  // The library's default also sets SO_REUSEPORT, which lets a second program
  // bind the same port and take half the requests: a port in use must fail.
  set_socket_options([](socket_t sock) {
    int yes = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  set_payload_max_length(limits_.max_body_bytes);
  new_task_queue = [this] { return new ConnectionPool(limits_.max_workers); };
  set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
    response.status = FramingStatus(request, limits_.max_body_bytes);
    if (response.status != kFramingOk) return HandlerResponse::Handled;
    response.status = -1;
    return gate_ ? gate_(request, response) : HandlerResponse::Unhandled;
  });
}

void LoopbackHttpServer::SetGate(HandlerWithResponse gate) { gate_ = std::move(gate); }

void LoopbackHttpServer::Route(const std::string& pattern, Handler handler) {
  Handler bounded = [this, handler = std::move(handler)](const httplib::Request& request, httplib::Response& response) {
    // A declared length was checked before reading; a chunked one only shows now.
    if (request.body.size() > limits_.max_body_bytes) {
      response.status = 413;
      return;
    }
    handler(request, response);
  };
  Get(pattern, bounded).Post(pattern, bounded).Put(pattern, bounded).Delete(pattern, bounded).Patch(pattern, bounded);
}

int LoopbackHttpServer::BindLoopback(int port) {
  constexpr const char* kLoopback = "127.0.0.1";
  const int bound = port == 0 ? bind_to_any_port(kLoopback) : (bind_to_port(kLoopback, port) ? port : -1);
  if (bound < 0) return -1;
  // The library listens with a queue of 5; a burst of connections from a
  // page would be refused. Listening again on Linux only deepens the queue.
  ::listen(svr_sock_, SOMAXCONN);
  return bound;
}

void LoopbackHttpServer::Shutdown() {
  shutting_down_ = true;
  stop();
}

bool LoopbackHttpServer::ShuttingDown() const { return shutting_down_; }

const ConnectionLimits& LoopbackHttpServer::Limits() const { return limits_; }

bool LoopbackHttpServer::process_and_close_socket(socket_t sock) {
  bool answered = false;
  if (WaitFor(sock, POLLIN, Clock::now() + limits_.first_byte_wait, shutting_down_)) {
    DeadlineStream stream(sock, shutting_down_, Clock::now() + limits_.request_wait,
                          limits_.max_head_bytes + limits_.max_body_bytes, limits_.write_stall);
    bool closed = false;
    answered = process_request(stream, /*close_connection=*/true, closed, [](httplib::Request& request) {
      // RFC 9112: a request without Content-Length and without chunked
      // coding has no body. Said so, the library answers at once instead of
      // reading until the client gives up.
      const bool may_have_body = request.method == "POST" || request.method == "PUT" || request.method == "PATCH" ||
                                 request.method == "DELETE";
      if (may_have_body && !request.has_header("Content-Length") && !request.has_header("Transfer-Encoding")) {
        request.set_header("Content-Length", "0");
      }
    });
  }
  CloseGently(sock, shutting_down_);
  return answered;
}

}  // namespace tavimo::bridge
