// kestview's window: files, display controls, chart, summary and messages.
#include "viewer/window/ViewerWindow.h"

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

#include "viewer/chart/Export.h"
#include "viewer/chart/SvgExport.h"
#include "viewer/window/MixtureTablePanel.h"

namespace viewer {

TKestViewWindow::TKestViewWindow(TViewSession* session, QWidget* parent)
    : QMainWindow(parent),
      ViewSession(session != nullptr
                      ? session
                      : new TViewSession(TViewSession::TSecondEngineLog::Replace, this)) {
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
  // The chart zooms and pans itself and tells the session; the session tells everyone else.
  connect(ChartWidget, &TLogChart::RangeChanged, ViewSession, &TViewSession::SetView);
  connect(ChartWidget, &TLogChart::CursorMoved, this, [this](double x, double time) {
    PanesWidget->SetCursorX(x);
    ViewSession->SetCursor(x < 0 ? std::nullopt : std::optional<double>(time));
  });
  connect(ChartWidget, &TLogChart::Readout, ReadoutLine, [this](const QString& text) {
    ChartReadout = text;
    ShowReadout();
  });
  connect(ViewSession, &TViewSession::Changed, this, &TKestViewWindow::SessionChanged);
  resize(1100, 640);
  // What the session already holds (the command line's choices, files opened before).
  ShowDisplay();
  ShowEngineLog();
  ShowAlignment();
  RebuildScene(true);
  UpdateMessages();
}

TKestViewWindow::~TKestViewWindow() = default;

void TKestViewWindow::BuildMenus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  file->addAction(QStringLiteral("&Open..."), QKeySequence::Open, this,
                  &TKestViewWindow::OpenDialog);
  file->addAction(QStringLiteral("&Follow folder..."), this, &TKestViewWindow::FollowFolderDialog);
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
  UnitBox->setObjectName(QStringLiteral("Unit"));
  FuelBox->setObjectName(QStringLiteral("Fuel"));
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

  // Each box sends its command; the session changes only when the value differs, and its change
  // sets the boxes, which then already hold it and say nothing more.
  connect(UnitBox, &QComboBox::currentIndexChanged, this, [this] {
    ViewSession->SetDisplay({UnitBox->currentData().toInt(), ViewSession->Display().FuelType});
  });
  connect(FuelBox, &QComboBox::currentIndexChanged, this, [this] {
    ViewSession->SetDisplay({ViewSession->Display().DisplayMode, FuelBox->currentData().toInt()});
  });
  connect(RelativeBox, &QCheckBox::toggled, ViewSession, &TViewSession::SetRelative);
  connect(FollowBox, &QCheckBox::toggled, ViewSession, &TViewSession::SetFollow);
  connect(RichBox, &QDoubleSpinBox::valueChanged, this, [this](double rich) {
    ViewSession->SetBands({rich, ViewSession->Bands().LeanAbove});
  });
  connect(LeanBox, &QDoubleSpinBox::valueChanged, this, [this](double lean) {
    ViewSession->SetBands({ViewSession->Bands().RichBelow, lean});
  });
}

void TKestViewWindow::SessionChanged(TViewSession::TChange what) {
  using TChange = TViewSession::TChange;
  switch (what) {
    case TChange::Files:
      ShowDisplay();
      ShowEngineLog();
      ShowAlignment();
      RebuildScene(true);
      UpdateMessages();
      break;
    case TChange::Grew:
      RebuildScene(false);
      ChartWidget->ShowEnd();
      UpdateMessages();
      break;
    case TChange::Follow:
      ShowDisplay();
      RebuildScene(false);
      if (ViewSession->Follow()) ChartWidget->ShowEnd();
      UpdateMessages();
      break;
    case TChange::Display:
    case TChange::TimeAxis:
    case TChange::Bands:
      // Another time axis shows the whole of it; the bands only sum up differently.
      ShowDisplay();
      if (what == TChange::Bands) {
        UpdateSummary();
      } else {
        RebuildScene(what == TChange::TimeAxis);
      }
      break;
    case TChange::Alignment:
      ShowAlignment();
      RebuildScene(true);
      break;
    case TChange::Channels:
      FillChannelList();
      RebuildScene(false);
      break;
    case TChange::View:
      if (ChartWidget->Scene().From != ViewSession->ViewFrom() ||
          ChartWidget->Scene().To != ViewSession->ViewTo()) {
        ChartWidget->SetRange(ViewSession->ViewFrom(), ViewSession->ViewTo());
      }
      PanesWidget->SetRange(ChartWidget->Scene().From, ChartWidget->Scene().To);
      UpdateSummary();
      break;
    case TChange::Cursor:
      ChannelReadout = ViewSession->Cursor()
                           ? PanesReadoutAt(PanesWidget->Panes(), *ViewSession->Cursor())
                           : QString();
      break;
    case TChange::Table:
      break;  // the table's panel shows it
  }
}

