// The CSV log: its texts, the file read back byte for byte, and the failures the system can hand
// it: no directory, no permission, a full disk, a failed close, a killed process.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>

#include "log/CsvLog.h"
#include "sensor/Reading.h"

namespace csvlog {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A fresh directory per test, removed afterwards.
class CsvLogFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "kest_log_tests_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    Dir = pattern;
    // Others must be able to reach inside, for the test that drops privileges.
    fs::permissions(Dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(Dir, ignored);
  }
  fs::path Dir;
};

struct TRowCase {
  std::string Time, Reading, Volts, Expected;
};

TEST(LogTextTest, HeaderAndRows) {
  EXPECT_EQ(LogHeaderLine1("08/12/2026"), "Torvane KEST datalog.  08/12/2026");
  EXPECT_STREQ(LogHeaderLine2, "Time, AFR or LAMBDA, Supply volts");
  const TRowCase rows[] = {
      {"14:03:27", "14.7", "12.5", "14:03:27,14.7,12.5"},
      {"14:03:27", "14,7", "12,5", "14:03:27,14,7,12,5"},
      {"2:03:27 PM", "1.00", "16.0", "2:03:27 PM,1.00,16.0"},
      {"", "", "", ",,"},
  };
  for (const TRowCase& r : rows) EXPECT_EQ(LogRow(r.Time, r.Reading, r.Volts), r.Expected);
  // The row as the sample tick builds it from a reading, in a comma locale.
  EXPECT_EQ(
      LogRow("14:03:27",
             sensor::ReadingText(sensor::CalcKest(147, sensor::dmAirFuelRatio, sensor::ftPetrol),
                                 sensor::dmAirFuelRatio, ","),
             sensor::VoltageText(12.549, ",")),
      "14:03:27,14,7,12,5");
}

TEST_F(CsvLogFileTest, FileReadsBackByteForByte) {
  const fs::path path = Dir / "log.txt";
  // An existing longer file is replaced, not overwritten in part.
  std::ofstream(path, std::ios::binary) << std::string(500, 'x');
  TCsvLogFile log;
  log.Create(path.string());
  EXPECT_TRUE(log.IsOpen());
  EXPECT_EQ(log.Path(), path.string());
  log.WriteLine(LogHeaderLine1("08/12/2026"));
  log.WriteLine(LogHeaderLine2);
  log.WriteLine(LogRow("14:03:27", "14.7", "12.5"));
  log.WriteLine(LogRow("14:03:27", "1.00", "12.5"));
  // Each row is in the file as soon as it was written, before any close.
  EXPECT_EQ(ReadFile(path),
            "Torvane KEST datalog.  08/12/2026\r\n"
            "Time, AFR or LAMBDA, Supply volts\r\n"
            "14:03:27,14.7,12.5\r\n"
            "14:03:27,1.00,12.5\r\n");
  log.WriteLine("");
  log.Close();
  EXPECT_FALSE(log.IsOpen());
  EXPECT_EQ(ReadFile(path),
            "Torvane KEST datalog.  08/12/2026\r\n"
            "Time, AFR or LAMBDA, Supply volts\r\n"
            "14:03:27,14.7,12.5\r\n"
            "14:03:27,1.00,12.5\r\n"
            "\r\n");
  log.Close();  // closing a closed log does nothing
  EXPECT_FALSE(log.IsOpen());
}

TEST_F(CsvLogFileTest, DestructorClosesAndKeepsRows) {
  const fs::path path = Dir / "log.txt";
  {
    TCsvLogFile log;
    log.Create(path.string());
    log.WriteLine("a");
  }
  EXPECT_EQ(ReadFile(path), "a\r\n");
}

int OpenDescriptorCount() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

// A log started while another is still open: the first file is closed, not leaked, and keeps
// every row it was given, the one still waiting for its flush included.
TEST_F(CsvLogFileTest, CreatingAgainClosesTheFirstFileWithItsRows) {
  const fs::path first = Dir / "first.txt";
  const fs::path second = Dir / "second.txt";
  const int descriptorsBefore = OpenDescriptorCount();
  TCsvLogFile log;
  log.Create(first.string());
  log.WriteLine("a");
  log.WriteLine("b", TCsvLogFile::TFlush::WithNextLine);
  log.Create(second.string());
  EXPECT_EQ(OpenDescriptorCount(), descriptorsBefore + 1) << "the first file is still open";
  EXPECT_EQ(log.Path(), second.string());
  EXPECT_EQ(ReadFile(first), "a\r\nb\r\n");
  log.WriteLine("c");
  EXPECT_EQ(ReadFile(second), "c\r\n");
  EXPECT_EQ(ReadFile(first), "a\r\nb\r\n") << "rows went to the first file";
  log.Close();
  EXPECT_EQ(OpenDescriptorCount(), descriptorsBefore);
}

// Runs `body` in a child process as the unprivileged user "nobody" and returns what it returned,
// or -1 when the child could not drop its privileges. Root ignores file permissions, so a
// permission test run as root would otherwise prove nothing.
int RunAsNobody(const std::function<int()>& body) {
  const pid_t child = fork();
  if (child == 0) {
    constexpr uid_t nobody = 65534;
    if (setgroups(0, nullptr) != 0 && geteuid() == 0) _exit(255);
    if (setresgid(nobody, nobody, nobody) != 0 || setresuid(nobody, nobody, nobody) != 0) {
      _exit(255);
    }
    _exit(body());
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status) == 255 ? -1 : WEXITSTATUS(status);
}

