// The mixture table panel's controls: building them, each sending its command to the session,
// showing the session's setup, and what leaves the panel (the copy, the CSV file and the
// corrected tune).
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
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
#include <QSaveFile>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QToolButton>
#include <cmath>

#include "log/LogAlignment.h"
#include "viewer/window/MixtureTablePanel.h"

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

// A text the session holds put in its edit; left alone while the edit already has it, so that
// typing there keeps its cursor. Breakpoints show from their start, which a narrow edit would
// otherwise scroll past.
void ShowText(QLineEdit* edit, const std::string& text, bool fromStart = false) {
  const QString shown = QString::fromStdString(text);
  if (edit->text() == shown) return;
  edit->setText(shown);
  if (fromStart) edit->setCursorPosition(0);
}

std::size_t ChannelOf(const QComboBox* box) {
  return static_cast<std::size_t>(box->currentData().toInt());
}

void SelectData(QComboBox* box, int data) {
  const int index = box->findData(data);
  if (index >= 0) box->setCurrentIndex(index);
}

// The desktop's decimal separator: a spreadsheet pastes numbers in its own locale or keeps text.
char DesktopDecimal() {
  const QString point = QLocale().decimalPoint();
  return point.size() == 1 && point[0].unicode() < 128 ? point[0].toLatin1() : '.';
}

// Whether the proposal has a grid to show, copy or write.
bool HasGrid(const TFuelProposal& proposal) {
  return proposal.Error.empty() && !proposal.Proposed.empty();
}

// Whether `path` names an existing file that `other` names too (through another spelling, a link
// or the file system's letter case).
bool SameFile(const QString& path, const QString& other) {
  const QFileInfo info(path);
  return !other.isEmpty() && info.exists() && info == QFileInfo(other);
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
  connect(derive, &QPushButton::clicked, Session, &TViewSession::DeriveTableBins);
  // Each control sends its own value with the rest of the session's: while the session's setup
  // is being shown, a control set before another never sends that other's old value.
  connect(XBox, &QComboBox::currentIndexChanged, this, [this] {
    if (XBox->currentIndex() >= 0) {
      Session->SetTableAxes(ChannelOf(XBox), Session->TableSetup().YChannel);
    }
  });
  connect(YBox, &QComboBox::currentIndexChanged, this, [this] {
    if (YBox->currentIndex() >= 0) {
      Session->SetTableAxes(Session->TableSetup().XChannel, ChannelOf(YBox));
    }
  });
  connect(XBinsEdit, &QLineEdit::textChanged, this, [this](const QString& text) {
    Session->SetTableBinsText(text.toStdString(), Session->TableSetup().YBins);
  });
  connect(YBinsEdit, &QLineEdit::textChanged, this, [this](const QString& text) {
    Session->SetTableBinsText(Session->TableSetup().XBins, text.toStdString());
  });
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
  // A source other than the session's is the user's pick, which outlives our log coming or going.
  connect(SourceBox, &QComboBox::currentIndexChanged, this, [this] {
    const int source = SourceBox->currentData().toInt();
    if (SourceBox->currentIndex() >= 0 && source != Session->TableSetup().Mixture) {
      Session->SetTableMixture(source);
    }
  });
  connect(LagBox, &QDoubleSpinBox::valueChanged, Session, &TViewSession::SetTableLag);
  connect(MinHitsBox, &QSpinBox::valueChanged, this,
          [this](int hits) { Session->SetTableMinHits(static_cast<std::size_t>(hits)); });
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
  const auto steady = [this](auto change) {
    TTableSetup setup = Session->TableSetup();
    change(setup);
    Session->SetTableSteady(setup.Steady, setup.SteadyFilter);
  };
  connect(SteadyBox, &QCheckBox::toggled, this,
          [steady](bool on) { steady([&](TTableSetup& s) { s.Steady = on; }); });
  connect(SteadyChannelBox, &QComboBox::currentIndexChanged, this, [this, steady] {
    if (SteadyChannelBox->currentIndex() < 0) return;
    steady([&](TTableSetup& s) { s.SteadyFilter.Channel = ChannelOf(SteadyChannelBox); });
  });
  connect(RateBox, &QDoubleSpinBox::valueChanged, this,
          [steady](double rate) { steady([&](TTableSetup& s) { s.SteadyFilter.Rate = rate; }); });
  connect(SettleBox, &QDoubleSpinBox::valueChanged, this, [steady](double settle) {
    steady([&](TTableSetup& s) { s.SteadyFilter.Settle = settle; });
  });
  // The window's one range filter is the setup's first.
  const auto range = [this](auto change) {
    const std::vector<TRangeText>& ranges = Session->TableSetup().Ranges;
    TRangeText first = ranges.empty() ? TRangeText{} : ranges.front();
    change(first);
    Session->SetTableRanges({first});
  };
  connect(RangeChannelBox, &QComboBox::currentIndexChanged, this, [this, range] {
    const int channel = RangeChannelBox->currentData().toInt();
    if (RangeChannelBox->currentIndex() < 0) return;
    range([&](TRangeText& r) {
      r.Channel = channel >= 0 ? std::optional<std::size_t>(channel) : std::nullopt;
    });
  });
  connect(RangeLowEdit, &QLineEdit::textChanged, this, [range](const QString& text) {
    range([&](TRangeText& r) { r.Low = text.toStdString(); });
  });
  connect(RangeHighEdit, &QLineEdit::textChanged, this, [range](const QString& text) {
    range([&](TRangeText& r) { r.High = text.toStdString(); });
  });
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
  QuantityBox->addItem(QStringLiteral("Proposed"), static_cast<int>(TTableQuantity::Proposed));
  QuantityBox->addItem(QStringLiteral("Change %"), static_cast<int>(TTableQuantity::ChangePercent));
  QuantityBox->setToolTip(
      QStringLiteral("Proposed and Change %: the corrected fuel table, on the tune's breakpoints "
                     "(or the table's without a tune)"));
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
  // Only typing is a target: the text set from the session is none, and would drop a loaded grid.
  connect(TargetEdit, &QLineEdit::textEdited, this,
          [this](const QString& text) { Session->SetTableTarget(text.toStdString()); });
  connect(QuantityBox, &QComboBox::currentIndexChanged, this, [this] {
    Session->SetTableQuantity(static_cast<TTableQuantity>(QuantityBox->currentData().toInt()));
  });
  return Row({Caption(QStringLiteral("Target")), TargetEdit, load, Caption(QStringLiteral("Show")),
              QuantityBox, copy, save});
}

