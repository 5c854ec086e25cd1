// A pseudo-terminal pair: the far end of a serial line that exists only in software. The simulator
// sits on the master side; the monitor opens the slave's path like any serial device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

class TPseudoTerminal {
 public:
  TPseudoTerminal() = default;
  ~TPseudoTerminal();
  TPseudoTerminal(const TPseudoTerminal&) = delete;
  TPseudoTerminal& operator=(const TPseudoTerminal&) = delete;

  // Opens a new master in raw mode; false (and nothing held) when the system refuses.
  bool Open();
  // Closes the master: whoever holds the slave sees a hang-up.
  void Close();
  bool IsOpen() const { return MasterFd >= 0; }
  // The slave's path, such as /dev/pts/7; empty while closed.
  const std::string& SlavePath() const { return Slave; }

  // Waits up to `timeoutMs` for bytes and reads what is there (at most `size`); 0 on time-out,
  // -1 when the master is closed or failed.
  long Read(std::uint8_t* buffer, std::size_t size, int timeoutMs);
  // Writes all bytes (waiting for room as needed); false when the master is closed or failed.
  bool Write(const std::uint8_t* data, std::size_t size);
  // Writes from a background thread safely while another thread reads: both only use the fd.

 private:
  int MasterFd = -1;
  // The master keeps one slave descriptor of its own open until the first peer opens the slave,
  // so that bytes written before anyone listens do not fail with EIO.
  int KeepSlaveFd = -1;
  std::string Slave;
};

}  // namespace platform
