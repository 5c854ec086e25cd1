// kestview-bench: kestview's figures on a day-long log. It writes a 1,000,000-row classic log
// (about 28 hours at ten rows a second), then opens and draws it as the window does, and prints the
// time that took, the resident memory, the redraw times of zoom and pan, and what following a log
// costs while nothing is written; then an engine log beside it, a 1,000,000-record MLG of 50 fields
// opened and drawn in panes under the chart; then the mixture table over 1,000,000 engine records
// with a log of ours lined up, and the corrected fuel table over 1,000,000 engine records of a
// tuned engine, from its own mixture channel and from a log of ours (--table: those two alone;
// --fuel: the corrected fuel table alone; --follow: what following a growing engine log and a log
// of ours costs the window and how soon a record reaches the followed table). With --calc it also
// times LibreOffice Calc loading the same file headless, the spreadsheet users reach for today. It
// prints figures; nothing here is a test.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>

#include "bench/BenchMlg.h"
#include "bench/Figures.h"
#include "bench/FollowCost.h"
#include "bench/ProcReader.h"
#include "log/ChannelRoles.h"
#include "log/CsvLog.h"
#include "log/Log.h"
#include "sensor/Reading.h"
#include "sensor/SensorFrame.h"
#include "viewer/chart/ChartPainter.h"
#include "viewer/chart/EnginePanes.h"
#include "viewer/logs/LogFile.h"
#include "viewer/table/FuelCorrection.h"
#include "viewer/table/LiveTable.h"
#include "viewer/table/MixtureTable.h"

#ifdef KEST_BENCH_QTCHARTS
#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QLineSeries>
#include <QValueAxis>
// Qt Charts draws through a graphics scene, which needs the widgets' application object.
using TBenchApplication = QApplication;
#else
using TBenchApplication = QGuiApplication;
#endif

