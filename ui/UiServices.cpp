// The real desktop's services: the save dialog, the error box, the beep, the active state.
#include "ui/UiServices.h"

#include <QApplication>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>

namespace ui {

std::optional<QString> TDesktopServices::AskSaveFileName(QWidget* parent,
                                                         const TSaveDialogOptions& options) {
  QFileDialog dialog(parent);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);  // the folder must exist; the file may be new
  dialog.setDefaultSuffix(options.DefaultExtension);
  dialog.setNameFilter(options.Filter);
  // The dialog asks before overwriting an existing file unless told not to.
  dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
  dialog.setOption(QFileDialog::ReadOnly, false);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().constFirst();
}

void TDesktopServices::ShowError(QWidget* parent, const QString& message) {
  // One box at a time: while it is open, the sample tick may fail ten times a second, and a pile
  // of boxes would bury the window and its "STOP" button.
  if (OpenBox != nullptr) return;
  auto* box = new QMessageBox(QMessageBox::Critical, QApplication::applicationName(), message,
                              QMessageBox::Ok, parent);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::NonModal);  // the user must still reach "STOP"
  OpenBox = box;
  box->show();
}

void TDesktopServices::ShowErrorAndWait(QWidget* parent, const QString& message) {
  QMessageBox::critical(parent, QApplication::applicationName(), message);
}

void TDesktopServices::Beep() { QApplication::beep(); }

bool TDesktopServices::IsApplicationActive() {
  return QGuiApplication::applicationState() == Qt::ApplicationActive;
}

}  // namespace ui
