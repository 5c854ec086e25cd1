// The main window: its layout and menus, the chart, the data log's file, and how it shows what the
// monitoring engine tells it.
#include "ui/Kest3GraphMain.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QScreen>
#include <QWindow>
#include <cmath>
#include <ctime>

#include "sensor/Reading.h"
#include "serial/OpenFailureText.h"
#include "ui/AboutWindows.h"
#include "ui/Pictures.h"

namespace ui {

namespace {

constexpr int ClientWidth = 636;
constexpr int ClientHeight = 420;
constexpr int StatusBarHeight = 22;
constexpr int ChartWidth = 400;
constexpr int ChartHeight = 200;
constexpr double ChartYScale = 28.57142857;  // pixels per AFR unit: AFR 10 to 17 over 200 rows

const int AfrGridRows[] = {28, 57, 86, 114, 143, 171};
const int LambdaGridRows[] = {8, 50, 92, 134, 176};

QFont ArialFont(int pixelHeight, bool bold = false) {
  QFont font(QStringLiteral("Arial"));
  // The labels were sized for Arial. Where the system has no Arial and no font substitution for it
  // (Wine, a bare Windows image), its metric twin keeps them from being clipped by a serif face.
  font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(pixelHeight);
  font.setBold(bold);
  return font;
}

void SetTextColor(QWidget* widget, const QColor& color) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Active, QPalette::WindowText, color);
  palette.setColor(QPalette::Inactive, QPalette::WindowText, color);
  widget->setPalette(palette);
}

QLabel* MakeLabel(QWidget* parent, const QString& text, QRect geometry, const QFont& font,
                  const QColor& color = QColor(), Qt::Alignment alignment = Qt::AlignLeft) {
  auto* label = new QLabel(text, parent);
  label->setFont(font);
  if (color.isValid()) SetTextColor(label, color);
  label->setAlignment(alignment | Qt::AlignVCenter);
  label->setGeometry(geometry);
  return label;
}

QFrame* MakeBevel(QWidget* parent, QRect geometry, int shape, int shadow) {
  auto* bevel = new QFrame(parent);
  bevel->setFrameStyle(shape | shadow);
  bevel->setGeometry(geometry);
  bevel->setAttribute(Qt::WA_TransparentForMouseEvents);
  return bevel;
}

TLamp* MakeLamp(QWidget* parent, QRect geometry) {
  auto* lamp = new TLamp(parent);
  lamp->setGeometry(geometry);
  return lamp;
}

// The client area below the menu bar; the outer bevel follows its size.
class TClientArea : public QWidget {
 public:
  using QWidget::QWidget;
  QFrame* Follower = nullptr;

 protected:
  void resizeEvent(QResizeEvent*) override {
    if (Follower != nullptr) Follower->setGeometry(rect());
  }
};

}  // namespace

int ChartYOf(std::uint8_t afrByte) {
  double afr = afrByte / 10.0;
  if (afr < 10.0) afr = 10.0;
  if (afr > 20.0) afr = 20.0;
  int y = static_cast<int>(std::lround((afr - 10.0) * ChartYScale));
  if (y > ChartHeight - 1) y = ChartHeight - 1;
  return y;
}

namespace {

platform::TSerialApi& SerialApiOf(const TMainWindowOptions& options) {
  return options.SerialApi != nullptr ? *options.SerialApi : platform::SystemSerialApi();
}

}  // namespace

TKest3GraphMain::TKest3GraphMain(TMainWindowOptions options)
    : Engine(SerialApiOf(options), *this, monitor::EngineSettingsOf(options.Locale, options.Now)),
      OwnServices(options.Services != nullptr ? nullptr : std::make_unique<TDesktopServices>()),
      Services(options.Services != nullptr ? *options.Services : *OwnServices),
      Locale(std::move(options.Locale)),
      Ports(options.Ports) {
  connect(qApp, &QGuiApplication::focusWindowChanged, this, &TKest3GraphMain::OnFocusWindowChanged);
  BuildControls();
  BuildMenus();
  FormCreate();
  if (Ports != nullptr) Ports->OnChange = [this] { PortDevicesChanged(); };
  UpdatePortToolTips();
  Engine.Start();
}

