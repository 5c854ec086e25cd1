// The mixture table panel: the session's changes, the coalesced rebuild of the table and the
// corrected fuel table, and the status line.
#include "viewer/window/MixtureTablePanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStringList>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>

#include "log/LogAlignment.h"

namespace viewer {

TMixtureTablePanel::TMixtureTablePanel(TViewSession* session, QWidget* parent)
    : QWidget(parent), Session(session) {
  RebuildTimer = new QTimer(this);
  // Zero delay: every change made before the event loop runs again ends in one rebuild, so a
  // drag over the chart or a spin box never queues up tables nobody will see.
  RebuildTimer->setSingleShot(true);
  RebuildTimer->setInterval(0);
  connect(RebuildTimer, &QTimer::timeout, this, &TMixtureTablePanel::Rebuild);
  LiveTimer = new QTimer(this);
  // Rows come many times a second; the table is shown anew twice a second at most.
  LiveTimer->setSingleShot(true);
  LiveTimer->setInterval(LiveIntervalMs);
  connect(LiveTimer, &QTimer::timeout, this, &TMixtureTablePanel::UpdateLive);
  View = new TMixtureTableView;
  StatusLine = new QLabel(QStringLiteral(" "));
  StatusLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 2, 4, 2);
  layout->setSpacing(2);
  auto* first = new QHBoxLayout;
  first->addWidget(BuildAxisControls());
  first->addWidget(BuildValueControls());
  first->addStretch(1);
  auto* second = new QHBoxLayout;
  second->addWidget(BuildFilterControls());
  second->addWidget(BuildOutputControls());
  second->addStretch(1);
  // The corrected fuel table's own row: the rows above are as wide as a screen already.
  auto* third = new QHBoxLayout;
  third->addWidget(BuildTuneControls());
  third->addStretch(1);
  layout->addLayout(first);
  layout->addLayout(second);
  layout->addLayout(third);
  layout->addWidget(View, 1);
  layout->addWidget(StatusLine);
  NameControls();
  connect(Session, &TViewSession::Changed, this, &TMixtureTablePanel::SessionChanged);
  SessionChanged(TViewSession::TChange::Files);
}

// Named, so that tests and scripts find the controls as a user does.
void TMixtureTablePanel::NameControls() {
  const std::pair<QWidget*, const char*> names[] = {{XBox, "TableX"},
                                                    {YBox, "TableY"},
                                                    {XBinsEdit, "TableXBins"},
                                                    {YBinsEdit, "TableYBins"},
                                                    {SourceBox, "TableMixture"},
                                                    {LagBox, "TableLag"},
                                                    {MinHitsBox, "TableMinHits"},
                                                    {SteadyBox, "TableSteady"},
                                                    {SteadyChannelBox, "TableSteadyChannel"},
                                                    {RateBox, "TableSteadyRate"},
                                                    {SettleBox, "TableSettle"},
                                                    {RangeChannelBox, "TableRangeChannel"},
                                                    {RangeLowEdit, "TableRangeLow"},
                                                    {RangeHighEdit, "TableRangeHigh"},
                                                    {TargetEdit, "TableTarget"},
                                                    {QuantityBox, "TableQuantity"},
                                                    {TuneLabel, "TableTuneName"},
                                                    {ClearTuneButton, "TableClearTune"},
                                                    {MaxChangeBox, "TableMaxChange"},
                                                    {SaveTuneButton, "TableSaveTune"}};
  for (const auto& [widget, name] : names) widget->setObjectName(QLatin1String(name));
}

void TMixtureTablePanel::SessionChanged(TViewSession::TChange what) {
  using TChange = TViewSession::TChange;
  switch (what) {
    case TChange::Cursor:
      ShowCursorCell();
      return;
    case TChange::Bands:
    case TChange::Channels:
      return;  // neither is in the table
    case TChange::Grew:
      // A running table takes in only what the logs gained.
      if (Live) {
        if (!LiveTimer->isActive()) LiveTimer->start();
        return;
      }
      break;
    case TChange::View:
      // Following, the table's range runs on to the newest record, whatever the chart shows.
      if (Session->Follow()) return;
      break;
    case TChange::Follow:
      LiveFrom.reset();
      break;
    case TChange::Files:
      LiveFrom.reset();
      if (Session->EngineNumber() != EngineShown) {
        EngineShown = Session->EngineNumber();
        FillChannelBoxes();
        FillSourceBox();
      } else if (MixtureListed != !Session->Logs().empty()) {
        FillSourceBox();
      }
      ShowSetup();
      break;
    case TChange::Table:
      ShowSetup();
      break;
    default:
      break;
  }
  ScheduleRebuild();
}