// errno of a failed Create, 0 when it succeeded, 254 for a wrong state afterwards.
int CreateErrorCode(const std::string& path) {
  TCsvLogFile log;
  try {
    log.Create(path);
  } catch (const TLogFileError& error) {
    const bool sound = !log.IsOpen() && log.Path().empty() &&
                       std::string(error.what()).find(path) != std::string::npos;
    return sound ? error.ErrorCode : 254;
  }
  return 0;
}

TEST_F(CsvLogFileTest, CreateFailures) {
  struct TCase {
    const char* Name;
    fs::path Path;
    int ErrorCode;
  };
  const TCase cases[] = {
      {"missing directory", Dir / "missing" / "log.txt", ENOENT},
      {"path is a directory", Dir, EISDIR},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TCsvLogFile log;
    try {
      log.Create(c.Path.string());
      ADD_FAILURE() << "created " << c.Path;
    } catch (const TLogFileError& error) {
      EXPECT_EQ(error.ErrorCode, c.ErrorCode);
      EXPECT_EQ(std::string(error.what()), "Could not create the log file " + c.Path.string() +
                                               ": " + std::strerror(c.ErrorCode));
    }
    EXPECT_FALSE(log.IsOpen());
    EXPECT_TRUE(log.Path().empty());
    EXPECT_THROW(log.WriteLine("row"), TLogFileError);
  }
}

TEST_F(CsvLogFileTest, CreateFailsWithoutWritePermission) {
  const fs::path readOnly = Dir / "read-only";
  fs::create_directory(readOnly);
  fs::permissions(readOnly, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                fs::perms::group_exec | fs::perms::others_read |
                                fs::perms::others_exec);
  const std::string path = (readOnly / "log.txt").string();
  const int errorCode =
      geteuid() == 0 ? RunAsNobody([&] { return CreateErrorCode(path); }) : CreateErrorCode(path);
  ASSERT_NE(errorCode, -1) << "could not drop privileges to nobody";
  EXPECT_EQ(errorCode, EACCES);
  EXPECT_FALSE(fs::exists(path));
}

// A full disk: every row is reported, the log stays open for the next one, and it still closes.
TEST_F(CsvLogFileTest, FullDiskRowsThrowAndTheLogStaysOpen) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  TCsvLogFile log;
  log.Create("/dev/full");
  for (int row = 0; row < 3; ++row) {
    SCOPED_TRACE(row);
    try {
      log.WriteLine("14:03:27,14.7,12.5");
      ADD_FAILURE() << "a row to a full disk was taken as written";
    } catch (const TLogFileError& error) {
      EXPECT_EQ(error.ErrorCode, ENOSPC);
      EXPECT_EQ(std::string(error.what()),
                std::string("Could not write to the log file /dev/full: ") + std::strerror(ENOSPC));
    }
    EXPECT_TRUE(log.IsOpen());
  }
  // The failed rows are not held back to fail the close as well.
  EXPECT_NO_THROW(log.Close());
  EXPECT_FALSE(log.IsOpen());
}

// The descriptor behind the log, found by its path, so the test can pull it away.
int DescriptorOf(const fs::path& path) {
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (fs::read_symlink(entry.path(), error) == path) return std::stoi(entry.path().filename());
  }
  return -1;
}

TEST_F(CsvLogFileTest, FailedCloseThrowsAndHoldsNothing) {
  const fs::path path = Dir / "log.txt";
  TCsvLogFile log;
  log.Create(path.string());
  log.WriteLine("a");
  const int fd = DescriptorOf(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(close(fd), 0);  // the close underneath the stream now fails with EBADF
  try {
    log.Close();
    ADD_FAILURE() << "a failed close was taken as done";
  } catch (const TLogFileError& error) {
    EXPECT_EQ(error.ErrorCode, EBADF);
    EXPECT_EQ(std::string(error.what()),
              "Could not close the log file " + path.string() + ": " + std::strerror(EBADF));
  }
  EXPECT_FALSE(log.IsOpen());
  EXPECT_NO_THROW(log.Close());
  EXPECT_EQ(ReadFile(path), "a\r\n");
}

// A logging process killed without warning keeps every row it had written.
TEST_F(CsvLogFileTest, RowsSurviveSigkill) {
  constexpr int Rows = 25;
  const fs::path path = Dir / "killed.txt";
  int written[2];  // the child reports each row here
  int never[2];    // the child waits on this after its last row; nothing ever comes
  ASSERT_EQ(pipe(written), 0);
  ASSERT_EQ(pipe(never), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(written[0]);
    close(never[1]);
    try {
      TCsvLogFile log;
      log.Create(path.string());
      log.WriteLine(LogHeaderLine1("08/12/2026"));
      log.WriteLine(LogHeaderLine2);
      for (int row = 0; row < Rows; ++row) {
        log.WriteLine(LogRow("14:03:" + std::to_string(10 + row), "14.7", "12.5"));
        if (write(written[1], "r", 1) != 1) _exit(2);
      }
      char byte;
      while (read(never[0], &byte, 1) != 0) {
      }
    } catch (...) {
      _exit(1);
    }
    _exit(3);
  }
  close(written[1]);
  close(never[0]);
  int reported = 0;
  char byte;
  while (reported < Rows && read(written[0], &byte, 1) == 1) ++reported;
  kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  close(written[0]);
  close(never[1]);
  ASSERT_EQ(reported, Rows) << "the child stopped logging early";
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

  std::string expected =
      "Torvane KEST datalog.  08/12/2026\r\nTime, AFR or LAMBDA, Supply volts\r\n";
  for (int row = 0; row < Rows; ++row) {
    expected += "14:03:" + std::to_string(10 + row) + ",14.7,12.5\r\n";
  }
  EXPECT_EQ(ReadFile(path), expected);
}

}  // namespace
}  // namespace csvlog