TKest3GraphMain::~TKest3GraphMain() {
  if (Ports != nullptr) Ports->OnChange = nullptr;
  FormDestroy();
}

void TKest3GraphMain::BuildControls() {
  setWindowTitle(QString::fromLatin1(MainWindowCaption));
  setFont(ArialFont(14));
  auto* client = new TClientArea(this);
  setCentralWidget(client);
  // Created beneath-first, panel by panel in the order they stack: bevels, then the drawn
  // controls, then those with windows of their own.
  BuildBevels(client);
  client->Follower = Bevel5;
  BuildChart(client);
  BuildReadout(client);
  BuildDataLog(client);
  BuildSampleRate(client);
  BuildSupplyAndStatus(client);

  // Only the two buttons and the slider take the keyboard focus, in this order.
  for (QWidget* w : client->findChildren<QWidget*>()) w->setFocusPolicy(Qt::NoFocus);
  LogStart->setFocusPolicy(Qt::StrongFocus);
  LogStop->setFocusPolicy(Qt::StrongFocus);
  TrackBar1->setFocusPolicy(Qt::StrongFocus);
  setTabOrder(LogStart, LogStop);
  setTabOrder(LogStop, TrackBar1);

  BuildStatusBar();
}

void TKest3GraphMain::BuildBevels(QWidget* c) {
  Bevel5 = MakeBevel(c, {0, 0, ClientWidth, ClientHeight - StatusBarHeight}, QFrame::Panel,
                     QFrame::Sunken);
  Bevel2 = MakeBevel(c, {104, 46, ChartWidth, ChartHeight}, QFrame::Box, QFrame::Sunken);
  Bevel4 = MakeBevel(c, {78, 261, 138, 110}, QFrame::Panel, QFrame::Raised);
  Bevel6 = MakeBevel(c, {105, 270, 84, 26}, QFrame::Panel, QFrame::Sunken);
  Bevel1 = MakeBevel(c, {233, 261, 184, 110}, QFrame::Panel, QFrame::Sunken);
  Bevel3 = MakeBevel(c, {434, 261, 140, 110}, QFrame::Panel, QFrame::Raised);
  Bevel7 = MakeBevel(c, {462, 270, 83, 26}, QFrame::Panel, QFrame::Sunken);
}

void TKest3GraphMain::BuildChart(QWidget* c) {
  PaintBox1 = new TPaintBox(c, ChartWidth, ChartHeight);
  PaintBox1->setGeometry(104, 46, ChartWidth, ChartHeight);
  PaintBox1->OnPaint = [this] { PaintBox1Paint(); };

  WarmupMessage = MakeLabel(c, QStringLiteral("PLEASE WAIT WARMUP "), {179, 17, 216, 21},
                            ArialFont(18, true), clGreen);
  WarmupMessage->hide();
  Image1 = new QLabel(c);
  Image1->setGeometry(515, 8, 111, 56);
  Image1->setPixmap(QPixmap::fromImage(LogoPicture(111, 56)));
  Image1->setScaledContents(true);
  Image1->setToolTip(QString::fromLatin1(MakerWebAddress));

  struct TAxisLabel {
    const char* Caption;
    QRect Geometry;
  };
  const TAxisLabel afrLabels[8] = {{"10", {82, 37, 16, 18}},  {"11", {82, 66, 16, 18}},
                                   {"12", {82, 95, 16, 18}},  {"13", {82, 124, 16, 18}},
                                   {"14", {82, 153, 16, 18}}, {"15", {82, 182, 16, 18}},
                                   {"16", {82, 211, 16, 18}}, {"17", {82, 239, 16, 18}}};
  const TAxisLabel lambdaLabels[5] = {{"0.70", {72, 48, 28, 18}},
                                      {"0.80", {72, 88, 28, 18}},
                                      {"0.90", {72, 128, 28, 18}},
                                      {"1.0", {80, 168, 20, 18}},
                                      {"1.1", {80, 216, 20, 18}}};
  for (int i = 0; i < 8; ++i)
    AfrAxisLabels[i] = MakeLabel(c, QString::fromLatin1(afrLabels[i].Caption),
                                 afrLabels[i].Geometry, ArialFont(15, true));
  for (int i = 0; i < 5; ++i)
    LambdaAxisLabels[i] = MakeLabel(c, QString::fromLatin1(lambdaLabels[i].Caption),
                                    lambdaLabels[i].Geometry, ArialFont(15, true));

  LambdaPIC = new QLabel(c);
  LambdaPIC->setGeometry(32, 120, 25, 33);
  LambdaPIC->setAlignment(Qt::AlignLeft | Qt::AlignTop);  // unscaled, at the top-left corner
  LambdaPIC->setPixmap(QPixmap::fromImage(LambdaBitmap()));
  LambdaPIC->hide();
}

