#include "bridge/map_server.h"

#include <condition_variable>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "bridge/loopback_http.h"
#include "bridge/page_access.h"

namespace tavimo::bridge {
namespace {

constexpr int kBadRequest = 400;
constexpr int kForbiddenStatus = 403;
constexpr int kUnavailable = 503;
constexpr int kNoContent = 204;
constexpr const char* kJson = "application/json";
// How long a browser may keep a preflight's answer.
constexpr const char* kPreflightMaxAge = "600";

std::string Result(bool stat, int code, const std::string& message) {
  return nlohmann::json{{"stat", stat}, {"code", code}, {"message", message}, {"data", nullptr}}.dump();
}

std::optional<std::string> HeaderOf(const httplib::Request& request, const char* name) {
  if (!request.has_header(name)) return std::nullopt;
  return request.get_header_value(name);
}

RequestOrigin OriginOf(const httplib::Request& request) {
  RequestOrigin origin;
  const auto [first, last] = request.headers.equal_range("Host");
  for (auto it = first; it != last; ++it) origin.hosts.push_back(it->second);
  origin.origin = HeaderOf(request, "Origin");
  origin.fetch_site = HeaderOf(request, "Sec-Fetch-Site");
  origin.token = request.get_param_value(kTokenParameter);
  return origin;
}

bool FilledIn(const httplib::Request& request, const char* name) {
  return request.has_param(name) && !request.get_param_value(name).empty();
}

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

// Listings handed to the GUI thread, shared with the tasks posted there (which
// may outlive the server). Only the newest listing not yet taken is kept: a
// newer one replaces it, since the list shows the last listing's photos
// either way.
struct ListingHandOff {
  enum class State { kWaiting, kTaken, kDone, kReplaced };
  struct Listing {
    std::string lng;
    std::string lat;
    State state = State::kWaiting;
  };

  std::mutex mutex;
  std::condition_variable changed;
  std::shared_ptr<Listing> pending;
  bool closed = false;

  // Runs on the GUI thread: lists the pending listing, if any is left.
  void TakeAndList(const MapServer::ListAt& list) {
    std::shared_ptr<Listing> listing;
    {
      const std::lock_guard lock(mutex);
      if (closed || !pending) return;
      listing = std::exchange(pending, nullptr);
      listing->state = State::kTaken;
    }
    list(listing->lng, listing->lat);
    {
      const std::lock_guard lock(mutex);
      listing->state = State::kDone;
    }
    changed.notify_all();
  }
};

struct MapServer::Impl {
  Impl(const catalogue::MapPointStore& store, Post poster, ListAt lister, std::chrono::milliseconds wait)
      : points(store), post(std::move(poster)), list_at(std::move(lister)), timeout(wait) {}

  const catalogue::MapPointStore& points;
  Post post;
  ListAt list_at;
  std::chrono::milliseconds timeout;
  std::string token = NewAccessToken();
  std::shared_ptr<ListingHandOff> hand_off = std::make_shared<ListingHandOff>();
  LoopbackHttpServer server;
  std::thread thread;
  int port = 0;
  bool started = false;
  bool stopped = false;

