// What each channel of an engine log is: engine speed, load, the engine's own mixture reading, its
// target, the fuel table value, the closed-loop correction, the enrichments, fuel cut, coolant,
// throttle. Engine software names the same quantity differently from one program (and one version)
// to the next, and loggers put their own prefix and unit in the name, so a channel is known by a
// table of names written as words, matched whole or after a prefix, and where no name fits, by its
// unit and values. Users add their own names in channels.conf beside ports.conf:
//
//   [channels]
//   speed=Motordrehzahl
//   mixture=Lambda Ist
//
// A line that cannot be used is skipped with a warning; nothing in the file stops the program.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "log/Log.h"

namespace enginelog {

enum class TChannelRole : std::uint8_t {
  EngineSpeed,
  ManifoldPressure,
  Boost,
  CalculatedLoad,
  Throttle,
  Mixture,           // the engine log's own mixture reading, lambda or an air-fuel ratio
  MixtureTarget,     // what the engine software aims the mixture at
  FuelTableValue,    // the fuel (VE) table value the engine used for the record
  Correction,        // the closed-loop correction: around 100 %, around 0 % or around 1
  WarmupEnrichment,  // warm-up or after-start enrichment: around 100 % when off
  AccelEnrichment,
  FuelCut,     // a flag: 1 while fuel is cut
  PulseWidth,  // the injectors' pulse width: 0 while fuel is cut
  Coolant,
};
inline constexpr std::size_t RoleCount = 14;

// The role's word in channels.conf and in messages: "speed", "map", "boost", "load", "throttle",
// "mixture", "target", "ve", "correction", "warmup", "accel", "fuelcut", "pulsewidth", "coolant".
std::string_view RoleKey(TChannelRole role);
// The role of a channels.conf word (letter case ignored); nothing for another word.
std::optional<TChannelRole> RoleOfKey(std::string_view key);

// How well a channel fits its role; higher is better, 0 is no fit.
struct TRoleFit {
  std::optional<TChannelRole> Role;
  int Score = 0;
  bool User = false;  // by a name of the user's
};

// The names of every role: the built-in ones and a user's.
class TChannelNames {
 public:
  // The built-in names alone.
  TChannelNames();

  // Adds the names in `text` (the text of channels.conf). Every line that cannot be used adds
  // one warning, "line N: what is wrong", and is skipped: not ROLE=NAME, a role that is not one
  // of RoleKey's words, an empty name, a line outside [channels].
  void AddUserText(std::string_view text, std::vector<std::string>& warnings);
  // Adds one name for `role`; a user's name wins over every built-in one.
  void Add(TChannelRole role, std::string_view name, bool user);

  // The role `channel` fits best: by its name (whole; else with a trailing number left off; else
  // after a prefix of words, the longest name winning), else by its unit and values. Names that
  // say a channel is about a role without being it ("AFR Target" is no mixture reading) are kept
  // out of that role.
  TRoleFit Fit(const TChannel& channel) const;

 private:
  struct TName {
    std::string Words;  // as NameWords writes it
    TChannelRole Role;
    bool User;
  };
  std::vector<TName> Names;
};

// The path of channels.conf in the settings folder `configFolder`; empty for an empty folder.
std::string ChannelNamesFileIn(const std::string& configFolder);

// A channel's name as words: bracketed parts ("[bar]", "(Current)") left out, letter case folded,
// every run of other characters than letters and digits one blank, and each camel-case word split
// ("EngineSpeed" as "engine speed") when `splitCamel`.
std::string NameWords(std::string_view name, bool splitCamel);

// The channels of `log` whose best role is `role`, best first (on a tie, the earlier channel).
std::vector<std::size_t> ChannelsFor(const TLog& log, TChannelRole role,
                                     const TChannelNames& names);
// The best of them; none when no channel fits.
std::optional<std::size_t> FindRole(const TLog& log, TChannelRole role, const TChannelNames& names);
// The fuel table's load: a channel the user named for one of the load roles, else the manifold
// pressure, else a calculated load, else boost, else the throttle.
std::optional<std::size_t> FindLoad(const TLog& log, const TChannelNames& names);

// How a closed-loop correction channel is written, told by its values.
enum class TCorrectionForm : std::uint8_t {
  Percent,    // 100 = no correction
  Deviation,  // percent off: 0 = no correction
  Factor,     // 1.0 = no correction
};
// The form of `channel`'s values: their median near 1 is a factor, near 0 a deviation, and
// anything else percent.
TCorrectionForm CorrectionFormOf(const TChannel& channel);
// `value` of a channel of `form` as a factor (1.0 = no correction).
double CorrectionFactor(double value, TCorrectionForm form);

}  // namespace enginelog
