// The table of channel names by role, the matching of a channel's name, unit and values against
// it, and channels.conf.
#include "log/ChannelRoles.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <initializer_list>

#include "text/Words.h"

namespace enginelog {

namespace {

struct TRoleWords {
  TChannelRole Role;
  std::string_view Key;
  // Names as NameWords writes them.
  std::initializer_list<std::string_view> Names;
  // Parts of a name that say the channel is about the role without being it ("idle target rpm",
  // "afr target", "ego correction"): a built-in name is no fit where one of them is in the name.
  std::initializer_list<std::string_view> NotIt;
};

// Kept in the order of TChannelRole.
const TRoleWords Roles[RoleCount] = {
    {TChannelRole::EngineSpeed,
     "speed",
     {"rpm", "engine speed", "enginespeed", "engine rpm", "engine speed rpm", "motor speed",
      "crank speed"},
     {"target", "tgt", "idle", "limit", "vehicle", "wheel", "shaft", "vss", "turbo", "cam", "fan",
      "pump", "rate", "dot", "delta", "accel", "max", "min"}},
    {TChannelRole::ManifoldPressure,
     "map",
     {"map", "manifold pressure", "manifoldpressure", "manifold absolute pressure",
      "manifold air pressure", "intake manifold pressure", "manifold abs pressure", "map kpa",
      "map sensor"},
     {"target", "tgt", "baro", "limit", "dot", "rate", "delta", "accel", "max", "min", "volt"}},
    {TChannelRole::Boost,
     "boost",
     {"boost", "boost pressure", "manifold boost"},
     {"target", "tgt", "duty", "limit", "control", "cut", "solenoid", "wastegate", "volt"}},
    {TChannelRole::CalculatedLoad,
     "load",
     {"load", "engine load", "engineload", "calculated load", "calc load", "fuel load", "fuelload",
      "load value"},
     {"target", "ign", "spark", "timing", "afr", "lambda", "boost"}},
    {TChannelRole::Throttle,
     "throttle",
     {"tps", "tp", "throttle", "throttle position", "throttleposition", "throttle pos",
      "throttle angle", "tps pct"},
     {"target", "tgt", "dot", "rate", "delta", "accel", "volt", "adc", "raw", "max", "min"}},
    {TChannelRole::Mixture,
     "mixture",
     {"afr", "afr1", "lambda", "lambda1", "lam", "wbo2", "wideband", "o2", "ego", "air fuel ratio",
      "o2 wideband", "wideband o2", "wideband lambda", "wideband afr"},
     {"target", "tgt", "cor", "trim", "err", "status", "heater", "temp", "volt", "warm", "accel",
      "enable", "request", "desired", "command", "gego", "dev"}},
    {TChannelRole::MixtureTarget,
     "target",
     {"afr target", "target afr", "afrtarget", "lambda target", "target lambda", "afr tgt",
      "afrtgt", "tgt afr", "lambda tgt", "ego target", "o2 target", "lambda request",
      "lambda desired", "desired lambda", "desired afr", "commanded afr", "commanded lambda",
      "target"},
     {"err", "cor", "boost", "idle", "rpm", "map", "tps", "throttle", "egt", "temp", "press",
      "position", "speed", "cam", "vvt"}},
    {TChannelRole::FuelTableValue,
     "ve",
     {"ve", "ve1", "current ve", "ve current", "ve curr", "vecurr", "vecurr1", "fuel ve",
      "ve table", "volumetric efficiency", "ve value"},
     {"target", "learn", "trim", "cor"}},
    {TChannelRole::Correction,
     "correction",
     {"gego",
      "ego correction",
      "egocor",
      "egocor1",
      "ego cor",
      "ego corr",
      "correction afr",
      "afr correction",
      "afr cor",
      "lambda correction",
      "correction lambda",
      "lambda cor",
      "lambda corr",
      "closed loop correction",
      "closed loop",
      "o2 correction",
      "o2 cor",
      "cl correction",
      "stft",
      "short term fuel trim",
      "fuel trim",
      "trim"},
     {"long", "ltft", "learn", "ign", "spark", "timing", "idle", "baro", "iat", "clt", "coolant",
      "warm", "accel", "flex", "target", "enable", "status"}},
    {TChannelRole::WarmupEnrichment,
     "warmup",
     {"warmup", "warm up", "warmup enrichment", "warm up enrichment", "warmup enrich",
      "warmupenrich", "wue", "warmcor", "warm cor", "warmup correction", "after start enrichment",
      "afterstart enrichment", "ase", "after start", "coolant enrichment", "coolant correction",
      "clt correction", "cranking enrichment"},
     {"target", "time", "taper", "duration", "count"}},
    {TChannelRole::AccelEnrichment,
     "accel",
     {"accel enrichment", "accel enrich", "accelenrich", "acceleration enrichment", "ae", "tpsacc",
      "tps acc", "tpsaccel", "accel", "accel fuel", "tae", "map accel", "acc enrich", "ae amount",
      "transient fuel"},
     {"target", "thresh", "time", "count", "lateral", "longitudinal", "vertical", "sensor",
      "pedal"}},
    {TChannelRole::FuelCut,
     "fuelcut",
     {"fuel cut", "fuelcut", "dfco", "overrun", "overrun fuel cut", "decel fuel cut",
      "fuel cut active", "fuel cut flag", "overrun cut"},
     {"spark", "ign", "count", "limit", "time", "rpm", "delay"}},
    {TChannelRole::PulseWidth,
     "pulsewidth",
     {"pw", "pw1", "pulse width", "pulsewidth", "pulsewidth1", "pulse width 1",
      "injector pulse width", "inj pw", "injector pw", "fuel pw", "injpw", "ipw"},
     {"duty", "dead", "open", "target", "boost", "idle", "cut", "pwm", "vvt", "fan", "pump"}},
    {TChannelRole::Coolant,
     "coolant",
     {"clt", "coolant", "coolant temp", "coolant temperature", "ect", "engine coolant temperature",
      "water temp", "water temperature", "cts", "engine temp"},
     {"target", "cor", "enrich", "fan", "limit", "volt", "raw", "adc"}},
};

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsUpper(char c) { return c >= 'A' && c <= 'Z'; }
bool IsLower(char c) { return c >= 'a' && c <= 'z'; }

// `name` without what stands in brackets, or only what does (a logger's unit, "(Current)").
std::string Unbracketed(std::string_view name) {
  std::string out;
  int depth = 0;
  for (const char c : name) {
    if (c == '(' || c == '[' || c == '{') {
      ++depth;
      out += ' ';
    } else if ((c == ')' || c == ']' || c == '}') && depth > 0) {
      --depth;
      out += ' ';
    } else if (depth == 0) {
      out += c;
    }
  }
  return out;
}

// The name as words, and without its trailing number ("afr 2", "ve2"); empty when it has none.
std::string WithoutNumber(const std::string& words) {
  std::size_t end = words.size();
  while (end > 0 && IsDigit(words[end - 1])) --end;
  if (end == words.size() || end == 0) return {};
  while (end > 0 && words[end - 1] == ' ') --end;
  return words.substr(0, end);
}

bool EndsWithWords(const std::string& words, std::string_view known) {
  return words.size() > known.size() && words.ends_with(known) &&
         words[words.size() - known.size() - 1] == ' ';
}

bool HoldsWords(const std::string& words, std::string_view known) {
  const std::string padded = " " + words + " ";
  return padded.find(" " + std::string(known) + " ") != std::string::npos;
}

// How well `words` are the name `known`: whole, with a trailing number left off, after a prefix
// of words (a logger's or a vendor's), or as words inside it; 0 when not at all. The longer of
// two names that match after a prefix wins ("target lambda" over "lambda").
int NameScore(const std::string& words, std::string_view known, bool user) {
  const int length = std::min(static_cast<int>(known.size()), 19);
  const std::string bare = WithoutNumber(words);
  if (words == known) return user ? 100 : 90;
  if (!bare.empty() && bare == known) return user ? 95 : 85;
  if (EndsWithWords(words, known) || (!bare.empty() && EndsWithWords(bare, known)))
    return (user ? 70 : 50) + length;
  if (HoldsWords(words, known)) return (user ? 45 : 30) + std::min(length, 9);
  return 0;
}

const std::string_view VoltUnits[] = {"v", "mv", "volt", "volts"};
const std::string_view SpeedUnits[] = {"rpm", "1 min", "u min", "r min", "rev min", "1 s"};
const std::string_view PressureUnits[] = {"kpa",  "bar",  "psi",  "mbar",    "hpa",
                                          "psia", "bara", "kpaa", "kpa abs", "inhg"};
const std::string_view MixtureUnits[] = {"afr", "a f", "lambda", "lam", "air fuel ratio"};
// Pressures that are not the manifold's.
const std::string_view OtherPressures[] = {"fuel",   "oil",     "baro", "atmo",    "exhaust",
                                           "water",  "brake",   "rail", "crank",   "coolant",
                                           "target", "ambient", "tank", "air con", "ac "};

template <std::size_t N>
bool OneOf(const std::string& word, const std::string_view (&list)[N]) {
  return std::find(std::begin(list), std::end(list), word) != std::end(list);
}

double MedianOf(const std::vector<float>& values) {
  std::vector<float> finite;
  finite.reserve(std::min<std::size_t>(values.size(), 4096));
  // Every value of a short channel, an even spread of a long one: the median of a day-long log
  // needs no copy of it.
  const std::size_t step = std::max<std::size_t>(1, values.size() / 4096);
  for (std::size_t i = 0; i < values.size(); i += step) {
    if (std::isfinite(values[i])) finite.push_back(values[i]);
  }
  if (finite.empty()) return std::nan("");
  const auto middle = finite.begin() + static_cast<long>(finite.size() / 2);
  std::nth_element(finite.begin(), middle, finite.end());
  return *middle;
}

// The role a channel's unit and values give it where no name does.
TRoleFit FitByUnit(const TChannel& channel, const std::string& fullName) {
  const std::string unit = NameWords(channel.Unit, false);
  const auto any = [&](std::initializer_list<std::string_view> parts) {
    return std::any_of(parts.begin(), parts.end(),
                       [&](std::string_view p) { return fullName.find(p) != std::string::npos; });
  };
  if (OneOf(unit, SpeedUnits)) {
    if (any({"target", "idle", "limit", "dot", "delta", "rate", "fan", "pump", "turbo"})) return {};
    const double median = MedianOf(channel.Values);
    if (std::isnan(median) || median >= 0) return {TChannelRole::EngineSpeed, 20};
  }
  if (OneOf(unit, PressureUnits)) {
    if (std::any_of(std::begin(OtherPressures), std::end(OtherPressures),
                    [&](std::string_view p) { return fullName.find(p) != std::string::npos; }))
      return {};
    return {TChannelRole::ManifoldPressure, 20};
  }
  // A unit of the mixture, or lambda's own letter in UTF-8.
  if (OneOf(unit, MixtureUnits) || channel.Unit == "\xCE\xBB") {
    for (const std::string_view part : Roles[static_cast<std::size_t>(TChannelRole::Mixture)].NotIt)
      if (fullName.find(part) != std::string::npos) return {};
    // A mixture reads as lambda (around 1) or an air-fuel ratio (around 7 to 30), or 0 while the
    // sensor warms.
    const double median = MedianOf(channel.Values);
    if (std::isnan(median) || median == 0 || (median > 0.3 && median < 40))
      return {TChannelRole::Mixture, 20};
  }
  return {};
}

}  // namespace

std::string_view RoleKey(TChannelRole role) { return Roles[static_cast<std::size_t>(role)].Key; }

std::optional<TChannelRole> RoleOfKey(std::string_view key) {
  for (const TRoleWords& role : Roles) {
    if (text::EqualsNoCase(key, role.Key)) return role.Role;
  }
  return std::nullopt;
}

std::string NameWords(std::string_view name, bool splitCamel) {
  std::string words;
  bool blank = true;  // a blank is due before the next character
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (!IsLetter(c) && !IsDigit(c)) {
      blank = true;
      continue;
    }
    if (splitCamel && i > 0 && IsUpper(c)) {
      // "EngineSpeed" -> "engine speed", "AFRTarget" -> "afr target"; "VE1", "MAP" stay whole.
      const char before = name[i - 1];
      const bool afterLower = IsLower(before) || IsDigit(before);
      const bool endOfCapitals = IsUpper(before) && i + 1 < name.size() && IsLower(name[i + 1]);
      if (afterLower || endOfCapitals) blank = true;
    }
    if (blank && !words.empty()) words += ' ';
    blank = false;
    words += text::LowerAscii(c);
  }
  return words;
}

