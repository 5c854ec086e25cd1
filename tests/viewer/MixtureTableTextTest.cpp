// The mixture table as text: what users type or load is read or refused with a reason, and the
// JSON and CSV put each cell where its breakpoints say.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

#include "viewer/table/MixtureTableText.h"

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();

enum class TInput { Bins, Grid, Steady, Range };

// What came out, as numbers: the breakpoints, the grid, {channel, rate, settle} or {channel,
// low, high}; nothing with the reason.
std::optional<std::vector<double>> Read(TInput input, const std::string& text, std::string& error) {
  const enginelog::TLog log =
      enginelog::ReadEngineLog("Time (s),RPM (rpm),MAP (kPa)\n0,900,30\n0.1,950,31\n", "e.csv");
  if (input == TInput::Bins) return viewer::ParseBins(text, error);
  if (input == TInput::Grid) return viewer::ParseTargetGrid(text, 3, 2, error);
  if (input == TInput::Steady) {
    const auto filter = viewer::ParseSteadyFilter(text, log, error);
    if (!filter) return std::nullopt;
    return std::vector<double>{static_cast<double>(filter->Channel), filter->Rate, filter->Settle};
  }
  const auto filter = viewer::ParseRangeFilter(text, log, error);
  if (!filter) return std::nullopt;
  return std::vector<double>{static_cast<double>(filter->Channel), filter->Low, filter->High};
}

bool Same(const std::vector<double>& a, const std::vector<double>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!(a[i] == b[i] || (std::isnan(a[i]) && std::isnan(b[i])))) return false;
  }
  return true;
}

TEST(MixtureTableText, WhatUsersTypeIsReadOrRefusedWithTheReason) {
  struct TCase {
    TInput Input;
    std::string Text;
    std::vector<double> Wanted;  // empty: refused
    std::string Reason;          // in the error when refused
  };
  const TCase cases[] = {
      {TInput::Bins, "500, 1000,1500", {500, 1000, 1500}, ""},
      {TInput::Bins, "1,5\t2,5\t3", {1.5, 2.5, 3}, ""},  // tabs: decimal commas
      {TInput::Bins, "10;20;30,5", {10, 20, 30.5}, ""},
      {TInput::Bins, "1000\r\n2000\r\n", {1000, 2000}, ""},
      {TInput::Bins, "3000,2000", {}, "rise"},
      {TInput::Bins, "1000 1000", {}, "rise"},
      {TInput::Bins, "1000,abc", {}, "abc"},
      {TInput::Bins, " , ", {}, "no breakpoints"},
      {TInput::Grid, "1,2,3\n4,5,6\n", {1, 2, 3, 4, 5, 6}, ""},
      {TInput::Grid, "13,2;13,5;\n12,8;;12,9", {13.2, 13.5, NaN, 12.8, NaN, 12.9}, ""},
      {TInput::Grid,
       "MAP \\ RPM,1000,2000,3000\r\n50,1,2,3\r\n100,4,5,6\r\n",
       {1, 2, 3, 4, 5, 6},
       ""},
      // Highest load first, as tuning software lists it: turned round.
      {TInput::Grid, "\t1000\t2000\t3000\n100\t4\t5\t6\n50\t1\t2\t3\n", {1, 2, 3, 4, 5, 6}, ""},
      {TInput::Grid, "1,2\n3,4\n", {}, "2 rows of 2 cells, the table needs 2 rows of 3 cells"},
      {TInput::Grid, "1,2,3\n4,5,6\n7,8,9\n", {}, "3 rows of 3 cells"},
      {TInput::Grid, "1,x,3\n4,5,6", {}, "x is not a number"},
      {TInput::Grid, "\n\n", {}, "empty"},
      {TInput::Steady, "rpm=500", {0, 500, 0.5}, ""},
      {TInput::Steady, "MAP=20,1.5", {1, 20, 1.5}, ""},
      {TInput::Steady, "Boost=5", {}, "no channel Boost"},
      {TInput::Steady, "RPM=fast", {}, "fast"},
      {TInput::Steady, "RPM=0", {}, "above 0"},
      {TInput::Range, "MAP=:80", {1, -Inf, 80}, ""},
      {TInput::Range, "map=30:", {1, 30, Inf}, ""},
      {TInput::Range, "RPM=-5:2e3", {0, -5, 2000}, ""},
      {TInput::Range, "MAP=90:30", {}, "90:30"},
      {TInput::Range, "MAP=high:", {}, "high"},
      {TInput::Range, "MAP", {}, "CHANNEL=LO:HI"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Text);
    std::string error;
    const std::optional<std::vector<double>> read = Read(c.Input, c.Text, error);
    if (c.Wanted.empty()) {
      EXPECT_FALSE(read);
      EXPECT_NE(error.find(c.Reason), std::string::npos) << error;
    } else {
      ASSERT_TRUE(read) << error;
      EXPECT_TRUE(Same(*read, c.Wanted));
    }
  }
}