void TKest3GraphMain::BuildReadout(QWidget* c) {
  DigitalDisplay = MakeLabel(c, QStringLiteral(" "), {374, 270, 20, 81}, ArialFont(72), QColor(),
                             Qt::AlignRight);
  // Nothing is live before the first frame: the chart must not plot the empty frame's reading in
  // the quarter second before the watchdog's first tick would grey it.
  DigitalDisplay->setEnabled(false);
  // Drawn after the read-out so that it lies on top where the two meet.
  Label3 = MakeLabel(c, QStringLiteral("Air Fuel Ratio"), {266, 347, 118, 21}, ArialFont(18, true));
  FuelTypeLabel = MakeLabel(c, QString(), {273, 375, 4, 16}, ArialFont(14));

  LowVoltsLED = MakeLamp(c, {177, 344, 38, 17});
  WarmupLED = MakeLamp(c, {542, 302, 37, 17});
  OnlineLED = MakeLamp(c, {542, 322, 37, 17});
  LogToDiskLED = MakeLamp(c, {542, 342, 37, 17});

  GraphYLabel = MakeLabel(c, QStringLiteral("AFR"), {32, 152, 30, 20}, ArialFont(13, true),
                          QColor(), Qt::AlignHCenter);
}

void TKest3GraphMain::BuildDataLog(QWidget* c) {
  Panel2 = MakeLabel(c, QStringLiteral("Panel2"), {520, 72, 97, 113}, ArialFont(14), QColor(),
                     Qt::AlignHCenter);
  Panel2->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Panel2->setAutoFillBackground(true);
  Panel1 = MakeLabel(c, QStringLiteral("DATA LOG"), {528, 80, 81, 25}, ArialFont(13, true), clNavy,
                     Qt::AlignHCenter);
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  Panel1->setAutoFillBackground(true);
  LogStart = new QPushButton(QStringLiteral("START"), c);
  LogStart->setGeometry(528, 111, 81, 28);
  connect(LogStart, &QPushButton::clicked, this, &TKest3GraphMain::LogStartClick);
  LogStop = new QPushButton(QStringLiteral("STOP"), c);
  LogStop->setGeometry(528, 149, 81, 28);
  LogStop->setEnabled(false);
  connect(LogStop, &QPushButton::clicked, this, &TKest3GraphMain::LogStopClick);
}

void TKest3GraphMain::BuildSampleRate(QWidget* c) {
  StaticText9 =
      MakeLabel(c, QStringLiteral("SAMPLE RATE"), {528, 190, 85, 19}, ArialFont(12, true), clNavy);
  TrackBar1 = new QSlider(Qt::Vertical, c);
  TrackBar1->setGeometry(520, 210, 25, 41);
  TrackBar1->setRange(1, 2);
  TrackBar1->setValue(2);
  TrackBar1->setInvertedAppearance(true);  // position 1 ("FAST") at the top
  TrackBar1->setTickPosition(QSlider::TicksRight);
  TrackBar1->setTickInterval(1);
  TrackBar1->setPageStep(1);
  TrackBar1->setCursor(Qt::PointingHandCursor);
  connect(TrackBar1, &QSlider::valueChanged, this, &TKest3GraphMain::TrackBar1Change);
  StaticText1 =
      MakeLabel(c, QStringLiteral("FAST"), {552, 212, 33, 19}, ArialFont(12, true), clNavy);
  StaticText7 =
      MakeLabel(c, QStringLiteral("NORMAL"), {552, 234, 54, 19}, ArialFont(12, true), clNavy);
}

