// Why a real device would not open, as the system's serial backend captures it and as the user is
// told (the window's status bar tool tip and kestlog say the same words): a device the user may
// not open, and one that another program holds. The first runs in a child process that gives up
// root, since a test machine may run everything as root, which opens every device.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/PortMap.h"
#include "platform/PseudoTerminal.h"
#include "platform/SerialApi.h"
#include "serial/OpenFailureText.h"

namespace {

constexpr uid_t NobodyId = 65534;  // the unprivileged user and group of Debian and most others

// Runs `body` in a child process and returns what it wrote to the pipe it was given.
template <typename TBody>
std::string InChild(TBody body) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return "pipe failed";
  const pid_t child = fork();
  if (child < 0) return "fork failed";
  if (child == 0) {
    close(pipeEnds[0]);
    const std::string answer = body();
    (void)!write(pipeEnds[1], answer.data(), answer.size());
    _exit(0);
  }
  close(pipeEnds[1]);
  std::string answer;
  char buffer[512];
  for (ssize_t got; (got = read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
    answer.append(buffer, got);
  close(pipeEnds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) answer += " (the child failed)";
  return answer;
}

TEST(OpenFailureOverPty, APermissionRefusalNamesTheDialoutGroup) {
  platform::TPseudoTerminal line;
  ASSERT_TRUE(line.Open()) << line.LastError();
  ASSERT_EQ(chmod(line.SlavePath().c_str(), 0600), 0);  // the owner's alone, as a tty of dialout
                                                        // is to anyone outside the group
  const std::string path = line.SlavePath();
  const std::string told = InChild([&]() -> std::string {
    if (geteuid() == 0 &&
        (setgroups(0, nullptr) != 0 || setgid(NobodyId) != 0 || setuid(NobodyId) != 0)) {
      return "could not give up root";
    }
    if (geteuid() == 0) return "still root";
    platform::TPortMap portMap;
    portMap.Map(1, path);
    const std::unique_ptr<platform::TSerialApi> serial = platform::CreateSystemSerialApi(portMap);
    platform::TSerialApi& api = *serial;
    if (api.CreateFile("\\\\.\\COM1") != platform::InvalidPortHandle) return "opened";
    const platform::TOpenFailure failure = api.LastOpenFailure();
    if (failure.Error != platform::TOpenError::PermissionDenied) return "not a refusal";
    return OpenFailureText("COM1", failure);
  });
  if (geteuid() != 0 && told == "opened") GTEST_SKIP() << "this user owns the terminal";
  EXPECT_EQ(told.rfind("could not open " + path + ": permission denied. ", 0), 0u) << told;
  EXPECT_NE(told.find("sudo usermod -aG dialout \"$USER\""), std::string::npos) << told;
}

TEST(OpenFailureOverPty, APortInUseNamesTheProgramHoldingIt) {
  platform::TPseudoTerminal line;
  ASSERT_TRUE(line.Open()) << line.LastError();
  const std::string path = line.SlavePath();
  platform::TPortMap portMap;
  portMap.Map(1, path);

  // Another program holds the port, the way this one holds its own: opened and locked.
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t holder = fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
    const char answer = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 ? 'y' : 'n';
    (void)!write(ready[1], &answer, 1);
    pause();
    _exit(0);
  }
  close(ready[1]);
  char answer = 0;
  ASSERT_EQ(read(ready[0], &answer, 1), 1);
  close(ready[0]);
  ASSERT_EQ(answer, 'y');

  const std::unique_ptr<platform::TSerialApi> serial = platform::CreateSystemSerialApi(portMap);
  platform::TSerialApi& api = *serial;
  const platform::TPortHandle port = api.CreateFile("\\\\.\\COM1");
  const platform::TOpenFailure failure = api.LastOpenFailure();
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  if (port != platform::InvalidPortHandle) api.CloseHandle(port);
  ASSERT_EQ(port, platform::InvalidPortHandle);
  EXPECT_EQ(failure.Error, platform::TOpenError::InUse);
  EXPECT_EQ(failure.Path, path);
  const std::string told = OpenFailureText("COM1", failure);
  EXPECT_NE(told.find("in use by another program, "), std::string::npos) << told;
  EXPECT_NE(told.find("(process " + std::to_string(holder) + ")"), std::string::npos) << told;

  // Once it has let go, the port opens and the failure is forgotten.
  const platform::TPortHandle again = api.CreateFile("\\\\.\\COM1");
  EXPECT_NE(again, platform::InvalidPortHandle);
  EXPECT_EQ(api.LastOpenFailure().Error, platform::TOpenError::None);
  if (again != platform::InvalidPortHandle) api.CloseHandle(again);
}

}  // namespace
