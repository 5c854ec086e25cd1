// The two information windows of the Help menu: "About KestGraph" and "About log to disk". Both are
// created hidden, shown without blocking the main window, and hidden again when closed.
#pragma once

#include <QFrame>
#include <QLabel>
#include <QWidget>
#include <array>

namespace ui {

// Shows `window` (bringing it forward when it already shows).
void ShowAboutWindow(QWidget* window);

// What both information windows share: a title bar with only the window menu and the close button.
// Window managers that leave the minimise and maximise buttons in place anyway (they may ignore
// that part of the hint) find the window returning to its normal state when either is used.
class TAboutWindow : public QWidget {
  Q_OBJECT
 public:
  explicit TAboutWindow(QWidget* parent = nullptr);

 protected:
  void changeEvent(QEvent* event) override;
};

class TAboutKest3Graph : public TAboutWindow {
  Q_OBJECT
 public:
  explicit TAboutKest3Graph(QWidget* parent = nullptr);
  QFrame* Bevel1;
  QLabel* StaticText1;  // "LSU4 Kest Interface V1.1"
  QLabel* StaticText3;  // the maker
  QLabel* StaticText4;  // the maker's town and country
  QLabel* StaticText2;  // the maker's web address
};

class TAboutKest3GraphDiskLog : public TAboutWindow {
  Q_OBJECT
 public:
  explicit TAboutKest3GraphDiskLog(QWidget* parent = nullptr);
  QFrame* Bevel1;
  std::array<QLabel*, 6> StaticTexts;  // StaticText1 .. StaticText6
  // Sets the six lines of the explanation; runs on every paint of the window.
  void FormPaint();

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// The maker's lines shown in "About KestGraph" and in the logo's hint.
inline constexpr const char* MakerName = "Torvane Instruments - wideband tuning tools";
inline constexpr const char* MakerTown = "Harrowgate Vale, Northland";
inline constexpr const char* MakerWebAddress = "www.torvane.example";

}  // namespace ui