void TKest3GraphMain::BuildSupplyAndStatus(QWidget* c) {
  StaticText6 =
      MakeLabel(c, QStringLiteral("POWER"), {123, 274, 53, 20}, ArialFont(13, true), clNavy);
  VoltsDisplay = MakeLabel(c, QString(), {121, 311, 4, 4}, ArialFont(17));
  VoltsDisplay->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  VoltsDisplay->setEnabled(false);
  StaticText3 = MakeLabel(c, QStringLiteral("LOW VOLTS"), {94, 344, 80, 20}, ArialFont(13), clNavy,
                          Qt::AlignRight);

  StaticText4 =
      MakeLabel(c, QStringLiteral("STATUS"), {480, 274, 56, 20}, ArialFont(13, true), clNavy);
  StaticText5 = MakeLabel(c, QStringLiteral("WARMUP"), {472, 302, 64, 20}, ArialFont(13), clNavy,
                          Qt::AlignRight);
  StaticText2 = MakeLabel(c, QStringLiteral("KEST ONLINE"), {448, 322, 93, 20}, ArialFont(13),
                          clNavy, Qt::AlignRight);
  StaticText8 = MakeLabel(c, QStringLiteral("LOG TO DISK"), {448, 342, 86, 20}, ArialFont(13),
                          clNavy, Qt::AlignRight);

  TempBar = new QProgressBar(c);
  TempBar->setOrientation(Qt::Vertical);
  TempBar->setGeometry(584, 264, 9, 105);
  TempBar->setRange(0, 50);
  TempBar->setValue(10);
  TempBar->setTextVisible(false);
}

void TKest3GraphMain::BuildStatusBar() {
  StatusBar1 = new QStatusBar(this);
  StatusBar1->setSizeGripEnabled(false);
  StatusBar1->setFixedHeight(StatusBarHeight);
  StatusText = new QLabel(StatusBar1);
  StatusBar1->addWidget(StatusText, 1);
  setStatusBar(StatusBar1);
}

void TKest3GraphMain::BuildMenus() {
  QMenuBar* bar = menuBar();
  Setup1 = bar->addMenu(QStringLiteral("Select Port"));
  // The items keep their names; what stands behind each number is told in its tool tip.
  Setup1->setToolTipsVisible(true);
  for (int n = 1; n <= 8; ++n) {
    QAction* item = Setup1->addAction(QStringLiteral("COM%1").arg(n));
    item->setCheckable(true);
    connect(item, &QAction::triggered, this, [this, n] { PortItemClick(n); });
    PortItems[n - 1] = item;
  }
  Petrol1 = bar->addMenu(QStringLiteral("Fuel Type"));
  Petrol2 = Petrol1->addAction(QStringLiteral("Petrol (Gasoline)"));
  Methanol1 = Petrol1->addAction(QStringLiteral("Methanol/Alcohol"));
  Propane1 = Petrol1->addAction(QStringLiteral("Propane (LPG)"));
  DisplayType1 = bar->addMenu(QStringLiteral("Display Type"));
  AirFuelRatio1 = DisplayType1->addAction(QStringLiteral("Air Fuel Ratio"));
  Lambda1 = DisplayType1->addAction(QStringLiteral("Lambda"));
  for (QAction* item : {Petrol2, Methanol1, Propane1, AirFuelRatio1, Lambda1})
    item->setCheckable(true);
  connect(Petrol2, &QAction::triggered, this, &TKest3GraphMain::Petrol2Click);
  connect(Methanol1, &QAction::triggered, this, &TKest3GraphMain::Methanol1Click);
  connect(Propane1, &QAction::triggered, this, &TKest3GraphMain::Propane1Click);
  connect(AirFuelRatio1, &QAction::triggered, this, &TKest3GraphMain::AirFuelRatio1Click);
  connect(Lambda1, &QAction::triggered, this, &TKest3GraphMain::Lambda1Click);
  Help1 = bar->addMenu(QStringLiteral("Help"));
  L1 = Help1->addAction(QStringLiteral("About Log to Disk"));
  About1 = Help1->addAction(QStringLiteral("About KestGraph"));
  connect(L1, &QAction::triggered, this, &TKest3GraphMain::L1Click);
  connect(About1, &QAction::triggered, this, &TKest3GraphMain::About1Click);

  // The client area is 636 x 420 below the menu bar; the window opens centred on the screen.
  resize(ClientWidth, bar->sizeHint().height() + ClientHeight);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
}