  // Who may ask: see JudgeAccess. Sets the CORS headers of those answered;
  // refuses the others before their body is read, and answers preflights.
  httplib::Server::HandlerResponse Gate(const httplib::Request& request, httplib::Response& response) const {
    const RequestOrigin origin = OriginOf(request);
    const Access access = JudgeAccess(origin, port, token);
    if (access == Access::kBadHost || access == Access::kForbidden) {
      response.status = access == Access::kBadHost ? kBadRequest : kForbiddenStatus;
      return httplib::Server::HandlerResponse::Handled;
    }
    if (access == Access::kDirect) {
      response.set_header("Access-Control-Allow-Origin", "*");
    } else if (origin.origin) {
      response.set_header("Access-Control-Allow-Origin", *origin.origin);
      response.set_header("Vary", "Origin");
    }
    if (access == Access::kOwnPage && request.method == "OPTIONS" &&
        request.has_header("Access-Control-Request-Method")) {
      AnswerPreflight(request, response);
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  }

  static void AnswerPreflight(const httplib::Request& request, httplib::Response& response) {
    response.status = kNoContent;
    response.set_header("Access-Control-Allow-Methods", "GET, POST, PUT, PATCH, DELETE");
    if (request.has_header("Access-Control-Request-Headers")) {
      response.set_header("Access-Control-Allow-Headers", request.get_header_value("Access-Control-Request-Headers"));
    }
    // Chromium asks before a page reaches a loopback address.
    if (request.get_header_value("Access-Control-Request-Private-Network") == "true") {
      response.set_header("Access-Control-Allow-Private-Network", "true");
    }
    response.set_header("Access-Control-Max-Age", kPreflightMaxAge);
  }

  void AnswerPoints(httplib::Response& response) const {
    response.set_content(PointsJson(*points.Snapshot()), kJson);
  }

  void AnswerData(const httplib::Request& request, httplib::Response& response) {
    // Without a position every photo would match, and listing a whole
    // folder on the GUI thread freezes the window.
    if (!FilledIn(request, "lng") || !FilledIn(request, "lat")) {
      response.status = kBadRequest;
      response.set_content(Result(false, kBadRequest, "lng and lat are both required"), kJson);
      return;
    }
    switch (ListOnGuiThread(TrimCoordinate(request.get_param_value("lng")),
                            TrimCoordinate(request.get_param_value("lat")))) {
      case ListingHandOff::State::kDone:
        response.set_content(Result(true, 0, ""), kJson);
        return;
      case ListingHandOff::State::kReplaced:
        response.set_content(Result(true, 0, "replaced by a later listing"), kJson);
        return;
      case ListingHandOff::State::kWaiting:
      case ListingHandOff::State::kTaken:
        response.status = kUnavailable;
        response.set_content(Result(false, kUnavailable, "the window did not take the listing"), kJson);
        return;
    }
  }

  // Hands the listing to the GUI thread and waits until it is listed or
  // replaced (kDone, kReplaced). Not taken within the time-out it is
  // withdrawn (kWaiting); the hand-off closing ends the wait too (kWaiting or
  // kTaken). The GUI thread never waits here.
  ListingHandOff::State ListOnGuiThread(const std::string& lng, const std::string& lat) {
    auto listing = std::make_shared<ListingHandOff::Listing>(ListingHandOff::Listing{lng, lat});
    std::shared_ptr<ListingHandOff> shared = hand_off;
    {
      const std::lock_guard lock(shared->mutex);
      if (shared->closed) return ListingHandOff::State::kWaiting;
      if (shared->pending) shared->pending->state = ListingHandOff::State::kReplaced;
      shared->pending = listing;
    }
    shared->changed.notify_all();
    post([shared, list = list_at] { shared->TakeAndList(list); });
    std::unique_lock lock(shared->mutex);
    shared->changed.wait_for(lock, timeout,
                             [&] { return listing->state != ListingHandOff::State::kWaiting || shared->closed; });
    if (listing->state == ListingHandOff::State::kWaiting && shared->pending == listing) shared->pending = nullptr;
    // Once taken, the GUI thread is listing it: its end is near.
    shared->changed.wait(lock, [&] { return listing->state != ListingHandOff::State::kTaken || shared->closed; });
    return listing->state;
  }
};

MapServer::MapServer(const catalogue::MapPointStore& points, Post post, ListAt list_at,
                     std::chrono::milliseconds hand_off_timeout)
    : impl_(std::make_unique<Impl>(points, std::move(post), std::move(list_at), hand_off_timeout)) {
  Impl* impl = impl_.get();
  impl->server.SetGate([impl](const httplib::Request& request, httplib::Response& response) {
    return impl->Gate(request, response);
  });
  const auto points_route = [impl](const httplib::Request&, httplib::Response& response) { impl->AnswerPoints(response); };
  const auto data_route = [impl](const httplib::Request& request, httplib::Response& response) {
    impl->AnswerData(request, response);
  };
  // Any method: the page posts, a person checking with curl gets.
  impl->server.Route("/", points_route);
  impl->server.Route("/data", data_route);
}

MapServer::~MapServer() { Stop(); }

bool MapServer::Start(int port) {
  if (impl_->started || impl_->stopped) return false;
  const int bound = impl_->server.BindLoopback(port);
  if (bound < 0) return false;
  impl_->port = bound;
  impl_->started = true;
  impl_->thread = std::thread([impl = impl_.get()] { impl->server.listen_after_bind(); });
  // A stop that came before the loop runs would be lost: wait until it does.
  for (int i = 0; i < 2000 && !impl_->server.is_running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

int MapServer::Port() const { return impl_->port; }

const std::string& MapServer::AccessToken() const { return impl_->token; }

void MapServer::Stop() {
  if (impl_->stopped) return;
  impl_->stopped = true;
  {
    const std::lock_guard lock(impl_->hand_off->mutex);
    impl_->hand_off->closed = true;
  }
  impl_->hand_off->changed.notify_all();
  impl_->server.Shutdown();
  if (impl_->thread.joinable()) impl_->thread.join();
}

}  // namespace tavimo::bridge
