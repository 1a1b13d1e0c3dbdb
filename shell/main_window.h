#pragma once

#include <QMainWindow>

class QAction;
class QListWidget;
class QPushButton;
class QWebEngineView;

namespace tavimo::platform {
class Canvas;
}

namespace tavimo::shell {

inline constexpr const char* kBaseTitle = "Tavimo by:Orsel";

// Sets `list` up as the window's photo list: 80 x 80 icons with their
// captions, left to right in rows, laid out a batch at a time.
void SetUpPhotoList(QListWidget* list);

// The main window: the map's browser box, the preview canvas, the photo list,
// the no-position button and the "其他" menu, at their fixed places. The
// controls keep their runtime names as object names.
class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit MainWindow(QWidget* parent = nullptr);

  QWebEngineView* Browser() const;
  platform::Canvas* Preview() const;
  QListWidget* PhotoList() const;
  QPushButton* NoPositionButton() const;
  QAction* SponsorAction() const;
  QAction* AboutAction() const;

  // Resizes the window so that its outer size, frame included, is 1479 x 685.
  void FitOuterSize();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QWebEngineView* browser_;
  platform::Canvas* canvas_;
  QListWidget* list_;
  QPushButton* button_;
  QAction* sponsor_;
  QAction* about_;
  bool fitted_ = false;
};

}  // namespace tavimo::shell
