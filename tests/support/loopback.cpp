#include "tests/support/loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace tavimo::testing {
namespace {

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

}  // namespace

int FreeLoopbackPort() {
  const int sock = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof address;
  ::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(sock, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(sock);
  return ntohs(address.sin_port);
}

int ConnectLoopback(int port, std::chrono::milliseconds wait) {
  const int sock = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in address = Loopback(port);
  if (::connect(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(sock);
    return -1;
  }
  timeval timeout{static_cast<time_t>(wait.count() / 1000), static_cast<suseconds_t>(wait.count() % 1000 * 1000)};
  ::setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  return sock;
}

std::string RawExchange(int port, const std::string& bytes, std::chrono::milliseconds wait) {
  const int sock = ConnectLoopback(port, wait);
  if (sock < 0) return {};
  std::string answer;
  if (::send(sock, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size())) {
    char buffer[4096];
    for (ssize_t n; (n = ::recv(sock, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(sock);
  return answer;
}

int StatusOf(const std::string& answer) {
  return answer.rfind("HTTP/1.1 ", 0) == 0 ? std::atoi(answer.c_str() + 9) : 0;
}

std::string BodyOf(const std::string& answer) {
  const std::size_t end_of_head = answer.find("\r\n\r\n");
  return end_of_head == std::string::npos ? std::string() : answer.substr(end_of_head + 4);
}

}  // namespace tavimo::testing
