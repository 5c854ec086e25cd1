// The two About windows: their layout, texts and pictures, and how they are shown and closed.
#include "ui/AboutWindows.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

namespace ui {

namespace {

// An ordinary sizeable window whose title bar has only the system menu and the close button.
constexpr Qt::WindowFlags AboutWindowFlags = Qt::Window | Qt::WindowTitleHint |
                                             Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                                             Qt::CustomizeWindowHint;

// The states the title bar does not offer.
constexpr Qt::WindowStates RefusedStates =
    Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen;

QFont AboutFont(int pixelHeight) {
  // The layout was made for this face; fontconfig stands in a sans face where it is absent.
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(pixelHeight);
  return font;
}

void SetUpAboutWindow(QWidget* window, const QString& caption, int width, int height,
                      int fontHeight) {
  window->setWindowFlags(AboutWindowFlags);
  window->setWindowTitle(caption);
  window->setFont(AboutFont(fontHeight));
  window->resize(width, height);
  window->setAutoFillBackground(true);
}

QLabel* StaticText(QWidget* parent, int left, int top, const QString& text) {
  auto* label = new QLabel(text, parent);
  label->move(left, top);
  label->adjustSize();
  return label;
}

QFrame* LoweredBox(QWidget* parent, int left, int top, int width, int height) {
  auto* bevel = new QFrame(parent);
  bevel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  bevel->setGeometry(left, top, width, height);
  return bevel;
}

}  // namespace

void ShowAboutWindow(QWidget* window) {
  if (!window->isVisible()) {
    // Centred on the screen each time it opens, as a fresh window would be.
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
      QRect frame = window->frameGeometry();
      frame.moveCenter(screen->availableGeometry().center());
      window->move(frame.topLeft());
    }
  }
  window->show();
  window->raise();
  window->activateWindow();
}

TAboutWindow::TAboutWindow(QWidget* parent) : QWidget(parent) {}

void TAboutWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange || !(windowState() & RefusedStates)) return;
  // Undone once the window manager has finished the change it is telling us about; undoing it
  // from inside its own notification would be overridden by the rest of that change.
  QTimer::singleShot(0, this, [this] {
    if (windowState() & RefusedStates) setWindowState(windowState() & ~RefusedStates);
  });
}

TAboutKest3Graph::TAboutKest3Graph(QWidget* parent) : TAboutWindow(parent) {
  // The outer size is 551 x 229; the title bar and borders are the desktop's, so the client area
  // is what we set here, less a typical frame.
  SetUpAboutWindow(this, QStringLiteral("About KestGraph"), 543, 202, 14);
  Bevel1 = LoweredBox(this, 49, 20, 454, 119);
  StaticText1 = StaticText(this, 191, 39, QStringLiteral("LSU4 Kest Interface V1.1"));
  StaticText3 = StaticText(this, 177, 69, QString::fromLatin1(MakerName));
  StaticText4 = StaticText(this, 217, 98, QString::fromLatin1(MakerTown));
  StaticText2 = StaticText(this, 197, 148, QString::fromLatin1(MakerWebAddress));
}

TAboutKest3GraphDiskLog::TAboutKest3GraphDiskLog(QWidget* parent) : TAboutWindow(parent) {
  SetUpAboutWindow(this, QStringLiteral("About log to disk"), 541, 289, 13);
  Bevel1 = LoweredBox(this, 24, 24, 489, 233);
  const int tops[6] = {64, 88, 112, 136, 160, 184};
  for (int i = 0; i < 6; ++i)
    StaticTexts[i] = StaticText(this, 48, tops[i], QStringLiteral("StaticText%1").arg(i + 1));
}

void TAboutKest3GraphDiskLog::FormPaint() {
  static const char* const lines[6] = {
      "This will create a CSV (Comma Separated Values) text file that can be",
      "loaded into a spreedsheet such as Excel for analysis.",
      "When \"START\" is pressed a dialog box will open asking to",
      "name a file. Once this is done the log to disk will start.",
      "The log will continue until \"STOP\" is pressed or the disk",
      "is full !",
  };
  for (int i = 0; i < 6; ++i) {
    const QString text = QString::fromLatin1(lines[i]);
    if (StaticTexts[i]->text() == text) continue;  // setting it again would paint again
    StaticTexts[i]->setText(text);
    StaticTexts[i]->adjustSize();
  }
}

void TAboutKest3GraphDiskLog::paintEvent(QPaintEvent* event) {
  FormPaint();
  QWidget::paintEvent(event);
}

}  // namespace ui
