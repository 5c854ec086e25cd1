// TKest3GraphMain: the main window, the view of the monitoring engine. The engine owns the serial
// port driver and the two timers that give the program its rhythm and runs the receive handler,
// the sample tick and the watchdog; the window draws what the engine tells it and owns the strip
// chart, the menus, the dialogs, the data log's file and the layout.
//
// Every handler runs on the GUI thread, one at a time. The engine's handlers keep their names here
// as thin methods, so the window still reads like the behaviour it implements.
#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>
#include <string>

#include "log/CsvLog.h"
#include "monitor/MonitorEngine.h"
#include "platform/Locale.h"
#include "serial/PortDirectory.h"
#include "ui/Lamp.h"
#include "ui/PaintBox.h"
#include "ui/UiServices.h"

class QAction;
class QFrame;
class QMenu;
class QWindow;

namespace ui {

// The program-wide title, kept as the window's icon name; the caption is the window title, which
// task bars show, and gives way to the reading while the program is in the background.
inline constexpr const char* ApplicationTitle = "Torvane KEST";
inline constexpr const char* MainWindowCaption = "Torvane LSU4 KEST INTERFACE";

// Chart row for a petrol-scale AFR byte: AFR 10 (and richer) on the top edge, 17 and leaner on the
// bottom row.
int ChartYOf(std::uint8_t afrByte);

struct TMainWindowOptions {
  platform::TSerialApi* SerialApi = nullptr;  // null: the system's serial ports, unmapped
  TUiServices* Services = nullptr;            // null: the real desktop
  // The devices behind the COM numbers, for the port menu's tool tips; null: none shown. Must
  // outlive the window; the window takes its OnChange.
  TPortDirectory* Ports = nullptr;
  platform::TLocaleFormats Locale = platform::UserLocaleFormats();
  // The wall clock the log is stamped with; null: the system's.
  std::function<QDateTime()> Now;
};

// The strip chart's pen positions.
struct TChartState {
  int ChartX = 0, ChartPrevX = 0, ChartY = 0, ChartPrevY = 0;
};

class TKest3GraphMain : public QMainWindow, public monitor::TMonitorView {
  Q_OBJECT
 public:
  explicit TKest3GraphMain(TMainWindowOptions options = {});
  ~TKest3GraphMain() override;

  // --- Components ---
  // The engine: the driver, the timers and the monitoring state are its own; the window changes
  // them through its commands and reads its state through State().
  monitor::TMonitorEngine Engine;
  TChartState ChartState;
  csvlog::TCsvLogFile LogFile;  // open exactly while the engine is logging
  std::string LogFileName;

  // --- Controls, by the names the handlers use ---
  QFrame* Bevel5;
  QStatusBar* StatusBar1;
  QLabel* StatusText;  // the status bar's one text panel
  QLabel* WarmupMessage;
  QLabel* Image1;
  QFrame* Bevel2;
  TPaintBox* PaintBox1;
  std::array<QLabel*, 8> AfrAxisLabels;     // Label1, Label4, Label5, Label6, Label10 .. Label13
  std::array<QLabel*, 5> LambdaAxisLabels;  // Label7, Label8, Label9, Label14, Label15
  QLabel* GraphYLabel;
  QLabel* LambdaPIC;
  QLabel* Panel2;
  QLabel* Panel1;
  QPushButton* LogStart;
  QPushButton* LogStop;
  QLabel* StaticText9;
  QSlider* TrackBar1;
  QLabel* StaticText1;
  QLabel* StaticText7;
  QFrame* Bevel4;
  QFrame* Bevel6;
  QLabel* StaticText6;
  QLabel* VoltsDisplay;
  QLabel* StaticText3;
  TLamp* LowVoltsLED;
  QFrame* Bevel1;
  QLabel* DigitalDisplay;
  QLabel* Label3;
  QLabel* FuelTypeLabel;
  QFrame* Bevel3;
  QFrame* Bevel7;
  QLabel* StaticText4;
  QLabel* StaticText5;
  TLamp* WarmupLED;
  QLabel* StaticText2;
  TLamp* OnlineLED;
  QLabel* StaticText8;
  TLamp* LogToDiskLED;
  QProgressBar* TempBar;

