// Readings in the user's unit, gaps, and the summary of a stretch of a logged run.
#include "viewer/logs/Summary.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "viewer/logs/MixtureValue.h"

namespace viewer {

namespace {

// The ratio is taken from the controller's own conversion, so the viewer converts exactly as the
// window did: a reading at petrol AFR 14.7 is lambda 1 for every fuel.
constexpr std::uint8_t StoichiometricByte = 147;

std::string Format(const char* pattern, double value) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}

// JSON numbers as precise as the log is: floats read from "12.2" are not quite 12.2.
double Rounded(double value, int decimals) {
  const double scale = std::pow(10.0, decimals);
  return std::round(value * scale) / scale;
}

std::string Percent(double share) { return Format("%.1f %%", share * 100.0); }

const char* KindName(TFileFormat format) {
  return enginelog::IsOurs(format) ? enginelog::FormatName(format) : "unknown";
}

int ReadingDecimals(const TDisplay& display) {
  return display.DisplayMode == sensor::dmLambda ? 2 : 1;
}

// "  implausible: 3 (outside lambda 0.5 to 2.0)" under the readings; nothing without any.
std::string ImplausibleText(const TSummary& summary) {
  if (summary.Implausible == 0) return {};
  return "  implausible: " + std::to_string(summary.Implausible) + " (outside " +
         PlausibleRangeText() + ")\n";
}

// Min, max, mean and the bands' shares of the plausible values of a run; an implausible one (a
// sensor's fault value) is counted apart and changes none of them.
class TMixtureFigures {
 public:
  TMixtureFigures(const TDisplay& display, const TBands& bands)
      : Plausible(PlausibleRange(display)), Bands(bands) {}

  // `value` in the display's unit, `lambda` the same mixture as lambda.
  void Add(double value, double lambda) {
    if (!Plausible.Holds(value)) {
      ++Implausible;
      return;
    }
    if (Count == 0) Min = Max = value;
    ++Count;
    Min = std::min(Min, value);
    Max = std::max(Max, value);
    Sum += value;
    if (lambda < Bands.RichBelow) ++Rich;
    if (lambda > Bands.LeanAbove) ++Lean;
  }

  void Into(TSummary& summary) const {
    summary.Implausible = Implausible;
    if (Count == 0) return;
    const double count = static_cast<double>(Count);
    summary.Min = Min;
    summary.Max = Max;
    summary.Mean = Sum / count;
    summary.Rich = static_cast<double>(Rich) / count;
    summary.Lean = static_cast<double>(Lean) / count;
    summary.Stoichiometric = 1.0 - summary.Rich - summary.Lean;
  }

 private:
  TPlausibleRange Plausible;
  TBands Bands;
  std::size_t Count = 0, Implausible = 0, Rich = 0, Lean = 0;
  double Min = 0, Max = 0, Sum = 0;
};

}  // namespace

double StoichiometricAfr(int fuelType) {
  return sensor::CalcKest(StoichiometricByte, sensor::dmAirFuelRatio, fuelType) /
         sensor::CalcKest(StoichiometricByte, sensor::dmLambda, fuelType);
}

double LambdaOf(const TSample& sample, int fuelType) {
  if (!std::isnan(sample.Lambda)) return sample.Lambda;
  if (sample.Kind == TReadingKind::Lambda) return sample.Value;
  return sample.Value / StoichiometricAfr(fuelType);
}

double DisplayValue(const TSample& sample, const TDisplay& display) {
  const bool wantLambda = display.DisplayMode == sensor::dmLambda;
  if (wantLambda == (sample.Kind == TReadingKind::Lambda)) return sample.Value;
  const double lambda = LambdaOf(sample, display.FuelType);
  return wantLambda ? lambda : lambda * StoichiometricAfr(display.FuelType);
}

