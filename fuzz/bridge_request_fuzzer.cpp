// Arbitrary bytes sent to the map server as one connection's request: the
// gate, the framing checks and the bounded stream must answer or close
// without crashing, leaking or hanging.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "bridge/map_server.h"

namespace {

struct Fixture {
  tavimo::catalogue::MapPointStore points;
  // Listings run at once on the server's thread: there is no GUI here.
  tavimo::bridge::MapServer server{points, [](std::function<void()> task) { task(); },
                                   [](const std::string&, const std::string&) {}};
  Fixture() {
    points.Replace({{116.4, 39.9}, {-74.0, 40.7}});
    server.Start(0);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Fixture* fixture = new Fixture;
  const int sock = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(fixture->server.Port()));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  timeval wait{2, 0};
  ::setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  if (::connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    ::send(sock, data, size, MSG_NOSIGNAL);
    ::shutdown(sock, SHUT_WR);  // the request ends here
    char sink[4096];
    while (::recv(sock, sink, sizeof sink, 0) > 0) {
    }
  }
  ::close(sock);
  return 0;
}
