// The mixture table panel's controls: building them, the axes' defaults, the target, and what
// leaves the panel (the copy and the CSV file).
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QToolButton>
#include <cmath>

#include "log/LogAlignment.h"
#include "viewer/MixtureTablePanel.h"

namespace viewer {

namespace {

// A group of controls laid out in a row without margins.
QWidget* Row(std::initializer_list<QWidget*> widgets) {
  auto* row = new QWidget;
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 8, 0);
  layout->setSpacing(4);
  for (QWidget* widget : widgets) layout->addWidget(widget);
  return row;
}

QLabel* Caption(const QString& text) { return new QLabel(text); }

QLineEdit* NumbersEdit(const QString& placeholder, int width, const QString& tip) {
  auto* edit = new QLineEdit;
  edit->setPlaceholderText(placeholder);
  edit->setMinimumWidth(width);
  edit->setToolTip(tip);
  return edit;
}

// Breakpoints put in an edit from their start, which a narrow edit would otherwise scroll past.
void ShowBins(QLineEdit* edit, const QString& text) {
  edit->setText(text);
  edit->setCursorPosition(0);
}

void SelectData(QComboBox* box, int data) {
  const int index = box->findData(data);
  if (index >= 0) box->setCurrentIndex(index);
}

}  // namespace

QWidget* TMixtureTablePanel::BuildAxisControls() {
  XBox = new QComboBox;
  YBox = new QComboBox;
  const QString binsTip = QStringLiteral(
      "Breakpoints, rising: typed or pasted (commas, spaces, tabs or lines between them); "
      "empty: derived from the data shown. A sample counts in the nearest breakpoint's cell.");
  XBinsEdit = NumbersEdit(QStringLiteral("derived"), 160, binsTip);
  YBinsEdit = NumbersEdit(QStringLiteral("derived"), 160, binsTip);
  auto* derive = new QPushButton(QStringLiteral("Derive"));
  derive->setToolTip(QStringLiteral("Round-numbered breakpoints over the data shown"));
  connect(derive, &QPushButton::clicked, this, [this] {
    ShowBins(XBinsEdit, DerivedText(static_cast<std::size_t>(XBox->currentData().toInt()), false));
    ShowBins(YBinsEdit, DerivedText(static_cast<std::size_t>(YBox->currentData().toInt()), false));
  });
  // Another channel on an axis takes breakpoints of its own, over the whole log.
  for (auto [box, edit] : {std::pair{XBox, XBinsEdit}, std::pair{YBox, YBinsEdit}}) {
    connect(box, &QComboBox::currentIndexChanged, this, [this, box = box, edit = edit] {
      ShowBins(edit, DerivedText(static_cast<std::size_t>(box->currentData().toInt()), true));
      ScheduleRebuild();
    });
    connect(edit, &QLineEdit::textChanged, this, &TMixtureTablePanel::ScheduleRebuild);
  }
  return Row({Caption(QStringLiteral("Across")), XBox, XBinsEdit, Caption(QStringLiteral("Down")),
              YBox, YBinsEdit, derive});
}

QWidget* TMixtureTablePanel::BuildValueControls() {
  SourceBox = new QComboBox;
  SourceBox->setToolTip(QStringLiteral("Where the mixture comes from"));
  LagBox = new QDoubleSpinBox;
  LagBox->setRange(0, 5);
  LagBox->setDecimals(2);
  LagBox->setSingleStep(0.05);
  LagBox->setSuffix(QStringLiteral(" s"));
  LagBox->setToolTip(QStringLiteral("The mixture is taken this long after each engine record"));
  MinHitsBox = new QSpinBox;
  MinHitsBox->setRange(1, 1000000);
  MinHitsBox->setValue(static_cast<int>(TTableSettings().MinHits));
  MinHitsBox->setToolTip(QStringLiteral("Cells with fewer samples are left empty"));
  connect(SourceBox, &QComboBox::currentIndexChanged, this, &TMixtureTablePanel::ScheduleRebuild);
  connect(SourceBox, &QComboBox::activated, this, [this] { SourceChosen = true; });
  connect(LagBox, &QDoubleSpinBox::valueChanged, this, &TMixtureTablePanel::ScheduleRebuild);
  connect(MinHitsBox, &QSpinBox::valueChanged, this, &TMixtureTablePanel::ScheduleRebuild);
  return Row({Caption(QStringLiteral("Mixture")), SourceBox, Caption(QStringLiteral("lag")), LagBox,
              Caption(QStringLiteral("min hits")), MinHitsBox});
}