TDisplay LoggedDisplay(const TLog& log) {
  std::size_t lambdaRows = 0, afrRows = 0;
  double highestAfr = 0;
  int exactFuel = 0;
  for (const TSample& sample : Samples(log)) {
    if (sample.Kind == TReadingKind::Lambda) {
      ++lambdaRows;
      continue;
    }
    ++afrRows;
    highestAfr = std::max<double>(highestAfr, sample.Value);
    if (exactFuel == 0 && !std::isnan(sample.Lambda) && sample.Lambda > 0) {
      // The extended log has both: their ratio names the fuel.
      const double ratio = sample.Value / sample.Lambda;
      for (const int fuel : {sensor::ftPetrol, sensor::ftMethanol, sensor::ftPropane}) {
        if (std::abs(ratio - StoichiometricAfr(fuel)) < 0.3) exactFuel = fuel;
      }
    }
  }
  TDisplay display;
  display.DisplayMode = lambdaRows > afrRows ? sensor::dmLambda : sensor::dmAirFuelRatio;
  if (exactFuel != 0) {
    display.FuelType = exactFuel;
  } else if (afrRows > 0 && highestAfr < 9.0) {
    display.FuelType = sensor::ftMethanol;  // methanol stays under 8.8, the others over 9.9
  } else if (afrRows > 0 && highestAfr > 20.05) {
    display.FuelType = sensor::ftPropane;  // petrol ends at 20.0
  }
  return display;
}

bool IsReading(const TSample& sample) {
  return !sample.Stale && sample.Status != TSampleStatus::Warmup &&
         sample.Status != TSampleStatus::Offline;
}

double GapThreshold(const TLog& log) { return 3.0 * log.Ours.SampleInterval; }

bool IsGapBefore(const TLog& log, std::size_t index) {
  const TSample sample = SampleAt(log, index);
  const TSample before = SampleAt(log, index - 1);
  return sample.BreakBefore || (sample.Stale && !before.Stale) ||
         sample.Time - before.Time > GapThreshold(log);
}

std::size_t FirstAtOrAfter(const TLog& log, double time) {
  const auto at = std::lower_bound(log.Times.begin(), log.Times.end(), time);
  return static_cast<std::size_t>(at - log.Times.begin());
}

TSummary Summarize(const TLog& log, double from, double to, const TDisplay& display,
                   const TBands& bands) {
  TSummary summary;
  const std::size_t begin = FirstAtOrAfter(log, from);
  std::size_t end = begin;
  while (end < log.Rows() && log.Times[end] <= to) ++end;
  if (begin == end) return summary;
  summary.Samples = end - begin;
  summary.Duration = log.Times[end - 1] - log.Times[begin];
  TMixtureFigures figures(display, bands);
  std::size_t lowVolts = 0;
  double staleStart = -1;
  for (std::size_t i = begin; i < end; ++i) {
    const TSample sample = SampleAt(log, i);
    (sample.Kind == TReadingKind::Lambda ? summary.LambdaRows : summary.AfrRows) += 1;
    if (i > begin && IsGapBefore(log, i)) {
      ++summary.Gaps;
      // A run of repeats is measured from the last real row to the next one.
      if (sample.Stale) {
        staleStart = log.Times[i - 1];
      } else {
        summary.GapSeconds += sample.Time - log.Times[i - 1];
      }
    }
    if (staleStart >= 0 && (!sample.Stale || i + 1 == end)) {
      summary.GapSeconds += sample.Time - staleStart;
      staleStart = -1;
    }
    if (!IsReading(sample)) continue;
    // A reading outside the plausible range is still a row with its volts; only its mixture,
    // which the box cannot have measured, stays out of the figures.
    ++summary.Readings;
    if (sample.Volts < LowVoltsLine) ++lowVolts;
    figures.Add(DisplayValue(sample, display), LambdaOf(sample, display.FuelType));
  }
  figures.Into(summary);
  summary.SecondsBelowLowVolts = static_cast<double>(lowVolts) * log.Ours.SampleInterval;
  return summary;
}

