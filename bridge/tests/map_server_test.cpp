#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "bridge/map_server.h"
#include "bridge/page_access.h"
#include "tests/support/loopback.h"
#include "tests/support/task_thread.h"

namespace tavimo::bridge {
namespace {

using namespace std::chrono_literals;
using testing::RawExchange;
using testing::StatusOf;
using testing::TaskThread;

// A connection that stays open without a request, or sends one slowly.
class OpenConnection {
 public:
  explicit OpenConnection(int port) : sock_(testing::ConnectLoopback(port)) {}
  ~OpenConnection() { ::close(sock_); }
  OpenConnection(const OpenConnection&) = delete;
  OpenConnection& operator=(const OpenConnection&) = delete;
  bool Connected() const { return sock_ >= 0; }
  void Send(const std::string& bytes) { ::send(sock_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }

 private:
  int sock_;
};

class MapServerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Start(0)); }
  httplib::Client Client() {
    httplib::Client client("127.0.0.1", server_.Port());
    client.set_connection_timeout(5s);
    client.set_read_timeout(5s);
    return client;
  }

  catalogue::MapPointStore points_;
  TaskThread gui_;
  std::mutex listed_mutex_;
  std::vector<std::string> listed_;
  std::thread::id listed_on_;
  std::string Host() const { return "127.0.0.1:" + std::to_string(server_.Port()); }
  std::string Listed() {
    const std::lock_guard lock(listed_mutex_);
    std::string all;
    for (const std::string& item : listed_) all += item + ";";
    return all;
  }

  MapServer server_{points_, [this](std::function<void()> task) { gui_.Post(std::move(task)); },
                    [this](const std::string& lng, const std::string& lat) {
                      const std::lock_guard lock(listed_mutex_);
                      listed_.push_back(lng + "|" + lat);
                      listed_on_ = std::this_thread::get_id();
                    }};
};

TEST_F(MapServerTest, PointsAreEmptyBeforeAScanThenTheScansPoints) {
  auto client = Client();
  auto before = client.Post("/");
  ASSERT_TRUE(before);
  EXPECT_EQ(before->status, 200);
  EXPECT_EQ(before->body, "[]");
  points_.Replace({{116.40374357265176, 39.91010349934476}, {-74.0445, 40.6892}, {1e-7, 0}});
  auto after = client.Post("/", "ignored=1", "application/x-www-form-urlencoded");
  ASSERT_TRUE(after);
  EXPECT_EQ(after->body, "[[116.40374357265176,39.91010349934476],[-74.0445,40.6892],[1e-07,0.0]]");
  const auto parsed = nlohmann::json::parse(after->body);
  EXPECT_EQ(parsed[0][0].get<double>(), 116.40374357265176);
  auto get = client.Get("/");
  ASSERT_TRUE(get);
  EXPECT_EQ(get->body, after->body);
}

TEST_F(MapServerTest, AnswersCarryTheirHeaders) {
  auto client = Client();
  auto points = client.Get("/");
  ASSERT_TRUE(points);
  EXPECT_EQ(points->get_header_value("Access-Control-Allow-Origin"), "*");
  EXPECT_EQ(points->get_header_value("Content-Type"), "application/json");
  auto data = client.Post("/data", "lng=1&lat=2", "application/x-www-form-urlencoded");
  ASSERT_TRUE(data);
  EXPECT_EQ(data->get_header_value("Access-Control-Allow-Origin"), "*");
  const auto success = nlohmann::json::parse(data->body);
  EXPECT_EQ(success["stat"], true);
  EXPECT_TRUE(success.contains("code") && success.contains("message") && success.contains("data"));
  EXPECT_EQ(client.Get("/other")->status, 404);
}

TEST_F(MapServerTest, DataListsTheTrimmedPositionOnTheGuiThread) {
  auto client = Client();
  ASSERT_TRUE(client.Post("/data", "lng=116.40374357265176&lat=39.91010349934476", "application/x-www-form-urlencoded"));
  ASSERT_TRUE(client.Post("/data", "lng=1234567890123&lat=-73", "application/x-www-form-urlencoded"));
  ASSERT_TRUE(client.Get("/data?lng=1.5&lat=2.25"));
  const std::lock_guard lock(listed_mutex_);
  EXPECT_EQ(listed_, (std::vector<std::string>{"116.4037435726|39.9101034993", "123456789|-73", "1.5|2.25"}));
  EXPECT_EQ(listed_on_, gui_.Id());
}