namespace {

constexpr int Rows = 1000000;
const QSize ChartSize(1600, 900);

using bench::ProcessCpuSeconds;
using bench::StatusMegabytes;

// kestview-bench's figures are named "viewer." and given to a tenth unless they say otherwise.
void Figure(const char* name, double value, const char* unit, int decimals = 1) {
  bench::Figure(std::string("viewer.") + name, value, unit, decimals);
}

void Target(const char* name, bool met, const char* bound) {
  bench::Target(std::string("viewer.") + name, met, bound);
}

// A drive: the mixture wanders between rich and lean with the controller's noise, the supply
// sags now and then, and the controller is silent for a few seconds every half hour.
bool WriteDayLog(const QString& path) {
  std::FILE* file = std::fopen(path.toLocal8Bit().constData(), "wb");
  if (file == nullptr) return false;
  std::string text = csvlog::LogHeaderLine1("12/08/26") + "\r\n" + csvlog::LogHeaderLine2 + "\r\n";
  std::uint32_t noise = 12345;
  for (int row = 0; row < Rows; ++row) {
    const int second = row / 10 + 8 * 3600;  // from 08:00:00, past midnight into the next day
    const double phase = std::sin(row / 300.0) + 0.3 * std::sin(row / 37.0);
    noise = noise * 1664525u + 1013904223u;
    const int afrByte = static_cast<int>(147 + 25 * phase) + static_cast<int>(noise >> 30) - 1;
    const bool silent = second % 1800 < 3;
    const std::uint8_t voltsByte = (second % 120) < 8 ? 178 : 220;
    const double reading = sensor::CalcKest(static_cast<std::uint8_t>(silent ? 147 : afrByte),
                                            sensor::dmAirFuelRatio, sensor::ftPetrol);
    char time[16];
    std::snprintf(time, sizeof time, "%02d:%02d:%02d", second / 3600 % 24, second / 60 % 60,
                  second % 60);
    text += csvlog::LogRow(time, sensor::ReadingText(reading, sensor::dmAirFuelRatio, "."),
                           sensor::VoltageText(sensor::SupplyVoltsOf(voltsByte), ".")) +
            "\r\n";
    if (text.size() > (1 << 20)) {
      std::fwrite(text.data(), 1, text.size(), file);
      text.clear();
    }
  }
  std::fwrite(text.data(), 1, text.size(), file);
  return std::fclose(file) == 0;
}

double Draw(const viewer::TChartScene& scene) {
  QImage image(ChartSize, QImage::Format_RGB32);
  QElapsedTimer timer;
  timer.start();
  QPainter painter(&image);
  viewer::PaintChart(painter, QRectF(QPointF(0, 0), QSizeF(ChartSize)), scene);
  painter.end();
  return timer.nsecsElapsed() / 1e6;
}

// Milliseconds per redraw, the mean of `count` draws with the range moved by `step` each time.
double MeanRedraw(viewer::TChartScene scene, double step, int count) {
  double total = 0;
  for (int i = 0; i < count; ++i) {
    total += Draw(scene);
    scene.From += step;
    scene.To += step;
  }
  return total / count;
}

void CalcPhase(const QString& path, const QString& folder) {
  const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
  if (soffice.isEmpty()) {
    std::printf(
        "viewer.calc_load: not measured (soffice not found; apt-get install "
        "libreoffice-calc-nogui)\n");
    return;
  }
  QProcess process;
  QElapsedTimer timer;
  timer.start();
  process.start(soffice, {QStringLiteral("--headless"), QStringLiteral("--convert-to"),
                          QStringLiteral("ods"), QStringLiteral("--outdir"), folder, path});
  if (!process.waitForFinished(30 * 60 * 1000) || process.exitCode() != 0) {
    std::printf("viewer.calc_load: failed (%s)\n",
                process.readAllStandardError().trimmed().constData());
    return;
  }
  Figure("calc_load", timer.elapsed() / 1000.0, "s", 1);
}

#ifdef KEST_BENCH_QTCHARTS
// The same log handed to Qt Charts as one line series, drawn at the same size.
void QtChartsPhase(const viewer::TLog& log) {
  QElapsedTimer timer;
  timer.start();
  QList<QPointF> points;
  points.reserve(static_cast<qsizetype>(log.Rows()));
  for (const viewer::TSample& sample : viewer::Samples(log))
    points.append(QPointF(sample.Time, sample.Value));
  auto* series = new QLineSeries;
  series->replace(points);
  auto* chart = new QChart;
  chart->addSeries(series);
  chart->createDefaultAxes();
  chart->legend()->hide();
  QChartView view(chart);  // owns the chart
  view.resize(ChartSize);
  // Shown and laid out as in a window (off screen): Qt Charts draws its series only then.
  view.show();
  QCoreApplication::processEvents();
  QImage image = view.grab().toImage();
  Figure("qtcharts_load_and_draw", timer.nsecsElapsed() / 1e6, "ms", 0);
  timer.restart();
  chart->axes(Qt::Horizontal).front()->setRange(log.Times.front() + 1, log.Times.back() + 1);
  QCoreApplication::processEvents();
  image = view.grab().toImage();
  Figure("qtcharts_pan_redraw", timer.nsecsElapsed() / 1e6, "ms", 0);
  Figure("qtcharts_rss", StatusMegabytes("VmRSS"), "MB");
}
#endif

// An engine log beside the classic one: a 1,000,000-record MLG of 50 fields opened as the window
// opens it and drawn in three panes under the chart, full range.
void MlgPhase(const QString& folder) {
  const std::string path = (folder + QStringLiteral("/day.mlg")).toStdString();
  bench::WriteBenchMlg(path);
  std::printf("viewer.mlg_log: %d records of %d fields, %.1f MB\n", bench::BenchMlgRecords,
              bench::BenchMlgFields, QFileInfo(QString::fromStdString(path)).size() / 1e6);
  const double rssBefore = StatusMegabytes("VmRSS");
  QElapsedTimer timer;
  timer.start();
  const enginelog::TLog log = enginelog::ReadEngineLogFile(path, "day.mlg");
  const double openMs = timer.nsecsElapsed() / 1e6;
  if (!log.Ok()) {
    std::fprintf(stderr, "kestview-bench: %s\n", log.Error.c_str());
    return;
  }
  viewer::TChartScene scene;
  viewer::TPaneScene panes = viewer::PlacePanes(scene, log, 0, {0, 1, 2});
  scene.MoreExtents.push_back(viewer::PaneExtent(panes));
  const viewer::TValueRange extent = viewer::TimeExtent(scene);
  scene.From = panes.From = extent.Low;
  scene.To = panes.To = extent.High;
  QImage image(ChartSize.width(), ChartSize.height() + 300, QImage::Format_RGB32);
  QElapsedTimer drawTimer;
  drawTimer.start();
  {
    QPainter painter(&image);
    viewer::PaintChartAndPanes(painter, QRectF(image.rect()), scene, panes);
  }
  const double drawMs = drawTimer.nsecsElapsed() / 1e6;
  const double total = timer.nsecsElapsed() / 1e6;
  Figure("mlg_open_ms", openMs, "ms", 0);
  Figure("mlg_first_draw_ms", drawMs, "ms", 1);
  Figure("mlg_open_and_draw_ms", total, "ms", 0);
  Target("mlg_open_and_draw_target", total <= 1500, "at most 1500 ms");
  const double rss = StatusMegabytes("VmRSS");
  Figure("mlg_rss_added", rss - rssBefore, "MB");
  Figure("mlg_rss_after_draw", rss, "MB");
  Target("mlg_rss_target", rss - rssBefore <= 300, "the log's part at most 300 MB");
}

// A drive of 1,000,000 engine records at 20 a second (almost 14 hours): engine speed and manifold
// pressure wandering on their own periods, so that every cell of the table is visited, and our
// log at 10 rows a second beside it, rich under load and lean at low pressure.
struct TTableDrive {
  enginelog::TLog Engine;
  viewer::TLog Ours;
};

TTableDrive MakeTableDrive() {
  constexpr int Records = 1000000;
  TTableDrive drive;
  enginelog::TLog& engine = drive.Engine;
  engine.Name = "drive.mlg";
  engine.Times.resize(Records);
  engine.Channels = {{"RPM", "rpm", {}}, {"MAP", "kPa", {}}, {"TPS", "%", {}}, {"CLT", "C", {}}};
  for (enginelog::TChannel& channel : engine.Channels) channel.Values.resize(Records);
  for (int i = 0; i < Records; ++i) {
    const double t = i / 20.0;
    engine.Times[i] = t;
    engine.Channels[0].Values[i] = static_cast<float>(3500 + 2800 * std::sin(t / 23.0));
    engine.Channels[1].Values[i] = static_cast<float>(60 + 40 * std::sin(t / 7.3 + 1));
    engine.Channels[2].Values[i] = static_cast<float>(50 + 50 * std::sin(t / 7.3 + 1.2));
    engine.Channels[3].Values[i] = static_cast<float>(std::min(90.0, 20 + t / 10));
  }
  std::vector<viewer::TSample> samples(Records / 2);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    viewer::TSample& sample = samples[i];
    sample.Time = 8 * 3600 + i / 10.0;
    const double map = 60 + 40 * std::sin(i / 10.0 / 7.3 + 1);
    sample.Value = static_cast<float>(14.7 - (map - 60) / 20);
    sample.Lambda = sample.Value / 14.7f;
    sample.Volts = 13.8f;
    sample.Status = viewer::TSampleStatus::Live;
  }
  drive.Ours = viewer::OurLogOf(samples, 0.1);
  drive.Ours.Name = "drive.csv";
  return drive;
}