  // --- Menus ---
  QMenu* Setup1;
  std::array<QAction*, 8> PortItems;  // COM11, Com21 .. Com81
  QMenu* Petrol1;
  QAction* Petrol2;
  QAction* Methanol1;
  QAction* Propane1;
  QMenu* DisplayType1;
  QAction* AirFuelRatio1;
  QAction* Lambda1;
  QMenu* Help1;
  QAction* L1;
  QAction* About1;

  // The information windows the Help menu shows; created by the program entry.
  QWidget* AboutKest3Graph = nullptr;
  QWidget* AboutKest3GraphDiskLog = nullptr;

  // The application title: the window's icon name; while it carries the reading, the window
  // title (what task bars show) carries it too.
  QString ApplicationTitleText() const { return FApplicationTitle; }
  QString StatusBarText() const;

  // --- Handlers ---
  void FormCreate();
  void OpenCommsClick();
  void FormDestroy();
  void SerialPortDriverReceiveData3(TSerialPortDriver* Sender, const void* DataPtr,
                                    std::uint32_t DataSize);
  void GetByteClick();
  void TrackBar1Change();
  void OnlineTimerTimer();
  double CalcKest() const;
  void DrawGraph();
  void DrawGraphGrid();
  void PaintBox1Paint();
  void PortItemClick(int number);  // COM11Click .. Com81Click differ only in the number
  void Petrol2Click();
  void Methanol1Click();
  void Propane1Click();
  void AirFuelRatio1Click();
  void Lambda1Click();
  void L1Click();
  void About1Click();
  void LogStartClick();
  void LogStopClick();

  // --- What the engine tells its view.
  void LampChanged(monitor::TLamp lamp, bool on) override;
  void WarmupMessageChanged(bool shown) override;
  void ReadoutChanged(const std::string& text) override;
  void ReadoutEnabledChanged(bool enabled) override;
  void VoltsChanged(const std::string& text) override;
  void VoltsEnabledChanged(bool enabled) override;
  void TempBarChanged(int value) override;
  void TitleChanged(const std::string& reading) override;
  bool IsApplicationActive() override;
  void ChartStepDue() override;
  bool LogRowDue(const std::string& row) override;
  void PortChanged(const monitor::TPortEvent& event) override;

 protected:
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void BuildControls();
  void BuildBevels(QWidget* client);
  void BuildChart(QWidget* client);
  void BuildReadout(QWidget* client);
  void BuildDataLog(QWidget* client);
  void BuildSampleRate(QWidget* client);
  void BuildSupplyAndStatus(QWidget* client);
  void BuildStatusBar();
  void BuildMenus();
  void SetApplicationTitle(const QString& title);
  void SetStatusText(const QString& text);
  void ReportOpenResult(bool opened, int number, bool beepOnFailure,
                        const platform::TOpenFailure& why);
  void SetDigitalDisplayText(const QString& text);
  void SetVoltsDisplayText(const QString& text);
  void SetAutoSizedText(QLabel* label, const QString& text);
  void FuelItemClick(int fuelType, QAction* item, const char* fuelLabel, bool showAfrLabels);
  void ReportFileError(const std::exception& error);

  void OnFocusWindowChanged(QWindow* window);
  void PortDevicesChanged();
  void UpdatePortToolTips();

  std::unique_ptr<TUiServices> OwnServices;
  TUiServices& Services;
  platform::TLocaleFormats Locale;
  QString FApplicationTitle;
  bool Destroyed = false;
  bool InitialOpenDone = false;
  QPointer<QWindow> LastFocusWindow;  // the last window of ours that had the focus
  TPortDirectory* Ports;
};

}  // namespace ui
