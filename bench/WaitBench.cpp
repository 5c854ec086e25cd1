// kest-wait-bench: how fast the serial backend's waits are and what they cost, figures that the
// tests leave alone (they check what a wait does, never how long it takes or what it burns):
//   idle_wait       a 100 ms wait for input on an idle pseudo-terminal, how long it took
//   hung_up_loop    a read loop as the driver runs it, for a second on a hung-up device: CPU
//   unplugged       the monitor window retrying an adapter that was pulled out: CPU
// Prints one "name: value unit" line per figure, like kest-bench; judges nothing.
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>

#include "bench/EventLoop.h"
#include "bench/Figures.h"
#include "platform/PortMap.h"
#include "platform/PseudoTerminal.h"
#include "platform/SerialApi.h"
#include "sim/KestSimulator.h"
#include "ui/Kest3GraphMain.h"

namespace {

using bench::Figure;
using bench::ProcessCpuSeconds;
using bench::RunFor;
using bench::SecondsSince;
using bench::TClock;

// COM1 on a fresh pseudo-terminal, opened through the system's backend.
struct TIdleLine {
  platform::TPseudoTerminal Far;
  platform::TPortMap Ports;
  std::unique_ptr<platform::TSerialApi> Api = platform::CreateSystemSerialApi(Ports);
  platform::TPortHandle Port = platform::InvalidPortHandle;

  bool Open() {
    if (!Far.Open() || !Ports.Map(1, Far.SlavePath())) return false;
    Port = Api->CreateFile(R"(\\.\COM1)");
    return Port != platform::InvalidPortHandle;
  }
  ~TIdleLine() {
    if (Port != platform::InvalidPortHandle) Api->CloseHandle(Port);
  }
};

void IdleWait() {
  TIdleLine line;
  if (!line.Open()) return std::perror("kest-wait-bench: idle line");
  double shortest = 1e9, longest = 0;
  for (int i = 0; i < 10; ++i) {
    const TClock::time_point start = TClock::now();
    line.Api->WaitForInput(line.Port, 100);
    const double ms = SecondsSince(start) * 1000;
    shortest = std::min(shortest, ms);
    longest = std::max(longest, ms);
  }
  Figure("idle_wait.shortest", shortest, "ms (of 100)", 3);
  Figure("idle_wait.longest", longest, "ms (of 100)", 3);
}

// Query, and wait for the rest of the time-out while nothing is queued, as the driver's reads do.
void HungUpLoop() {
  TIdleLine line;
  if (!line.Open()) return std::perror("kest-wait-bench: hung-up line");
  line.Far.Close();  // the far end goes away, as an unplugged adapter does
  const double cpuBefore = ProcessCpuSeconds();
  const TClock::time_point start = TClock::now();
  int passes = 0;
  std::uint32_t errors = 0;
  platform::TComStat stat;
  while (SecondsSince(start) < 1) {
    ++passes;
    if (line.Api->ClearCommError(line.Port, errors, stat) && stat.cbInQue > 0) break;
    line.Api->WaitForInput(line.Port, 50);
  }
  Figure("hung_up_loop.cpu", (ProcessCpuSeconds() - cpuBefore) / SecondsSince(start) * 100, "%core",
         3);
  Figure("hung_up_loop.passes", passes, "in 1 s (50 ms waits)", 0);
}

class TQuietServices : public ui::TUiServices {
 public:
  std::optional<QString> AskSaveFileName(QWidget*, const ui::TSaveDialogOptions&) override {
    return std::nullopt;
  }
  void ShowError(QWidget*, const QString&) override {}
  void ShowErrorAndWait(QWidget*, const QString&) override {}
  void Beep() override {}
  bool IsApplicationActive() override { return true; }
};

// The window on the simulated box behind a link, the box pulled out, three seconds of retries.
void Unplugged() {
  QTemporaryDir folder;
  platform::TPortMap ports;
  const std::string link = folder.filePath(QStringLiteral("ttyKEST")).toStdString();
  ports.Map(1, link);
  sim::TSimConfig config;
  config.LinkPath = link;
  sim::TKestSimulator box(config);
  if (!folder.isValid() || !box.Start()) return std::perror("kest-wait-bench: simulator");
  const std::unique_ptr<platform::TSerialApi> api = platform::CreateSystemSerialApi(ports);
  TQuietServices services;
  ui::TMainWindowOptions options;
  options.SerialApi = api.get();
  options.Services = &services;
  ui::TKest3GraphMain window(std::move(options));
  window.show();
  RunFor(1.5);  // the port opens and the reading comes
  box.Unplug();
  RunFor(1.0);  // the loss is noticed
  const double cpuBefore = ProcessCpuSeconds();
  const TClock::time_point start = TClock::now();
  RunFor(3.0);
  Figure("unplugged.cpu", (ProcessCpuSeconds() - cpuBefore) / SecondsSince(start) * 100,
         "%core (window and simulator thread)", 3);
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  IdleWait();
  HungUpLoop();
  Unplugged();
  return 0;
}
