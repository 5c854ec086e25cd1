// An engine log beside our mixture logs: lining it up, its first channels and its
// summary.
#include "viewer/logs/EngineLogs.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cmath>
#include <limits>

#include "log/CivilTime.h"
#include "log/LogAlignment.h"
#include "viewer/logs/MixtureValue.h"
#include "viewer/logs/Summary.h"

namespace viewer {

namespace {

struct TChannelStats {
  bool Any = false;
  double Min = 0, Max = 0, Mean = 0;
};

// "AFR [AFR]": a channel as the user finds it in the list.
std::string ChannelName(const enginelog::TChannel& channel) {
  return channel.Unit.empty() ? channel.Name : channel.Name + " [" + channel.Unit + "]";
}

// The mixture channel over the whole log.
TSummary WholeMixture(const enginelog::TLog& log, std::size_t channel, const TDisplay& display,
                      const TBands& bands) {
  const double everywhere = std::numeric_limits<double>::infinity();
  return SummarizeEngineMixture(log, channel, -everywhere, everywhere, display, bands);
}

// "AFR [AFR]: 100 records, 98 with a value, 2 implausible (outside lambda 0.5 to 2.0)".
std::string MixtureLine(const enginelog::TLog& log, std::size_t channel, const TSummary& summary) {
  std::string line = ChannelName(log.Channels[channel]) + ": " + std::to_string(summary.Samples) +
                     " records, " + std::to_string(summary.Readings) + " with a value";
  if (summary.Implausible > 0) {
    line += ", " + std::to_string(summary.Implausible) + " implausible (outside " +
            PlausibleRangeText() + ")";
  }
  return line;
}

TChannelStats StatsOf(const enginelog::TChannel& channel) {
  TChannelStats stats;
  double sum = 0;
  std::size_t count = 0;
  for (const float value : channel.Values) {
    if (std::isnan(value)) continue;
    stats.Min = count == 0 ? value : std::min<double>(stats.Min, value);
    stats.Max = count == 0 ? value : std::max<double>(stats.Max, value);
    sum += value;
    ++count;
  }
  stats.Any = count > 0;
  if (stats.Any) stats.Mean = sum / static_cast<double>(count);
  return stats;
}

// ISO 8601 of a start: with its offset where the file gave one, as local time without otherwise.
QString IsoText(const enginelog::TStartTime& start) {
  const qint64 ms = start.Seconds * 1000 + static_cast<qint64>(std::floor(start.Fraction * 1000));
  const Qt::DateFormat format = ms % 1000 == 0 ? Qt::ISODate : Qt::ISODateWithMs;
  if (!start.UtcOffsetSeconds) {
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(format).chopped(1);
  }
  const int offset = *start.UtcOffsetSeconds;
  return QDateTime::fromMSecsSinceEpoch(ms - offset * 1000LL, Qt::OffsetFromUTC, offset)
      .toString(format);
}

// Our readings as a trace for matching: lambda, whichever unit each row was logged in (the
// correlation does not care for the unit, but a log that switched units midway would).
struct TMixtureTrace {
  std::vector<double> Times;
  std::vector<float> Values;
};

TMixtureTrace MixtureTraceOf(const TLog& log) {
  TMixtureTrace trace;
  const int fuel = LoggedDisplay(log).FuelType;
  trace.Times.reserve(log.Rows());
  trace.Values.reserve(log.Rows());
  for (const TSample& sample : Samples(log)) {
    trace.Times.push_back(sample.Time);
    trace.Values.push_back(IsReading(sample) ? static_cast<float>(LambdaOf(sample, fuel))
                                             : std::numeric_limits<float>::quiet_NaN());
  }
  return trace;
}

}  // namespace

std::optional<TAlignMode> AlignModeOf(std::string_view word) {
  if (word == "clock") return TAlignMode::Clock;
  if (word == "match") return TAlignMode::Match;
  if (word == "none") return TAlignMode::None;
  return std::nullopt;
}

std::optional<enginelog::TStartTime> MixtureStart(const TLog& log) {
  if (log.Times.empty() || log.Ours.Date.Year == 0) return std::nullopt;
  const double time = log.Times.front();
  const double whole = std::floor(time);
  enginelog::TStartTime start;
  start.Seconds =
      csvlog::DaysFromCivil(log.Ours.Date.Year, log.Ours.Date.Month, log.Ours.Date.Day) * 86400 +
      static_cast<std::int64_t>(whole);
  start.Fraction = time - whole;
  if (HasUtcOffset(log)) start.UtcOffsetSeconds = log.Ours.UtcOffsetSeconds;
  return start;
}

double EngineShift(const TLog& mixture, const enginelog::TLog& engine, double offset) {
  const double mixtureFirst = mixture.Times.empty() ? 0 : mixture.Times.front();
  const double engineFirst = engine.Times.empty() ? 0 : engine.Times.front();
  return mixtureFirst + offset - engineFirst;
}

int LocalUtcOffsetAt(const TLog& mixture) {
  const std::optional<enginelog::TStartTime> start = MixtureStart(mixture);
  if (!start) return QDateTime::currentDateTime().offsetFromUtc();
  // The start's wall-clock time read as a time of this machine's zone.
  const QDateTime utcReading = QDateTime::fromSecsSinceEpoch(start->Seconds, Qt::UTC);
  return QDateTime(utcReading.date(), utcReading.time(), Qt::LocalTime).offsetFromUtc();
}

TAlignment AlignEngineLog(const TLog& mixture, const enginelog::TLog& engine,
                          std::optional<std::size_t> engineMixture, TAlignMode mode,
                          std::optional<double> handOffset, int localUtcOffsetSeconds) {
  TAlignment result;
  if (handOffset) {
    result.Offset = *handOffset;
    result.How = "hand";
    return result;
  }
  if (mode == TAlignMode::None) return result;
  const std::optional<double> clock =
      enginelog::ClockOffset(MixtureStart(mixture), engine.Start, localUtcOffsetSeconds);
  if (mode == TAlignMode::Match) {
    const std::optional<std::size_t> channel = engineMixture;
    if (!channel || *channel >= engine.Channels.size()) {
      result.Note = "the engine log has no mixture channel to match";
    } else if (mixture.Times.empty()) {
      result.Note = "the mixture log has no rows to match";
    } else {
      const TMixtureTrace ours = MixtureTraceOf(mixture);
      enginelog::TMatchOptions options;
      options.Center = clock;
      const enginelog::TMatch match = enginelog::MatchByMixture(
          {ours.Times, ours.Values}, {engine.Times, engine.Channels[*channel].Values}, options);
      if (match.Found) {
        result.Offset = match.Offset;
        result.How = "match";
        return result;
      }
      result.Note = "no match: " + match.Reason;
    }
  }
  if (clock) {
    result.Offset = *clock;
    result.How = "clock";
    return result;
  }
  if (result.Note.empty()) result.Note = "the two logs do not both carry a date and time";
  return result;
}

std::vector<std::size_t> DefaultShownChannels(const enginelog::TLog& log,
                                              const enginelog::TChannelNames& names) {
  std::vector<std::size_t> shown;
  for (const std::optional<std::size_t> channel :
       {enginelog::FindRole(log, enginelog::TChannelRole::EngineSpeed, names),
        enginelog::FindLoad(log, names)}) {
    if (channel) shown.push_back(*channel);
  }
  if (shown.empty() && !log.Channels.empty()) shown.push_back(0);
  return shown;
}

std::vector<std::size_t> ChannelsNamed(const enginelog::TLog& log,
                                       const std::vector<std::string>& names,
                                       std::vector<std::string>& unknown) {
  std::vector<std::size_t> shown;
  for (const std::string& name : names) {
    const int index = log.FindChannel(name);
    if (index < 0) {
      unknown.push_back(name);
    } else if (std::find(shown.begin(), shown.end(), index) == shown.end()) {
      shown.push_back(static_cast<std::size_t>(index));
    }
  }
  return shown;
}

double RecordGapSeconds(const enginelog::TLog& log) {
  if (log.Rows() < 2) return 1;
  return std::max(0.5, 5 * log.Duration() / static_cast<double>(log.Rows() - 1));
}

std::string EngineSummaryJson(const std::string& file, const enginelog::TLog& log,
                              const std::optional<TAlignment>& alignment,
                              const TEngineMixture& mixture) {
  QJsonObject object{{"file", QString::fromStdString(file)},
                     {"format", enginelog::FormatName(log.Format)},
                     {"rows", static_cast<double>(log.Rows())},
                     {"duration_s", QString::number(log.Duration(), 'f', 6).toDouble()},
                     {"start", log.Start ? QJsonValue(IsoText(*log.Start)) : QJsonValue()},
                     {"markers", static_cast<double>(log.Markers.size())}};
  QJsonArray channels;
  for (const enginelog::TChannel& channel : log.Channels) {
    const TChannelStats stats = StatsOf(channel);
    // Values are stored as floats: their seven digits, not the float's binary tail.
    const auto number = [&](double value) {
      return stats.Any ? QJsonValue(QString::number(value, 'g', 7).toDouble()) : QJsonValue();
    };
    channels.append(QJsonObject{{"name", QString::fromStdString(channel.Name)},
                                {"unit", QString::fromStdString(channel.Unit)},
                                {"min", number(stats.Min)},
                                {"max", number(stats.Max)},
                                {"mean", number(stats.Mean)}});
  }
  object.insert("channels", channels);
  if (const std::optional<std::size_t> channel = mixture.Channel) {
    const TDisplay& display = mixture.Display;
    const TSummary summary = WholeMixture(log, *channel, display, mixture.Bands);
    const bool any = summary.Readings > summary.Implausible;
    const auto figure = [&](double value, int decimals) {
      return any ? QJsonValue(QString::number(value, 'f', decimals).toDouble()) : QJsonValue();
    };
    object.insert("mixture",
                  QJsonObject{{"channel", QString::fromStdString(log.Channels[*channel].Name)},
                              {"unit", display.DisplayMode == sensor::dmLambda ? "lambda" : "afr"},
                              {"fuel", FuelName(display.FuelType)},
                              {"readings", static_cast<double>(summary.Readings)},
                              {"implausible", static_cast<double>(summary.Implausible)},
                              {"min", figure(summary.Min, 3)},
                              {"max", figure(summary.Max, 3)},
                              {"mean", figure(summary.Mean, 3)},
                              {"rich_share", figure(summary.Rich, 4)},
                              {"stoichiometric_share", figure(summary.Stoichiometric, 4)},
                              {"lean_share", figure(summary.Lean, 4)}});
  }
  if (alignment) {
    object.insert("offset_s", alignment->Offset);
    object.insert("align", QString::fromStdString(alignment->How));
    if (!alignment->Note.empty())
      object.insert("align_note", QString::fromStdString(alignment->Note));
  }
  return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

std::string EngineSummaryText(const std::string& file, const enginelog::TLog& log,
                              const std::optional<TAlignment>& alignment,
                              const TEngineMixture& mixture) {
  std::string text = file + "\n";
  text += "  format      " + std::string(enginelog::FormatName(log.Format)) + ", " +
          std::to_string(log.Rows()) + " records, " + DurationText(log.Duration()) + "\n";
  text += "  start       " + (log.Start ? IsoText(*log.Start).toStdString() : "unknown") + "\n";
  text += "  markers     " + std::to_string(log.Markers.size()) + "\n";
  if (alignment) {
    char offset[64];
    std::snprintf(offset, sizeof offset, "%+.3f s (%s)", alignment->Offset, alignment->How.c_str());
    text += "  offset      " + std::string(offset) + "\n";
    if (!alignment->Note.empty()) text += "              " + alignment->Note + "\n";
  }
  for (const enginelog::TChannel& channel : log.Channels) {
    const TChannelStats stats = StatsOf(channel);
    char line[160];
    if (stats.Any) {
      std::snprintf(line, sizeof line, "  %-20s %-8s min %g  max %g  mean %.4g\n",
                    channel.Name.c_str(), channel.Unit.c_str(), stats.Min, stats.Max, stats.Mean);
    } else {
      std::snprintf(line, sizeof line, "  %-20s %-8s no values\n", channel.Name.c_str(),
                    channel.Unit.c_str());
    }
    text += line;
  }
  if (const std::optional<std::size_t> channel = mixture.Channel) {
    const TSummary summary = WholeMixture(log, *channel, mixture.Display, mixture.Bands);
    text += "  mixture     " + MixtureLine(log, *channel, summary) + "\n";
    text += MixtureFiguresText(summary, mixture.Display, mixture.Bands);
  }
  return text;
}

std::string EnginePanelText(const std::string& file, const enginelog::TLog& log,
                            const TEngineMixture& mixture, const TSummary* figures) {
  std::string text = file + "\n";
  text += "  format:   " + std::string(enginelog::FormatName(log.Format)) + ", " +
          std::to_string(log.Rows()) + " records\n";
  text += "  duration: " + DurationText(log.Duration()) + "\n";
  const std::optional<std::size_t> channel = mixture.Channel;
  if (!channel) {
    text += "  mixture:  no AFR, lambda or O2 channel\n";
  } else if (figures != nullptr) {
    // Line by line: the panel is narrow.
    text += "  mixture:  " + ChannelName(log.Channels[*channel]) + "\n";
    text += "  records:  " + std::to_string(figures->Samples) + ", " +
            std::to_string(figures->Readings) + " with a value\n";
    if (figures->Implausible > 0) {
      text += "  implausible: " + std::to_string(figures->Implausible) + " (outside " +
              PlausibleRangeText() + ")\n";
    }
    text += MixtureFiguresText(*figures, mixture.Display, mixture.Bands);
  } else {
    text += "  mixture:  " + ChannelName(log.Channels[*channel]) + "\n";
  }
  text += "  channels: " + std::to_string(log.Channels.size()) + "\n";
  for (const enginelog::TChannel& each : log.Channels) text += "    " + ChannelName(each) + "\n";
  return text;
}

}  // namespace viewer
