// The mixture table panel: its logs, the chart's range and cursor, and the coalesced rebuild.
#include "viewer/MixtureTablePanel.h"

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

TMixtureTablePanel::TMixtureTablePanel(QWidget* parent) : QWidget(parent) {
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

void TMixtureTablePanel::SetSources(const TTableSources& sources) {
  const bool newEngine = sources.EngineNumber != Sources.EngineNumber;
  const bool newMixture = (sources.Mixture == nullptr) != (Sources.Mixture == nullptr);
  Sources = sources;
  if (newEngine) {
    SourceChosen = false;
    TargetGrid.clear();
    GridName.clear();
    FillChannelBoxes();
    DeriveAxes();
  }
  if (newEngine || newMixture) FillSourceBox();
  ScheduleRebuild();
}

void TMixtureTablePanel::SetUnit(const TDisplay& unit) {
  if (unit == Unit) return;
  Unit = unit;
  ScheduleRebuild();
}

void TMixtureTablePanel::SetRange(double from, double to) {
  AxisFrom = from;
  AxisTo = to;
  ScheduleRebuild();
}

void TMixtureTablePanel::SetCursorTime(std::optional<double> time) {
  CursorTime = time;
  ShowCursorCell();
}

void TMixtureTablePanel::SetBinsText(const QString& x, const QString& y) {
  XBinsEdit->setText(x);
  YBinsEdit->setText(y);
}

bool TMixtureTablePanel::RebuildPending() const { return RebuildTimer->isActive(); }

void TMixtureTablePanel::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (Stale) ScheduleRebuild();
}

void TMixtureTablePanel::ScheduleRebuild() { RebuildTimer->start(); }

TTableInput TMixtureTablePanel::Input() const {
  return TTableInput{Sources.Engine, Sources.Mixture, Sources.Shift};
}

void TMixtureTablePanel::Rebuild() {
  // Hidden, the table waits until it is shown again: dragging the chart costs nothing then.
  if (isHidden() || (parentWidget() != nullptr && parentWidget()->isHidden())) {
    Stale = true;
    return;
  }
  Stale = false;
  if (Sources.Engine == nullptr) {
    Current = TMixtureTable{};
    Current.Error = "Open an engine log to see its mixture table";
  } else {
    TTableSettings settings;
    QString problem;
    if (!ReadSettings(settings, problem)) {
      ShowStatus(problem);  // the last good table stays until the input reads again
      return;
    }
    BuiltWith = settings;
    Current = BuildMixtureTable(Input(), settings);
  }
  TTablePaintOptions options = View->Options();
  options.Quantity = Quantity();
  options.Unit = Unit;
  options.XName = XBox->currentText();
  options.YName = YBox->currentText();
  View->SetTable(Current, options);
  ShowCursorCell();
  ShowStatus(QString());
}

// The controls as settings; false with the reason when something typed does not read.
bool TMixtureTablePanel::ReadSettings(TTableSettings& settings, QString& problem) {
  const enginelog::TLog& log = *Sources.Engine;
  settings.XChannel = static_cast<std::size_t>(XBox->currentData().toInt());
  settings.YChannel = static_cast<std::size_t>(YBox->currentData().toInt());
  settings.From = AxisFrom + Sources.AxisShift;
  settings.To = AxisTo + Sources.AxisShift;
  for (auto [edit, bins, channel, name] :
       {std::tuple{XBinsEdit, &settings.XBins, settings.XChannel, "across"},
        std::tuple{YBinsEdit, &settings.YBins, settings.YChannel, "down"}}) {
    std::string error;
    if (edit->text().trimmed().isEmpty()) {
      // Derived here rather than by the table, so that a target grid's shape can be checked.
      *bins = DeriveBins(log, channel, Sources.Shift, settings.From, settings.To);
      continue;
    }
    const std::optional<TBins> typed = ParseBins(edit->text().toStdString(), error);
    if (!typed) {
      problem = QStringLiteral("Breakpoints %1: %2").arg(name, QString::fromStdString(error));
      return false;
    }
    *bins = *typed;
  }
  const int source = SourceBox->currentData().toInt();
  settings.UseEngineMixture = source >= 0;
  settings.MixtureChannel = source >= 0
                                ? std::optional<std::size_t>(static_cast<std::size_t>(source))
                            : source == -1 ? enginelog::FindMixtureChannel(log)
                                           : std::nullopt;
  settings.Unit = Unit;
  settings.Lag = LagBox->value();
  settings.MinHits = static_cast<std::size_t>(MinHitsBox->value());
  if (SteadyBox->isChecked() && SteadyChannelBox->currentIndex() >= 0) {
    settings.Steady =
        TSteadyFilter{static_cast<std::size_t>(SteadyChannelBox->currentData().toInt()),
                      RateBox->value(), SettleBox->value()};
  }
  const int ranged = RangeChannelBox->currentData().toInt();
  // A channel picked before either end is typed filters nothing yet.
  if (ranged >= 0 &&
      !(RangeLowEdit->text().trimmed().isEmpty() && RangeHighEdit->text().trimmed().isEmpty())) {
    std::string error;
    const auto ends = ParseRangeEnds(RangeLowEdit->text().toStdString(),
                                     RangeHighEdit->text().toStdString(), error);
    if (!ends) {
      problem = QStringLiteral("The range filter: %1").arg(QString::fromStdString(error));
      return false;
    }
    settings.Ranges.push_back(
        TRangeFilter{static_cast<std::size_t>(ranged), ends->first, ends->second});
  }
  return ReadTarget(settings, problem);
}

void TMixtureTablePanel::ShowCursorCell() {
  std::optional<TCellIndex> cell;
  if (CursorTime && Sources.Engine != nullptr && !Current.Cells.empty()) {
    cell = CellAt(Current, Input(), BuiltWith, *CursorTime + Sources.AxisShift);
  }
  View->SetOutlined(cell);
}

QString TMixtureTablePanel::StatusText() const { return StatusLine->text(); }

void TMixtureTablePanel::ShowStatus(const QString& problem) {
  QString text;
  if (!Current.Error.empty()) {
    text = QString::fromStdString(Current.Error);
  } else {
    text = QStringLiteral("%1 engine records in range, %2 counted")
               .arg(Current.Samples)
               .arg(Current.Counted);
    if (Current.NoMixture > 0)
      text += QStringLiteral(", %1 without mixture").arg(Current.NoMixture);
    if (Current.Unsteady > 0) text += QStringLiteral(", %1 not steady").arg(Current.Unsteady);
    if (Current.OutOfRange > 0) {
      text += QStringLiteral(", %1 outside the range filter").arg(Current.OutOfRange);
    }
    text += QStringLiteral("; cells with fewer than %1 hits are empty").arg(Current.MinHits);
  }
  if (!problem.isEmpty()) text = problem + QStringLiteral("   (") + text + ")";
  StatusLine->setStyleSheet(
      problem.isEmpty() && Current.Error.empty() ? QString() : QStringLiteral("color: #b02020"));
  StatusLine->setText(text);
}

}  // namespace viewer
