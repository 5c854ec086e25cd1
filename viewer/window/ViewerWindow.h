// kestview's window: one or more logged runs on one chart, with a summary of the visible range. It
// shows a session (TViewSession) and sends it the user's commands; it holds no state of its own
// beyond what its widgets draw.
#pragma once

#include <QMainWindow>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

#include "log/Log.h"
#include "viewer/chart/EnginePanesWidget.h"
#include "viewer/chart/LogChart.h"
#include "viewer/logs/EngineLogs.h"
#include "viewer/logs/LogFile.h"
#include "viewer/session/ViewSession.h"

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
  // Shows `session` (which must outlive the window), or a session of its own when none is given.
  explicit TKestViewWindow(TViewSession* session = nullptr, QWidget* parent = nullptr);
  ~TKestViewWindow() override;

  TViewSession* Session() const { return ViewSession; }

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
  const enginelog::TLog* EngineLog() const { return ViewSession->EngineLog(); }
  const TAlignment& EngineAlignment() const { return ViewSession->Alignment(); }
  const TEnginePanesWidget* Panes() const { return PanesWidget; }
  // The mixture table over the engine log's channels, docked under the chart while one is open.
  TMixtureTablePanel* MixtureTable() const { return TablePanel; }
  QDockWidget* MixtureTableDock() const { return TableDock; }
  // The read-out line's text (the chart's read-out and every shown channel's value).
  QString ReadoutText() const;
  const std::vector<std::unique_ptr<TLogFile>>& Files() const { return ViewSession->Logs(); }
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
  void SessionChanged(TViewSession::TChange what);
  void RebuildScene(bool resetRange);
  void UpdateSummary();
  void UpdateMessages();
  void OpenDialog();
  void FollowFolderDialog();
  void ExportDialog();
  void ShowDisplay();
  void BuildEngineControls();
  void ShowEngineLog();
  void FillChannelList();
  void ChannelsPicked();
  void ShowAlignment();
  void ShowReadout();
  void BuildTableDock();

  TViewSession* ViewSession;
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
  unsigned EngineShown = 0;  // the session's number of the engine log the controls show
  // Whether the table was last put up for a log with its usual axes (none: not yet decided).
  std::optional<bool> TableDockForAxes;
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
  QStringList ExportErrors;
};

}  // namespace viewer