QWidget* TMixtureTablePanel::BuildTuneControls() {
  auto* load = new QPushButton(QStringLiteral("Load tune..."));
  load->setObjectName(QStringLiteral("TableLoadTune"));
  load->setToolTip(QStringLiteral(
      "The tune whose fuel table is corrected: an MSQ tune, or a CSV grid with its "
      "breakpoints. Without one the current table is estimated from the logged VE."));
  TuneLabel = new QLabel;
  ClearTuneButton = new QToolButton;
  ClearTuneButton->setText(QStringLiteral("Clear"));
  ClearTuneButton->setToolTip(
      QStringLiteral("Forget the tune: the current table is estimated from the logged VE"));
  MaxChangeBox = new QDoubleSpinBox;
  MaxChangeBox->setRange(1, 100);
  MaxChangeBox->setDecimals(1);
  MaxChangeBox->setSingleStep(1);
  MaxChangeBox->setValue(Session->MaxChange());
  MaxChangeBox->setSuffix(QStringLiteral(" %"));
  MaxChangeBox->setToolTip(QStringLiteral("The most the corrected table moves a cell, either way"));
  SaveTuneButton = new QPushButton(QStringLiteral("Save tune..."));
  SaveTuneButton->setToolTip(
      QStringLiteral("A copy of the MSQ tune with the proposed fuel table: only the table's "
                     "numbers change"));
  connect(load, &QPushButton::clicked, this, &TMixtureTablePanel::LoadTuneClicked);
  connect(ClearTuneButton, &QToolButton::clicked, Session, &TViewSession::ClearTune);
  connect(MaxChangeBox, &QDoubleSpinBox::valueChanged, Session, &TViewSession::SetMaxChange);
  connect(SaveTuneButton, &QPushButton::clicked, this, &TMixtureTablePanel::SaveTuneClicked);
  return Row({Caption(QStringLiteral("Tune")), load, TuneLabel, ClearTuneButton,
              Caption(QStringLiteral("max change")), MaxChangeBox, SaveTuneButton});
}

void TMixtureTablePanel::SetQuantity(TTableQuantity quantity) {
  Session->SetTableQuantity(quantity);
}

