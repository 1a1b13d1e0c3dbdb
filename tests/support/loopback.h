#pragma once

#include <chrono>
#include <string>

namespace tavimo::testing {

// A loopback TCP port free right now: bound, read and closed again.
int FreeLoopbackPort();
// A blocking connection to 127.0.0.1:`port` whose reads give up after
// `wait`; -1 when it cannot connect.
int ConnectLoopback(int port, std::chrono::milliseconds wait = std::chrono::seconds(4));
// Sends `bytes` on a fresh connection to 127.0.0.1:`port` and returns all
// that comes back until the server closes; empty when nothing came within
// `wait` (so a server that waits for more than was sent shows as empty).
std::string RawExchange(int port, const std::string& bytes,
                        std::chrono::milliseconds wait = std::chrono::seconds(4));
// The status code of a raw HTTP/1.1 answer; 0 when there is none.
int StatusOf(const std::string& answer);
// The body of a raw HTTP answer; empty when it has no end of head.
std::string BodyOf(const std::string& answer);

}  // namespace tavimo::testing