// ---------------------------------------------------------------------------------------------
// Start, activation and exit

void TKest3GraphMain::FormCreate() {
  SetApplicationTitle(QString::fromLatin1(ApplicationTitle));
  Engine.SetFuelType(sensor::ftPetrol);
  Engine.SetDisplayMode(sensor::dmAirFuelRatio);
  Petrol2->setChecked(true);
  AirFuelRatio1->setChecked(true);
  Methanol1->setChecked(false);
  Propane1->setChecked(false);
  Lambda1->setChecked(false);
  PortItems[0]->setChecked(true);
  PortItems[1]->setChecked(false);
  Engine.SetComPort(1);
  ChartState.ChartX = 1;
  AirFuelRatio1Click();
  Petrol2Click();
}

void TKest3GraphMain::OpenCommsClick() { Engine.OpenCommsClick(true); }

void TKest3GraphMain::PortChanged(const monitor::TPortEvent& event) {
  using TKind = monitor::TPortEvent::TKind;
  // A call that fails on a port that stays open changes nothing the status bar shows; its tool
  // tip tells why, from when the failure begins until the port's next event.
  const std::string fault = PortFailureText(event.Fault);
  if (event.Kind == TKind::Faulted) {
    StatusText->setToolTip(
        QString::fromStdString("COM" + std::to_string(event.Number) + ": " + fault));
    return;
  }
  const bool opened = event.Kind == TKind::Opened || event.Kind == TKind::Reopened;
  ReportOpenResult(opened, event.Number, event.Kind == TKind::Failed && event.UserAsked,
                   event.Failure);
  // A lost device: what showed it gone, under why the port is closed.
  if (!fault.empty()) {
    StatusText->setToolTip(StatusText->toolTip() + QLatin1Char('\n') +
                           QString::fromStdString(fault));
  }
}

void TKest3GraphMain::ReportOpenResult(bool opened, int number, bool beepOnFailure,
                                       const platform::TOpenFailure& why) {
  if (opened) {
    SetStatusText(QStringLiteral("Com%1 Port Open").arg(number));
  } else {
    SetStatusText(QStringLiteral("Error: could not open Com%1").arg(number));
    if (beepOnFailure) Services.Beep();
  }
  // The status text stays as it always was; its tool tip tells which device the number stands
  // for, or why the open failed and what to do about it.
  const std::string name = "COM" + std::to_string(number);
  std::string tip;
  if (!opened) {
    // The fix on a line of its own: a tool tip is not wrapped.
    tip = OpenFailureText(name, why, "\n");
  } else if (Ports != nullptr) {
    tip = name + ": " + Ports->Describe(number);
  }
  StatusText->setToolTip(QString::fromStdString(tip));
}

// A device came or went: the menu's tool tips follow. A chosen port that is not open (its adapter
// was not plugged in yet) is tried again at once, quietly, so that plugging the adapter in is all a
// user has to do; one that the keeper is waiting for is left to the keeper.
void TKest3GraphMain::PortDevicesChanged() {
  UpdatePortToolTips();
  if (Destroyed || !InitialOpenDone) return;
  Engine.OpenQuietly();
}

void TKest3GraphMain::UpdatePortToolTips() {
  if (Ports == nullptr) return;
  for (int n = 1; n <= 8; ++n) {
    PortItems[n - 1]->setToolTip(QString::fromStdString(Ports->Describe(n)));
  }
  if (Engine.State().PortOpen) {
    const int number = Engine.ComPortNumber();
    StatusText->setToolTip(
        QString::fromStdString("COM" + std::to_string(number) + ": " + Ports->Describe(number)));
  }
}

void TKest3GraphMain::FormDestroy() {
  if (Destroyed) return;
  Destroyed = true;
  Engine.StopTimers();
  if (Engine.State().Logging) {
    Engine.StopLogging();
    try {
      LogFile.Close();
    } catch (const csvlog::TLogFileError& error) {
      // No window is left to show a box that waits for no one; this one waits to be read.
      Services.ShowErrorAndWait(this, QString::fromStdString(error.what()));
    }
  }
  Engine.ClosePort();
}

