#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "bridge/map_server.h"

namespace tavimo::bridge {
namespace {

using namespace std::chrono_literals;

// Stands in for the GUI thread: runs posted tasks one after another.
class TaskThread {
 public:
  TaskThread() : thread_([this] { Run(); }) {}
  ~TaskThread() {
    {
      const std::lock_guard lock(mutex_);
      quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  void Post(std::function<void()> task) {
    {
      const std::lock_guard lock(mutex_);
      tasks_.push_back(std::move(task));
    }
    wake_.notify_all();
  }
  std::thread::id Id() const { return thread_.get_id(); }

 private:
  void Run() {
    std::unique_lock lock(mutex_);
    while (true) {
      wake_.wait(lock, [this] { return quit_ || !tasks_.empty(); });
      if (tasks_.empty()) return;
      auto task = std::move(tasks_.front());
      tasks_.pop_front();
      lock.unlock();
      task();
      lock.lock();
    }
  }
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;
  bool quit_ = false;
  std::thread thread_;
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
  ASSERT_TRUE(client.Post("/data", "lat=-73", "application/x-www-form-urlencoded"));
  ASSERT_TRUE(client.Get("/data?lng=1.5&lat=2.25"));
  const std::lock_guard lock(listed_mutex_);
  EXPECT_EQ(listed_, (std::vector<std::string>{"116.4037435726|39.9101034993", "|-73", "1.5|2.25"}));
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
    EXPECT_TRUE(response);
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
