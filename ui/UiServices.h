// What the main window asks of the desktop beyond its own widgets: the save dialog, the error box,
// the beep and whether the program is in front. Tests put their own in place.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <optional>

namespace ui {

// The save dialog's settings: default extension "txt", filter "*.txt", ask before overwriting,
// no read-only check box, the path must exist.
struct TSaveDialogOptions {
  QString DefaultExtension = QStringLiteral("txt");
  QString Filter = QStringLiteral("*.txt");
};

class TUiServices {
 public:
  virtual ~TUiServices() = default;
  // The path the user chose, or nothing when the dialog was cancelled.
  virtual std::optional<QString> AskSaveFileName(QWidget* parent,
                                                 const TSaveDialogOptions& options) = 0;
  // Reports a failure in a message box that does not block the window. While one such box is
  // open, later reports add no further box.
  virtual void ShowError(QWidget* parent, const QString& message) = 0;
  // The same, but waits until the user has read it (for failures at exit, after which no window
  // would be left to show it).
  virtual void ShowErrorAndWait(QWidget* parent, const QString& message) = 0;
  virtual void Beep() = 0;
  // Whether this program is the active one (not behind another program and not minimised).
  virtual bool IsApplicationActive() = 0;
};

// The real desktop: QFileDialog, QMessageBox, QApplication::beep, the application's state.
class TDesktopServices : public TUiServices {
 public:
  std::optional<QString> AskSaveFileName(QWidget* parent,
                                         const TSaveDialogOptions& options) override;
  void ShowError(QWidget* parent, const QString& message) override;
  void ShowErrorAndWait(QWidget* parent, const QString& message) override;
  void Beep() override;
  bool IsApplicationActive() override;

 private:
  QPointer<QWidget> OpenBox;  // the error box now showing; null again once it is closed
};

}  // namespace ui
