// kestview's window: files, display controls, chart, summary and messages.
#include "viewer/ViewerWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDockWidget>
#include <QDoubleSpinBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>

#include "viewer/Export.h"
#include "viewer/MixtureTablePanel.h"
#include "viewer/SvgExport.h"

namespace viewer {

TKestViewWindow::TKestViewWindow(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle(QStringLiteral("kestview"));
  setAcceptDrops(true);
  ChartWidget = new TLogChart;
  SummaryPanel = new QPlainTextEdit;
  SummaryPanel->setReadOnly(true);
  SummaryPanel->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  SummaryPanel->setLineWrapMode(QPlainTextEdit::NoWrap);
  MessageLine = new QLabel;
  MessageLine->setStyleSheet(QStringLiteral("color: #b02020"));
  MessageLine->setWordWrap(true);
  MessageLine->hide();
  ReadoutLine = new QLabel(QStringLiteral(" "));
  ReadoutLine->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto* left = new QWidget;
  auto* layout = new QVBoxLayout(left);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(MessageLine);
  layout->addWidget(ChartWidget, 1);
  PanesWidget = new TEnginePanesWidget(ChartWidget);
  PanesWidget->hide();
  layout->addWidget(PanesWidget, 0);
  layout->addWidget(ReadoutLine);
  ChannelList = new QListWidget;
  ChannelList->hide();
  auto* right = new QSplitter(Qt::Vertical);
  right->addWidget(SummaryPanel);
  right->addWidget(ChannelList);
  auto* splitter = new QSplitter;
  splitter->addWidget(left);
  splitter->addWidget(right);
  splitter->setStretchFactor(0, 3);
  splitter->setStretchFactor(1, 0);
  SummaryPanel->setMinimumWidth(300);
  splitter->setSizes({800, 300});
  setCentralWidget(splitter);

  BuildTableDock();
  BuildMenus();
  BuildToolBar();
  BuildEngineControls();
  statusBar()->showMessage(
      QStringLiteral("Wheel, +/- or a right-button drag zoom; drag or arrows pan; Home resets"));
  connect(ChartWidget, &TLogChart::RangeChanged, this, [this](double from, double to) {
    PanesWidget->SetRange(from, to);
    TablePanel->SetRange(from, to);
    UpdateSummary();
  });
  connect(ChartWidget, &TLogChart::CursorMoved, this, [this](double x, double time) {
    PanesWidget->SetCursorX(x);
    TablePanel->SetCursorTime(x < 0 ? std::nullopt : std::optional<double>(time));
    ChannelReadout = x < 0 ? QString() : PanesReadoutAt(PanesWidget->Panes(), time);
  });
  connect(ChartWidget, &TLogChart::Readout, ReadoutLine, [this](const QString& text) {
    ChartReadout = text;
    ShowReadout();
  });
  resize(1100, 640);
  RebuildScene(true);
}

TKestViewWindow::~TKestViewWindow() = default;

void TKestViewWindow::BuildMenus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  file->addAction(QStringLiteral("&Open..."), QKeySequence::Open, this,
                  &TKestViewWindow::OpenDialog);
  file->addAction(QStringLiteral("&Export image..."), this, &TKestViewWindow::ExportDialog);
  file->addSeparator();
  file->addAction(QStringLiteral("&Quit"), QKeySequence::Quit, this, &QWidget::close);
  QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
  view->addAction(QStringLiteral("&Reset zoom"), ChartWidget, &TLogChart::ResetRange);
  view->addAction(TableDock->toggleViewAction());
}

