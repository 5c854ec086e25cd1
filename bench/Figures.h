// How the benchmarks speak: one "name: value unit" line per figure, '#' lines for people, verdicts
// on the targets; and the clocks they time with. Plain C++, so that every benchmark prints the same
// way (the event loop's waits are in bench/EventLoop.h).
#pragma once

#include <chrono>
#include <cstdint>
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
// "MET     what (detail)" or "NOT MET what (detail)": kest-bench's verdicts, read by people.
void Verdict(const std::string& what, bool met, const std::string& detail);
// "name: met (bound)" or "name: NOT MET (bound)": a target as a figure line, as kestview-bench
// prints them.
void Target(const std::string& name, bool met, const std::string& bound);
// `value` with `decimals` decimals, for the texts of notes and verdicts.
std::string Fixed(double value, int decimals = 2);
// The machine the figures come from: cores, CPU, kernel, date.
void PrintMachine();

}  // namespace bench