QWidget* TMixtureTablePanel::BuildFilterControls() {
  SteadyBox = new QCheckBox(QStringLiteral("Steady"));
  SteadyBox->setToolTip(
      QStringLiteral("Leave out samples while the channel changes faster than the rate, and "
                     "for the settle time after"));
  SteadyChannelBox = new QComboBox;
  RateBox = new QDoubleSpinBox;
  RateBox->setRange(0, 1e6);
  RateBox->setDecimals(1);
  RateBox->setValue(10);
  RateBox->setSuffix(QStringLiteral(" /s"));
  SettleBox = new QDoubleSpinBox;
  SettleBox->setRange(0, 60);
  SettleBox->setDecimals(2);
  SettleBox->setSingleStep(0.1);
  SettleBox->setValue(TSteadyFilter().Settle);
  SettleBox->setSuffix(QStringLiteral(" s"));
  RangeChannelBox = new QComboBox;
  RangeChannelBox->setToolTip(QStringLiteral("Only samples with this channel between the ends"));
  RangeLowEdit = NumbersEdit(QStringLiteral("from"), 50, QStringLiteral("Empty: no lower end"));
  RangeHighEdit = NumbersEdit(QStringLiteral("to"), 50, QStringLiteral("Empty: no upper end"));
  connect(SteadyBox, &QCheckBox::toggled, this, &TMixtureTablePanel::ScheduleRebuild);
  connect(SteadyChannelBox, &QComboBox::currentIndexChanged, this,
          &TMixtureTablePanel::ScheduleRebuild);
  connect(RateBox, &QDoubleSpinBox::valueChanged, this, &TMixtureTablePanel::ScheduleRebuild);
  connect(SettleBox, &QDoubleSpinBox::valueChanged, this, &TMixtureTablePanel::ScheduleRebuild);
  connect(RangeChannelBox, &QComboBox::currentIndexChanged, this,
          &TMixtureTablePanel::ScheduleRebuild);
  connect(RangeLowEdit, &QLineEdit::textChanged, this, &TMixtureTablePanel::ScheduleRebuild);
  connect(RangeHighEdit, &QLineEdit::textChanged, this, &TMixtureTablePanel::ScheduleRebuild);
  return Row({SteadyBox, SteadyChannelBox, Caption(QStringLiteral("below")), RateBox,
              Caption(QStringLiteral("settle")), SettleBox, Caption(QStringLiteral("  Only")),
              RangeChannelBox, RangeLowEdit, Caption(QStringLiteral("to")), RangeHighEdit});
}

QWidget* TMixtureTablePanel::BuildOutputControls() {
  TargetEdit = NumbersEdit(QStringLiteral("none"), 60,
                           QStringLiteral("One target for every cell, in the table's unit"));
  auto* load = new QPushButton(QStringLiteral("Load target..."));
  load->setToolTip(QStringLiteral("A grid of targets from a CSV file, one per cell"));
  QuantityBox = new QComboBox;
  QuantityBox->addItem(QStringLiteral("Mean"), static_cast<int>(TTableQuantity::Mean));
  QuantityBox->addItem(QStringLiteral("Correction"), static_cast<int>(TTableQuantity::Correction));
  QuantityBox->addItem(QStringLiteral("Hits"), static_cast<int>(TTableQuantity::Hits));
  QuantityBox->addItem(QStringLiteral("Spread (sd)"), static_cast<int>(TTableQuantity::Sd));
  auto* copy = new QToolButton;
  copy->setPopupMode(QToolButton::MenuButtonPopup);
  auto* copyAxes = new QAction(QStringLiteral("Copy"), this);
  copyAxes->setShortcut(QKeySequence::Copy);
  copyAxes->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  copyAxes->setToolTip(QStringLiteral("Copy the table with its breakpoints, tab-separated"));
  addAction(copyAxes);
  auto* menu = new QMenu(copy);
  menu->addAction(copyAxes);
  menu->addAction(QStringLiteral("Copy values only"), this, [this] { Copy(false); });
  copy->setMenu(menu);
  copy->setDefaultAction(copyAxes);
  auto* save = new QPushButton(QStringLiteral("Save CSV..."));
  connect(copyAxes, &QAction::triggered, this, [this] { Copy(true); });
  connect(save, &QPushButton::clicked, this, &TMixtureTablePanel::SaveCsvClicked);
  connect(load, &QPushButton::clicked, this, &TMixtureTablePanel::LoadTargetClicked);
  connect(TargetEdit, &QLineEdit::textEdited, this, [this] {
    TargetGrid.clear();  // what is typed replaces a loaded grid
    TargetEdit->setPlaceholderText(QStringLiteral("none"));
    ScheduleRebuild();
  });
  connect(QuantityBox, &QComboBox::currentIndexChanged, this, &TMixtureTablePanel::ScheduleRebuild);
  return Row({Caption(QStringLiteral("Target")), TargetEdit, load, Caption(QStringLiteral("Show")),
              QuantityBox, copy, save});
}