// The port is opened when the window becomes the active window of the program: the first time
// after start-up, and again whenever the focus comes back from one of our other windows (an About
// window, a dialog), so a port that failed is tried again then. Coming back from another program
// is not such an activation: it neither retries nor beeps.
bool TKest3GraphMain::event(QEvent* e) {
  if (e->type() == QEvent::WindowActivate) {
    // The toolkit reports the new focus window only after this event, so LastFocusWindow still
    // names the window that had the focus before.
    const QWindow* before = LastFocusWindow;
    if (before == nullptr) {
      if (!InitialOpenDone) {
        InitialOpenDone = true;
        OpenCommsClick();
      }
    } else if (before != windowHandle()) {
      OpenCommsClick();
    }
  }
  return QMainWindow::event(e);
}

void TKest3GraphMain::OnFocusWindowChanged(QWindow* window) {
  if (window != nullptr) LastFocusWindow = window;  // null: another program has the focus
}

void TKest3GraphMain::showEvent(QShowEvent* e) {
  QMainWindow::showEvent(e);
  // A desktop without a window manager never activates the window; the port is opened all the
  // same once the window is up.
  QTimer::singleShot(0, this, [this] {
    if (InitialOpenDone) return;
    InitialOpenDone = true;
    OpenCommsClick();
  });
}

void TKest3GraphMain::closeEvent(QCloseEvent* e) {
  // The log is closed while the window still stands, so a failure can still be shown to the user.
  FormDestroy();
  QMainWindow::closeEvent(e);
}

void TKest3GraphMain::SetApplicationTitle(const QString& title) {
  FApplicationTitle = title;
  setWindowIconText(title);
}

void TKest3GraphMain::SetStatusText(const QString& text) { StatusText->setText(text); }

QString TKest3GraphMain::StatusBarText() const { return StatusText->text(); }

// ---------------------------------------------------------------------------------------------
// The engine's handlers, and what the engine tells the window

void TKest3GraphMain::SerialPortDriverReceiveData3(TSerialPortDriver* sender, const void* data,
                                                   std::uint32_t size) {
  Engine.SerialPortDriverReceiveData3(sender, data, size);
}

void TKest3GraphMain::GetByteClick() { Engine.GetByteClick(); }

void TKest3GraphMain::OnlineTimerTimer() { Engine.OnlineTimerTimer(); }

double TKest3GraphMain::CalcKest() const { return Engine.CalcKest(); }

void TKest3GraphMain::TrackBar1Change() { Engine.SetFast(TrackBar1->value() == 1); }

void TKest3GraphMain::LampChanged(monitor::TLamp lamp, bool on) {
  switch (lamp) {
    case monitor::TLamp::Online:
      OnlineLED->SetBrushColor(on ? clGreen : clBtnFace());
      break;
    case monitor::TLamp::Warmup:
      WarmupLED->SetBrushColor(on ? clGreen : clBtnFace());
      break;
    case monitor::TLamp::LowVolts:
      LowVoltsLED->SetBrushColor(on ? clRed : clBtnFace());
      break;
  }
}

void TKest3GraphMain::WarmupMessageChanged(bool shown) { WarmupMessage->setVisible(shown); }

void TKest3GraphMain::ReadoutChanged(const std::string& text) {
  SetDigitalDisplayText(QString::fromStdString(text));
}

// A disabled label is drawn greyed, which is how a stale reading looks.
void TKest3GraphMain::ReadoutEnabledChanged(bool enabled) { DigitalDisplay->setEnabled(enabled); }

void TKest3GraphMain::VoltsChanged(const std::string& text) {
  SetVoltsDisplayText(QString::fromStdString(text));
}

void TKest3GraphMain::VoltsEnabledChanged(bool enabled) { VoltsDisplay->setEnabled(enabled); }

void TKest3GraphMain::TempBarChanged(int value) { TempBar->setValue(value); }

// Task bars and task switchers show a window's title, not its icon name: the reading goes into
// both while the program is in the background, and the caption comes back with it.
void TKest3GraphMain::TitleChanged(const std::string& reading) {
  if (reading.empty()) {
    SetApplicationTitle(QString::fromLatin1(ApplicationTitle));
    setWindowTitle(QString::fromLatin1(MainWindowCaption));
  } else {
    SetApplicationTitle(QString::fromStdString(reading));
    setWindowTitle(QString::fromStdString(reading));
  }
}