TChannelNames::TChannelNames() {
  for (const TRoleWords& role : Roles) {
    for (const std::string_view name : role.Names)
      Names.push_back({std::string(name), role.Role, false});
  }
}

void TChannelNames::Add(TChannelRole role, std::string_view name, bool user) {
  std::string words = NameWords(name, false);
  if (!words.empty()) Names.push_back({std::move(words), role, user});
}

void TChannelNames::AddUserText(std::string_view fileText, std::vector<std::string>& warnings) {
  bool inChannels = false;
  int lineNumber = 0;
  for (std::string_view line : text::Split(fileText, "\n")) {
    ++lineNumber;
    const auto warn = [&](const std::string& what) {
      warnings.push_back("line " + std::to_string(lineNumber) + ": " + what);
    };
    std::string_view content = text::Trim(line, " \t\r\f\v");
    if (lineNumber == 1 && content.starts_with("\xEF\xBB\xBF"))
      content = text::Trim(content.substr(3), " \t\r\f\v");
    if (content.empty() || content.front() == '#' || content.front() == ';') continue;
    if (content.front() == '[') {
      if (content.back() != ']') {
        warn("a section name must end with ']'");
        inChannels = false;
        continue;
      }
      inChannels =
          text::EqualsNoCase(text::Trim(content.substr(1, content.size() - 2)), "channels");
      continue;
    }
    const std::size_t equals = content.find('=');
    if (equals == std::string_view::npos) {
      warn("not ROLE=NAME");
      continue;
    }
    const std::string_view key = text::Trim(content.substr(0, equals));
    const std::string_view name = text::Trim(content.substr(equals + 1));
    if (!inChannels) {
      warn("'" + std::string(key) + "' is outside the [channels] section");
      continue;
    }
    const std::optional<TChannelRole> role = RoleOfKey(key);
    if (!role) {
      std::string keys;
      for (const TRoleWords& r : Roles) keys += (keys.empty() ? "" : ", ") + std::string(r.Key);
      warn("'" + std::string(key) + "' is not a role (" + keys + ")");
      continue;
    }
    if (NameWords(name, false).empty()) {
      warn(std::string(key) + " needs a channel name");
      continue;
    }
    Add(*role, name, true);
  }
}