// Milliseconds per build, the mean of `count` builds.
double MeanBuild(const viewer::TTableInput& input, const viewer::TTableSettings& settings,
                 int count, viewer::TMixtureTable& table) {
  QElapsedTimer timer;
  timer.start();
  for (int i = 0; i < count; ++i) table = viewer::BuildMixtureTable(input, settings);
  return timer.nsecsElapsed() / 1e6 / count;
}

// The table as the window builds it: first with breakpoints derived from the data, then again
// with them kept after the filters change.
void TablePhase() {
  const TTableDrive drive = MakeTableDrive();
  viewer::TTableInput input;
  input.Engine = &drive.Engine;
  input.Mixture = &drive.Ours;
  input.Shift = drive.Ours.Times.front();
  viewer::TTableSettings settings;
  settings.XChannel = 0;
  settings.YChannel = 1;
  settings.Target.Value = 14.7;
  viewer::TMixtureTable table;
  const double build = MeanBuild(input, settings, 5, table);
  if (!table.Error.empty()) {
    std::fprintf(stderr, "kestview-bench: the table: %s\n", table.Error.c_str());
    return;
  }
  std::printf("viewer.table: %zu engine records, %zu rows of ours, %zu x %zu cells, %zu counted\n",
              drive.Engine.Rows(), drive.Ours.Rows(), table.Columns(), table.Rows(), table.Counted);
  settings.XBins = table.XBins;
  settings.YBins = table.YBins;
  settings.Steady = viewer::TSteadyFilter{0, 2000, 0.5};
  settings.Ranges = {{3, 70, std::numeric_limits<double>::infinity()}};
  const double rebuild = MeanBuild(input, settings, 5, table);
  Figure("table_build_ms", build, "ms", 1);
  Figure("table_rebuild_after_filter_ms", rebuild, "ms", 1);
  Target("table_build_target", std::max(build, rebuild) <= 100, "at most 100 ms");

  // The same table running while the drive is followed: started on all but its last ten seconds,
  // then given a second of engine records at a time, as the window and --follow give them.
  constexpr std::size_t SecondRecords = 20, Seconds = 10;
  enginelog::TLog growing;
  growing.Name = drive.Engine.Name;
  const std::size_t startRecords = drive.Engine.Rows() - SecondRecords * Seconds;
  growing.Channels.resize(drive.Engine.Channels.size());
  const auto growTo = [&](std::size_t count) {
    const std::vector<double>& times = drive.Engine.Times;
    growing.Times.insert(growing.Times.end(), times.begin() + growing.Times.size(),
                         times.begin() + count);
    for (std::size_t c = 0; c < growing.Channels.size(); ++c) {
      const std::vector<float>& all = drive.Engine.Channels[c].Values;
      std::vector<float>& values = growing.Channels[c].Values;
      values.insert(values.end(), all.begin() + values.size(), all.begin() + count);
    }
  };
  growTo(startRecords);
  input.Engine = &growing;
  viewer::TLiveTable live(settings);
  QElapsedTimer liveTimer;
  liveTimer.start();
  live.Update(input);
  const double liveStart = liveTimer.nsecsElapsed() / 1e6;
  double perSecond = 0;
  for (std::size_t second = 1; second <= Seconds; ++second) {
    growTo(startRecords + second * SecondRecords);
    liveTimer.restart();
    live.Update(input);
    perSecond += liveTimer.nsecsElapsed() / 1e6 / Seconds;
  }
  const bool same = live.Table().Counted == table.Counted &&
                    live.Table().Unsteady == table.Unsteady &&
                    live.Table().Cells.size() == table.Cells.size();
  if (!same) std::fprintf(stderr, "kestview-bench: the running table differs from the built one\n");
  Figure("table_live_start_ms", liveStart, "ms", 1);
  Figure("table_live_second_ms", perSecond, "ms", 3);
  Target("table_live_second_target", same && perSecond <= 5, "at most 5 ms, and the same table");
}

