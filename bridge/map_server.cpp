#include "bridge/map_server.h"

#include <httplib.h>

#include <condition_variable>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

namespace tavimo::bridge {
namespace {

constexpr const char* kSuccess = R"({"stat":true,"code":0,"message":"","data":null})";

// Requests waiting for the GUI thread, and whether it still takes work.
struct HandOff {
  std::mutex mutex;
  std::condition_variable done_or_closed;
  bool closed = false;
};

}  // namespace

std::string TrimCoordinate(const std::string& text) {
  const std::size_t point = text.find('.');
  // 1-based p, or -1 without a point: keep p + 10 characters.
  const std::size_t keep = point == std::string::npos ? 9 : point + 1 + 10;
  return text.substr(0, std::min(keep, text.size()));
}

std::string PointsJson(const catalogue::PointList& points) {
  nlohmann::json array = nlohmann::json::array();
  for (const catalogue::CoordinateList& point : points) array.push_back(point);
  return array.dump();
}

struct MapServer::Impl {
  Impl(const catalogue::MapPointStore& store, Post poster, ListAt lister, std::chrono::milliseconds wait)
      : points(store), post(std::move(poster)), list_at(std::move(lister)), timeout(wait) {}

  const catalogue::MapPointStore& points;
  Post post;
  ListAt list_at;
  std::chrono::milliseconds timeout;
  std::shared_ptr<HandOff> hand_off = std::make_shared<HandOff>();
  httplib::Server server;
  std::thread thread;
  int port = 0;
  bool started = false;
  bool stopped = false;

  // Only pages that address this server by its loopback name are answered,
  // so that a page elsewhere cannot reach the positions by DNS rebinding.
  bool HostAllowed(const httplib::Request& request) const {
    const std::string host = request.get_header_value("Host");
    const std::string suffix = ":" + std::to_string(port);
    return host == "127.0.0.1" + suffix || host == "localhost" + suffix;
  }

  void AnswerPoints(httplib::Response& response) const {
    response.set_header("Access-Control-Allow-Origin", "*");
    response.set_content(PointsJson(*points.Snapshot()), "application/json");
  }

  void AnswerData(const httplib::Request& request, httplib::Response& response) {
    const std::string lng = TrimCoordinate(request.get_param_value("lng"));
    const std::string lat = TrimCoordinate(request.get_param_value("lat"));
    ListOnGuiThread(lng, lat);
    response.set_header("Access-Control-Allow-Origin", "*");
    response.set_content(kSuccess, "application/json");
  }

  // Hands the listing to the GUI thread and waits for it, until it is done,
  // the hand-off closes or the time runs out. The GUI thread never waits here.
  void ListOnGuiThread(const std::string& lng, const std::string& lat) {
    auto done = std::make_shared<bool>(false);
    std::shared_ptr<HandOff> shared = hand_off;
    ListAt list = list_at;
    post([shared, done, list, lng, lat] {
      {
        const std::lock_guard lock(shared->mutex);
        if (shared->closed) return;
      }
      list(lng, lat);
      {
        const std::lock_guard lock(shared->mutex);
        *done = true;
      }
      shared->done_or_closed.notify_all();
    });
    std::unique_lock lock(shared->mutex);
    shared->done_or_closed.wait_for(lock, timeout, [&] { return *done || shared->closed; });
  }
};

MapServer::MapServer(const catalogue::MapPointStore& points, Post post, ListAt list_at,
                     std::chrono::milliseconds hand_off_timeout)
    : impl_(std::make_unique<Impl>(points, std::move(post), std::move(list_at), hand_off_timeout)) {
  Impl* impl = impl_.get();
  // Idle browser connections would hold up stopping for seconds.
  impl->server.set_keep_alive_max_count(1);
  // The library's default also sets SO_REUSEPORT, which lets a second program
  // bind the same port and take half the page's requests: a port in use must
  // fail to bind.
  impl->server.set_socket_options([](socket_t sock) {
    int yes = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  impl->server.set_pre_routing_handler([impl](const httplib::Request& request, httplib::Response& response) {
    if (impl->HostAllowed(request)) return httplib::Server::HandlerResponse::Unhandled;
    response.status = 403;
    return httplib::Server::HandlerResponse::Handled;
  });
  const auto points_route = [impl](const httplib::Request&, httplib::Response& response) { impl->AnswerPoints(response); };
  const auto data_route = [impl](const httplib::Request& request, httplib::Response& response) {
    impl->AnswerData(request, response);
  };
  // Any method: the page posts, a person checking with curl gets.
  for (const auto& [path, route] : {std::pair<const char*, httplib::Server::Handler>{"/", points_route},
                                    std::pair<const char*, httplib::Server::Handler>{"/data", data_route}}) {
    impl->server.Get(path, route).Post(path, route).Put(path, route).Delete(path, route).Patch(path, route);
  }
}

MapServer::~MapServer() { Stop(); }

bool MapServer::Start(int port) {
  if (impl_->started || impl_->stopped) return false;
  if (port == 0) {
    port = impl_->server.bind_to_any_port("127.0.0.1");
    if (port < 0) return false;
  } else if (!impl_->server.bind_to_port("127.0.0.1", port)) {
    return false;
  }
  impl_->port = port;
  impl_->started = true;
  impl_->thread = std::thread([impl = impl_.get()] { impl->server.listen_after_bind(); });
  // A stop that came before the loop runs would be lost: wait until it does.
  for (int i = 0; i < 2000 && !impl_->server.is_running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

int MapServer::Port() const { return impl_->port; }

void MapServer::Stop() {
  if (impl_->stopped) return;
  impl_->stopped = true;
  {
    const std::lock_guard lock(impl_->hand_off->mutex);
    impl_->hand_off->closed = true;
  }
  impl_->hand_off->done_or_closed.notify_all();
  impl_->server.stop();
  if (impl_->thread.joinable()) impl_->thread.join();
}

}  // namespace tavimo::bridge