TEST(TrimCoordinate, KeepsAtMostTenDecimals) {
  const std::pair<const char*, const char*> cases[] = {
      {"116.40374357265176", "116.4037435726"}, {"39.5", "39.5"}, {"-73", "-73"},
      {"1234567890123", "123456789"},           {"", ""},         {"0.1234567890", "0.1234567890"},
      {".12345678901", ".1234567890"},          {"1e-7", "1e-7"}, {"-0.00000012345678901", "-0.0000001234"},
  };
  for (const auto& [text, trimmed] : cases) EXPECT_EQ(TrimCoordinate(text), trimmed) << text;
}

TEST_F(MapServerTest, ConcurrentReadersSeeOnlyWholeLists) {
  std::atomic<bool> done = false;
  std::thread scanner([&] {
    for (int n = 0; !done; n = (n + 1) % 40) {
      points_.Replace(catalogue::PointList(static_cast<std::size_t>(n), {double(n), double(n)}));
    }
  });
  std::atomic<int> torn = 0;
  std::atomic<int> answered = 0;
  std::vector<std::thread> clients;
  for (int c = 0; c < 8; ++c) {
    clients.emplace_back([&] {
      auto client = Client();
      for (int i = 0; i < 25; ++i) {
        auto response = client.Get("/");
        if (!response) continue;
        ++answered;
        const auto list = nlohmann::json::parse(response->body);
        for (const auto& point : list) {
          if (point[0].get<double>() != static_cast<double>(list.size())) ++torn;
        }
      }
    });
  }
  for (std::thread& client : clients) client.join();
  done = true;
  scanner.join();
  EXPECT_EQ(answered, 200);
  EXPECT_EQ(torn, 0);
}

TEST_F(MapServerTest, ForeignHostIsRefused) {
  auto client = Client();
  for (const char* host : {"evil.example", "evil.example:80", "127.0.0.1", "localhost:1"}) {
    auto response = client.Get("/", {{"Host", host}});
    ASSERT_TRUE(response) << host;
    EXPECT_EQ(response->status, 403) << host;
    EXPECT_EQ(response->body.find('['), std::string::npos) << host;
  }
  auto local = client.Get("/", {{"Host", "localhost:" + std::to_string(server_.Port())}});
  ASSERT_TRUE(local);
  EXPECT_EQ(local->status, 200);
}

TEST(MapServer, PortInUseIsReported) {
  catalogue::MapPointStore points;
  MapServer first(points, [](std::function<void()>) {}, [](const std::string&, const std::string&) {});
  ASSERT_TRUE(first.Start(0));
  MapServer second(points, [](std::function<void()>) {}, [](const std::string&, const std::string&) {});
  EXPECT_FALSE(second.Start(first.Port()));
  EXPECT_EQ(second.Port(), 0);
  EXPECT_FALSE(first.Start(0)) << "started once only";
}

TEST(MapServer, StopWhileAHandlerWaitsReturnsPromptly) {
  catalogue::MapPointStore points;
  // A GUI thread that never gets to the task, as during shutdown.
  std::vector<std::function<void()>> never_run;
  std::mutex posted_mutex;
  MapServer server(
      points,
      [&](std::function<void()> task) {
        const std::lock_guard lock(posted_mutex);
        never_run.push_back(std::move(task));
      },
      [](const std::string&, const std::string&) { ADD_FAILURE() << "listed after the hand-off closed"; }, 60s);
  ASSERT_TRUE(server.Start(0));
  std::thread request([&] {
    httplib::Client client("127.0.0.1", server.Port());
    auto response = client.Post("/data", "lng=1&lat=2", "application/x-www-form-urlencoded");
    ASSERT_TRUE(response);
    EXPECT_EQ(response->status, 503) << "not listed, so not a success";
  });
  while (true) {
    const std::lock_guard lock(posted_mutex);
    if (!never_run.empty()) break;
  }
  const auto start = std::chrono::steady_clock::now();
  server.Stop();
  request.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
  // The task, run late, sees the closed hand-off and lists nothing.
  never_run[0]();
}

}  // namespace
}  // namespace tavimo::bridge

