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
// "/data" lists the photos at a posted position on the GUI thread.
class MapServer {
 public:
  // Runs a task on the GUI thread, later; it may never run at shutdown.
  using Post = std::function<void(std::function<void()> task)>;
  // Lists the photos at the trimmed longitude and latitude; GUI thread only.
  using ListAt = std::function<void(const std::string& lng, const std::string& lat)>;

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
  // Wakes every request waiting for the GUI thread (they answer without
  // listing), stops listening and joins the server's thread. Idempotent.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tavimo::bridge