// A tuned engine's drive of 1,000,000 records at 20 a second, on the tune's 16 x 16 fuel table
// (engine speed across, its last breakpoint repeated as tunes end the axis; manifold pressure
// down). The engine breathes up to 6 % off its table, in a pattern over speed and load, and logs
// what the window reads: its own air-fuel ratio, the fuel table value it used (bilinear, as the
// engine reads it), its target, its closed-loop correction (which makes up half the difference,
// around a wobble of its own) and the enrichments: warm-up for the first ten minutes, acceleration
// while the pressure climbs fast. Now and then the sensor reports a fault (0). Our log, at 10 rows
// a second, measures the same mixture.
struct TFuelDrive {
  enginelog::TLog Engine;
  viewer::TLog Ours;
  viewer::TFuelGrid Tune;
};

// How much more air the tuned engine takes in than its table says, at a speed and load.
double Breathes(double rpm, double map) { return 1 + 0.06 * std::sin(rpm / 1300 + map / 40); }

viewer::TFuelGrid BenchTune() {
  viewer::TFuelGrid tune;
  for (int x = 0; x < 15; ++x) tune.X.push_back(600 + 400 * x);
  tune.X.push_back(tune.X.back());
  for (int y = 0; y < 16; ++y) tune.Y.push_back(15 + 6 * y);
  for (const double map : tune.Y) {
    for (const double rpm : tune.X)
      tune.Values.push_back(35 + 0.5 * map + 8 * std::sin(rpm / 1800));
  }
  return tune;
}

