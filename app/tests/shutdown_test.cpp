// The whole program, started as a user starts it, ended in each of the ways
// a desktop ends a program, with connections still open to its server.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/loopback.h"

namespace tavimo::app {
namespace {

using namespace std::chrono_literals;

// The body of "/" on `port`; empty while nothing answers.
std::string Points(int port) {
  return testing::BodyOf(
      testing::RawExchange(port, "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n", 2s));
}

xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
  xcb_intern_atom_reply_t* reply =
      xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
  const xcb_atom_t atom = reply != nullptr ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
  std::free(reply);
  return atom;
}

// The value of a window's property, as bytes; empty when it has none.
std::string Property(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property) {
  xcb_get_property_reply_t* reply = xcb_get_property_reply(
      connection, xcb_get_property(connection, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 256), nullptr);
  std::string value;
  if (reply != nullptr) {
    value.assign(static_cast<const char*>(xcb_get_property_value(reply)),
                 static_cast<std::size_t>(xcb_get_property_value_length(reply)));
  }
  std::free(reply);
  return value;
}

// The shown top-level window of process `pid` whose title begins with
// "Tavimo"; 0 when there is none. (Qt leaves hidden native windows behind
// when it replaces one.)
xcb_window_t MainWindowOf(xcb_connection_t* connection, pid_t pid) {
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
  const xcb_atom_t pid_atom = Atom(connection, "_NET_WM_PID");
  xcb_window_t found = 0;
  xcb_query_tree_reply_t* tree = xcb_query_tree_reply(connection, xcb_query_tree(connection, root), nullptr);
  if (tree == nullptr) return 0;
  const xcb_window_t* children = xcb_query_tree_children(tree);
  for (int i = 0; i < xcb_query_tree_children_length(tree) && found == 0; ++i) {
    const std::string owner = Property(connection, children[i], pid_atom);
    std::uint32_t owner_pid = 0;
    if (owner.size() == 4) std::memcpy(&owner_pid, owner.data(), 4);
    if (owner_pid != static_cast<std::uint32_t>(pid)) continue;
    if (Property(connection, children[i], XCB_ATOM_WM_NAME).rfind("Tavimo", 0) != 0) continue;
    xcb_get_window_attributes_reply_t* attributes =
        xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, children[i]), nullptr);
    if (attributes != nullptr && attributes->map_state == XCB_MAP_STATE_VIEWABLE) found = children[i];
    std::free(attributes);
  }
  std::free(tree);
  return found;
}

void CloseWindow(xcb_connection_t* connection, xcb_window_t window) {
  xcb_client_message_event_t message{};
  message.response_type = XCB_CLIENT_MESSAGE;
  message.format = 32;
  message.window = window;
  message.type = Atom(connection, "WM_PROTOCOLS");
  message.data.data32[0] = Atom(connection, "WM_DELETE_WINDOW");
  message.data.data32[1] = XCB_CURRENT_TIME;
  xcb_send_event(connection, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
}

class Shutdown : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs a display (the test command runs it under Xvfb)";
    port_ = testing::FreeLoopbackPort();
    pid_ = ::fork();
    if (pid_ == 0) {
      ::setenv("TAVIMO_PORT", std::to_string(port_).c_str(), 1);
      ::freopen("/dev/null", "w", stdout);
      ::freopen("/dev/null", "w", stderr);
      ::execl(TAVIMO_BINARY, "tavimo", TAVIMO_SAMPLES_DIR, static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ASSERT_GT(pid_, 0);
    // Started when the server answers with the samples' points.
    for (int i = 0; i < 300 && Points(port_).find("[[") != 0; ++i) std::this_thread::sleep_for(100ms);
    ASSERT_EQ(Points(port_).find("[["), 0u) << "tavimo did not start serving";
  }
  void TearDown() override {
    if (pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  // The exit status once the process has ended, within `limit`; -1 when it runs on.
  int WaitForExit(std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (std::chrono::steady_clock::now() < end) {
      const pid_t done = ::waitpid(pid_, &status, WNOHANG);
      if (done == pid_) {
        pid_ = -1;
        return status;
      }
      std::this_thread::sleep_for(10ms);
    }
    return -1;
  }

  // Does `act` to the main window and waits for the process to end; acts
  // again when Qt had replaced the window before the act landed (it does
  // so once the browser view starts). The exit status; -1 when it runs on.
  int ActOnWindowAndWait(const std::function<void(xcb_connection_t*, xcb_window_t)>& act) {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    int status = -1;
    xcb_window_t acted = 0;
    for (int attempt = 0; attempt < 3 && xcb_connection_has_error(connection) == 0; ++attempt) {
      const xcb_window_t window = MainWindowOf(connection, pid_);
      if (window == 0 || window == acted) break;  // gone, or the same window ignored us
      act(connection, window);
      xcb_flush(connection);
      acted = window;
      status = WaitForExit(attempt < 2 ? 3s : 10s);
      if (status != -1) break;
    }
    xcb_disconnect(connection);
    return status;
  }

  pid_t pid_ = -1;
  int port_ = 0;
};

TEST_F(Shutdown, EveryWayOfEndingStopsTheServerAndExitsCleanly) {
  struct Way {
    const char* name;
    std::function<int()> end_and_wait;  // the exit status; -1 when it runs on
  };
  const Way ways[] = {
      {"SIGTERM", [this] { return ::kill(pid_, SIGTERM) == 0 ? WaitForExit(10s) : -1; }},
      {"SIGINT", [this] { return ::kill(pid_, SIGINT) == 0 ? WaitForExit(10s) : -1; }},
      {"window closed", [this] { return ActOnWindowAndWait(CloseWindow); }},
      {"window destroyed by another program",
       [this] { return ActOnWindowAndWait([](xcb_connection_t* c, xcb_window_t w) { xcb_destroy_window(c, w); }); }},
  };
  for (const Way& way : ways) {
    if (way.name != ways[0].name) SetUp();
    // Connections in flight: one idle, one sending its request slowly.
    const int idle = testing::ConnectLoopback(port_, 2s);
    const int slow = testing::ConnectLoopback(port_, 2s);
    ASSERT_GE(idle, 0);
    ASSERT_GE(slow, 0);
    ::send(slow, "GET / HTTP/1.1\r\n", 16, MSG_NOSIGNAL);
    const int status = way.end_and_wait();
    EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << way.name << ": status " << status << (status == -1 ? " (still running)" : "");
    char byte;
    EXPECT_LE(::recv(idle, &byte, 1, 0), 0) << way.name << ": the server let go of its connections";
    ::close(idle);
    ::close(slow);
    TearDown();
  }
}

}  // namespace
}  // namespace tavimo::app