TSummary SummarizeEngineMixture(const enginelog::TLog& log, std::size_t channel, double from,
                                double to, const TDisplay& display, const TBands& bands) {
  TSummary summary;
  if (channel >= log.Channels.size()) return summary;
  const auto begin = std::lower_bound(log.Times.begin(), log.Times.end(), from);
  const auto end = std::upper_bound(begin, log.Times.end(), to);
  if (begin == end) return summary;
  summary.Samples = static_cast<std::size_t>(end - begin);
  summary.Duration = *(end - 1) - *begin;
  const std::vector<float>& values = log.Channels[channel].Values;
  const double scale = ChannelScale(log.Channels[channel], display);
  const double perLambda =
      display.DisplayMode == sensor::dmLambda ? 1.0 : StoichiometricAfr(display.FuelType);
  TMixtureFigures figures(display, bands);
  for (auto at = begin; at != end; ++at) {
    const float value = values[static_cast<std::size_t>(at - log.Times.begin())];
    if (std::isnan(value)) continue;
    ++summary.Readings;
    figures.Add(value * scale, value * scale / perLambda);
  }
  figures.Into(summary);
  return summary;
}

std::string MixtureFiguresText(const TSummary& summary, const TDisplay& display,
                               const TBands& bands) {
  if (summary.Readings <= summary.Implausible) return {};
  const std::string number = "%." + std::to_string(ReadingDecimals(display)) + "f";
  std::string text = "  " + UnitName(display) + ":\n";
  text += "    min " + Format(number.c_str(), summary.Min) + ", max " +
          Format(number.c_str(), summary.Max) + ", mean " + Format(number.c_str(), summary.Mean) +
          "\n";
  text += "  rich:     " + Percent(summary.Rich) + " (lambda < " + Format("%.2f", bands.RichBelow) +
          ")\n";
  text += "  stoich:   " + Percent(summary.Stoichiometric) + "\n";
  text += "  lean:     " + Percent(summary.Lean) + " (lambda > " + Format("%.2f", bands.LeanAbove) +
          ")\n";
  return text;
}

const char* FuelName(int fuelType) {
  return fuelType == sensor::ftMethanol  ? "methanol"
         : fuelType == sensor::ftPropane ? "propane"
                                         : "petrol";
}

std::string UnitName(const TDisplay& display) {
  if (display.DisplayMode == sensor::dmLambda) return "lambda";
  return std::string("AFR (") + FuelName(display.FuelType) + ")";
}

std::string DurationText(double seconds) {
  if (seconds < 0) seconds = 0;
  const long long tenths = std::llround(seconds * 10.0);
  const long long days = tenths / 864000;
  const long long rest = tenths % 864000;
  char text[64];
  std::snprintf(text, sizeof text, "%lld:%02lld:%02lld.%lld", rest / 36000, rest / 600 % 60,
                rest / 10 % 60, rest % 10);
  return days > 0 ? std::to_string(days) + " d " + text : text;
}

std::string ClockText(double time, int decimals) {
  const double scale = decimals > 0 ? 10.0 : 1.0;
  long long units = std::llround(std::floor(time * scale));
  const long long perDay = static_cast<long long>(86400 * scale);
  units = ((units % perDay) + perDay) % perDay;
  const long long seconds = static_cast<long long>(units / scale);
  char text[32];
  if (decimals > 0) {
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%lld", seconds / 3600, seconds / 60 % 60,
                  seconds % 60, units % 10);
  } else {
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
  }
  return text;
}

