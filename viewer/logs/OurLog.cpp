// A row of ours put together from the log model's columns.
#include "viewer/logs/OurLog.h"

namespace viewer {

TSample SampleAt(const TLog& log, std::size_t index) {
  const auto& channels = log.Channels;
  TSample sample;
  sample.Time = log.Times[index];
  sample.Value = channels[enginelog::OurReading].Values[index];
  sample.Volts = channels[enginelog::OurVolts].Values[index];
  sample.Lambda = channels[enginelog::OurLambda].Values[index];
  sample.Temp = static_cast<std::uint16_t>(channels[enginelog::OurTemp].Values[index]);
  sample.Status = static_cast<TSampleStatus>(channels[enginelog::OurStatus].Values[index]);
  const std::uint8_t flags = log.RowFlags[index];
  sample.Kind = (flags & enginelog::RowLambda) != 0 ? TReadingKind::Lambda : TReadingKind::Afr;
  sample.BreakBefore = (flags & enginelog::RowBreakBefore) != 0;
  sample.Stale = (flags & enginelog::RowStale) != 0;
  return sample;
}

TLog OurLogOf(const std::vector<TSample>& samples, double interval, TFileFormat format) {
  TLog log = ParseLogText("", "");
  log.Error.clear();
  log.Format = format;
  log.Ours.SampleInterval = interval;
  for (const TSample& sample : samples) {
    log.Times.push_back(sample.Time);
    log.Channels[enginelog::OurReading].Values.push_back(sample.Value);
    log.Channels[enginelog::OurLambda].Values.push_back(sample.Lambda);
    log.Channels[enginelog::OurVolts].Values.push_back(sample.Volts);
    log.Channels[enginelog::OurTemp].Values.push_back(static_cast<float>(sample.Temp));
    log.Channels[enginelog::OurStatus].Values.push_back(static_cast<float>(sample.Status));
    log.RowFlags.push_back(
        static_cast<std::uint8_t>((sample.Kind == TReadingKind::Lambda ? enginelog::RowLambda : 0) |
                                  (sample.BreakBefore ? enginelog::RowBreakBefore : 0) |
                                  (sample.Stale ? enginelog::RowStale : 0)));
  }
  return log;
}

TLog ParseLogText(std::string_view text, const std::string& name) {
  enginelog::TOurLogReader reader(name);
  reader.Feed(text);
  reader.Finish();
  return std::move(reader.Log());
}

}  // namespace viewer
