// The monitor's side of a line in the sim tests, with plain POSIX calls so that the code under test
// is not also the code that checks it. Every wait has a generous deadline that only a broken
// simulator reaches; no result depends on how fast the machine is.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace simtest {

inline constexpr int DeadlineMs = 5000;

// A descriptor that closes itself.
class TFd {
 public:
  explicit TFd(int fd = -1) : Fd(fd) {}
  ~TFd() { Reset(); }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int Get() const { return Fd; }
  bool Valid() const { return Fd >= 0; }
  void Reset() {
    if (Fd >= 0) ::close(Fd);
    Fd = -1;
  }

 private:
  int Fd;
};

inline int OpenTty(const std::string& path) {
  return ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
}

inline bool WriteBytes(int fd, const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<std::size_t>(put);
  }
  return true;
}

inline int MsLeft(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Reads until `count` bytes came or the deadline passed; returns what came.
inline std::vector<std::uint8_t> ReadBytes(int fd, std::size_t count, int timeoutMs = DeadlineMs) {
  std::vector<std::uint8_t> got;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (got.size() < count) {
    pollfd waiter{fd, POLLIN, 0};
    const int ready = ::poll(&waiter, 1, MsLeft(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0 || (waiter.revents & POLLIN) == 0) break;
    std::uint8_t buffer[256];
    const std::size_t want = std::min(sizeof buffer, count - got.size());
    const ssize_t n = ::read(fd, buffer, want);
    if (n <= 0) break;
    got.insert(got.end(), buffer, buffer + n);
  }
  return got;
}

// Whether the far end hangs up before the deadline: poll reports POLLHUP, or a read ends with
// 0 or EIO. Bytes still queued before the hang-up are read and dropped.
inline bool SeesHangup(int fd, int timeoutMs = DeadlineMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    pollfd waiter{fd, POLLIN, 0};
    const int ready = ::poll(&waiter, 1, MsLeft(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    if (waiter.revents & (POLLHUP | POLLERR)) return true;
    std::uint8_t buffer[64];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0 || (n < 0 && errno == EIO)) return true;
    if (n < 0 && errno != EINTR && errno != EAGAIN) return false;
  }
}

// Polls `condition` until it holds or the deadline passes.
template <typename TCondition>
bool WaitFor(TCondition condition, int timeoutMs = DeadlineMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace simtest