bool TKest3GraphMain::IsApplicationActive() { return Services.IsApplicationActive(); }

void TKest3GraphMain::ChartStepDue() { DrawGraph(); }

bool TKest3GraphMain::LogRowDue(const std::string& row) {
  try {
    LogFile.WriteLine(row);
  } catch (const csvlog::TLogFileError& error) {
    ReportFileError(error);
    return false;
  }
  return true;
}

void TKest3GraphMain::SetAutoSizedText(QLabel* label, const QString& text) {
  if (label->text() == text) return;
  label->setText(text);
  label->adjustSize();
}

void TKest3GraphMain::SetDigitalDisplayText(const QString& text) {
  // The read-out is right-aligned: it keeps its right edge where it is and grows to the left.
  const int right = DigitalDisplay->x() + DigitalDisplay->width();
  SetAutoSizedText(DigitalDisplay, text);
  DigitalDisplay->move(right - DigitalDisplay->width(), DigitalDisplay->y());
}

void TKest3GraphMain::SetVoltsDisplayText(const QString& text) {
  SetAutoSizedText(VoltsDisplay, text);
}

// ---------------------------------------------------------------------------------------------
// The strip chart

// The low-volts lamp that used to be stepped here is the engine's: it steps it just before it asks
// for the chart step.
void TKest3GraphMain::DrawGraph() {
  TChartState& s = ChartState;
  if (s.ChartX == 1) DrawGraphGrid();
  s.ChartY = ChartYOf(Engine.State().SensorFrame.AfrByte);
  s.ChartX += 2;
  TChartCanvas& canvas = PaintBox1->Canvas();
  canvas.PenColor = clBlue;
  PaintBox1->ShowDrawn(canvas.Line(s.ChartPrevX, s.ChartPrevY, s.ChartX, s.ChartY));
  canvas.PenColor = clBlack;
  s.ChartPrevY = s.ChartY;
  s.ChartPrevX = s.ChartX;
  if (s.ChartX > ChartWidth) {
    // The repaint sets ChartX to 401 while it runs; the new sweep starts only after it returns.
    PaintBox1->Repaint();
    s.ChartX = 1;
    s.ChartPrevX = 1;
  }
}

void TKest3GraphMain::DrawGraphGrid() {
  TChartCanvas& canvas = PaintBox1->Canvas();
  QRect drawn;
  if (AirFuelRatio1->isChecked()) {
    canvas.PenStyle = TPenStyle::psDot;
    for (int y : AfrGridRows) drawn |= canvas.Line(0, y, ChartWidth, y);
    canvas.PenStyle = TPenStyle::psSolid;
  }
  if (Lambda1->isChecked()) {
    canvas.PenStyle = TPenStyle::psDot;
    for (int y : LambdaGridRows) drawn |= canvas.Line(0, y, ChartWidth, y);
    canvas.PenStyle = TPenStyle::psSolid;
  }
  PaintBox1->ShowDrawn(drawn);
}

void TKest3GraphMain::PaintBox1Paint() {
  ChartState.ChartX = ChartWidth + 1;  // a restart is now pending
  DrawGraphGrid();
}

// ---------------------------------------------------------------------------------------------
// Menus

void TKest3GraphMain::PortItemClick(int number) {
  SetStatusText(QStringLiteral("Change Com Port"));
  for (int n = 1; n <= 8; ++n) PortItems[n - 1]->setChecked(n == number);
  Engine.SelectPort(number);
}

void TKest3GraphMain::FuelItemClick(int fuelType, QAction* item, const char* fuelLabel,
                                    bool showAfrLabels) {
  Engine.SetFuelType(fuelType);
  for (QAction* fuel : {Petrol2, Methanol1, Propane1}) fuel->setChecked(fuel == item);
  SetAutoSizedText(FuelTypeLabel, QString::fromLatin1(fuelLabel));
  for (QLabel* label : AfrAxisLabels) label->setVisible(showAfrLabels);
}

void TKest3GraphMain::Petrol2Click() {
  FuelItemClick(sensor::ftPetrol, Petrol2, "Petrol/Gasoline", true);
}