void TMixtureTablePanel::SetBinsText(const QString& x, const QString& y) {
  Session->SetTableBinsText(x.toStdString(), y.toStdString());
}

bool TMixtureTablePanel::RebuildPending() const { return RebuildTimer->isActive(); }

void TMixtureTablePanel::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (Stale) {
    ScheduleRebuild();
  } else if (LiveBehind) {
    LiveTimer->start();
  }
}

void TMixtureTablePanel::ScheduleRebuild() { RebuildTimer->start(); }

void TMixtureTablePanel::Rebuild() {
  // Hidden, the table waits until it is shown again: dragging the chart costs nothing then.
  if (isHidden() || (parentWidget() != nullptr && parentWidget()->isHidden())) {
    Stale = true;
    return;
  }
  Stale = false;
  LiveBehind = false;
  LiveTimer->stop();
  Live.reset();
  if (Session->EngineLog() == nullptr) {
    Current = TMixtureTable{};
    Current.Error = "Open an engine log to see its mixture table";
    Proposed = TFuelProposal{};
    Proposed.Error = "no engine log";
  } else {
    TTableProblem problem;
    const std::optional<TTableSettings> settings = Session->TableSettings(problem);
    if (!settings) {
      // The last good table stays until the input reads again.
      // The proposal does not stay: the tune or the limit it was made with may have changed, and
      // no copy of a tune may be written from another's proposal.
      Proposed = TFuelProposal{};
      Proposed.Error = "the table's setup does not read";
      View->SetProposal(Proposed);
      using TField = TTableProblem::TField;
      const QString reason = QString::fromStdString(problem.Reason);
      ShowStatus(problem.Field == TField::XBins   ? QStringLiteral("Breakpoints across: ") + reason
                 : problem.Field == TField::YBins ? QStringLiteral("Breakpoints down: ") + reason
                 : problem.Field == TField::Range ? QStringLiteral("The range filter: ") + reason
                                                  : reason);
      return;
    }
    BuiltWith = *settings;
    if (Session->Follow()) {
      // From where the view began when following started on to whatever comes: the breakpoints
      // read now stay while the logs grow.
      if (!LiveFrom) LiveFrom = BuiltWith.From;
      BuiltWith.From = *LiveFrom;
      BuiltWith.To = std::numeric_limits<double>::infinity();
      std::optional<TCorrectionInput> correction;
      if (WantsProposal()) correction = Session->CorrectionInput(BuiltWith, &ProposalAbout);
      Live.emplace(BuiltWith, std::move(correction));
      SinceDerived.start();
      UpdateLive();
      return;
    }
    Current = BuildMixtureTable(Session->TableInput(), BuiltWith);
    // One more pass over the records, made only when something will show or write it.
    Proposed = WantsProposal() ? Session->Proposal(BuiltWith, &ProposalAbout) : TFuelProposal{};
  }
  ShowMade();
}

void TMixtureTablePanel::UpdateLive() {
  if (!Live) return;
  if (isHidden() || (parentWidget() != nullptr && parentWidget()->isHidden())) {
    LiveBehind = true;
    return;
  }
  LiveBehind = false;
  const TTableSetup& setup = Session->TableSetup();
  if ((setup.XBins.empty() || setup.YBins.empty()) && SinceDerived.hasExpired(RederiveIntervalMs)) {
    // Breakpoints derived from the data: once the drive has left them, the table starts again on
    // breakpoints over all of it (one pass over the records, every few seconds at most).
    SinceDerived.start();
    TTableProblem problem;
    const std::optional<TTableSettings> now = Session->TableSettings(problem);
    if (now && (now->XBins != BuiltWith.XBins || now->YBins != BuiltWith.YBins)) {
      Rebuild();
      return;
    }
  }
  Live->Update(Session->TableInput());
  Current = Live->Table();
  Proposed = WantsProposal() ? Live->Proposal() : TFuelProposal{};
  ShowMade();
}

