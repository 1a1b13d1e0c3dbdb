#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "catalogue/folder_scan.h"

namespace tavimo::bridge {

// A posted coordinate text cut to at most 10 digits after its first "."; a
// text without a point keeps its first 9 characters. Never fails.
std::string TrimCoordinate(const std::string& text);
// The points as a compact JSON array of [longitude, latitude] numbers; "[]"
// when there are none.
std::string PointsJson(const catalogue::PointList& points);

// The local HTTP server the map page talks to: "/" answers the map points,
// "/data" lists the photos at a posted position on the GUI thread. Web pages
// are answered only when they show this run's access token (our own map
// pages carry it); requests from no page at all (curl, scripts) are answered
// as they come.
class MapServer {
 public:
  // Runs a task on the GUI thread, later; it may never run at shutdown.
  // Called on the server's threads.
  using Post = std::function<void(std::function<void()> task)>;
  // Lists the photos at the trimmed longitude and latitude; GUI thread only.
  using ListAt = std::function<void(const std::string& lng, const std::string& lat)>;

  // `hand_off_timeout`: how long "/data" waits for the GUI thread to take a
  // listing before it answers 503.
  MapServer(const catalogue::MapPointStore& points, Post post, ListAt list_at,
            std::chrono::milliseconds hand_off_timeout = std::chrono::seconds(10));
  ~MapServer();
  MapServer(const MapServer&) = delete;
  MapServer& operator=(const MapServer&) = delete;

  // Listens on 127.0.0.1:port (0 picks a free port) on a thread of its own;
  // false when the port cannot be bound or the server was started before.
  bool Start(int port);
  // The port listened on; 0 before a successful start.
  int Port() const;
  // This run's token, fixed at construction: 32 hex digits that a map page
  // sends as the "token" query parameter of every request.
  const std::string& AccessToken() const;
  // Wakes every request waiting for the GUI thread (they answer 503 without
  // listing), stops listening, ends every connection's wait and joins the
  // server's threads; returns within a few tens of milliseconds. Idempotent.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tavimo::bridge