std::string SummaryText(const TLog& log, const TSummary& summary, const TDisplay& display,
                        const TBands& bands) {
  std::string text = log.Name + "\n";
  text += "  format:   " + std::string(KindName(log.Format));
  if (log.Format == TFileFormat::Classic) {
    text += log.Ours.DecimalSeparator == "," ? ", decimal comma" : ", decimal point";
    text += log.Ours.TwelveHourClock ? ", 12-hour" : ", 24-hour";
  }
  if (log.Format == TFileFormat::OurMsl) {
    text += log.Ours.MslExtendedColumns ? ", extended columns" : ", classic columns";
  }
  text += "\n";
  if (log.Ours.Date.Year != 0) {
    char date[32];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d", log.Ours.Date.Year, log.Ours.Date.Month,
                  log.Ours.Date.Day);
    text += "  started:  " + std::string(date) + "\n";
  }
  text += "  rows:     " + std::to_string(log.Rows()) + " read, " +
          std::to_string(log.SkippedRecords) + " skipped\n";
  if (!log.Ours.FirstBadLines.empty()) {
    text += "            first at line " + std::to_string(log.Ours.FirstBadLines.front().Line) +
            ": " + log.Ours.FirstBadLines.front().Reason + "\n";
  }
  text += "  duration: " + DurationText(summary.Duration) + "\n";
  text += "  samples:  " + std::to_string(summary.Samples) + ", " +
          std::to_string(summary.Readings) + " readings\n" + ImplausibleText(summary);
  text += "  logged:   " + std::to_string(summary.AfrRows) + " AFR, " +
          std::to_string(summary.LambdaRows) + " lambda\n";
  text += MixtureFiguresText(summary, display, bands);
  text += "  < 12.0 V: " + Format("%.1f s", summary.SecondsBelowLowVolts) + "\n";
  text += "  gaps:     " + std::to_string(summary.Gaps) + ", " +
          Format("%.1f s", summary.GapSeconds) + " in all\n";
  return text;
}

std::string SummaryJson(const TLog& log, const TSummary& summary, const TDisplay& display,
                        const TBands& bands) {
  QJsonObject object;
  object["file"] = QString::fromStdString(log.Name);
  object["format"] = KindName(log.Format);
  if (log.Format == TFileFormat::Classic) {
    object["decimal_separator"] = QString::fromStdString(log.Ours.DecimalSeparator);
    object["twelve_hour_clock"] = log.Ours.TwelveHourClock;
  }
  if (log.Format == TFileFormat::OurMsl) {
    object["columns"] = log.Ours.MslExtendedColumns ? "extended" : "classic";
  }
  if (log.Ours.Date.Year != 0) {
    char date[32];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d", log.Ours.Date.Year, log.Ours.Date.Month,
                  log.Ours.Date.Day);
    object["date"] = date;
  }
  object["rows"] = static_cast<double>(log.Rows());
  object["skipped_rows"] = static_cast<double>(log.SkippedRecords);
  QJsonArray bad;
  for (const enginelog::TBadLine& line : log.Ours.FirstBadLines) {
    bad.append(QJsonObject{{"line", static_cast<double>(line.Line)},
                           {"reason", QString::fromStdString(line.Reason)}});
  }
  object["first_skipped"] = bad;
  object["unit"] = display.DisplayMode == sensor::dmLambda ? "lambda" : "afr";
  object["fuel"] = FuelName(display.FuelType);
  object["duration_s"] = Rounded(summary.Duration, 3);
  object["samples"] = static_cast<double>(summary.Samples);
  object["readings"] = static_cast<double>(summary.Readings);
  object["afr_rows"] = static_cast<double>(summary.AfrRows);
  object["lambda_rows"] = static_cast<double>(summary.LambdaRows);
  object["implausible_readings"] = static_cast<double>(summary.Implausible);
  if (summary.Readings > summary.Implausible) {
    object["min"] = Rounded(summary.Min, 3);
    object["max"] = Rounded(summary.Max, 3);
    object["mean"] = Rounded(summary.Mean, 3);
  }
  object["rich_share"] = Rounded(summary.Rich, 4);
  object["stoichiometric_share"] = Rounded(summary.Stoichiometric, 4);
  object["lean_share"] = Rounded(summary.Lean, 4);
  object["rich_below_lambda"] = bands.RichBelow;
  object["lean_above_lambda"] = bands.LeanAbove;
  object["seconds_below_12v"] = Rounded(summary.SecondsBelowLowVolts, 3);
  object["gaps"] = static_cast<double>(summary.Gaps);
  object["gap_seconds"] = Rounded(summary.GapSeconds, 3);
  object["sample_interval_s"] = Rounded(log.Ours.SampleInterval, 4);
  return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

std::string ErrorJson(const TLog& log) {
  const QJsonObject object{{"file", QString::fromStdString(log.Name)},
                           {"error", QString::fromStdString(log.Error)}};
  return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

}  // namespace viewer
