// The window's mixture table panel: a row of controls (axes and their breakpoints, the mixture
// and its lag, the filters, the target, what the cells show, copy and save) over the heat map. It
// follows the chart: the zoom range is the data the table is made of, the cursor outlines the
// engine's cell. Rebuilds are coalesced, so dragging a zoom or a filter never queues them up.
#pragma once

#include <QString>
#include <QWidget>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "viewer/MixtureTable.h"
#include "viewer/MixtureTableText.h"
#include "viewer/MixtureTableView.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QTimer;

namespace viewer {

// The logs the table is made of and where they lie on the chart's axis.
struct TTableSources {
  const enginelog::TLog* Engine = nullptr;  // none: no table
  unsigned EngineNumber = 0;      // counts the engine logs opened: another number, another log
  const TLog* Mixture = nullptr;  // our log; none: the engine's own mixture
  double Shift = 0;               // TTableInput::Shift
  double AxisShift = 0;           // added to a time on the chart's axis to reach the table's times
  double Offset = 0;              // how the engine log was lined up, for the text forms
  std::string Align = "none";
};

class TMixtureTablePanel : public QWidget {
  Q_OBJECT

 public:
  explicit TMixtureTablePanel(QWidget* parent = nullptr);

  // New logs, or the same ones moved or grown: a new engine log gets its default axes, mixture,
  // throttle and breakpoints derived over the whole log.
  void SetSources(const TTableSources& sources);
  void SetUnit(const TDisplay& unit);
  // The chart's visible range, on its axis.
  void SetRange(double from, double to);
  // The chart's cursor on its axis; none when it left the chart.
  void SetCursorTime(std::optional<double> time);

  // Breakpoints as a user would type them; an empty text derives them from the range.
  void SetBinsText(const QString& x, const QString& y);
  void SetQuantity(TTableQuantity quantity);
  // Loads a target grid for the table's present shape from a CSV file; false with the reason in
  // the status line when it cannot be read or has another shape.
  bool LoadTarget(const QString& path);

  const TMixtureTable& Table() const { return Current; }
  const TTableSettings& Settings() const { return BuiltWith; }
  bool RebuildPending() const;
  std::optional<TCellIndex> OutlinedCell() const { return View->Options().Outlined; }
  const TMixtureTableView* HeatMap() const { return View; }
  // The table as the copy puts it on the clipboard.
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
  void NameControls();
  void FillChannelBoxes();
  void FillSourceBox();
  QString DerivedText(std::size_t channel, bool wholeLog) const;
  void DeriveAxes();
  void LoadTargetClicked();
  void SaveCsvClicked();
  void Copy(bool withAxes);
  void ScheduleRebuild();
  void Rebuild();
  bool ReadSettings(TTableSettings& settings, QString& problem);
  bool ReadTarget(TTableSettings& settings, QString& problem) const;
  void ShowCursorCell();
  void ShowStatus(const QString& problem);
  TTableQuantity Quantity() const;
  TTableInput Input() const;
  TTableDescription Description() const;

  TTableSources Sources;
  TDisplay Unit;
  double AxisFrom = -std::numeric_limits<double>::infinity();
  double AxisTo = std::numeric_limits<double>::infinity();
  std::optional<double> CursorTime;
  TTableSettings BuiltWith;
  TMixtureTable Current;
  std::vector<double> TargetGrid;  // loaded from a file, for a table of GridColumns x GridRows
  std::size_t GridColumns = 0;
  std::size_t GridRows = 0;
  QString GridName;
  QTimer* RebuildTimer;
  bool SourceChosen = false;  // the user picked the mixture, rather than the default
  bool Stale = true;          // a rebuild was skipped while hidden
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
  QLabel* StatusLine = nullptr;
};

}  // namespace viewer
