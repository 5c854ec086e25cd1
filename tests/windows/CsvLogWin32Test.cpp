// The CSV log on Windows files: exact CR LF line ends despite the system's text conventions, rows
// that another program can read while the log is open, and the failures Windows hands out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <ostream>
#include <string>

#include "log/CsvLog.h"
#include "tests/windows/WindowsTestSupport.h"

namespace csvlog {
namespace {

namespace fs = std::filesystem;

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Reads the file as another program would while the log holds it: sharing reading and writing.
std::string ReadAsAnotherProgram(const fs::path& path) {
  const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return "<cannot open: " + std::to_string(::GetLastError()) + ">";
  std::string text;
  char chunk[256];
  DWORD got = 0;
  while (::ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
  ::CloseHandle(file);
  return text;
}

class CsvLogWin32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    // One folder per case; the names of parameterised cases carry a slash.
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(name.begin(), name.end(), '/', '_');
    Dir = fs::temp_directory_path() /
          ("kest_log_windows_" + std::to_string(::GetCurrentProcessId()) + "_" + name);
    fs::create_directories(Dir);
  }
  void TearDown() override {
    // Windows deletes no read-only file, so the attribute goes first.
    std::error_code ignored;
    for (const fs::directory_entry& entry : fs::directory_iterator(Dir, ignored)) {
      ::SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    fs::remove_all(Dir, ignored);
  }
  fs::path Dir;
};

TEST_F(CsvLogWin32Test, LinesEndInExactlyCrLf) {
  const fs::path path = Dir / "log.csv";
  TCsvLogFile log;
  log.Create(path.string());
  log.WriteLine(LogHeaderLine1("08/12/2026"));
  log.WriteLine(LogHeaderLine2);
  log.WriteLine(LogRow("14:03:27", "14.7", "12.5"), TCsvLogFile::TFlush::WithNextLine);
  log.WriteLine(LogRow("14:03:28", "14.6", "12.5"));
  log.Close();
  EXPECT_EQ(ReadWhole(path),
            "Torvane KEST datalog.  08/12/2026\r\n"
            "Time, AFR or LAMBDA, Supply volts\r\n"
            "14:03:27,14.7,12.5\r\n"
            "14:03:28,14.6,12.5\r\n");
}

TEST_F(CsvLogWin32Test, AnotherProgramReadsEveryRowAsSoonAsItIsWritten) {
  const fs::path path = Dir / "log.csv";
  TCsvLogFile log;
  log.Create(path.string());
  log.WriteLine("first");
  EXPECT_EQ(ReadAsAnotherProgram(path), "first\r\n");
  log.WriteLine("second", TCsvLogFile::TFlush::WithNextLine);
  log.WriteLine("third");
  EXPECT_EQ(ReadAsAnotherProgram(path), "first\r\nsecond\r\nthird\r\n");
  log.Close();
}

TEST_F(CsvLogWin32Test, CreateReplacesAnExistingLongerFile) {
  const fs::path path = Dir / "log.csv";
  std::ofstream(path, std::ios::binary) << "an older and much longer log\r\nwith two rows\r\n";
  TCsvLogFile log;
  log.Create(path.string());
  log.WriteLine("new");
  log.Close();
  EXPECT_EQ(ReadWhole(path), "new\r\n");
}

struct TCreateFailureCase {
  const char* Name;
  // Prepares the obstacle in `dir` and returns the path to create; `held` may keep a file open.
  // An empty path: this system does not put up the obstacle.
  std::function<fs::path(const fs::path& dir, HANDLE& held)> Prepare;
  int ErrorCode;
};

void PrintTo(const TCreateFailureCase& c, std::ostream* out) { *out << c.Name; }

class CreateFailureTest : public CsvLogWin32Test,
                          public ::testing::WithParamInterface<TCreateFailureCase> {};

TEST_P(CreateFailureTest, ThrowsWithThePathAndTheReasonAndHoldsNothing) {
  HANDLE held = INVALID_HANDLE_VALUE;
  const fs::path path = GetParam().Prepare(Dir, held);
  if (path.empty()) GTEST_SKIP() << "this system lets the obstacle pass";
  TCsvLogFile log;
  try {
    log.Create(path.string());
    ADD_FAILURE() << "created " << path.string();
  } catch (const TLogFileError& error) {
    EXPECT_EQ(
        std::string(error.what()).rfind("Could not create the log file " + path.string() + ": ", 0),
        0u)
        << error.what();
    EXPECT_EQ(error.ErrorCode, GetParam().ErrorCode) << error.what();
  }
  EXPECT_FALSE(log.IsOpen());
  if (held != INVALID_HANDLE_VALUE) ::CloseHandle(held);
}

INSTANTIATE_TEST_SUITE_P(
    Obstacles, CreateFailureTest,
    testing::Values(
        TCreateFailureCase{"NoSuchFolder",
                           [](const fs::path& dir, HANDLE&) { return dir / "missing" / "log.csv"; },
                           ENOENT},
        TCreateFailureCase{"AFolderOfThatName",
                           [](const fs::path& dir, HANDLE&) {
                             fs::create_directories(dir / "log.csv");
                             return dir / "log.csv";
                           },
                           EACCES},
        // Another program (a spreadsheet, say) holds the file without sharing it.
        TCreateFailureCase{"HeldByAnotherProgram",
                           [](const fs::path& dir, HANDLE& held) {
                             const fs::path path = dir / "log.csv";
                             held = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                                  nullptr);
                             return path;
                           },
                           EACCES},
        TCreateFailureCase{"AReadOnlyFile",
                           [](const fs::path& dir, HANDLE&) {
                             const fs::path path = dir / "log.csv";
                             std::ofstream(path) << "kept";
                             ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
                             // Wine keeps the attribute as the file's Unix write permission,
                             // which root (as CI runs) does not need: the file stays writable.
                             const HANDLE probe =
                                 ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
                             if (probe == INVALID_HANDLE_VALUE) return path;
                             ::CloseHandle(probe);
                             return fs::path();
                           },
                           EACCES}),
    [](const testing::TestParamInfo<TCreateFailureCase>& info) { return info.param.Name; });

}  // namespace
}  // namespace csvlog
