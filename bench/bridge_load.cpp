// Load on the map bridge over loopback, bounded in count and time: a burst
// of concurrent requests, a normal request's delay beside idle and slowly
// trickling clients, and how long stopping takes with connections open.
// Each figure is printed for the bridge and, side by side, for a baseline
// measured in the same run: the HTTP library's own server set up with its
// defaults (a fixed pool of workers, a listen queue of 5), as the bridge
// was before. Usage: bridge_load [BURST]   (default 1000)
#include <arpa/inet.h>
#include <fcntl.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bridge/map_server.h"
#include "tests/support/task_thread.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kBurstLimit = 30s;     // a burst still unanswered by then counts as lost
constexpr int kIdleClients = 50;
constexpr int kTrickleClients = 8;
constexpr auto kTrickleEvery = 3s;    // one header line per client this often
constexpr int kProbes = 5;            // normal requests timed beside them
constexpr auto kProbeLimit = 40s;
constexpr auto kStopLimit = 10s;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// A server under test: where it listens and how it is stopped.
struct Target {
  const char* name;
  int port = 0;
  std::function<void()> stop;
};

int OpenNonBlocking(int port) {
  const int sock = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address);
  return sock;
}

std::string Request(int port, const std::string& path, const std::string& body) {
  return "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
         "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}

struct BurstResult {
  int ok = 0;        // answered 200
  int other = 0;     // answered with another status
  int lost = 0;      // refused, reset or unanswered within the limit
  double ms = 0;     // until the last answer
};

// Opens `count` connections at once, sends `request` on each and reads every answer.
BurstResult Burst(int port, int count, const std::string& request) {
  struct Connection {
    int sock;
    std::size_t sent = 0;
    std::string answer;
    bool done = false;
  };
  std::vector<Connection> connections;
  const auto start = Clock::now();
  for (int i = 0; i < count; ++i) connections.push_back({OpenNonBlocking(port), 0, {}, false});
  std::size_t open = connections.size();
  BurstResult result;
  while (open > 0 && Clock::now() - start < kBurstLimit) {
    std::vector<pollfd> waits;
    std::vector<Connection*> owners;
    for (Connection& c : connections) {
      if (c.done) continue;
      waits.push_back({c.sock, static_cast<short>(c.sent < request.size() ? POLLOUT : POLLIN), 0});
      owners.push_back(&c);
    }
    if (::poll(waits.data(), waits.size(), 100) <= 0) continue;
    for (std::size_t i = 0; i < waits.size(); ++i) {
      Connection& c = *owners[i];
      if (waits[i].revents == 0) continue;
      bool failed = false;
      if (c.sent < request.size()) {
        const ssize_t n = ::send(c.sock, request.data() + c.sent, request.size() - c.sent, MSG_NOSIGNAL);
        if (n > 0) c.sent += static_cast<std::size_t>(n);
        failed = n < 0 && errno != EAGAIN;
      } else {
        char buffer[8192];
        const ssize_t n = ::recv(c.sock, buffer, sizeof buffer, 0);
        if (n > 0) {
          c.answer.append(buffer, static_cast<std::size_t>(n));
          continue;
        }
        failed = n < 0 && errno != EAGAIN;
        if (n == 0) {
          c.done = true;
          --open;
          if (c.answer.rfind("HTTP/1.1 200", 0) == 0) {
            ++result.ok;
          } else if (c.answer.rfind("HTTP/1.1 ", 0) == 0) {
            ++result.other;
          } else {
            ++result.lost;
          }
          result.ms = Ms(Clock::now() - start);
        }
      }
      if (failed) {
        c.done = true;
        --open;
        ++result.lost;
      }
    }
  }
  result.lost += static_cast<int>(open);
  for (Connection& c : connections) ::close(c.sock);
  return result;
}

// One blocking request; its time, or -1 when it failed or took too long.
double Probe(int port) {
  const auto start = Clock::now();
  const int sock = OpenNonBlocking(port);
  const std::string request = Request(port, "/", "");
  std::size_t sent = 0;
  std::string answer;
  while (Clock::now() - start < kProbeLimit) {
    pollfd wait{sock, static_cast<short>(sent < request.size() ? POLLOUT : POLLIN), 0};
    if (::poll(&wait, 1, 100) <= 0) continue;
    if (sent < request.size()) {
      const ssize_t n = ::send(sock, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
      if (n < 0 && errno != EAGAIN) break;
      if (n > 0) sent += static_cast<std::size_t>(n);
      continue;
    }
    char buffer[4096];
    const ssize_t n = ::recv(sock, buffer, sizeof buffer, 0);
    if (n > 0) {
      answer.append(buffer, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EAGAIN) continue;
    break;
  }
  ::close(sock);
  return answer.rfind("HTTP/1.1 200", 0) == 0 ? Ms(Clock::now() - start) : -1;
}

// Idle and trickling clients held open while `during` runs.
class Crowd {
 public:
  Crowd(int port, int idle, int trickle) : port_(port) {
    for (int i = 0; i < idle; ++i) socks_.push_back(OpenNonBlocking(port));
    for (int i = 0; i < trickle; ++i) trickle_.push_back(OpenNonBlocking(port));
    sender_ = std::thread([this] {
      for (int line = 0; !stop_; ++line) {
        const std::string text = line == 0 ? "GET / HTTP/1.1\r\n" : "X-Slow-" + std::to_string(line) + ": 1\r\n";
        for (int sock : trickle_) ::send(sock, text.data(), text.size(), MSG_NOSIGNAL);
        std::unique_lock lock(mutex_);
        wake_.wait_for(lock, kTrickleEvery, [this] { return stop_.load(); });
      }
    });
    std::this_thread::sleep_for(200ms);  // all connected and accepted
  }
  ~Crowd() {
    stop_ = true;
    wake_.notify_all();
    sender_.join();
    for (int sock : socks_) ::close(sock);
    for (int sock : trickle_) ::close(sock);
  }

 private:
  int port_;
  std::vector<int> socks_;
  std::vector<int> trickle_;
  std::atomic<bool> stop_ = false;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread sender_;
};

void Row(const char* what, const std::string& bridge, const std::string& baseline) {
  std::printf("%-52s %-26s %-26s\n", what, bridge.c_str(), baseline.c_str());
}

std::string BurstText(const BurstResult& r) {
  char text[96];
  std::snprintf(text, sizeof text, "%d ok %d other %d lost %.0f ms", r.ok, r.other, r.lost, r.ms);
  return text;
}

std::string ProbeText(const std::vector<double>& times) {
  if (std::find(times.begin(), times.end(), -1) != times.end()) return "failed";
  char text[64];
  std::snprintf(text, sizeof text, "max %.1f ms", *std::max_element(times.begin(), times.end()));
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  const int burst = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
  tavimo::catalogue::MapPointStore points;
  tavimo::catalogue::PointList list;
  for (int i = 0; i < 200; ++i) list.push_back({116.0 + i * 1e-3, 39.0 + i * 1e-3});
  points.Replace(list);
  tavimo::testing::TaskThread gui;
  const auto list_at = [](const std::string&, const std::string&) { std::this_thread::sleep_for(1ms); };

  auto bridge = std::make_unique<tavimo::bridge::MapServer>(
      points, [&gui](std::function<void()> task) { gui.Post(std::move(task)); }, list_at);
  bridge->Start(0);
  // The baseline: the library's server with its defaults, routes as simple.
  auto baseline = std::make_unique<httplib::Server>();
  baseline->set_keep_alive_max_count(1);
  const std::string json = tavimo::bridge::PointsJson(list);
  baseline->Post("/", [&json](const httplib::Request&, httplib::Response& r) { r.set_content(json, "application/json"); });
  baseline->Post("/data", [&gui](const httplib::Request&, httplib::Response& r) {
    std::promise<void> done;
    gui.Post([&done] {
      std::this_thread::sleep_for(1ms);
      done.set_value();
    });
    done.get_future().wait_for(10s);
    r.set_content("{}", "application/json");
  });
  const int baseline_port = baseline->bind_to_any_port("127.0.0.1");
  std::thread baseline_thread([&] { baseline->listen_after_bind(); });
  while (!baseline->is_running()) std::this_thread::sleep_for(1ms);

  std::vector<Target> targets = {{"bridge", bridge->Port(), [&] { bridge->Stop(); }},
                                 {"library defaults", baseline_port, [&] { baseline->stop(); baseline_thread.join(); }}};
  std::printf("%-52s %-26s %-26s\n", "", targets[0].name, targets[1].name);
  std::string a;
  std::string b;
  const auto both = [&](const std::function<std::string(const Target&)>& measure) {
    a = measure(targets[0]);
    b = measure(targets[1]);
  };
  const std::string burst_name = std::to_string(burst) + " concurrent ";
  both([&](const Target& t) { return BurstText(Burst(t.port, burst, Request(t.port, "/", ""))); });
  Row((burst_name + "POST /").c_str(), a, b);
  both([&](const Target& t) { return BurstText(Burst(t.port, burst, Request(t.port, "/data", "lng=116.1&lat=39.1"))); });
  Row((burst_name + "POST /data").c_str(), a, b);
  const auto probes = [](int port) {
    std::vector<double> times;
    for (int i = 0; i < kProbes; ++i) times.push_back(Probe(port));
    return times;
  };
  both([&](const Target& t) { return ProbeText(probes(t.port)); });
  Row("request alone", a, b);
  std::string stopped[2];
  for (std::size_t i = 0; i < targets.size(); ++i) {
    auto crowd = std::make_unique<Crowd>(targets[i].port, kIdleClients, kTrickleClients);
    (i == 0 ? a : b) = ProbeText(probes(targets[i].port));
    // A server whose workers wait on the trickling clients stops only once
    // they leave: give it kStopLimit, then send them away.
    std::promise<void> done;
    const auto start = Clock::now();
    std::thread stopper([&] {
      targets[i].stop();
      done.set_value();
    });
    const bool in_time = done.get_future().wait_for(kStopLimit) == std::future_status::ready;
    char text[64];
    std::snprintf(text, sizeof text, in_time ? "%.0f ms" : "over %.0f ms", Ms(Clock::now() - start));
    stopped[i] = text;
    crowd.reset();
    stopper.join();
  }
  Row("request beside 50 idle and 8 trickling clients", a, b);
  Row("stop with those clients connected", stopped[0], stopped[1]);
  return 0;
}