TFuelDrive MakeFuelDrive() {
  constexpr int Records = 1000000;
  TFuelDrive drive;
  drive.Tune = BenchTune();
  enginelog::TLog& engine = drive.Engine;
  engine.Name = "tuned.mlg";
  engine.Times.resize(Records);
  engine.Channels = {
      {"RPM", "rpm", {}},        {"MAP", "kPa", {}}, {"AFR", "AFR", {}}, {"VE", "%", {}},
      {"AFR Target", "AFR", {}}, {"Gego", "%", {}},  {"WUE", "%", {}},   {"AE", "%", {}}};
  for (enginelog::TChannel& channel : engine.Channels) channel.Values.resize(Records);
  for (int i = 0; i < Records; ++i) {
    const double t = i / 20.0;
    const double rpm = 3500 + 2800 * std::sin(t / 23.0);
    const double map = 60 + 40 * std::sin(t / 7.3 + 1);
    const double ve = viewer::Interpolate(drive.Tune, rpm, map);
    const double breathes = Breathes(rpm, map);
    const double target = std::round(10 * (map <= 60 ? 14.7 : 14.7 - (map - 60) * 0.055)) / 10;
    const double gego = 100 * (1 + (breathes - 1) / 2) + 2 * std::sin(t / 3.1);
    const double wue = t < 600 ? 100 + 40 * (1 - t / 600) : 100;
    const double ae = std::cos(t / 7.3 + 1) > 0.95 ? 125 : 100;
    const double afr = i % 5000 == 4999 ? 0
                                        : target * breathes / (gego / 100) / (wue / 100) /
                                              (ae / 100) * (1 + 0.01 * std::sin(i * 0.7));
    const double values[] = {rpm, map, afr, ve, target, gego, wue, ae};
    engine.Times[i] = t;
    for (std::size_t c = 0; c < engine.Channels.size(); ++c) {
      engine.Channels[c].Values[i] = static_cast<float>(values[c]);
    }
  }
  // Ours reads what the engine's own sensor reads, at half its rate.
  std::vector<viewer::TSample> samples(Records / 2);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    viewer::TSample& sample = samples[i];
    sample.Time = 8 * 3600 + i / 10.0;
    sample.Value = engine.Channels[2].Values[2 * i];
    sample.Lambda = sample.Value / 14.7f;
    sample.Volts = 13.8f;
    sample.Status = viewer::TSampleStatus::Live;
  }
  drive.Ours = viewer::OurLogOf(samples, 0.1);
  drive.Ours.Name = "tuned.csv";
  return drive;
}

// Milliseconds per proposal, the mean of `count`.
double MeanProposal(const viewer::TTableInput& input, const viewer::TTableSettings& settings,
                    const viewer::TCorrectionInput& correction, int count,
                    viewer::TFuelProposal& proposal) {
  QElapsedTimer timer;
  timer.start();
  for (int i = 0; i < count; ++i) proposal = viewer::BuildFuelProposal(input, settings, correction);
  return timer.nsecsElapsed() / 1e6 / count;
}

// What the proposal made of the drive, and how far its factors lie from the engine's breathing
// at the cells' breakpoints: a proposal that learned nothing would be timed for nothing. The
// factors are means over the records around a cell, so they come near, not onto, the breathing.
void PrintProposal(const char* what, const viewer::TFuelProposal& proposal) {
  std::size_t changed = 0;
  double worst = 0;
  const viewer::TFuelGrid& current = proposal.Current;
  for (std::size_t y = 0; y < current.Rows(); ++y) {
    for (std::size_t x = 0; x < current.Columns(); ++x) {
      const std::size_t cell = y * current.Columns() + x;
      if (!proposal.Changed[cell]) continue;
      ++changed;
      const double factor = proposal.Proposed[cell] / current.Values[cell];
      worst = std::max(worst, std::abs(factor - Breathes(current.X[x], current.Y[y])));
    }
  }
  const viewer::TLeftOut& out = proposal.LeftOut;
  std::printf(
      "viewer.fuel_%s: %zu records used, %zu of %zu cells changed, factors within %.3f of the "
      "breathing; left out: %zu no mixture, %zu implausible, %zu warm-up, %zu acceleration\n",
      what, proposal.Used, changed, proposal.Proposed.size(), worst, out.NoMixture, out.Implausible,
      out.Warmup, out.Accel);
}

