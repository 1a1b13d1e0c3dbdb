#pragma once

#include <QTest>

#include "shell/globals.h"

namespace tavimo::shell {

// Runs the event loop until the folder scan started last has been shown in
// the window; false when it is still running after 10 s.
inline bool WaitForScan(Globals& globals) {
  for (int i = 0; i < 1000 && globals.scan && globals.scan->Running(); ++i) QTest::qWait(10);
  return !globals.scan || !globals.scan->Running();
}

}  // namespace tavimo::shell
