// kestview's command line: what is refused (exit 2) and what the options mean.
#include <gtest/gtest.h>

#include "viewer/session/ViewOptions.h"

namespace {

TEST(ViewOptionsTest, BadCommandLinesAreRefused) {
  for (const QStringList& arguments :
       std::vector<QStringList>{{"--bogus"},
                                {"--export"},
                                {"--export", "out.png"},
                                {"--summary"},
                                {"--size", "10x10", "a.txt"},
                                {"--size", "800", "a.txt"},
                                {"--fuel", "diesel", "a.txt"},
                                {"--rich", "2", "a.txt"},
                                {"--rich", "1.1", "--lean", "1.0", "a.txt"},
                                {"--follow-dir"},
                                {"--follow-dir", "logs", "--summary", "a.txt"},
                                // A followed table goes out as JSON lines, never into a file.
                                {"--table", "t.csv", "--follow", "e.csv"},
                                {"--table", "--follow", "e.csv"},
                                {"--table", "--json", "--seconds", "5", "e.csv"},
                                {"--table", "--json", "--follow", "--seconds", "0", "e.csv"}}) {
    std::string error;
    EXPECT_FALSE(viewer::ParseViewOptions(arguments, error)) << arguments.join(' ').toStdString();
    EXPECT_FALSE(error.empty());
  }
}

TEST(ViewOptionsTest, OptionsAndFiles) {
  std::string error;
  const auto options = viewer::ParseViewOptions(
      {"--export", "o.svg", "--size", "640x480", "--json", "--lambda", "--fuel", "propane",
       "--rich", "0.9", "a.txt", "--", "--odd-name.txt"},
      error);
  ASSERT_TRUE(options) << error;
  EXPECT_EQ(options->ExportPath, "o.svg");
  EXPECT_EQ(options->Size, QSize(640, 480));
  EXPECT_TRUE(options->Summary);
  EXPECT_TRUE(options->Json);
  EXPECT_EQ(options->DisplayMode, sensor::dmLambda);
  EXPECT_EQ(options->FuelType, sensor::ftPropane);
  EXPECT_DOUBLE_EQ(options->Bands.RichBelow, 0.9);
  EXPECT_EQ(options->Files, (QStringList{"a.txt", "--odd-name.txt"}));
  EXPECT_TRUE(options->Relative);  // two files

  // Each --follow-dir is followed; any of them turns following on.
  const auto folders = viewer::ParseViewOptions({"--follow-dir", "a", "--follow-dir", "b"}, error);
  ASSERT_TRUE(folders) << error;
  EXPECT_EQ(folders->FollowDirs, (QStringList{"a", "b"}));
  EXPECT_TRUE(folders->Follow);
}

}  // namespace
