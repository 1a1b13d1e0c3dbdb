// GoogleTest entry for tests that need real windows: a QApplication on the
// main thread, made only when tests run (listing them needs no display).
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <cstdlib>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  if (::geteuid() == 0) ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  // The scan and thumbnail caches go to a scratch folder, not the user's.
  char cache_home[] = "/tmp/tavimo-test-cache-XXXXXX";
  if (::mkdtemp(cache_home) != nullptr) ::setenv("XDG_CACHE_HOME", cache_home, 1);
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