void TKestViewWindow::BuildToolBar() {
  QToolBar* bar = addToolBar(QStringLiteral("Display"));
  bar->setMovable(false);
  UnitBox = new QComboBox;
  UnitBox->addItem(QStringLiteral("AFR"), sensor::dmAirFuelRatio);
  UnitBox->addItem(QStringLiteral("Lambda"), sensor::dmLambda);
  FuelBox = new QComboBox;
  FuelBox->addItem(QStringLiteral("Petrol"), sensor::ftPetrol);
  FuelBox->addItem(QStringLiteral("Methanol"), sensor::ftMethanol);
  FuelBox->addItem(QStringLiteral("Propane"), sensor::ftPropane);
  RelativeBox = new QCheckBox(QStringLiteral("Time since start"));
  FollowBox = new QCheckBox(QStringLiteral("Follow"));
  FollowBox->setToolTip(QStringLiteral("Show rows as they are appended to the files"));
  RichBox = new QDoubleSpinBox;
  LeanBox = new QDoubleSpinBox;
  for (QDoubleSpinBox* box : {RichBox, LeanBox}) {
    box->setDecimals(2);
    box->setSingleStep(0.01);
    box->setRange(0.5, 1.5);
  }
  const TBands bands;
  RichBox->setValue(bands.RichBelow);
  LeanBox->setValue(bands.LeanAbove);
  bar->addWidget(new QLabel(QStringLiteral(" Show ")));
  bar->addWidget(UnitBox);
  bar->addWidget(new QLabel(QStringLiteral(" Fuel ")));
  bar->addWidget(FuelBox);
  bar->addSeparator();
  bar->addWidget(RelativeBox);
  bar->addWidget(FollowBox);
  bar->addSeparator();
  bar->addWidget(new QLabel(QStringLiteral(" Rich below lambda ")));
  bar->addWidget(RichBox);
  bar->addWidget(new QLabel(QStringLiteral(" lean above ")));
  bar->addWidget(LeanBox);
  bar->addSeparator();
  bar->addAction(QStringLiteral("Reset zoom"), ChartWidget, &TLogChart::ResetRange);

  auto chosen = [this] {
    if (Updating) return;
    DisplayChosen = true;
    DisplayControlsChanged();
  };
  connect(UnitBox, &QComboBox::currentIndexChanged, this, chosen);
  connect(FuelBox, &QComboBox::currentIndexChanged, this, chosen);
  connect(RelativeBox, &QCheckBox::toggled, this, [this] {
    if (Updating) return;
    RelativeChosen = true;
    RebuildScene(true);
  });
  connect(FollowBox, &QCheckBox::toggled, this, [this](bool on) { SetFollow(on); });
  connect(RichBox, &QDoubleSpinBox::valueChanged, this, [this] { UpdateSummary(); });
  connect(LeanBox, &QDoubleSpinBox::valueChanged, this, [this] { UpdateSummary(); });
}

int TKestViewWindow::OpenFiles(const QStringList& paths) {
  int opened = 0;
  for (const QString& path : paths) {
    auto file = std::make_unique<TLogFile>(path, this);
    const bool loaded = file->Load(FollowBox->isChecked());
    if (file->IsEngineLog()) {
      opened += OpenEngineLog(path, file->TakeLog()) ? 1 : 0;
      continue;
    }
    if (!loaded) {
      FailedMessages << QString::fromStdString(file->Data().Error);
      continue;
    }
    connect(file.get(), &TLogFile::Grew, this, &TKestViewWindow::FileGrew);
    LogFiles.push_back(std::move(file));
    ++opened;
  }
  if (!RelativeChosen) {
    Updating = true;
    RelativeBox->setChecked(LogFiles.size() > 1);
    Updating = false;
  }
  if (!DisplayChosen && !LogFiles.empty()) {
    const TDisplay logged = LoggedDisplay(LogFiles.front()->Data());
    Updating = true;
    UnitBox->setCurrentIndex(UnitBox->findData(logged.DisplayMode));
    FuelBox->setCurrentIndex(FuelBox->findData(logged.FuelType));
    Updating = false;
  }
  if (Engine) {
    Realign();  // the engine log, or the mixture log it is lined up with, may be new
  } else {
    RebuildScene(true);
  }
  UpdateMessages();
  return opened;
}

void TKestViewWindow::SetFollow(bool follow) {
  if (FollowBox->isChecked() != follow) {
    FollowBox->setChecked(follow);  // comes back here through the box's signal
    return;
  }
  for (const auto& file : LogFiles) {
    QSignalBlocker quiet(file.get());
    file->SetFollow(follow);
  }
  RebuildScene(false);
  if (follow) ChartWidget->ShowEnd();
  UpdateMessages();
}

void TKestViewWindow::SetDisplay(const TDisplay& display) {
  DisplayChosen = true;
  Updating = true;
  UnitBox->setCurrentIndex(UnitBox->findData(display.DisplayMode));
  FuelBox->setCurrentIndex(FuelBox->findData(display.FuelType));
  Updating = false;
  DisplayControlsChanged();
}

void TKestViewWindow::SetBands(const TBands& bands) {
  RichBox->setValue(bands.RichBelow);
  LeanBox->setValue(bands.LeanAbove);
}

void TKestViewWindow::SetRelative(bool relative) {
  RelativeChosen = true;
  RelativeBox->setChecked(relative);
}