void TMixtureTablePanel::SetQuantity(TTableQuantity quantity) {
  SelectData(QuantityBox, static_cast<int>(quantity));
}

// The boxes of channels filled from the engine log, each on its default.
void TMixtureTablePanel::FillChannelBoxes() {
  std::vector<QSignalBlocker> quiet;
  for (QComboBox* box : {XBox, YBox, SteadyChannelBox, RangeChannelBox}) {
    quiet.emplace_back(box);
    box->clear();
  }
  RangeChannelBox->addItem(QStringLiteral("(no filter)"), -1);
  if (Sources.Engine == nullptr) return;
  const enginelog::TLog& log = *Sources.Engine;
  for (std::size_t i = 0; i < log.Channels.size(); ++i) {
    const QString name = QString::fromStdString(log.Channels[i].Name);
    for (QComboBox* box : {XBox, YBox, SteadyChannelBox, RangeChannelBox}) {
      box->addItem(name, static_cast<int>(i));
    }
  }
  SelectData(XBox, static_cast<int>(DefaultXChannel(log).value_or(0)));
  SelectData(YBox, static_cast<int>(DefaultYChannel(log).value_or(log.Channels.size() > 1)));
  SelectData(SteadyChannelBox, static_cast<int>(DefaultSteadyChannel(log).value_or(0)));
}

// Where the mixture comes from: our log when one is open, else the engine log's own mixture
// channel; any engine channel when the user picks one.
void TMixtureTablePanel::FillSourceBox() {
  const QSignalBlocker quiet(SourceBox);
  const QVariant picked = SourceBox->currentData();
  SourceBox->clear();
  if (Sources.Mixture != nullptr) SourceBox->addItem(QStringLiteral("Mixture log"), -1);
  if (Sources.Engine == nullptr) return;
  const enginelog::TLog& log = *Sources.Engine;
  for (std::size_t i = 0; i < log.Channels.size(); ++i) {
    SourceBox->addItem(
        QStringLiteral("Engine log: ") + QString::fromStdString(log.Channels[i].Name),
        static_cast<int>(i));
  }
  const std::optional<std::size_t> mixture = enginelog::FindMixtureChannel(log);
  if (Sources.Mixture == nullptr && !mixture) SourceBox->addItem(QStringLiteral("(none)"), -2);
  if (Sources.Mixture == nullptr) SelectData(SourceBox, mixture ? static_cast<int>(*mixture) : -2);
  // A channel the user picked stays picked when our log comes or goes.
  if (SourceChosen && picked.isValid()) SelectData(SourceBox, picked.toInt());
}

QString TMixtureTablePanel::DerivedText(std::size_t channel, bool wholeLog) const {
  if (Sources.Engine == nullptr || channel >= Sources.Engine->Channels.size()) return {};
  const double inf = std::numeric_limits<double>::infinity();
  const TBins bins = DeriveBins(*Sources.Engine, channel, Sources.Shift,
                                wholeLog ? -inf : AxisFrom + Sources.AxisShift,
                                wholeLog ? inf : AxisTo + Sources.AxisShift);
  QStringList parts;
  for (const double b : bins) parts << QString::number(b, 'g', 8);
  return parts.join(QStringLiteral(", "));
}