// The corrected fuel table as the window makes it: the channels found by their names, the tune's
// table and breakpoints, the engine's own mixture; then our log's mixture instead.
void FuelPhase() {
  const TFuelDrive drive = MakeFuelDrive();
  const enginelog::TChannelNames names;
  using enginelog::TChannelRole;
  const auto role = [&](TChannelRole r) { return enginelog::FindRole(drive.Engine, r, names); };
  viewer::TCorrectionInput correction;
  correction.Tune = drive.Tune;
  correction.Channels.FuelValue = role(TChannelRole::FuelTableValue);
  correction.Channels.Target = role(TChannelRole::MixtureTarget);
  correction.Channels.Correction = role(TChannelRole::Correction);
  correction.Channels.Warmup = role(TChannelRole::WarmupEnrichment);
  correction.Channels.Accel = role(TChannelRole::AccelEnrichment);
  viewer::TTableSettings settings;
  settings.XChannel = role(TChannelRole::EngineSpeed).value_or(0);
  settings.YChannel = enginelog::FindLoad(drive.Engine, names).value_or(0);
  settings.MixtureChannel = role(TChannelRole::Mixture);
  settings.UseEngineMixture = true;
  if (!correction.Channels.FuelValue || !correction.Channels.Target ||
      !correction.Channels.Correction || !correction.Channels.Warmup ||
      !correction.Channels.Accel || !settings.MixtureChannel) {
    std::fprintf(stderr, "kestview-bench: the tuned drive's channels were not all found\n");
    return;
  }
  viewer::TTableInput engineOnly{&drive.Engine, nullptr, 0};
  viewer::TFuelProposal proposal;
  const double own = MeanProposal(engineOnly, settings, correction, 5, proposal);
  if (!proposal.Error.empty()) {
    std::fprintf(stderr, "kestview-bench: the proposal: %s\n", proposal.Error.c_str());
    return;
  }
  std::printf("viewer.fuel: %zu engine records, %zu rows of ours, %zu x %zu tune\n",
              drive.Engine.Rows(), drive.Ours.Rows(), drive.Tune.Columns(), drive.Tune.Rows());
  PrintProposal("engine_mixture", proposal);
  viewer::TTableInput withOurs{&drive.Engine, &drive.Ours, drive.Ours.Times.front()};
  settings.UseEngineMixture = false;
  const double ours = MeanProposal(withOurs, settings, correction, 5, proposal);
  if (!proposal.Error.empty()) {
    std::fprintf(stderr, "kestview-bench: the proposal with ours: %s\n", proposal.Error.c_str());
    return;
  }
  PrintProposal("our_log", proposal);
  Figure("fuel_proposal_engine_mixture_ms", own, "ms", 1);
  Figure("fuel_proposal_our_log_ms", ours, "ms", 1);
  Target("fuel_proposal_target", std::max(own, ours) <= 150, "at most 150 ms");
}

// Redrawing the day-long log: at full range, panned, zoomed to a tenth and to a minute.
void RedrawPhase(const viewer::TChartScene& scene) {
  const double span = scene.To - scene.From;
  const double full = MeanRedraw(scene, 0, 20);
  viewer::TChartScene zoomed = scene;
  zoomed.To = zoomed.From + span / 10;
  const double zoom = MeanRedraw(zoomed, 0, 20);
  const double pan = MeanRedraw(scene, span / 100, 20);
  viewer::TChartScene minute = scene;
  minute.From += span / 2;
  minute.To = minute.From + 60;
  Figure("redraw_full_range_ms", full, "ms", 1);
  Figure("redraw_pan_full_range_ms", pan, "ms", 1);
  Figure("redraw_zoom_tenth_ms", zoom, "ms", 1);
  Figure("redraw_zoom_minute_ms", MeanRedraw(minute, 0, 20), "ms", 1);
  Target("redraw_target", std::max(full, pan) <= 16, "at most 16 ms at full range");
}

