// What the window tests share: desktop services that record instead of showing, and a window on
// the scripted serial device.
#pragma once

#include <QApplication>
#include <QImage>
#include <QString>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "tests/support/EngineAccess.h"
#include "tests/support/FakeSerialApi.h"
#include "ui/Kest3GraphMain.h"

namespace uitest {

class TRecordingServices : public ui::TUiServices {
 public:
  std::deque<QString> SaveAnswers;  // next answers of the save dialog; a null string cancels
  std::vector<QString> Errors;      // every report, shown or not
  int BoxesShown = 0;               // boxes a user would have seen
  bool BoxOpen = false;             // a box is showing now
  int Beeps = 0;
  bool Active = true;
  int SaveDialogs = 0;
  ui::TSaveDialogOptions LastDialogOptions;

  std::optional<QString> AskSaveFileName(QWidget*, const ui::TSaveDialogOptions& options) override {
    ++SaveDialogs;
    LastDialogOptions = options;
    if (SaveAnswers.empty()) return std::nullopt;
    const QString answer = SaveAnswers.front();
    SaveAnswers.pop_front();
    if (answer.isNull()) return std::nullopt;
    return answer;
  }
  void ShowError(QWidget*, const QString& message) override {
    Errors.push_back(message);
    if (BoxOpen) return;  // the desktop's rule: one box at a time
    BoxOpen = true;
    ++BoxesShown;
  }
  void ShowErrorAndWait(QWidget*, const QString& message) override {
    Errors.push_back(message);
    ++BoxesShown;
  }
  void Beep() override { ++Beeps; }
  bool IsApplicationActive() override { return Active; }
};

// A main window on the fake serial device, with COM1 present unless told otherwise.
struct TWindowFixture {
  kesttest::TFakeSerialApi Serial;
  TRecordingServices Services;
  std::unique_ptr<ui::TKest3GraphMain> Window;

  explicit TWindowFixture(bool com1Present = true,
                          platform::TLocaleFormats locale = platform::TLocaleFormats{}) {
    if (!com1Present) Serial.RemoveDevice(kesttest::TFakeSerialApi::ComName(1));
    ui::TMainWindowOptions options;
    options.SerialApi = &Serial;
    options.Services = &Services;
    options.Locale = std::move(locale);
    Window = std::make_unique<ui::TKest3GraphMain>(std::move(options));
    // The tests drive the timers by hand.
    kesttest::SampleTimerOf(Window->Engine).stop();
    kesttest::WatchdogTimerOf(Window->Engine).stop();
  }
  ui::TKest3GraphMain& W() { return *Window; }
};

inline QRgb PixelAt(const ui::TKest3GraphMain& window, int x, int y) {
  return window.PaintBox1->Image().pixel(x, y);
}

}  // namespace uitest
