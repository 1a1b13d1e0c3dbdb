#pragma once

#include <QDialog>
#include <string>

#include "platform/window_runtime.h"

namespace tavimo::shell {

// Registers the pictures built into the program; call once after the
// application object exists. Cannot fail.
void LoadResources();

// The About notice: three lines, an empty line after the first.
std::string AboutText();
// Shows the About notice in a message box; returns when it is closed.
void ShowAbout(platform::WindowRuntime& window);

// The "感谢支持" window with the sponsor picture.
class SponsorWindow : public QDialog {
 public:
  SponsorWindow();

 protected:
  // Once shown, the frame is known: the outer size becomes 483 x 313.
  void showEvent(QShowEvent* event) override;
};

// Shows a fresh sponsor window as a modal dialog; returns when it is closed.
void ShowSponsor();

}  // namespace tavimo::shell