namespace tavimo::bridge {
namespace {

using namespace std::chrono_literals;

TEST_F(MapServerTest, WebPagesNeedTheTokenWhileDirectCallersDoNot) {
  points_.Replace({{116.4, 39.9}});
  const std::string token = server_.AccessToken();
  std::string wrong = token;
  wrong.back() = wrong.back() == '0' ? '1' : '0';
  const std::string own_origin = "http://" + Host();
  struct Case {
    const char* name;
    httplib::Headers headers;
    std::string token;
    int status;
    const char* allow_origin;  // nullptr: no CORS grant
  };
  const Case cases[] = {
      {"curl", {}, "", 200, "*"},
      {"typed into the address bar", {{"Sec-Fetch-Site", "none"}}, "", 200, "*"},
      {"a web site", {{"Origin", "https://photos.example"}, {"Sec-Fetch-Site", "cross-site"}}, "", 403, nullptr},
      {"a web site guessing", {{"Origin", "https://photos.example"}}, wrong, 403, nullptr},
      {"a sandboxed frame", {{"Origin", "null"}, {"Sec-Fetch-Site", "cross-site"}}, "", 403, nullptr},
      {"an image or a link", {{"Sec-Fetch-Site", "cross-site"}}, "", 403, nullptr},
      {"same origin without token", {{"Sec-Fetch-Site", "same-origin"}}, "", 403, nullptr},
      {"our written page", {{"Origin", "null"}, {"Sec-Fetch-Site", "cross-site"}}, token, 200, "null"},
      {"a page we serve", {{"Origin", own_origin}, {"Sec-Fetch-Site", "same-origin"}}, token, 200, own_origin.c_str()},
      {"a token and no page", {}, wrong, 200, "*"},
  };
  auto client = Client();
  for (const Case& c : cases) {
    const std::string query = c.token.empty() ? "" : "?token=" + c.token;
    auto points = client.Post("/" + query, c.headers, "", "application/x-www-form-urlencoded");
    ASSERT_TRUE(points) << c.name;
    EXPECT_EQ(points->status, c.status) << c.name;
    EXPECT_EQ(points->body.find("116.4") != std::string::npos, c.status == 200) << c.name;
    EXPECT_EQ(points->has_header("Access-Control-Allow-Origin"), c.allow_origin != nullptr) << c.name;
    if (c.allow_origin != nullptr) {
      EXPECT_EQ(points->get_header_value("Access-Control-Allow-Origin"), c.allow_origin) << c.name;
    }

    const std::string before = Listed();
    auto data = client.Post("/data" + query, c.headers, "lng=116.4&lat=39.9", "application/x-www-form-urlencoded");
    ASSERT_TRUE(data) << c.name;
    EXPECT_EQ(data->status, c.status) << c.name;
    EXPECT_EQ(Listed() != before, c.status == 200) << c.name << ": a refused request lists nothing";
  }
}

TEST_F(MapServerTest, PreflightsAreAnsweredForOurPagesOnly) {
  const std::string request_head = "OPTIONS /data?token=" + server_.AccessToken() +
                                   " HTTP/1.1\r\nHost: " + Host() +
                                   "\r\nOrigin: null\r\nAccess-Control-Request-Method: POST\r\n"
                                   "Access-Control-Request-Headers: content-type\r\n"
                                   "Access-Control-Request-Private-Network: true\r\n\r\n";
  const std::string ours = RawExchange(server_.Port(), request_head);
  EXPECT_EQ(StatusOf(ours), 204) << ours;
  for (const char* header : {"Access-Control-Allow-Origin: null", "Access-Control-Allow-Methods: ",
                             "Access-Control-Allow-Headers: content-type", "Access-Control-Allow-Private-Network: true"}) {
    EXPECT_NE(ours.find(header), std::string::npos) << header;
  }
  std::string foreign = request_head;
  foreign.replace(foreign.find("token=") + 6, 32, std::string(32, '0'));
  const std::string refused = RawExchange(server_.Port(), foreign);
  EXPECT_EQ(StatusOf(refused), 403) << refused;
  EXPECT_EQ(refused.find("Access-Control-Allow"), std::string::npos) << refused;
}

TEST_F(MapServerTest, TwoHostHeadersAreRefused) {
  const std::string host = Host();
  for (const std::string& hosts : {"Host: " + host + "\r\nHost: evil.example\r\n",
                                   "Host: evil.example\r\nHost: " + host + "\r\n", std::string()}) {
    const std::string answer = RawExchange(server_.Port(), "GET / HTTP/1.1\r\n" + hosts + "\r\n");
    EXPECT_EQ(StatusOf(answer), 400) << hosts;
    EXPECT_EQ(answer.find("[]"), std::string::npos) << hosts;
  }
}

TEST_F(MapServerTest, DataWithoutAPositionIsABadRequest) {
  auto client = Client();
  for (const char* body : {"", "lng=1", "lat=2", "lng=&lat=", "lng=1&lat=", "lng=&lat=2", "lngx=1&laty=2"}) {
    auto response = client.Post("/data", body, "application/x-www-form-urlencoded");
    ASSERT_TRUE(response) << body;
    EXPECT_EQ(response->status, 400) << body;
    EXPECT_EQ(nlohmann::json::parse(response->body)["stat"], false) << body;
  }
  EXPECT_EQ(Listed(), "") << "nothing listed";
}

TEST_F(MapServerTest, BodiesAreFramedBeforeTheyAreRead) {
  const std::string head = "POST / HTTP/1.1\r\nHost: " + Host() + "\r\n";
  struct Case {
    const char* name;
    std::string request;
    int status;
  };
  const std::string big_chunk = "10001\r\n" + std::string(0x10001, 'x') + "\r\n0\r\n\r\n";
  const Case cases[] = {
      {"no length and no coding: no body, answered at once", head + "\r\n", 200},
      {"a body of the size allowed", head + "Content-Length: 65536\r\n\r\n" + std::string(65536, 'a'), 200},
      {"a declared length over 64 KiB, body never sent", head + "Content-Length: 100000000\r\n\r\n", 413},
      {"one byte over", head + "Content-Length: 65537\r\n\r\n", 413},
      {"a chunked body over 64 KiB", head + "Transfer-Encoding: chunked\r\n\r\n" + big_chunk, 413},
      {"a small chunked body", head + "Transfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n", 200},
      {"two lengths", head + "Content-Length: 0\r\nContent-Length: 5\r\n\r\n", 400},
      {"a length beside chunked coding", head + "Content-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n", 400},
      {"a length that is no number", head + "Content-Length: -1\r\n\r\n", 400},
      {"an unknown coding", head + "Transfer-Encoding: gzip\r\n\r\n", 501},
  };
  for (const Case& c : cases) EXPECT_EQ(StatusOf(RawExchange(server_.Port(), c.request)), c.status) << c.name;
}

TEST(MapServer, ListingNotTakenInTimeIsUnavailableAndWithdrawn) {
  catalogue::MapPointStore points;
  std::vector<std::function<void()>> late;
  std::mutex late_mutex;
  int listed = 0;
  MapServer server(
      points,
      [&](std::function<void()> task) {
        const std::lock_guard lock(late_mutex);
        late.push_back(std::move(task));
      },
      [&](const std::string&, const std::string&) { ++listed; }, 200ms);
  ASSERT_TRUE(server.Start(0));
  httplib::Client client("127.0.0.1", server.Port());
  auto response = client.Post("/data", "lng=1&lat=2", "application/x-www-form-urlencoded");
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, 503);
  EXPECT_EQ(nlohmann::json::parse(response->body)["stat"], false);
  // The GUI thread gets to it after the answer: the withdrawn listing stays undone.
  for (auto& task : late) task();
  EXPECT_EQ(listed, 0);
}

TEST(MapServer, ListingsWaitingForABusyWindowAreReplacedByTheNewest) {
  catalogue::MapPointStore points;
  TaskThread gui;
  std::mutex mutex;
  std::condition_variable changed;
  bool release = false;
  int posted = 0;
  std::vector<std::string> listed;
  MapServer server(
      points,
      [&](std::function<void()> task) {
        gui.Post(std::move(task));
        const std::lock_guard lock(mutex);
        ++posted;
        changed.notify_all();
      },
      [&](const std::string& lng, const std::string&) {
        std::unique_lock lock(mutex);
        listed.push_back(lng);
        changed.notify_all();
        // The first listing keeps the window busy until released.
        changed.wait(lock, [&] { return release; });
      });
  ASSERT_TRUE(server.Start(0));
  // Status and whether the answer says the listing was replaced.
  const auto post = [&](const char* lng) {
    httplib::Client client("127.0.0.1", server.Port());
    client.set_read_timeout(10s);
    auto response = client.Post("/data", std::string("lng=") + lng + "&lat=1", "application/x-www-form-urlencoded");
    return response ? std::to_string(response->status) + (response->body.find("replaced") != std::string::npos ? " replaced" : "")
                    : std::string("no answer");
  };
  const auto wait_until = [&](auto done) {
    std::unique_lock lock(mutex);
    changed.wait(lock, done);
  };
  std::string first_result;
  std::string second_result;
  std::thread first([&] { first_result = post("1"); });
  wait_until([&] { return listed.size() == 1; });
  std::thread second([&] { second_result = post("2"); });
  wait_until([&] { return posted == 2; });
  std::thread third([&] { EXPECT_EQ(post("3"), "200"); });
  second.join();
  EXPECT_EQ(second_result, "200 replaced") << "answered while the window is still busy";
  {
    const std::lock_guard lock(mutex);
    release = true;
  }
  changed.notify_all();
  third.join();
  first.join();
  EXPECT_EQ(first_result, "200");
  EXPECT_EQ(listed, (std::vector<std::string>{"1", "3"}));
}

TEST(MapServer, IdleAndSlowClientsHoldUpNoOne) {
  catalogue::MapPointStore points;
  MapServer server(points, [](std::function<void()>) {}, [](const std::string&, const std::string&) {});
  ASSERT_TRUE(server.Start(0));
  std::vector<std::unique_ptr<OpenConnection>> idle;
  for (int i = 0; i < 60; ++i) idle.push_back(std::make_unique<OpenConnection>(server.Port()));
  for (int i = 0; i < 10; ++i) {
    idle[static_cast<std::size_t>(i)]->Send("GET / HTTP/1.1\r\n");  // and never more
  }
  for (const auto& connection : idle) ASSERT_TRUE(connection->Connected());
  // With a worker per connection the request is answered at once; with a
  // fixed pool of eight it waited for the idle ones to time out.
  const std::string answer =
      RawExchange(server.Port(), "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.Port()) + "\r\n\r\n", 2s);
  EXPECT_EQ(StatusOf(answer), 200);
  const auto start = std::chrono::steady_clock::now();
  server.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s) << "idle connections do not hold up the stop";
}

TEST(PageAccess, JudgesByHostOriginAndToken) {
  const std::string token = "0123456789abcdef0123456789abcdef";
  struct Case {
    const char* name;
    RequestOrigin request;
    Access access;
  };
  const Case cases[] = {
      {"curl", {{"127.0.0.1:8080"}, {}, {}, ""}, Access::kDirect},
      {"localhost", {{"localhost:8080"}, {}, {}, ""}, Access::kDirect},
      {"user typed it", {{"127.0.0.1:8080"}, {}, "none", ""}, Access::kDirect},
      {"no host", {{}, {}, {}, ""}, Access::kBadHost},
      {"two hosts", {{"127.0.0.1:8080", "127.0.0.1:8080"}, {}, {}, ""}, Access::kBadHost},
      {"rebound name", {{"evil.example:8080"}, {}, {}, ""}, Access::kForbidden},
      {"other port", {{"127.0.0.1:8081"}, {}, {}, ""}, Access::kForbidden},
      {"host without port", {{"127.0.0.1"}, {}, {}, ""}, Access::kForbidden},
      {"foreign origin", {{"127.0.0.1:8080"}, "https://a.example", {}, ""}, Access::kForbidden},
      {"foreign origin, user fetch site", {{"127.0.0.1:8080"}, "https://a.example", "none", ""}, Access::kForbidden},
      {"null origin", {{"127.0.0.1:8080"}, "null", "cross-site", ""}, Access::kForbidden},
      {"cross-site image", {{"127.0.0.1:8080"}, {}, "cross-site", ""}, Access::kForbidden},
      {"same-site", {{"127.0.0.1:8080"}, {}, "same-site", ""}, Access::kForbidden},
      {"short token", {{"127.0.0.1:8080"}, "null", {}, token.substr(1)}, Access::kForbidden},
      {"token one byte off", {{"127.0.0.1:8080"}, "null", {}, token.substr(0, 31) + "e"}, Access::kForbidden},
      {"our page", {{"127.0.0.1:8080"}, "null", "cross-site", token}, Access::kOwnPage},
      {"our served page", {{"localhost:8080"}, {}, "same-origin", token}, Access::kOwnPage},
      {"our page, foreign host", {{"evil.example:8080"}, "null", {}, token}, Access::kForbidden},
  };
  for (const Case& c : cases) EXPECT_EQ(JudgeAccess(c.request, 8080, token), c.access) << c.name;
  EXPECT_EQ(JudgeAccess({{"127.0.0.1:8080"}, "null", {}, ""}, 8080, ""), Access::kForbidden) << "no token, no page";
}

TEST(PageAccess, TokensAreFreshHexAndComparedWhole) {
  const std::string a = NewAccessToken();
  const std::string b = NewAccessToken();
  EXPECT_EQ(a.size(), 32u);
  EXPECT_EQ(a.find_first_not_of("0123456789abcdef"), std::string::npos) << a;
  EXPECT_NE(a, b);
  EXPECT_TRUE(SameSecret(a, a));
  EXPECT_FALSE(SameSecret(a, b));
  EXPECT_FALSE(SameSecret(a, a.substr(0, 31)));
  EXPECT_FALSE(SameSecret("", a));
  EXPECT_TRUE(SameSecret("", ""));
}

}  // namespace
}  // namespace tavimo::bridge