// The boxes of channels filled from the engine log; which one each shows is the session's.
void TMixtureTablePanel::FillChannelBoxes() {
  std::vector<QSignalBlocker> quiet;  // a box being filled is no user's pick
  for (QComboBox* box : {XBox, YBox, SteadyChannelBox, RangeChannelBox}) {
    quiet.emplace_back(box);
    box->clear();
  }
  RangeChannelBox->addItem(QStringLiteral("(no filter)"), -1);
  const enginelog::TLog* log = Session->EngineLog();
  if (log == nullptr) return;
  for (std::size_t i = 0; i < log->Channels.size(); ++i) {
    const QString name = QString::fromStdString(log->Channels[i].Name);
    for (QComboBox* box : {XBox, YBox, SteadyChannelBox, RangeChannelBox}) {
      box->addItem(name, static_cast<int>(i));
    }
  }
}

// Where the mixture may come from: our log when one is open, the engine log's channels, and
// "(none)" when neither has a mixture.
void TMixtureTablePanel::FillSourceBox() {
  const QSignalBlocker quiet(SourceBox);  // a box being filled is no user's pick
  SourceBox->clear();
  MixtureListed = !Session->Logs().empty();
  if (MixtureListed) SourceBox->addItem(QStringLiteral("Mixture log"), MixtureFromOurs);
  const enginelog::TLog* log = Session->EngineLog();
  if (log == nullptr) return;
  for (std::size_t i = 0; i < log->Channels.size(); ++i) {
    SourceBox->addItem(
        QStringLiteral("Engine log: ") + QString::fromStdString(log->Channels[i].Name),
        static_cast<int>(i));
  }
  if (!MixtureListed && !Session->EngineMixture()) {
    SourceBox->addItem(QStringLiteral("(none)"), MixtureFromNone);
  }
}

// Every control as the session's setup has it. A control already showing its value says nothing;
// one that changes sends the same value back, which the session takes as no change.
void TMixtureTablePanel::ShowSetup() {
  const TTableSetup& setup = Session->TableSetup();
  SelectData(XBox, static_cast<int>(setup.XChannel));
  SelectData(YBox, static_cast<int>(setup.YChannel));
  ShowText(XBinsEdit, setup.XBins, true);
  ShowText(YBinsEdit, setup.YBins, true);
  SelectData(SourceBox, setup.Mixture);
  LagBox->setValue(setup.Lag);
  MinHitsBox->setValue(static_cast<int>(setup.MinHits));
  SteadyBox->setChecked(setup.Steady);
  SelectData(SteadyChannelBox, static_cast<int>(setup.SteadyFilter.Channel));
  RateBox->setValue(setup.SteadyFilter.Rate);
  SettleBox->setValue(setup.SteadyFilter.Settle);
  const TRangeText range = setup.Ranges.empty() ? TRangeText{} : setup.Ranges.front();
  SelectData(RangeChannelBox, range.Channel ? static_cast<int>(*range.Channel) : -1);
  ShowText(RangeLowEdit, range.Low);
  ShowText(RangeHighEdit, range.High);
  ShowText(TargetEdit, setup.Target);
  TargetEdit->setPlaceholderText(
      setup.TargetGrid.empty() ? QStringLiteral("none")
                               : QStringLiteral("grid: ") + QString::fromStdString(setup.GridName));
  SelectData(QuantityBox, static_cast<int>(setup.Quantity));
  const QString& tune = Session->TunePath();
  TuneLabel->setText(tune.isEmpty() ? QStringLiteral("(none)") : QFileInfo(tune).fileName());
  TuneLabel->setToolTip(tune);
  ClearTuneButton->setEnabled(!tune.isEmpty());
  SaveTuneButton->setEnabled(Session->TuneIsMsq());
  MaxChangeBox->setValue(Session->MaxChange());
}

void TMixtureTablePanel::LoadTargetClicked() {
  const QString path =
      QFileDialog::getOpenFileName(this, QStringLiteral("Load target grid"), QString(),
                                   QStringLiteral("Tables (*.csv *.txt *.tsv);;All files (*)"));
  if (!path.isEmpty()) LoadTarget(path);
}

bool TMixtureTablePanel::LoadTarget(const QString& path) {
  std::string error;
  if (!Session->LoadTableTarget(path, error)) {
    ShowStatus(QString::fromStdString(error));
    return false;
  }
  return true;
}

TTableDescription TMixtureTablePanel::Description() const {
  return Session->TableDescription(BuiltWith);
}

QString TMixtureTablePanel::CopyText(bool withAxes) const {
  const TTableQuantity quantity = Session->TableSetup().Quantity;
  if (ShowsProposal(quantity)) {
    return HasGrid(Proposed)
               ? QString::fromStdString(ProposalTsv(Proposed, withAxes, DesktopDecimal()))
               : QString();
  }
  return QString::fromStdString(
      TableTsv(Current, Description(), quantity, withAxes, DesktopDecimal()));
}

