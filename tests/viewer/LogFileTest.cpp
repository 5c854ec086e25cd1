// Following a log that grows: only the appended bytes are read.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTemporaryDir>

#include "ViewerTestSupport.h"
#include "viewer/logs/LogFile.h"
#include "viewer/logs/OurLog.h"

namespace {

TEST(LogFileTest, FollowReadsOnlyWhatWasAppended) {
  QTemporaryDir dir;
  const QString path = dir.filePath("grow.txt");
  const std::string start = viewertest::ClassicLog(36000, 1, {"14.6", "14.8"});
  ASSERT_TRUE(viewertest::WriteFile(path, start));
  viewer::TLogFile file(path);
  ASSERT_TRUE(file.Load(true));
  EXPECT_EQ(file.Data().Rows(), 10u);
  EXPECT_EQ(file.BytesRead(), static_cast<qint64>(start.size()));

  // A row and half of the next: the half waits for its line end.
  const std::string row = "10:00:01,15.0,13.0\r\n";
  ASSERT_TRUE(viewertest::AppendFile(path, row + "10:00:01,15."));
  EXPECT_TRUE(file.ReadAppended());
  EXPECT_EQ(file.Data().Rows(), 11u);
  EXPECT_EQ(file.BytesRead(), static_cast<qint64>(start.size() + row.size() + 12));
  EXPECT_EQ(file.Data().SkippedRecords, 0u);
  ASSERT_TRUE(viewertest::AppendFile(path, "1,13.0\r\n"));
  EXPECT_TRUE(file.ReadAppended());
  EXPECT_EQ(file.Data().Rows(), 12u);
  EXPECT_FLOAT_EQ(viewer::SampleAt(file.Data(), file.Data().Rows() - 1).Value, 15.1f);
  EXPECT_FALSE(file.ReadAppended());  // nothing new

  // Replaced by a shorter file: read again from the start.
  ASSERT_TRUE(viewertest::WriteFile(
      path, viewertest::ClassicLog(36000, 1, {"12.0", "12.2"}).substr(0, 100)));
  EXPECT_TRUE(file.ReadAppended());
  EXPECT_LT(file.Data().Rows(), 10u);
  EXPECT_FLOAT_EQ(viewer::SampleAt(file.Data(), 0).Value, 12.0f);
}

TEST(LogFileTest, TheWatcherReportsAppendedRows) {
  QTemporaryDir dir;
  const QString path = dir.filePath("watch.txt");
  ASSERT_TRUE(viewertest::WriteFile(path, viewertest::ClassicLog(36000, 1, {"14.6", "14.8"})));
  viewer::TLogFile file(path);
  ASSERT_TRUE(file.Load(true));
  QSignalSpy grew(&file, &viewer::TLogFile::Grew);
  ASSERT_TRUE(viewertest::AppendFile(path, "10:00:01,15.0,13.0\r\n"));
  // The watcher or the fallback timer, whichever comes first; a generous deadline, no sleep.
  EXPECT_TRUE(grew.wait(10000));
  EXPECT_EQ(file.Data().Rows(), 11u);
}

TEST(LogFileTest, UnreadableFilesSayWhy) {
  QTemporaryDir dir;
  for (const QString& path : {dir.filePath("missing.txt"), dir.path()}) {
    viewer::TLogFile file(path);
    EXPECT_FALSE(file.Load(false)) << path.toStdString();
    EXPECT_EQ(file.Data().Error.rfind(path.toStdString() + ": ", 0), 0u) << file.Data().Error;
  }
  const QString empty = dir.filePath("empty.txt");
  ASSERT_TRUE(viewertest::WriteFile(empty, ""));
  viewer::TLogFile file(empty);
  EXPECT_FALSE(file.Load(false));
  EXPECT_EQ(file.Data().Error, empty.toStdString() + ": the file is empty");
  // Followed, an empty file is a log about to begin.
  EXPECT_TRUE(file.Load(true));
}

}  // namespace
