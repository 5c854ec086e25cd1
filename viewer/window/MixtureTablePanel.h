// The window's mixture table panel: a row of controls (axes and their breakpoints, the mixture
// and its lag, the tune and the most a cell may change, the filters, the target, what the cells
// show, copy and save) over the heat map. It shows the session's table setup and sends it the
// user's changes; the session's view range is the data the table is made of, its cursor outlines
// the engine's cell. The corrected fuel table is made with the table, on the tune's grid (or the
// table's), and shown, copied and written into a copy of the tune from there. Rebuilds are
// coalesced, so dragging a zoom or a filter never queues them up. While the session follows its
// logs the table runs (LiveTable.h): it counts from where the view began when following started to
// the newest record, takes in what each growth brought, outlines the cell the engine is in now and
// marks the cells that filled since.
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QWidget>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "viewer/session/ViewSession.h"
#include "viewer/table/LiveTable.h"
#include "viewer/table/MixtureTable.h"
#include "viewer/table/MixtureTableText.h"
#include "viewer/table/MixtureTableView.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QToolButton;
class QTimer;

namespace viewer {

class TMixtureTablePanel : public QWidget {
  Q_OBJECT

 public:
  // How long the growths of the logs are gathered, following, before the table takes them in.
  static constexpr int LiveIntervalMs = 500;
  // Following with derived breakpoints, how often they are derived again to see whether the drive
  // has left them (a drive starts at idle: breakpoints of its first seconds would hold one cell).
  static constexpr int RederiveIntervalMs = 5000;

  // Shows `session`'s table; the session must outlive the panel.
  explicit TMixtureTablePanel(TViewSession* session, QWidget* parent = nullptr);

  // Breakpoints as a user would type them; an empty text derives them from the range.
  void SetBinsText(const QString& x, const QString& y);
  void SetQuantity(TTableQuantity quantity);
  // Loads a target grid for the table's present shape from a CSV file; false with the reason in
  // the status line when it cannot be read or does not read.
  bool LoadTarget(const QString& path);
  // Loads the tune the corrected fuel table starts from (MSQ, or a CSV grid with breakpoints);
  // false with the reason in the status line, the tune before it kept.
  bool LoadTune(const QString& path);
  // Writes the loaded MSQ tune with the proposed fuel table to `path`, whole or not at all. Never
  // over the tune itself or a file open in the session; false with the reason in the status line.
  bool SaveTune(const QString& path);

  const TMixtureTable& Table() const { return Current; }
  // Whether the table runs with the growing logs (the session follows them) rather than being
  // made anew; the cells that reached the minimum hits (or the proposal's weight, when it is
  // shown) since following began.
  bool Running() const { return Live.has_value(); }
  const std::vector<TCellIndex>& MarkedCells() const { return View->Options().Marked; }
  // The corrected fuel table made with the table (Error set when none could be; empty while
  // neither the tune nor the quantity shown asks for one).
  const TFuelProposal& Proposal() const { return Proposed; }
  const TTableSettings& Settings() const { return BuiltWith; }
  bool RebuildPending() const;
  std::optional<TCellIndex> OutlinedCell() const { return View->Options().Outlined; }
  const TMixtureTableView* HeatMap() const { return View; }
  // The table as the copy puts it on the clipboard; the proposed fuel table as a tuning program
  // takes a paste while the proposal's quantities are shown.
  QString CopyText(bool withAxes) const;
  // The status line under the controls: the counts, or why no table could be made.
  QString StatusText() const;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QWidget* BuildAxisControls();
  QWidget* BuildValueControls();
  QWidget* BuildFilterControls();
  QWidget* BuildOutputControls();
  QWidget* BuildTuneControls();
  void NameControls();
  void SessionChanged(TViewSession::TChange what);
  void FillChannelBoxes();
  void FillSourceBox();
  void ShowSetup();
  void LoadTargetClicked();
  void SaveCsvClicked();
  void LoadTuneClicked();
  void SaveTuneClicked();
  bool WantsProposal() const;
  QString ProposalStatusText() const;
  void Copy(bool withAxes);
  void ScheduleRebuild();
  void Rebuild();
  void UpdateLive();
  void ShowMade();
  void ShowCursorCell();
  // The status line: `problem` (or a note, when not `isProblem`) before what was counted.
  void ShowStatus(const QString& problem, bool isProblem = true);
  TTableDescription Description() const;

  TViewSession* Session;
  unsigned EngineShown = 0;    // the session's number of the engine log the boxes list
  bool MixtureListed = false;  // the source box offers our log
  TTableSettings BuiltWith;
  TMixtureTable Current;
  TFuelProposal Proposed;
  TProposalDescription ProposalAbout;
  QTimer* RebuildTimer;
  bool Stale = true;  // a rebuild was skipped while hidden
  // While following: the running table, the start of its range on the table's axis (the view's
  // when following began), and the timer that gathers the growths of half a second into one
  // update; an update skipped while hidden is made when shown.
  std::optional<TLiveTable> Live;
  std::optional<double> LiveFrom;
  QTimer* LiveTimer;
  QElapsedTimer SinceDerived;  // since the running table's breakpoints were derived
  bool LiveBehind = false;
  TMixtureTableView* View;
  QComboBox* XBox = nullptr;
  QComboBox* YBox = nullptr;
  QLineEdit* XBinsEdit = nullptr;
  QLineEdit* YBinsEdit = nullptr;
  QComboBox* SourceBox = nullptr;
  QDoubleSpinBox* LagBox = nullptr;
  QSpinBox* MinHitsBox = nullptr;
  QCheckBox* SteadyBox = nullptr;
  QComboBox* SteadyChannelBox = nullptr;
  QDoubleSpinBox* RateBox = nullptr;
  QDoubleSpinBox* SettleBox = nullptr;
  QComboBox* RangeChannelBox = nullptr;
  QLineEdit* RangeLowEdit = nullptr;
  QLineEdit* RangeHighEdit = nullptr;
  QLineEdit* TargetEdit = nullptr;
  QComboBox* QuantityBox = nullptr;
  QLabel* TuneLabel = nullptr;
  QToolButton* ClearTuneButton = nullptr;
  QDoubleSpinBox* MaxChangeBox = nullptr;
  QPushButton* SaveTuneButton = nullptr;
  QLabel* StatusLine = nullptr;
};

// Where the corrected copy of the tune at `tunePath` is offered: beside it, "-corrected" before
// its ".msq" (or ".msq" added to a name without it).
QString CorrectedTuneName(const QString& tunePath);

}  // namespace viewer