// The breakpoints of both axes derived over the whole log, without a rebuild for each.
void TMixtureTablePanel::DeriveAxes() {
  const QSignalBlocker quietX(XBinsEdit);
  const QSignalBlocker quietY(YBinsEdit);
  ShowBins(XBinsEdit, DerivedText(static_cast<std::size_t>(XBox->currentData().toInt()), true));
  ShowBins(YBinsEdit, DerivedText(static_cast<std::size_t>(YBox->currentData().toInt()), true));
}

bool TMixtureTablePanel::ReadTarget(TTableSettings& settings, QString& problem) const {
  const QString typed = TargetEdit->text().trimmed();
  if (!typed.isEmpty()) {
    bool ok = false;
    const double value = QString(typed).replace(',', '.').toDouble(&ok);
    if (!ok || !(value > 0) || !std::isfinite(value)) {
      problem = QStringLiteral("The target must be a number above 0");
      return false;
    }
    settings.Target.Value = value;
    return true;
  }
  if (TargetGrid.empty()) return true;
  if (settings.XBins.size() != GridColumns || settings.YBins.size() != GridRows) {
    problem = QStringLiteral(
                  "The target grid %1 is %2 x %3 cells, the table %4 x %5: load another or type "
                  "a target")
                  .arg(GridName)
                  .arg(GridColumns)
                  .arg(GridRows)
                  .arg(settings.XBins.size())
                  .arg(settings.YBins.size());
    return false;
  }
  settings.Target.Grid = TargetGrid;
  return true;
}

void TMixtureTablePanel::LoadTargetClicked() {
  const QString path =
      QFileDialog::getOpenFileName(this, QStringLiteral("Load target grid"), QString(),
                                   QStringLiteral("Tables (*.csv *.txt *.tsv);;All files (*)"));
  if (!path.isEmpty()) LoadTarget(path);
}

bool TMixtureTablePanel::LoadTarget(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    ShowStatus(path + QStringLiteral(": ") + file.errorString());
    return false;
  }
  std::string error;
  const std::optional<std::vector<double>> grid = ParseTargetGrid(
      file.readAll().toStdString(), BuiltWith.XBins.size(), BuiltWith.YBins.size(), error);
  if (!grid) {
    ShowStatus(path + QStringLiteral(": ") + QString::fromStdString(error));
    return false;
  }
  TargetGrid = *grid;
  GridColumns = BuiltWith.XBins.size();
  GridRows = BuiltWith.YBins.size();
  GridName = QFileInfo(path).fileName();
  TargetEdit->clear();
  TargetEdit->setPlaceholderText(QStringLiteral("grid: ") + GridName);
  ScheduleRebuild();
  return true;
}

TTableDescription TMixtureTablePanel::Description() const {
  TTableDescription description;
  description.XChannel = XBox->currentText().toStdString();
  description.YChannel = YBox->currentText().toStdString();
  description.Unit = Unit.DisplayMode == sensor::dmLambda ? "lambda" : "afr";
  description.Offset = Sources.Offset;
  description.Align = Sources.Align;
  return description;
}

TTableQuantity TMixtureTablePanel::Quantity() const {
  return static_cast<TTableQuantity>(QuantityBox->currentData().toInt());
}

QString TMixtureTablePanel::CopyText(bool withAxes) const {
  // The desktop's decimal separator: a spreadsheet pastes numbers in its own locale or keeps text.
  const QString point = QLocale().decimalPoint();
  const char separator = point.size() == 1 && point[0].unicode() < 128 ? point[0].toLatin1() : '.';
  return QString::fromStdString(TableTsv(Current, Description(), Quantity(), withAxes, separator));
}

void TMixtureTablePanel::Copy(bool withAxes) {
  if (Current.Cells.empty()) return;
  QApplication::clipboard()->setText(CopyText(withAxes));
}

void TMixtureTablePanel::SaveCsvClicked() {
  const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save mixture table"),
                                                    QStringLiteral("mixture-table.csv"),
                                                    QStringLiteral("CSV (*.csv)"));
  if (path.isEmpty()) return;
  QFile file(path);
  const QByteArray text = QByteArray::fromStdString(TableCsv(Current, Description(), Quantity()));
  if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.flush()) {
    ShowStatus(path + QStringLiteral(": ") + file.errorString());
  }
}

}  // namespace viewer