void TKestViewWindow::DisplayControlsChanged() {
  RebuildScene(false);
  UpdateSummary();
}

void TKestViewWindow::RebuildScene(bool resetRange) {
  TDisplay display;
  display.DisplayMode = UnitBox->currentData().toInt();
  display.FuelType = FuelBox->currentData().toInt();
  std::vector<TNamedLog> logs;
  for (const auto& file : LogFiles) {
    logs.push_back({&file->Data(), QFileInfo(file->Path()).fileName()});
  }
  TChartScene scene =
      MakeScene(logs, display, RelativeBox->isChecked() || (LogFiles.empty() && Engine));
  TPaneScene panes;
  if (Engine) {
    panes = PlacePanes(scene, *Engine, Alignment.Offset, ShownChannels);
    scene.MoreExtents.push_back(PaneExtent(panes));
    const TValueRange extent = TimeExtent(scene);
    scene.From = extent.Low;
    scene.To = extent.High;
  }
  ChartWidget->SetScene(scene, resetRange);
  PanesWidget->SetPanes(panes);
  PanesWidget->SetRange(ChartWidget->Scene().From, ChartWidget->Scene().To);
  PanesWidget->setVisible(Engine != nullptr);
  UpdateTableSources(scene, panes);
  QStringList names;
  for (const auto& trace : scene.Traces) names << trace.Name;
  if (Engine) names << QFileInfo(EnginePath).fileName();
  setWindowTitle(names.isEmpty()
                     ? QStringLiteral("kestview")
                     : names.join(QStringLiteral(", ")) + QStringLiteral(" - kestview"));
  UpdateSummary();
}

void TKestViewWindow::FileGrew() {
  RebuildScene(false);
  ChartWidget->ShowEnd();
  UpdateMessages();
}

void TKestViewWindow::UpdateSummary() {
  const TChartScene& scene = ChartWidget->Scene();
  TBands bands;
  bands.RichBelow = RichBox->value();
  bands.LeanAbove = LeanBox->value();
  QString text;
  for (const TChartTrace& trace : scene.Traces) {
    const TSummary summary = Summarize(*trace.Log, scene.From + trace.Shift, scene.To + trace.Shift,
                                       scene.Display, bands);
    text += QString::fromStdString(SummaryText(*trace.Log, summary, scene.Display, bands)) + "\n";
  }
  if (text.isEmpty()) {
    text = QStringLiteral("Open a log: File > Open, drop files here, or\nkestview FILE...");
  }
  SummaryPanel->setPlainText(QStringLiteral("Visible range\n\n") + text);
}

QString TKestViewWindow::Messages() const {
  QStringList lines = FailedMessages;
  for (const auto& file : LogFiles) {
    const std::string text = SkippedRowsText(file->Data());
    if (!text.empty()) lines << QString::fromStdString(text);
    if (file->Following() && file->Data().Times.empty()) {
      lines << file->Path() + QStringLiteral(": waiting for rows");
    }
  }
  return lines.join('\n');
}

void TKestViewWindow::UpdateMessages() {
  const QString text = Messages();
  MessageLine->setText(text);
  MessageLine->setVisible(!text.isEmpty());
}

QString TKestViewWindow::SummaryPanelText() const { return SummaryPanel->toPlainText(); }

void TKestViewWindow::OpenDialog() {
  const QStringList paths =
      QFileDialog::getOpenFileNames(this, QStringLiteral("Open logs"), QString(),
                                    QStringLiteral("Logs (*.txt *.csv *.log);;All files (*)"));
  if (!paths.isEmpty()) OpenFiles(paths);
}

void TKestViewWindow::ExportDialog() {
  const QString path = QFileDialog::getSaveFileName(
      this, QStringLiteral("Export image"), QStringLiteral("kestview.png"),
      SvgExportBuilt() ? QStringLiteral("Images (*.png *.svg)") : QStringLiteral("Images (*.png)"));
  if (path.isEmpty()) return;
  QString error;
  const QSize size(ChartWidget->width(), ChartWidget->height() + PanesWidget->height());
  if (!ExportChart(ChartWidget->Scene(), path, size, &error,
                   Engine ? &PanesWidget->Panes() : nullptr)) {
    FailedMessages << error;
    UpdateMessages();
  }
}

void TKestViewWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TKestViewWindow::dropEvent(QDropEvent* event) {
  QStringList paths;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile()) paths << url.toLocalFile();
  }
  if (!paths.isEmpty()) OpenFiles(paths);
  event->acceptProposedAction();
}

}  // namespace viewer