TRoleFit TChannelNames::Fit(const TChannel& channel) const {
  const std::string bare = Unbracketed(channel.Name);
  // Matched as written and with camel case split; what stands in brackets counts as well
  // ("AFR (target)"), and always for the parts that keep a channel out of a role.
  const std::string forms[] = {NameWords(bare, false), NameWords(bare, true),
                               NameWords(channel.Name, false), NameWords(channel.Name, true)};
  const std::string fullName = forms[2] + " | " + forms[3];
  const std::string unit = NameWords(channel.Unit, false);
  // A sensor's voltage is never the quantity it measures.
  const bool volts = OneOf(unit, VoltUnits);
  TRoleFit best;
  for (const TName& known : Names) {
    const TRoleWords& role = Roles[static_cast<std::size_t>(known.Role)];
    int score = 0;
    for (const std::string& form : forms)
      score = std::max(score, NameScore(form, known.Words, known.User));
    if (score <= best.Score) continue;
    if (!known.User) {
      if (volts) continue;
      const bool notIt = std::any_of(role.NotIt.begin(), role.NotIt.end(), [&](std::string_view p) {
        return fullName.find(p) != std::string::npos;
      });
      if (notIt) continue;
    }
    best = {known.Role, score, known.User};
  }
  if (best.Score == 0 && !volts) best = FitByUnit(channel, fullName);
  return best;
}

