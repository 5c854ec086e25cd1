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
#include <cmath>

#include "viewer/table/MixtureTable.h"
#include "viewer/window/MixtureTablePanel.h"
#include "viewer/window/ViewerWindow.h"

namespace viewer {

namespace {

// The align box's item for a hand offset, beside the ways of TAlignMode.
constexpr int ByHand = 100;

}  // namespace

void TKestViewWindow::BuildEngineControls() {
  EngineBar = new QToolBar(QStringLiteral("Engine log"));
  EngineBar->setMovable(false);
  addToolBarBreak();
  addToolBar(EngineBar);
  AlignBox = new QComboBox;
  AlignBox->addItem(QStringLiteral("By matching"), static_cast<int>(TAlignMode::Match));
  AlignBox->addItem(QStringLiteral("By clock"), static_cast<int>(TAlignMode::Clock));
  AlignBox->addItem(QStringLiteral("Not lined up"), static_cast<int>(TAlignMode::None));
  // A hand offset wins over the way chosen: the box says so rather than the way it overrides.
  AlignBox->addItem(QStringLiteral("By hand"), ByHand);
  OffsetBox = new QDoubleSpinBox;
  OffsetBox->setDecimals(0);
  OffsetBox->setRange(-1e9, 1e9);
  OffsetBox->setSingleStep(100);
  OffsetBox->setSuffix(QStringLiteral(" ms"));
  OffsetBox->setToolTip(
      QStringLiteral("Where the engine log's first record falls, after the "
                     "mixture log's first row; editing it shifts the log by hand"));
  AlignLabel = new QLabel;
  // Named, so that tests find the controls as a user does.
  AlignBox->setObjectName(QStringLiteral("AlignMode"));
  OffsetBox->setObjectName(QStringLiteral("AlignOffset"));
  AlignLabel->setObjectName(QStringLiteral("AlignText"));
  EngineBar->addWidget(new QLabel(QStringLiteral(" Engine log lined up ")));
  EngineBar->addWidget(AlignBox);
  EngineBar->addWidget(new QLabel(QStringLiteral(" offset ")));
  EngineBar->addWidget(OffsetBox);
  EngineBar->addWidget(AlignLabel);
  EngineBar->hide();
  connect(AlignBox, &QComboBox::currentIndexChanged, this, [this] {
    const int picked = AlignBox->currentData().toInt();
    if (picked == ByHand) {
      // The offset found so far, kept where it is.
      if (!ViewSession->HandOffset()) ViewSession->SetHandOffset(ViewSession->Alignment().Offset);
    } else if (ViewSession->HandOffset() ||
               static_cast<TAlignMode>(picked) != ViewSession->AlignMode()) {
      ViewSession->SetAlign(static_cast<TAlignMode>(picked));
    }
  });
  connect(OffsetBox, &QDoubleSpinBox::valueChanged, this, [this](double ms) {
    // The box shows the offset in whole milliseconds: the offset it was set to is no new one.
    if (ms != std::round(ViewSession->Alignment().Offset * 1000)) {
      ViewSession->SetHandOffset(ms / 1000.0);
    }
  });
  connect(ChannelList, &QListWidget::itemChanged, this, [this] { ChannelsPicked(); });
}

// The engine log's controls for the session's engine log: set up again when it is another one.
void TKestViewWindow::ShowEngineLog() {
  const enginelog::TLog* engine = ViewSession->EngineLog();
  if (engine == nullptr || ViewSession->EngineNumber() == EngineShown) return;
  EngineShown = ViewSession->EngineNumber();
  FillChannelList();
  EngineBar->show();
  ChannelList->show();
  TableDock->toggleViewAction()->setEnabled(true);
  // The table comes up by itself where its usual axes are there to be found; a log without engine
  // speed and load (a log of sensor readings, say) keeps it behind View > Mixture table, where
  // the user can still pick two channels. A log like the last (the engine software's next one in
  // a followed folder, say) leaves the table as the user left it.
  const bool axes = DefaultXChannel(*engine, ViewSession->ChannelNames()) &&
                    DefaultYChannel(*engine, ViewSession->ChannelNames());
  if (TableDockForAxes == axes) return;
  TableDockForAxes = axes;
  if (axes) {
    TableDock->show();
    // The chart and the panes keep the larger part; the table can be dragged taller or floated.
    resizeDocks({TableDock}, {height() * 2 / 5}, Qt::Vertical);
  } else {
    TableDock->hide();
  }
}

void TKestViewWindow::SetAlign(TAlignMode mode) { ViewSession->SetAlign(mode); }

void TKestViewWindow::SetHandOffset(std::optional<double> seconds) {
  ViewSession->SetHandOffset(seconds);
}

std::vector<std::string> TKestViewWindow::SetShownChannels(const std::vector<std::string>& names) {
  return ViewSession->SetShownChannelNames(names);
}

void TKestViewWindow::ShowAlignment() {
  const TAlignment& alignment = ViewSession->Alignment();
  AlignBox->setCurrentIndex(AlignBox->findData(
      ViewSession->HandOffset() ? ByHand : static_cast<int>(ViewSession->AlignMode())));
  OffsetBox->setValue(std::round(alignment.Offset * 1000));
  QString text = QStringLiteral(" %1 s, %2")
                     .arg(alignment.Offset, 0, 'f', 3)
                     .arg(alignment.How == "hand" ? QStringLiteral("by hand")
                          : alignment.How == "none"
                              ? QStringLiteral("not lined up")
                              : QStringLiteral("by ") + QString::fromStdString(alignment.How));
  if (!alignment.Note.empty())
    text += QStringLiteral(" (") + QString::fromStdString(alignment.Note) + ")";
  AlignLabel->setText(text);
}

void TKestViewWindow::FillChannelList() {
  // Filled as the session shows them: the check boxes set here are no user's pick.
  const QSignalBlocker quiet(ChannelList);
  ChannelList->clear();
  const enginelog::TLog* engine = ViewSession->EngineLog();
  if (engine == nullptr) return;
  const std::vector<std::size_t>& shownChannels = ViewSession->ShownChannels();
  for (std::size_t i = 0; i < engine->Channels.size(); ++i) {
    const enginelog::TChannel& channel = engine->Channels[i];
    auto* item = new QListWidgetItem(
        QString::fromStdString(channel.Name) +
        (channel.Unit.empty() ? QString() : " [" + QString::fromStdString(channel.Unit) + "]"));
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    const bool shown =
        std::find(shownChannels.begin(), shownChannels.end(), i) != shownChannels.end();
    item->setCheckState(shown ? Qt::Checked : Qt::Unchecked);
    item->setData(Qt::UserRole, static_cast<int>(i));
    ChannelList->addItem(item);
  }
}

void TKestViewWindow::ChannelsPicked() {
  // Kept in the order they were shown; newly picked ones go beneath.
  std::vector<std::size_t> shown;
  for (const std::size_t c : ViewSession->ShownChannels()) {
    if (ChannelList->item(static_cast<int>(c))->checkState() == Qt::Checked) shown.push_back(c);
  }
  for (int row = 0; row < ChannelList->count(); ++row) {
    const auto c = static_cast<std::size_t>(row);
    if (ChannelList->item(row)->checkState() == Qt::Checked &&
        std::find(shown.begin(), shown.end(), c) == shown.end()) {
      shown.push_back(c);
    }
  }
  ViewSession->SetShownChannels(shown);
}

void TKestViewWindow::BuildTableDock() {
  TablePanel = new TMixtureTablePanel(ViewSession);
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

QString TKestViewWindow::ReadoutText() const { return ReadoutLine->text(); }

void TKestViewWindow::ShowReadout() {
  QString text = ChartReadout;
  if (!ChannelReadout.isEmpty()) text += (text.isEmpty() ? "" : "     ") + ChannelReadout;
  ReadoutLine->setText(text.isEmpty() ? QStringLiteral(" ") : text);
}

}  // namespace viewer
