// kestview's window, the engine log's part: opening it, the tool bar that lines it up, the list of
// its channels, the read-out of the shown ones and the mixture table over them.
#include <QComboBox>
#include <QDockWidget>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QSignalBlocker>
#include <QToolBar>

#include "viewer/MixtureTable.h"
#include "viewer/MixtureTablePanel.h"
#include "viewer/ViewerWindow.h"

namespace viewer {

void TKestViewWindow::BuildEngineControls() {
  EngineBar = new QToolBar(QStringLiteral("Engine log"));
  EngineBar->setMovable(false);
  addToolBarBreak();
  addToolBar(EngineBar);
  AlignBox = new QComboBox;
  AlignBox->addItem(QStringLiteral("By matching"), static_cast<int>(TAlignMode::Match));
  AlignBox->addItem(QStringLiteral("By clock"), static_cast<int>(TAlignMode::Clock));
  AlignBox->addItem(QStringLiteral("Not lined up"), static_cast<int>(TAlignMode::None));
  OffsetBox = new QDoubleSpinBox;
  OffsetBox->setDecimals(0);
  OffsetBox->setRange(-1e9, 1e9);
  OffsetBox->setSingleStep(100);
  OffsetBox->setSuffix(QStringLiteral(" ms"));
  OffsetBox->setToolTip(
      QStringLiteral("Where the engine log's first record falls, after the "
                     "mixture log's first row; editing it shifts the log by hand"));
  AlignLabel = new QLabel;
  EngineBar->addWidget(new QLabel(QStringLiteral(" Engine log lined up ")));
  EngineBar->addWidget(AlignBox);
  EngineBar->addWidget(new QLabel(QStringLiteral(" offset ")));
  EngineBar->addWidget(OffsetBox);
  EngineBar->addWidget(AlignLabel);
  EngineBar->hide();
  connect(AlignBox, &QComboBox::currentIndexChanged, this, [this] {
    AlignMode = static_cast<TAlignMode>(AlignBox->currentData().toInt());
    HandOffset.reset();
    Realign();
  });
  connect(OffsetBox, &QDoubleSpinBox::valueChanged, this, [this](double ms) {
    HandOffset = ms / 1000.0;
    Realign();
  });
  connect(ChannelList, &QListWidget::itemChanged, this, [this] { ChannelsPicked(); });
}

bool TKestViewWindow::OpenEngineLog(const QString& path, enginelog::TLog read) {
  auto log = std::make_unique<enginelog::TLog>(std::move(read));
  if (!log->Ok()) {
    FailedMessages << QString::fromStdString(log->Error);
    return false;
  }
  for (const std::string& warning : log->Warnings) {
    FailedMessages << QString::fromStdString(warning);
  }
  Engine = std::move(log);
  ++EngineNumber;
  EnginePath = path;
  ShownChannels = DefaultShownChannels(*Engine);
  FillChannelList();
  EngineBar->show();
  ChannelList->show();
  TableDock->toggleViewAction()->setEnabled(true);
  // The table comes up by itself where its usual axes are there to be found; a log without engine
  // speed and load (a log of sensor readings, say) keeps it behind View > Mixture table, where
  // the user can still pick two channels.
  if (DefaultXChannel(*Engine) && DefaultYChannel(*Engine)) {
    TableDock->show();
    // The chart and the panes keep the larger part; the table can be dragged taller or floated.
    resizeDocks({TableDock}, {height() * 2 / 5}, Qt::Vertical);
  } else {
    TableDock->hide();
  }
  return true;
}

void TKestViewWindow::SetAlign(TAlignMode mode) {
  AlignBox->setCurrentIndex(AlignBox->findData(static_cast<int>(mode)));
  AlignMode = mode;
  HandOffset.reset();
  Realign();
}

void TKestViewWindow::SetHandOffset(std::optional<double> seconds) {
  HandOffset = seconds;
  Realign();
}

std::vector<std::string> TKestViewWindow::SetShownChannels(const std::vector<std::string>& names) {
  std::vector<std::string> unknown;
  if (!Engine) return names;
  ShownChannels = ChannelsNamed(*Engine, names, unknown);
  FillChannelList();
  RebuildScene(false);
  return unknown;
}

// Where the engine log lies follows the first mixture log: found again whenever either changes or
// the user asks for another way.
void TKestViewWindow::Realign() {
  if (!Engine) return;
  if (LogFiles.empty()) {
    Alignment = TAlignment{HandOffset.value_or(0), HandOffset ? "hand" : "none", {}};
  } else {
    const TLog& mixture = LogFiles.front()->Data();
    Alignment = AlignEngineLog(mixture, *Engine, AlignMode, HandOffset, LocalUtcOffsetAt(mixture));
  }
  ShowAlignment();
  RebuildScene(true);
}

void TKestViewWindow::ShowAlignment() {
  {
    const QSignalBlocker quiet(OffsetBox);
    OffsetBox->setValue(Alignment.Offset * 1000);
  }
  QString text = QStringLiteral(" %1 s, %2")
                     .arg(Alignment.Offset, 0, 'f', 3)
                     .arg(Alignment.How == "hand" ? QStringLiteral("by hand")
                          : Alignment.How == "none"
                              ? QStringLiteral("not lined up")
                              : QStringLiteral("by ") + QString::fromStdString(Alignment.How));
  if (!Alignment.Note.empty())
    text += QStringLiteral(" (") + QString::fromStdString(Alignment.Note) + ")";
  AlignLabel->setText(text);
}

void TKestViewWindow::FillChannelList() {
  const QSignalBlocker quiet(ChannelList);
  ChannelList->clear();
  if (!Engine) return;
  for (std::size_t i = 0; i < Engine->Channels.size(); ++i) {
    const enginelog::TChannel& channel = Engine->Channels[i];
    auto* item = new QListWidgetItem(
        QString::fromStdString(channel.Name) +
        (channel.Unit.empty() ? QString() : " [" + QString::fromStdString(channel.Unit) + "]"));
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    const bool shown =
        std::find(ShownChannels.begin(), ShownChannels.end(), i) != ShownChannels.end();
    item->setCheckState(shown ? Qt::Checked : Qt::Unchecked);
    item->setData(Qt::UserRole, static_cast<int>(i));
    ChannelList->addItem(item);
  }
}

void TKestViewWindow::ChannelsPicked() {
  // Kept in the order they were shown; newly picked ones go beneath.
  std::vector<std::size_t> shown;
  for (const std::size_t c : ShownChannels) {
    if (ChannelList->item(static_cast<int>(c))->checkState() == Qt::Checked) shown.push_back(c);
  }
  for (int row = 0; row < ChannelList->count(); ++row) {
    const auto c = static_cast<std::size_t>(row);
    if (ChannelList->item(row)->checkState() == Qt::Checked &&
        std::find(shown.begin(), shown.end(), c) == shown.end()) {
      shown.push_back(c);
    }
  }
  ShownChannels = shown;
  RebuildScene(false);
}

void TKestViewWindow::BuildTableDock() {
  TablePanel = new TMixtureTablePanel;
  TableDock = new QDockWidget(QStringLiteral("Mixture table"), this);
  TableDock->setObjectName(QStringLiteral("MixtureTableDock"));
  TableDock->setWidget(TablePanel);
  TableDock->setAllowedAreas(Qt::BottomDockWidgetArea | Qt::TopDockWidgetArea |
                             Qt::RightDockWidgetArea);
  addDockWidget(Qt::BottomDockWidgetArea, TableDock);
  TableDock->hide();
  TableDock->toggleViewAction()->setText(QStringLiteral("&Mixture table"));
  TableDock->toggleViewAction()->setEnabled(false);  // until an engine log is open
}

// The table reads the logs on their own axes: the first mixture log's, which the chart shifts
// back by its trace's Shift, or the engine log's own without one.
void TKestViewWindow::UpdateTableSources(const TChartScene& scene, const TPaneScene& panes) {
  TTableSources sources;
  sources.Engine = Engine.get();
  sources.EngineNumber = EngineNumber;
  if (Engine && !LogFiles.empty() && !scene.Traces.empty()) {
    sources.Mixture = scene.Traces.front().Log;
    sources.AxisShift = scene.Traces.front().Shift;
    sources.Shift = EngineShift(*sources.Mixture, *Engine, Alignment.Offset);
  } else {
    sources.AxisShift = -panes.Shift;
  }
  sources.Offset = Alignment.Offset;
  sources.Align = Alignment.How;
  TablePanel->SetSources(sources);
  TablePanel->SetUnit(scene.Display);
  TablePanel->SetRange(ChartWidget->Scene().From, ChartWidget->Scene().To);
}

QString TKestViewWindow::ReadoutText() const { return ReadoutLine->text(); }

void TKestViewWindow::ShowReadout() {
  QString text = ChartReadout;
  if (!ChannelReadout.isEmpty()) text += (text.isEmpty() ? "" : "     ") + ChannelReadout;
  ReadoutLine->setText(text.isEmpty() ? QStringLiteral(" ") : text);
}

}  // namespace viewer
