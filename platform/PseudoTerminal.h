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

  // Opens a new master with its slave in raw mode (closing whatever was open before); false, and
  // nothing held, when the system refuses. LastError() then says why.
  bool Open();
  // Uses an existing terminal device (a serial port, one end of a null-modem pair) as our end of
  // the line instead of a new pair: raw, 19200 bit/s, no modem control. False, and nothing held,
  // when the path is not a terminal or cannot be opened.
  bool OpenExisting(const std::string& ttyPath);
  // Closes our end: whoever holds the slave sees a hang-up. Safe to call when closed.
  void Close();
  bool IsOpen() const { return MasterFd >= 0; }
  // The path the peer opens: the slave's, such as /dev/pts/7, or the device given to OpenExisting;
  // empty while closed.
  const std::string& SlavePath() const { return Slave; }
  // Why the last Open or OpenExisting failed, with the system's message.
  const std::string& LastError() const { return Error; }

  // Waits up to `timeoutMs` for bytes and reads what is there (at most `size`); 0 on time-out,
  // -1 when our end is closed or failed (a hung-up device included).
  long Read(std::uint8_t* buffer, std::size_t size, int timeoutMs);
  // Writes all bytes, waiting for room for at most `timeoutMs` in all; returns how many went out:
  // `size` on success, fewer when the peer stopped taking bytes or our end is closed or failed.
  std::size_t Write(const std::uint8_t* data, std::size_t size, int timeoutMs = 500);
  // Read and Write may run on one background thread while another thread only looks at the
  // counters of its owner; Open, OpenExisting and Close must not overlap a Read or Write.

 private:
  int MasterFd = -1;
  // For the whole life of the master we hold one slave descriptor of our own. Without it Linux
  // answers every master read with EIO (and poll with POLLHUP) whenever the monitor has the port
  // closed, which turns a waiting simulator into a spinning one, and bytes written before anyone
  // listens fail. The price, that the master cannot see the monitor close its side, costs the
  // simulator nothing: it only answers what it is asked.
  int KeepSlaveFd = -1;
  std::string Slave;
  std::string Error;
};

}  // namespace platform
