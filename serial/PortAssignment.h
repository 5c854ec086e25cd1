// Which device stands behind each COM number: the numbering rule, as a function over tables.
//
// Built-in UARTs keep COM n = /dev/ttyS<n-1>, and ports the system numbered COMn themselves
// (Windows) keep n when it is 1 to 16, and get no other number. Every other device, the first time
// it is seen, takes the lowest COM number from 1 to 16 that no present or remembered device holds,
// and keeps it, remembered by its stable name, whether it is plugged in or not. A number given for
// one run
// (--port COMn=DEVICE) stands over all of that and is not remembered.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "serial/SerialPorts.h"

inline constexpr int FirstAssignedComNumber = 1;
inline constexpr int LastAssignedComNumber = 16;

// COM number -> device name (a stable name or a path).
using TPortTable = std::map<int, std::string>;

struct TComPort {
  enum class TSource { Uart, Remembered, New, Override };
  std::string Path;                   // what the port is opened by
  std::optional<std::size_t> Device;  // index of the present device behind it; none when absent
  TSource Source = TSource::Uart;

  bool operator==(const TComPort&) const = default;
};

struct TPortAssignment {
  std::map<int, TComPort> Ports;  // the numbers that stand for something
  TPortTable Memory;              // what the port memory holds afterwards: remembered plus new
  std::vector<std::size_t> Unnumbered;  // present devices left without a number: all 16 taken

  // The COM number of present device `device`, if it has one.
  std::optional<int> NumberOf(std::size_t device) const;
};

// Numbers the `present` devices. `remembered` is the port memory (COM n -> a device's key, or any
// of its names, as a user may write); an entry whose device is absent keeps its number all the
// same. `overrides` (COM n -> path) decide their numbers for this run only. Entries outside 1..16
// are ignored. When a remembered entry and a UART claim the same number, the entry wins: the
// memory is the user's to edit.
TPortAssignment AssignComNumbers(const std::vector<TSerialPort>& present,
                                 const TPortTable& remembered, const TPortTable& overrides);
