// How kest-bench speaks: one "name: value unit" line per figure, '#' lines for people, verdicts on
// the targets; and the event loop run for a time or until a condition holds.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace bench {

using TClock = std::chrono::steady_clock;

double SecondsSince(TClock::time_point start);
double MsBetween(TClock::time_point from, TClock::time_point to);
// CPU time of this whole process, all threads, user and system: the monitor's, since the
// simulated box runs in a child process whose time is not counted here.
double ProcessCpuSeconds();

void Figure(const std::string& name, double value, const char* unit, int decimals = 2);
void Count(const std::string& name, std::uint64_t value, const char* unit);
void Note(const std::string& text);
// "MET     what (detail)" or "NOT MET what (detail)".
void Verdict(const std::string& what, bool met, const std::string& detail);
// `value` with `decimals` decimals, for the texts of notes and verdicts.
std::string Fixed(double value, int decimals = 2);
// The machine the figures come from: cores, CPU, kernel, date.
void PrintMachine();

// Runs the event loop for `seconds`.
void RunFor(double seconds);
// Runs the event loop until `done` holds or `seconds` pass; whether it held.
bool RunUntil(const std::function<bool()>& done, double seconds);

}  // namespace bench