// The display's boxes as the session has them.
void TKestViewWindow::ShowDisplay() {
  UnitBox->setCurrentIndex(UnitBox->findData(ViewSession->Display().DisplayMode));
  FuelBox->setCurrentIndex(FuelBox->findData(ViewSession->Display().FuelType));
  RelativeBox->setChecked(ViewSession->Relative());
  FollowBox->setChecked(ViewSession->Follow());
  RichBox->setValue(ViewSession->Bands().RichBelow);
  LeanBox->setValue(ViewSession->Bands().LeanAbove);
}

int TKestViewWindow::OpenFiles(const QStringList& paths) {
  int opened = 0;
  for (const TViewSession::TFileReport& report : ViewSession->OpenFiles(paths)) {
    opened += report.Error.empty() ? 1 : 0;
  }
  return opened;
}

void TKestViewWindow::SetFollow(bool follow) { ViewSession->SetFollow(follow); }

void TKestViewWindow::SetDisplay(const TDisplay& display) { ViewSession->SetDisplay(display); }

void TKestViewWindow::SetBands(const TBands& bands) { ViewSession->SetBands(bands); }

void TKestViewWindow::SetRelative(bool relative) { ViewSession->SetRelative(relative); }

void TKestViewWindow::RebuildScene(bool resetRange) {
  const TSessionScene scene = MakeSessionScene(*ViewSession);
  const bool engine = ViewSession->EngineLog() != nullptr;
  PanesWidget->SetPanes(scene.Panes);
  PanesWidget->setVisible(engine);
  ChartWidget->SetScene(scene.Chart, resetRange);
  PanesWidget->SetRange(ChartWidget->Scene().From, ChartWidget->Scene().To);
  QStringList names;
  for (const auto& trace : scene.Chart.Traces) names << trace.Name;
  if (engine) names << QFileInfo(ViewSession->EnginePath()).fileName();
  setWindowTitle(names.isEmpty()
                     ? QStringLiteral("kestview")
                     : names.join(QStringLiteral(", ")) + QStringLiteral(" - kestview"));
  UpdateSummary();
}

void TKestViewWindow::UpdateSummary() {
  const TChartScene& scene = ChartWidget->Scene();
  const TBands& bands = ViewSession->Bands();
  QString text;
  for (const TChartTrace& trace : scene.Traces) {
    const TSummary summary = Summarize(*trace.Log, scene.From + trace.Shift, scene.To + trace.Shift,
                                       scene.Display, bands);
    text += QString::fromStdString(SummaryText(*trace.Log, summary, scene.Display, bands)) + "\n";
  }
  if (const enginelog::TLog* engine = ViewSession->EngineLog()) {
    // The figures of its mixture channel where the chart draws it: the engine log alone.
    const TEngineMixtureTrace& mixture = scene.EngineMixture;
    std::optional<TSummary> figures;
    if (mixture.Log != nullptr) {
      figures = SummarizeEngineMixture(*engine, mixture.Channel, scene.From - mixture.Shift,
                                       scene.To - mixture.Shift, scene.Display, bands);
    }
    const std::string name = QFileInfo(ViewSession->EnginePath()).fileName().toStdString();
    const TEngineMixture about{ViewSession->EngineMixture(), scene.Display, bands};
    text += QString::fromStdString(
                EnginePanelText(name, *engine, about, figures ? &*figures : nullptr)) +
            "\n";
  }
  if (text.isEmpty()) {
    text = QStringLiteral("Open a log: File > Open, drop files here, or\nkestview FILE...");
  }
  SummaryPanel->setPlainText(QStringLiteral("Visible range\n\n") + text);
}

QString TKestViewWindow::Messages() const {
  QStringList lines;
  const QString files = ViewSession->Messages();
  if (!files.isEmpty()) lines << files;
  return (lines + ExportErrors).join('\n');
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

void TKestViewWindow::FollowFolderDialog() {
  const QStringList followed = ViewSession->FollowedFolders();
  const QString folder =
      QFileDialog::getExistingDirectory(this, QStringLiteral("Follow the newest logs in a folder"),
                                        followed.isEmpty() ? QString() : followed.front());
  if (!folder.isEmpty()) ViewSession->FollowFolders({folder});
}

void TKestViewWindow::ExportDialog() {
  const QString path = QFileDialog::getSaveFileName(
      this, QStringLiteral("Export image"), QStringLiteral("kestview.png"),
      SvgExportBuilt() ? QStringLiteral("Images (*.png *.svg)") : QStringLiteral("Images (*.png)"));
  if (path.isEmpty()) return;
  QString error;
  const QSize size(ChartWidget->width(), ChartWidget->height() + PanesWidget->height());
  if (!ExportChart(ChartWidget->Scene(), path, size, &error,
                   ViewSession->EngineLog() != nullptr ? &PanesWidget->Panes() : nullptr)) {
    ExportErrors << error;
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