void TKest3GraphMain::Methanol1Click() {
  // The chart is always scaled in petrol AFR, so its AFR labels only fit petrol.
  FuelItemClick(sensor::ftMethanol, Methanol1, "Methanol/Alcohol", false);
}

void TKest3GraphMain::Propane1Click() {
  FuelItemClick(sensor::ftPropane, Propane1, "Propane/LPG", false);
}

void TKest3GraphMain::AirFuelRatio1Click() {
  Engine.SetDisplayMode(sensor::dmAirFuelRatio);
  AirFuelRatio1->setChecked(true);
  Lambda1->setChecked(false);
  FuelTypeLabel->show();
  SetAutoSizedText(Label3, QStringLiteral("Air Fuel Ratio"));
  GraphYLabel->setText(QStringLiteral("AFR"));
  Petrol1->menuAction()->setEnabled(true);
  PaintBox1->Repaint();
  if (Engine.State().FuelType == sensor::ftPetrol)
    for (QLabel* label : AfrAxisLabels) label->show();
  for (QLabel* label : LambdaAxisLabels) label->hide();
  LambdaPIC->hide();
}

void TKest3GraphMain::Lambda1Click() {
  Engine.SetDisplayMode(sensor::dmLambda);
  Lambda1->setChecked(true);
  AirFuelRatio1->setChecked(false);
  SetAutoSizedText(Label3, QStringLiteral("   Lambda"));
  GraphYLabel->setText(QStringLiteral(" "));
  FuelTypeLabel->hide();
  Petrol1->menuAction()->setEnabled(false);
  PaintBox1->Repaint();
  for (QLabel* label : AfrAxisLabels) label->hide();
  for (QLabel* label : LambdaAxisLabels) label->show();
  LambdaPIC->show();
}

void TKest3GraphMain::L1Click() {
  if (AboutKest3GraphDiskLog != nullptr) ShowAboutWindow(AboutKest3GraphDiskLog);
}

void TKest3GraphMain::About1Click() {
  if (AboutKest3Graph != nullptr) ShowAboutWindow(AboutKest3Graph);
}

// ---------------------------------------------------------------------------------------------
// The data log

void TKest3GraphMain::LogStartClick() {
  const std::optional<QString> path = Services.AskSaveFileName(this, TSaveDialogOptions{});
  if (!path) return;
  LogFileName = path->toStdString();
  try {
    LogFile.Create(LogFileName);
    const std::string date = platform::FormatLocalTime(
        Locale.ShortDateFormat, static_cast<std::time_t>(Engine.Now().toSecsSinceEpoch()));
    // The header goes to the system with the first row: a full disk is reported on the row that
    // hits it, while the log runs and "STOP" is at hand.
    using csvlog::TCsvLogFile;
    LogFile.WriteLine(csvlog::LogHeaderLine1(date), TCsvLogFile::TFlush::WithNextLine);
    LogFile.WriteLine(csvlog::LogHeaderLine2, TCsvLogFile::TFlush::WithNextLine);
  } catch (const csvlog::TLogFileError& error) {
    // A file whose header could not be written is of no use; it is let go so that the next
    // "START" begins afresh.
    try {
      if (LogFile.IsOpen()) LogFile.Close();
    } catch (const csvlog::TLogFileError&) {
    }
    ReportFileError(error);
    return;
  }
  Engine.StartLogging();
  LogToDiskLED->SetBrushColor(clGreen);
  LogStop->setEnabled(true);
  LogStart->setEnabled(false);
}

void TKest3GraphMain::LogStopClick() {
  Engine.StopLogging();
  std::optional<csvlog::TLogFileError> failure;
  try {
    LogFile.Close();
  } catch (const csvlog::TLogFileError& error) {
    failure = error;
  }
  // The close was the log's last operation: whatever it said, the log is over.
  LogToDiskLED->SetBrushColor(clBtnFace());
  LogStop->setEnabled(false);
  LogStart->setEnabled(true);
  if (failure) ReportFileError(*failure);
}

void TKest3GraphMain::ReportFileError(const std::exception& error) {
  Services.ShowError(this, QString::fromStdString(error.what()));
}

}  // namespace ui
