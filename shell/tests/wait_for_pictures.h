#pragma once

#include <QTest>

#include "shell/globals.h"

namespace tavimo::shell {

// Runs the event loop until the thumbnails and the preview asked for so far
// have been made and shown (or dropped); false when work remains after 10 s.
inline bool WaitForPictures(Globals& globals) {
  for (int i = 0; i < 1000 && globals.pictures && !globals.pictures->Idle(); ++i) QTest::qWait(10);
  return !globals.pictures || globals.pictures->Idle();
}

}  // namespace tavimo::shell
