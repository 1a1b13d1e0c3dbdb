// The window while a folder is scanned: the largest gap between ticks of a
// 10 ms timer on the GUI thread (what a user feels as a freeze), the scan's
// time, and the growth of the process's resident memory. Needs a display
// (run under xvfb-run). Usage: scan_stall FOLDER
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <string>

#include "shell/desktop.h"

namespace {

constexpr int kTickMs = 10;

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: scan_stall FOLDER\n");
    return 2;
  }
  std::string folder = argv[1];
  if (folder.back() != '/') folder += '/';
  QApplication app(argc, argv);
  tavimo::shell::Desktop desktop(/*use_scan_cache=*/false);
  desktop.Window().show();
  QElapsedTimer clock;
  qint64 last = 0;
  qint64 worst = 0;
  QTimer ticks;
  QObject::connect(&ticks, &QTimer::timeout, [&] {
    const qint64 now = clock.elapsed();
    worst = std::max(worst, now - last);
    last = now;
  });
  long before = 0;
  QTimer::singleShot(500, [&] {
    before = ResidentKiB();
    clock.start();
    ticks.start(kTickMs);
    tavimo::shell::OnFolderDropped(tavimo::shell::IntakeOf(desktop.State()), folder);
    auto* poll = new QTimer(&app);
    QObject::connect(poll, &QTimer::timeout, [&, poll] {
      if (desktop.State().scan && desktop.State().scan->Running()) return;
      poll->stop();
      std::printf("%zu photos scanned in %lld ms; largest GUI-thread gap %lld ms (ticks every %d ms); RSS +%ld KiB\n",
                  desktop.State().tables.photo_names.size(), static_cast<long long>(clock.elapsed()),
                  static_cast<long long>(worst), kTickMs, ResidentKiB() - before);
      QApplication::quit();
    });
    poll->start(5);
  });
  return QApplication::exec();
}
