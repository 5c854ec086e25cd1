// kestview's window: one or more logged runs on one chart, with a summary of the visible range.
#pragma once

#include <QMainWindow>
#include <QStringList>
#include <memory>
#include <vector>

#include "viewer/LogChart.h"
#include "viewer/LogFile.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPlainTextEdit;

namespace viewer {

class TKestViewWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit TKestViewWindow(QWidget* parent = nullptr);
  ~TKestViewWindow() override;

  // Opens the files beside those already shown. Files that cannot be read are named in the
  // message line and left out; returns how many were opened.
  int OpenFiles(const QStringList& paths);
  // Follow mode for every open file (and those opened later).
  void SetFollow(bool follow);
  void SetDisplay(const TDisplay& display);
  void SetBands(const TBands& bands);
  // Time since each log's start instead of the time of day (chosen by itself otherwise: on with
  // several files).
  void SetRelative(bool relative);

  TLogChart* Chart() const { return ChartWidget; }
  const std::vector<std::unique_ptr<TLogFile>>& Files() const { return LogFiles; }
  // The messages about files (unreadable ones, skipped rows), one a line.
  QString Messages() const;
  // The summary panel's text.
  QString SummaryPanelText() const;

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void BuildMenus();
  void BuildToolBar();
  void RebuildScene(bool resetRange);
  void UpdateSummary();
  void UpdateMessages();
  void OpenDialog();
  void ExportDialog();
  void FileGrew();
  void DisplayControlsChanged();

  TLogChart* ChartWidget;
  QPlainTextEdit* SummaryPanel;
  QLabel* MessageLine;
  QLabel* ReadoutLine;
  QComboBox* UnitBox;
  QComboBox* FuelBox;
  QCheckBox* RelativeBox;
  QCheckBox* FollowBox;
  QDoubleSpinBox* RichBox;
  QDoubleSpinBox* LeanBox;
  std::vector<std::unique_ptr<TLogFile>> LogFiles;
  QStringList FailedMessages;
  bool DisplayChosen = false;  // the user (or the command line) chose the unit and fuel
  bool RelativeChosen = false;
  bool Updating = false;
};

}  // namespace viewer