// Three columns and two rows, each cell different: (0, 0) counted, (2, 0) below the minimum,
// (1, 1) counted against a target.
viewer::TMixtureTable Lopsided() {
  viewer::TMixtureTable table;
  table.XBins = {1000, 2000, 3000};
  table.YBins = {50, 100};
  table.MinHits = 2;
  table.Cells.resize(6);
  table.Cells[0] = {12.5, 0.25, 5, NaN};
  table.Cells[2] = {13.0, 0, 1, NaN};
  table.Cells[4] = {15.0, 0.5, 3, 1.02};
  return table;
}

TEST(MixtureTableText, JsonHoldsCellsRowByRowWithNullsWhereNothingIsKnown) {
  const viewer::TTableDescription description{"RPM", "MAP", "afr", -2.5, "match"};
  const std::string json = viewer::TableJson(Lopsided(), description);
  EXPECT_EQ(json.find('\n'), std::string::npos);
  QJsonParseError fault;
  const QJsonObject object =
      QJsonDocument::fromJson(QByteArray::fromStdString(json), &fault).object();
  ASSERT_EQ(fault.error, QJsonParseError::NoError) << json;
  EXPECT_EQ(object["x"]["channel"].toString(), "RPM");
  EXPECT_EQ(object["x"]["bins"].toArray(), (QJsonArray{1000, 2000, 3000}));
  EXPECT_EQ(object["y"]["channel"].toString(), "MAP");
  EXPECT_EQ(object["y"]["bins"].toArray(), (QJsonArray{50, 100}));
  EXPECT_EQ(object["unit"].toString(), "afr");
  EXPECT_EQ(object["offset_s"].toDouble(), -2.5);
  EXPECT_EQ(object["align"].toString(), "match");
  const QJsonArray cells = object["cells"].toArray();
  ASSERT_EQ(cells.size(), 2);
  for (const QJsonValue& row : cells) EXPECT_EQ(row.toArray().size(), 3);
  const QJsonObject counted = cells[0][0].toObject();
  EXPECT_EQ(counted["mean"].toDouble(), 12.5);
  EXPECT_EQ(counted["hits"].toInt(), 5);
  EXPECT_EQ(counted["sd"].toDouble(), 0.25);
  EXPECT_TRUE(counted["correction"].isNull());
  EXPECT_TRUE(cells[0][2].isNull());  // one hit of two wanted
  EXPECT_TRUE(cells[0][1].isNull());
  EXPECT_EQ(cells[1][1]["mean"].toDouble(), 15.0);
  EXPECT_EQ(cells[1][1]["correction"].toDouble(), 1.02);
}

TEST(MixtureTableText, CsvAndCopyReadBackAsATargetGrid) {
  const viewer::TTableDescription description{"Speed, engine", "MAP", "afr", 0, "none"};
  const std::string csv = viewer::TableCsv(Lopsided(), description);
  EXPECT_EQ(csv,
            "\"MAP \\ Speed, engine\",1000,2000,3000\r\n"
            "50,12.50,,\r\n"
            "100,,15.00,\r\n");
  std::string error;
  const auto grid = viewer::ParseTargetGrid(csv, 3, 2, error);
  ASSERT_TRUE(grid) << error;
  EXPECT_TRUE(Same(*grid, {12.5, NaN, NaN, NaN, 15, NaN}));
  // The copy lists the highest load first, as the window shows it, in the desktop's decimals; it
  // reads back as the same target.
  EXPECT_EQ(viewer::TableTsv(Lopsided(), description, viewer::TTableQuantity::Hits, false),
            "\t3\t\n5\t\t\n");
  const std::string copy =
      viewer::TableTsv(Lopsided(), description, viewer::TTableQuantity::Mean, true, ',');
  EXPECT_EQ(copy, "MAP \\ Speed, engine\t1000\t2000\t3000\n100\t\t15,00\t\n50\t12,50\t\t\n");
  const auto pasted = viewer::ParseTargetGrid(copy, 3, 2, error);
  ASSERT_TRUE(pasted) << error;
  EXPECT_TRUE(Same(*pasted, *grid));
}

}  // namespace