// The table and the proposal just made, on the heat map and in the status line.
void TMixtureTablePanel::ShowMade() {
  TTablePaintOptions options = View->Options();
  options.Quantity = Session->TableSetup().Quantity;
  options.Unit = Session->Display();
  options.XName = XBox->currentText();
  options.YName = YBox->currentText();
  View->SetTable(Current, options);
  View->SetProposal(Proposed);
  ShowCursorCell();
  if (Live) {
    View->SetMarked(ShowsProposal(Session->TableSetup().Quantity) ? Live->NewlyProposed()
                                                                  : Live->NewlyFilled());
    QString note = QStringLiteral(
        "Following the logs: the cell the engine is in is outlined, cells filled since are "
        "dotted; breakpoints derived from the data follow the drive");
    if (Live->Waiting() > 0) {
      note += QStringLiteral("; %1 records wait for their mixture").arg(Live->Waiting());
    }
    ShowStatus(note, false);
  } else {
    View->SetMarked({});
    ShowStatus(QString());
  }
}

void TMixtureTablePanel::ShowCursorCell() {
  std::optional<TCellIndex> cell;
  if (Live) {
    // Following, the outline is where the engine is now, not where the cursor points.
    const bool proposal = ShowsProposal(Session->TableSetup().Quantity);
    View->SetOutlined(proposal ? Live->CurrentCell(Proposed.Current.X, Proposed.Current.Y)
                               : Live->CurrentCell(Current.XBins, Current.YBins));
    return;
  }
  const std::optional<double> cursor = Session->Cursor();
  if (cursor && Session->EngineLog() != nullptr) {
    const double time = *cursor + Session->TableAxisShift();
    if (ShowsProposal(Session->TableSetup().Quantity)) {
      // The proposal's grid is the tune's: the engine's cell is found on its breakpoints.
      TMixtureTable grid;
      grid.XBins = Proposed.Current.X;
      grid.YBins = Proposed.Current.Y;
      if (Proposed.Error.empty()) cell = CellAt(grid, Session->TableInput(), BuiltWith, time);
    } else if (!Current.Cells.empty()) {
      cell = CellAt(Current, Session->TableInput(), BuiltWith, time);
    }
  }
  View->SetOutlined(cell);
}

bool TMixtureTablePanel::WantsProposal() const {
  return !Session->TunePath().isEmpty() || ShowsProposal(Session->TableSetup().Quantity);
}

QString TMixtureTablePanel::ProposalStatusText() const {
  if (!Proposed.Error.empty()) {
    return QStringLiteral("No corrected fuel table: ") + QString::fromStdString(Proposed.Error);
  }
  const auto changed =
      static_cast<std::size_t>(std::count(Proposed.Changed.begin(), Proposed.Changed.end(), true));
  QString text = QStringLiteral(
                     "Corrected fuel table from %1 records: %2 of %3 cells changed, "
                     "each by at most %4 %")
                     .arg(Proposed.Used)
                     .arg(changed)
                     .arg(Proposed.Proposed.size())
                     .arg(Session->MaxChange());
  if (Proposed.Estimated) text += QStringLiteral("; current table estimated from the logged VE");
  const TLeftOut& left = Proposed.LeftOut;
  const std::pair<std::size_t, const char*> reasons[] = {
      {left.NoMixture, "without a mixture"},  {left.Implausible, "with an implausible mixture"},
      {left.Filtered, "not steady"},          {left.OutsideRange, "outside the range filter"},
      {left.Warmup, "in warm-up enrichment"}, {left.Accel, "in acceleration enrichment"},
      {left.FuelCut, "in fuel cut"},          {left.NoTarget, "without a target"},
      {left.NoFuelValue, "without a VE"}};
  QStringList parts;
  for (const auto& [count, why] : reasons) {
    if (count > 0) parts << QStringLiteral("%1 %2").arg(count).arg(QLatin1String(why));
  }
  if (!parts.isEmpty()) text += QStringLiteral("; left out: ") + parts.join(QStringLiteral(", "));
  return text;
}

QString TMixtureTablePanel::StatusText() const { return StatusLine->text(); }

void TMixtureTablePanel::ShowStatus(const QString& problem, bool isProblem) {
  // Counted and left out, and why: a user whose table stays empty learns the reason here.
  const bool proposal = ShowsProposal(Session->TableSetup().Quantity);
  QString text = proposal ? ProposalStatusText() : QString::fromStdString(TableStatusText(Current));
  if (!problem.isEmpty()) text = problem + QStringLiteral("   (") + text + ")";
  const bool fine = proposal ? Proposed.Error.empty() : Current.AnyShown();
  StatusLine->setStyleSheet(
      (problem.isEmpty() || !isProblem) && fine ? QString() : QStringLiteral("color: #b02020"));
  StatusLine->setText(text);
}

}  // namespace viewer