// Following the day-long log while nobody writes it, then reading one appended row.
void FollowPhase(QCoreApplication& app, viewer::TLogFile& file, const QString& path) {
  // Following a log that nobody writes: the watcher sleeps in the system, the fallback timer
  // looks at the file's size once a second.
  file.SetFollow(true);
  const double cpuBefore = ProcessCpuSeconds();
  QTimer::singleShot(10000, &app, &QCoreApplication::quit);
  app.exec();
  Figure("follow_idle_cpu_ms_per_10s", (ProcessCpuSeconds() - cpuBefore) * 1000, "ms", 1);
  const qint64 offset = file.BytesRead();
  std::FILE* append = std::fopen(path.toLocal8Bit().constData(), "ab");
  std::fputs("11:46:40,14.7,13.8\r\n", append);
  std::fclose(append);
  QElapsedTimer timer;
  timer.start();
  file.ReadAppended();
  Figure("follow_append_read_ms", timer.nsecsElapsed() / 1e6, "ms", 3);
  Figure("follow_append_bytes_read", static_cast<double>(file.BytesRead() - offset), "bytes", 0);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  TBenchApplication app(argc, argv);
  const QStringList arguments = app.arguments();
  const bool calc = arguments.contains(QStringLiteral("--calc"));
  const bool qtCharts = arguments.contains(QStringLiteral("--qtcharts"));
  if (arguments.contains(QStringLiteral("--table"))) {
    TablePhase();
    FuelPhase();
    return 0;
  }
  if (arguments.contains(QStringLiteral("--fuel"))) {
    FuelPhase();
    return 0;
  }
  if (arguments.contains(QStringLiteral("--follow"))) {
    bench::FollowCostPhase(QCoreApplication::applicationDirPath() + QStringLiteral("/kestview"),
                           50);
    return 0;
  }
  QTemporaryDir folder;
  const QString path = folder.filePath(QStringLiteral("day.txt"));
  if (!WriteDayLog(path)) {
    std::fprintf(stderr, "kestview-bench: could not write %s\n", path.toLocal8Bit().constData());
    return 1;
  }
  std::printf("viewer.log: %d rows, %.1f MB (%s)\n", Rows, QFileInfo(path).size() / 1e6,
              "classic, decimal point");
  const double rssBefore = StatusMegabytes("VmRSS");

  QElapsedTimer timer;
  timer.start();
  viewer::TLogFile file(path);
  if (!file.Load(false)) {
    std::fprintf(stderr, "kestview-bench: %s\n", file.Data().Error.c_str());
    return 1;
  }
  const double loadMs = timer.nsecsElapsed() / 1e6;
  const viewer::TChartScene scene = viewer::MakeScene({{&file.Data(), QStringLiteral("day.txt")}},
                                                      viewer::LoggedDisplay(file.Data()), false);
  const double firstDrawMs = Draw(scene);
  const double openAndDraw = timer.nsecsElapsed() / 1e6;
  Figure("open_ms", loadMs, "ms", 0);
  Figure("first_draw_ms", firstDrawMs, "ms", 1);
  Figure("open_and_draw_ms", openAndDraw, "ms", 0);
  Target("open_and_draw_target", openAndDraw <= 1000, "at most 1000 ms");
  Figure("rows_read", static_cast<double>(file.Data().Rows()), "rows", 0);
  Figure("rss_before_open", rssBefore, "MB");
  const double rss = StatusMegabytes("VmRSS");
  Figure("rss_after_draw", rss, "MB");
  Figure("rss_peak", StatusMegabytes("VmHWM"), "MB");
  Target("rss_target", rss <= 120, "at most 120 MB");

  RedrawPhase(scene);
  FollowPhase(app, file, path);

#ifdef KEST_BENCH_QTCHARTS
  if (qtCharts) QtChartsPhase(file.Data());
#else
  if (qtCharts) std::printf("viewer.qtcharts: not built (qt6-charts-dev was not found)\n");
#endif
  MlgPhase(folder.path());
  TablePhase();
  FuelPhase();
  if (calc) CalcPhase(path, folder.path());
  return 0;
}
