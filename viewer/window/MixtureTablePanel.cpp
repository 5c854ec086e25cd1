// The mixture table panel: the session's changes, the coalesced rebuild and the status line.
#include "viewer/window/MixtureTablePanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

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
  layout->addLayout(first);
  layout->addLayout(second);
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
                                                    {QuantityBox, "TableQuantity"}};
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
    case TChange::Files:
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
  if (Stale) ScheduleRebuild();
}

void TMixtureTablePanel::ScheduleRebuild() { RebuildTimer->start(); }

void TMixtureTablePanel::Rebuild() {
  // Hidden, the table waits until it is shown again: dragging the chart costs nothing then.
  if (isHidden() || (parentWidget() != nullptr && parentWidget()->isHidden())) {
    Stale = true;
    return;
  }
  Stale = false;
  if (Session->EngineLog() == nullptr) {
    Current = TMixtureTable{};
    Current.Error = "Open an engine log to see its mixture table";
  } else {
    TTableProblem problem;
    const std::optional<TTableSettings> settings = Session->TableSettings(problem);
    if (!settings) {
      // The last good table stays until the input reads again.
      using TField = TTableProblem::TField;
      const QString reason = QString::fromStdString(problem.Reason);
      ShowStatus(problem.Field == TField::XBins   ? QStringLiteral("Breakpoints across: ") + reason
                 : problem.Field == TField::YBins ? QStringLiteral("Breakpoints down: ") + reason
                 : problem.Field == TField::Range ? QStringLiteral("The range filter: ") + reason
                                                  : reason);
      return;
    }
    BuiltWith = *settings;
    Current = BuildMixtureTable(Session->TableInput(), BuiltWith);
  }
  TTablePaintOptions options = View->Options();
  options.Quantity = Session->TableSetup().Quantity;
  options.Unit = Session->Display();
  options.XName = XBox->currentText();
  options.YName = YBox->currentText();
  View->SetTable(Current, options);
  ShowCursorCell();
  ShowStatus(QString());
}

void TMixtureTablePanel::ShowCursorCell() {
  std::optional<TCellIndex> cell;
  const std::optional<double> cursor = Session->Cursor();
  if (cursor && Session->EngineLog() != nullptr && !Current.Cells.empty()) {
    cell = CellAt(Current, Session->TableInput(), BuiltWith, *cursor + Session->TableAxisShift());
  }
  View->SetOutlined(cell);
}

QString TMixtureTablePanel::StatusText() const { return StatusLine->text(); }

void TMixtureTablePanel::ShowStatus(const QString& problem) {
  // Counted and left out, and why: a user whose table stays empty learns the reason here.
  QString text = QString::fromStdString(TableStatusText(Current));
  if (!problem.isEmpty()) text = problem + QStringLiteral("   (") + text + ")";
  StatusLine->setStyleSheet(
      problem.isEmpty() && Current.AnyShown() ? QString() : QStringLiteral("color: #b02020"));
  StatusLine->setText(text);
}

}  // namespace viewer