void TMixtureTablePanel::Copy(bool withAxes) {
  const bool proposal = ShowsProposal(Session->TableSetup().Quantity);
  if (proposal ? !HasGrid(Proposed) : Current.Cells.empty()) return;
  QApplication::clipboard()->setText(CopyText(withAxes));
}

void TMixtureTablePanel::SaveCsvClicked() {
  const bool proposal = ShowsProposal(Session->TableSetup().Quantity);
  if (proposal && !HasGrid(Proposed)) {
    ShowStatus(QStringLiteral("No corrected fuel table to save"));
    return;
  }
  const QString path = QFileDialog::getSaveFileName(
      this,
      proposal ? QStringLiteral("Save corrected fuel table") : QStringLiteral("Save mixture table"),
      proposal ? QStringLiteral("corrected-fuel-table.csv") : QStringLiteral("mixture-table.csv"),
      QStringLiteral("CSV (*.csv)"));
  if (path.isEmpty()) return;
  QFile file(path);
  const QByteArray text = QByteArray::fromStdString(
      proposal ? ProposalCsv(Proposed, ProposalAbout)
               : TableCsv(Current, Description(), Session->TableSetup().Quantity));
  if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.flush()) {
    ShowStatus(path + QStringLiteral(": ") + file.errorString());
  }
}

void TMixtureTablePanel::LoadTuneClicked() {
  const QString path = QFileDialog::getOpenFileName(
      this, QStringLiteral("Load tune"), QString(),
      QStringLiteral("Tunes (*.msq *.csv);;MSQ tunes (*.msq);;CSV grids (*.csv);;All files (*)"));
  if (!path.isEmpty()) LoadTune(path);
}

bool TMixtureTablePanel::LoadTune(const QString& path) {
  std::string error;
  if (!Session->LoadTune(path, error)) {
    ShowStatus(QString::fromStdString(error));
    return false;
  }
  return true;
}

QString CorrectedTuneName(const QString& tunePath) {
  const QFileInfo info(tunePath);
  const QString name = info.fileName();
  const bool msq = name.endsWith(QStringLiteral(".msq"), Qt::CaseInsensitive);
  const QString stem = msq ? name.left(name.size() - 4) : name;
  return info.dir().filePath(stem + QStringLiteral("-corrected") +
                             (msq ? name.right(4) : QStringLiteral(".msq")));
}

void TMixtureTablePanel::SaveTuneClicked() {
  const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save corrected tune"),
                                                    CorrectedTuneName(Session->TunePath()),
                                                    QStringLiteral("MSQ tunes (*.msq)"));
  if (!path.isEmpty()) SaveTune(path);
}

bool TMixtureTablePanel::SaveTune(const QString& path) {
  // What is written is what the settings make now, not a table still waiting for its rebuild.
  if (RebuildTimer->isActive()) {
    RebuildTimer->stop();
    Rebuild();
  }
  const auto refuse = [this](const QString& why) {
    ShowStatus(why);
    return false;
  };
  if (!Session->TuneIsMsq()) return refuse(QStringLiteral("Load an MSQ tune to save a copy of"));
  if (Stale) return refuse(QStringLiteral("Show the table to make its corrected fuel table"));
  // The user's tune and the logs stay as they were: the copy goes beside them, never over them.
  if (SameFile(path, Session->TunePath())) {
    return refuse(path + QStringLiteral(": that is the tune itself; save the corrected copy under "
                                        "another name"));
  }
  for (const TViewSession::TGivenFile& given : Session->Given()) {
    if (SameFile(path, given.Path)) {
      return refuse(path + QStringLiteral(": that file is open in kestview"));
    }
  }
  if (!HasGrid(Proposed)) {
    return refuse(QStringLiteral("No corrected fuel table to write: ") +
                  QString::fromStdString(Proposed.Error));
  }
  std::string error;
  const std::optional<std::string> bytes = Session->TuneWithProposal(Proposed, error);
  if (!bytes) return refuse(QString::fromStdString(error));
  // Whole or not at all: a tune cut short by a full disk would stop an engine running.
  QSaveFile file(path);
  const QByteArray data = QByteArray::fromStdString(*bytes);
  if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit()) {
    return refuse(path + QStringLiteral(": ") + file.errorString());
  }
  ShowStatus(QStringLiteral("Saved ") + QFileInfo(path).fileName(), false);
  return true;
}

}  // namespace viewer