std::string ChannelNamesFileIn(const std::string& configFolder) {
  if (configFolder.empty()) return {};
  return (std::filesystem::path(configFolder) / "kestlsugraph" / "channels.conf").string();
}

std::vector<std::size_t> ChannelsFor(const TLog& log, TChannelRole role,
                                     const TChannelNames& names) {
  std::vector<std::pair<int, std::size_t>> found;
  for (std::size_t i = 0; i < log.Channels.size(); ++i) {
    const TRoleFit fit = names.Fit(log.Channels[i]);
    if (fit.Role == role && fit.Score > 0) found.emplace_back(-fit.Score, i);
  }
  std::stable_sort(found.begin(), found.end());
  std::vector<std::size_t> channels;
  for (const auto& [score, index] : found) channels.push_back(index);
  return channels;
}

std::optional<std::size_t> FindRole(const TLog& log, TChannelRole role,
                                    const TChannelNames& names) {
  const std::vector<std::size_t> channels = ChannelsFor(log, role, names);
  if (channels.empty()) return std::nullopt;
  return channels.front();
}

std::optional<std::size_t> FindLoad(const TLog& log, const TChannelNames& names) {
  constexpr TChannelRole LoadRoles[] = {TChannelRole::ManifoldPressure,
                                        TChannelRole::CalculatedLoad, TChannelRole::Boost,
                                        TChannelRole::Throttle};
  std::optional<std::size_t> first;
  for (const TChannelRole role : LoadRoles) {
    for (const std::size_t channel : ChannelsFor(log, role, names)) {
      // A name the user gave wins over the order of the roles.
      if (names.Fit(log.Channels[channel]).User) return channel;
      if (!first) first = channel;
    }
  }
  return first;
}

TCorrectionForm CorrectionFormOf(const TChannel& channel) {
  const double median = MedianOf(channel.Values);
  const bool percentUnit = channel.Unit.find('%') != std::string::npos ||
                           text::EqualsNoCase(text::Trim(channel.Unit), "pct");
  if (std::isnan(median)) return percentUnit ? TCorrectionForm::Percent : TCorrectionForm::Factor;
  if (median > 50) return TCorrectionForm::Percent;
  if (!percentUnit && std::abs(median - 1) <= 0.5) return TCorrectionForm::Factor;
  return TCorrectionForm::Deviation;
}

double CorrectionFactor(double value, TCorrectionForm form) {
  switch (form) {
    case TCorrectionForm::Percent:
      return value / 100;
    case TCorrectionForm::Deviation:
      return 1 + value / 100;
    case TCorrectionForm::Factor:
      break;
  }
  return value;
}

}  // namespace enginelog
