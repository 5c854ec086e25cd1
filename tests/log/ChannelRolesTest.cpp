// What each engine channel is: by the names several engine programs and loggers give it, by its
// unit and values where no name fits, and by the names a user adds.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "log/ChannelRoles.h"

namespace enginelog {
namespace {

using R = TChannelRole;

TEST(ChannelRoles, ChannelsAreKnownByNameUnitAndValues) {
  struct TCase {
    const char* Name;
    const char* Unit;
    std::vector<float> Values;
    std::optional<TChannelRole> Expected;
  };
  const TCase cases[] = {
      // A logger's prefix and its unit in brackets (the unit split off by the text reader or not).
      {"PLX Engine Speed", "rpm", {}, R::EngineSpeed},
      {"PLX Manifold Absolute Pressure [bar]", "", {}, R::ManifoldPressure},
      {"PLX O2 - Wideband", "Lambda", {}, R::Mixture},
      {"PLX Ignition Timing", "deg", {}, std::nullopt},
      {"EngineSpeed", "", {}, R::EngineSpeed},
      {"Idle Target RPM", "rpm", {}, std::nullopt},
      {"Vehicle Speed", "km/h", {}, std::nullopt},
      // The same quantity under the names of several programs and versions.
      {"Gego", "%", {}, R::Correction},
      {"Correction_AFR", "%", {}, R::Correction},
      {"EGO cor1", "%", {}, R::Correction},
      {"STFT", "%", {}, R::Correction},
      {"VE", "%", {}, R::FuelTableValue},
      {"VE1", "%", {}, R::FuelTableValue},
      {"Current VE", "%", {}, R::FuelTableValue},
      {"VE (Current)", "%", {}, R::FuelTableValue},
      {"Fuel: VE", "%", {}, R::FuelTableValue},
      {"AFR Target", "AFR", {}, R::MixtureTarget},
      {"Lambda Target", "", {}, R::MixtureTarget},
      {"Target Lambda", "", {}, R::MixtureTarget},
      {"Fuel: target lambda", "", {}, R::MixtureTarget},
      {"AFRTarget", "", {}, R::MixtureTarget},
      {"afrtgt", "", {}, R::MixtureTarget},
      {"AFR (target)", "", {}, R::MixtureTarget},
      {"AFR", "AFR", {}, R::Mixture},
      {"Lambda 1", "", {}, R::Mixture},
      {"Air/Fuel Ratio", "", {}, R::Mixture},
      {"Wideband O2", "AFR", {}, R::Mixture},
      // A narrowband sensor reads volts whatever its name: never the mixture.
      {"O2", "V", {}, std::nullopt},
      {"Lambda", "mV", {}, std::nullopt},
      {"MAP", "kPa", {}, R::ManifoldPressure},
      {"Boost", "psi", {}, R::Boost},
      {"Boost Target", "psi", {}, std::nullopt},
      {"Engine Load", "%", {}, R::CalculatedLoad},
      {"TPS", "%", {}, R::Throttle},
      {"TPSdot", "%/s", {}, std::nullopt},
      {"Throttle Position", "%", {}, R::Throttle},
      {"WarmupEnrich", "%", {}, R::WarmupEnrichment},
      {"Accel Enrich", "%", {}, R::AccelEnrichment},
      {"DFCO", "", {}, R::FuelCut},
      {"PW", "ms", {}, R::PulseWidth},
      {"Injector Duty", "%", {}, std::nullopt},
      {"CLT", "C", {}, R::Coolant},
      {"Coolant Temp", "C", {}, R::Coolant},
      // No name that fits: the unit and the values say it.
      {"Kanal 7", "rpm", {800, 3000}, R::EngineSpeed},
      {"Kanal 8", "kPa", {40, 100}, R::ManifoldPressure},
      {"Oil Pressure", "kPa", {300}, std::nullopt},
      {"Fuel Pressure", "bar", {3}, std::nullopt},
      {"Kanal 9", "AFR", {14.7F, 13.2F}, R::Mixture},
      {"Kanal 10", "lambda", {0.98F, 1.01F, 1.0F}, R::Mixture},
      {"Kanal 11", "AFR", {1200, 1300, 1400}, std::nullopt},
      {"Kanal 12", "%", {50}, std::nullopt},
  };
  const TChannelNames names;
  for (const TCase& c : cases) {
    const TRoleFit fit = names.Fit({c.Name, c.Unit, c.Values});
    EXPECT_EQ(fit.Score > 0 ? fit.Role : std::nullopt, c.Expected)
        << c.Name << " [" << c.Unit << "]";
  }
}

TLog LogOf(const std::vector<std::pair<std::string, std::string>>& channels) {
  TLog log;
  for (const auto& [name, unit] : channels) log.Channels.push_back({name, unit, {}});
  return log;
}

TEST(ChannelRoles, TheBestMatchOfALogWinsAndLoadFallsBackInOrder) {
  struct TCase {
    std::vector<std::pair<std::string, std::string>> Channels;
    std::optional<std::size_t> Mixture, Speed, Load;
  };
  const std::vector<TCase> cases = {
      {{{"PLX Ignition Timing", "deg"},
        {"PLX Engine Speed", "rpm"},
        {"PLX Manifold Absolute Pressure", "bar"},
        {"PLX O2 - Wideband", "Lambda"}},
       3,
       1,
       2},
      // A whole name beats one found after a prefix or by its unit alone.
      {{{"Lambda 2 wideband", ""}, {"AFR", "AFR"}, {"Kanal 1", "rpm"}, {"RPM", "rpm"}}, 1, 3, {}},
      {{{"AFR Target 1", "AFR"}, {"AFR", "AFR"}, {"Engine Load", "%"}, {"MAP", "kPa"}}, 1, {}, 3},
      // Without a manifold pressure: a calculated load, then boost, then the throttle.
      {{{"TPS", "%"}, {"Boost", "psi"}, {"Load", "%"}}, {}, {}, 2},
      {{{"TPS", "%"}, {"Boost", "psi"}}, {}, {}, 1},
      {{{"TPS", "%"}, {"ego", ""}}, 1, {}, 0},
      {{{"afrtgt", ""}, {"RPM", ""}, {"Coolant", "C"}}, {}, 1, {}},
  };
  const TChannelNames names;
  for (const TCase& c : cases) {
    const TLog log = LogOf(c.Channels);
    SCOPED_TRACE(c.Channels.front().first);
    EXPECT_EQ(FindRole(log, R::Mixture, names), c.Mixture);
    EXPECT_EQ(FindRole(log, R::EngineSpeed, names), c.Speed);
    EXPECT_EQ(FindLoad(log, names), c.Load);
  }
}

TEST(ChannelRoles, AUsersNamesWinAndLinesThatCannotBeUsedAreSkippedWithAWarning) {
  const std::string conf =
      "\xEF\xBB\xBF# my logger\r\n"
      "mixture=Lambda Ist\r\n"  // outside the section
      "[channels]\r\n"
      "speed = Motordrehzahl\r\n"
      "LOAD=Saugrohr\r\n"
      "mixture=Lambda Ist\r\n"
      "colour=red\r\n"
      "ve=\r\n"
      "no equals sign\r\n"
      "[other\r\n"
      "speed=Drehzahl Kurbelwelle\r\n";
  TChannelNames names;
  std::vector<std::string> warnings;
  names.AddUserText(conf, warnings);
  ASSERT_EQ(warnings.size(), 6U);
  EXPECT_EQ(warnings[0].rfind("line 2:", 0), 0U) << warnings[0];
  EXPECT_NE(warnings[1].find("line 7:"), std::string::npos);
  EXPECT_NE(warnings[1].find("'colour' is not a role"), std::string::npos) << warnings[1];
  EXPECT_NE(warnings[2].find("line 8:"), std::string::npos);
  EXPECT_NE(warnings[3].find("line 9:"), std::string::npos);
  EXPECT_NE(warnings[4].find("line 10:"), std::string::npos);
  EXPECT_NE(warnings[5].find("line 11:"), std::string::npos);  // after a section that is not ours

  const TLog log = LogOf({{"RPM", "rpm"},
                          {"Motordrehzahl", ""},
                          {"MAP", "kPa"},
                          {"Saugrohr", "hPa"},
                          {"AFR", "AFR"},
                          {"Lambda Ist", ""},
                          {"Drehzahl Kurbelwelle", ""}});
  EXPECT_EQ(FindRole(log, R::EngineSpeed, names), 1U);
  EXPECT_EQ(FindLoad(log, names), 3U);  // a user's load wins over the manifold pressure
  EXPECT_EQ(FindRole(log, R::Mixture, names), 5U);
  EXPECT_EQ(FindRole(log, R::Mixture, TChannelNames()), 4U);
}

TEST(ChannelRoles, TheCorrectionsFormIsToldByItsValues) {
  struct TCase {
    const char* Unit;
    std::vector<float> Values;
    double Logged, Factor;
  };
  const TCase cases[] = {
      {"%", {100, 98, 103, 101}, 95, 0.95},
      {"%", {0, -2, 3, 1}, -5, 0.95},
      {"", {1.0F, 0.98F, 1.03F}, 0.95, 0.95},
      {"%", {1, 0, 2, 1}, 5, 1.05},  // percent near 0 is a deviation, not a factor
      {"", {2, -3, 0, 1, 0}, 10, 1.10},
  };
  for (const TCase& c : cases) {
    const TChannel channel{"Gego", c.Unit, c.Values};
    EXPECT_NEAR(CorrectionFactor(c.Logged, CorrectionFormOf(channel)), c.Factor, 1e-9)
        << c.Unit << " " << c.Values.front();
  }
}

}  // namespace
}  // namespace enginelog
