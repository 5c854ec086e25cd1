// kestview's window: one or more logged runs on one chart, with a summary of the visible range.
#pragma once

#include <QMainWindow>
#include <QStringList>
#include <memory>
#include <vector>

#include "log/Log.h"
#include "viewer/EngineLogs.h"
#include "viewer/EnginePanesWidget.h"
#include "viewer/LogChart.h"
#include "viewer/LogFile.h"

class QCheckBox;
class QComboBox;
class QDockWidget;
class QDoubleSpinBox;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QToolBar;

namespace viewer {

class TMixtureTablePanel;

class TKestViewWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit TKestViewWindow(QWidget* parent = nullptr);
  ~TKestViewWindow() override;

  // Opens the files beside those already shown. Files that cannot be read are named in the
  // message line and left out; returns how many were opened. An engine log is shown in panes
  // under the chart, lined up with the first mixture log; a second engine log takes its place.
  int OpenFiles(const QStringList& paths);
  // Follow mode for every open file (and those opened later).
  void SetFollow(bool follow);
  void SetDisplay(const TDisplay& display);
  void SetBands(const TBands& bands);
  // Time since each log's start instead of the time of day (chosen by itself otherwise: on with
  // several files).
  void SetRelative(bool relative);

  TLogChart* Chart() const { return ChartWidget; }

  // The engine log: how to line it up (a hand offset in seconds wins), which channels to show.
  void SetAlign(TAlignMode mode);
  void SetHandOffset(std::optional<double> seconds);
  // Shows the named channels; returns the names the log does not have.
  std::vector<std::string> SetShownChannels(const std::vector<std::string>& names);
  // The engine log open (none: nullptr), where it lies and its panes.
  const enginelog::TLog* EngineLog() const { return Engine.get(); }
  const TAlignment& EngineAlignment() const { return Alignment; }
  const TEnginePanesWidget* Panes() const { return PanesWidget; }
  // The mixture table over the engine log's channels, docked under the chart while one is open.
  TMixtureTablePanel* MixtureTable() const { return TablePanel; }
  QDockWidget* MixtureTableDock() const { return TableDock; }
  // The read-out line's text (the chart's read-out and every shown channel's value).
  QString ReadoutText() const;
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
  void BuildEngineControls();
  bool OpenEngineLog(const QString& path, enginelog::TLog read);
  void Realign();
  void PlaceEngine();
  void FillChannelList();
  void ChannelsPicked();
  void ShowAlignment();
  void ShowReadout();
  void BuildTableDock();
  void UpdateTableSources(const TChartScene& scene, const TPaneScene& panes);

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
  // The engine log and its controls.
  std::unique_ptr<enginelog::TLog> Engine;
  QString EnginePath;
  unsigned EngineNumber = 0;  // counts the engine logs opened
  TAlignment Alignment;
  TAlignMode AlignMode = TAlignMode::Match;
  std::optional<double> HandOffset;
  std::vector<std::size_t> ShownChannels;
  TEnginePanesWidget* PanesWidget = nullptr;
  QToolBar* EngineBar = nullptr;
  QComboBox* AlignBox = nullptr;
  QDoubleSpinBox* OffsetBox = nullptr;  // milliseconds
  QLabel* AlignLabel = nullptr;
  QListWidget* ChannelList = nullptr;
  TMixtureTablePanel* TablePanel = nullptr;
  QDockWidget* TableDock = nullptr;
  QString ChartReadout;
  QString ChannelReadout;
  QStringList FailedMessages;
  bool DisplayChosen = false;  // the user (or the command line) chose the unit and fuel
  bool RelativeChosen = false;
  bool Updating = false;
};

}  // namespace viewer
