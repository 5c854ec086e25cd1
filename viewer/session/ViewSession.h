// What kestview has open and how it is shown, without a widget: our logs, the engine log and how
// it is lined up, the display, the view range and cursor, and the mixture table's setup. The
// window's widgets show it and send it commands; the command line drives the same object, so a
// feature is written once. Every command changes the session only when the value differs, and
// then says so once through Changed.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "log/Log.h"
#include "viewer/chart/ChartPainter.h"
#include "viewer/chart/EnginePanes.h"
#include "viewer/logs/EngineLogs.h"
#include "viewer/logs/LogFile.h"
#include "viewer/logs/LogFolder.h"
#include "viewer/table/FuelCorrectionText.h"
#include "viewer/table/MixtureTable.h"
#include "viewer/table/MixtureTableText.h"

namespace viewer {

// Where the table's mixture comes from: our log lined up, none, or else an engine log's channel.
inline constexpr int MixtureFromOurs = -1;
inline constexpr int MixtureFromNone = -2;

// A range filter as the user gave it: a channel and its two ends as typed (empty: open).
struct TRangeText {
  std::optional<std::size_t> Channel;  // none: no channel picked yet, nothing filtered
  std::string Low;
  std::string High;
  bool operator==(const TRangeText&) const = default;
};

// The mixture table as the user set it up: channels, choices and what was typed, before it is
// read (TViewSession::TableSettings reads it).
struct TTableSetup {
  std::size_t XChannel = 0;  // channels of the engine log
  std::size_t YChannel = 0;
  std::string XBins;  // breakpoints as typed; empty: derived from the data in the view range
  std::string YBins;
  int Mixture = MixtureFromNone;  // MixtureFromOurs, MixtureFromNone or an engine channel
  bool MixtureChosen = false;     // the user picked it: it stays while our log comes or goes
  double Lag = 0;
  std::size_t MinHits = TTableSettings().MinHits;
  bool Steady = false;  // the steady-state filter on, with SteadyFilter's channel and numbers
  TSteadyFilter SteadyFilter{0, 10, TSteadyFilter().Settle};
  std::vector<TRangeText> Ranges;
  std::string Target;              // one target as typed; empty: none, or the grid
  std::vector<double> TargetGrid;  // loaded from a file, for a table of GridColumns x GridRows
  std::size_t GridColumns = 0;
  std::size_t GridRows = 0;
  std::string GridName;
  TTableQuantity Quantity = TTableQuantity::Mean;
  bool operator==(const TTableSetup& other) const;
};

// What of the setup does not read, and why (without the field's name: each caller names it in
// its own words, the window's status line or the command line's option).
struct TTableProblem {
  enum class TField : unsigned char { None, XBins, YBins, Range, Target, TargetGrid };
  TField Field = TField::None;
  std::string Reason;
};

// What the chart and the panes show of the session at full range.
struct TSessionScene {
  TChartScene Chart;
  TPaneScene Panes;  // Log is null without an engine log
};

class TViewSession : public QObject {
  Q_OBJECT

 public:
  // What changed; each command says one of these once, and only when it changed something.
  enum class TChange : unsigned char {
    // logs opened, or the followed engine log is another (a newer one in a followed folder, or
    // its file read again with other channels): anything may be new
    Files,
    Grew,       // a followed log got rows (our logs or the engine log)
    Follow,     // following turned on or off
    Display,    // unit or fuel
    TimeAxis,   // time since start or time of day
    Bands,      // the rich and lean bands
    Alignment,  // how the engine log is lined up, or where it was found to lie
    Channels,   // the engine log's shown channels
    View,       // the view range (zoom)
    Cursor,
    Table,  // the mixture table's setup
  };
  Q_ENUM(TChange)

  // A second engine log among the files: the window puts it in place of the first; the command
  // line keeps the first and reads the second as a log of ours (which then names the fault).
  enum class TSecondEngineLog : unsigned char { Replace, KeepFirst };

  // What became of one file given to OpenFiles.
  struct TFileReport {
    QString Path;
    bool Engine = false;  // routed to the engine log's reader
    std::vector<std::string> Warnings;
    std::string Error;  // empty: opened
  };

  explicit TViewSession(TSecondEngineLog second = TSecondEngineLog::Replace,
                        QObject* parent = nullptr);
  ~TViewSession() override;

  // Opens `paths` beside what is open: an engine log (by its first bytes) becomes the engine log,
  // lined up with the first log of ours; any other file is read as a log of ours. Every file is
  // followed when Follow is on, the engine log too; a followed file whose first bytes do not yet
  // say which log it is waits as a log of ours and becomes the engine log when they say it is
  // one. A file that cannot be read is reported and left out. Without the user's choice the
  // display becomes the first log's and the time axis counts from each start with several logs;
  // a new engine log gets the table's default setup. Says Files once.
  std::vector<TFileReport> OpenFiles(const QStringList& paths);
  // Our readable logs, in the order opened; those that could not be read; every file as given.
  const std::vector<std::unique_ptr<TLogFile>>& Logs() const { return OurLogs; }
  const std::vector<std::unique_ptr<TLogFile>>& UnreadableLogs() const { return Unreadable; }
  struct TGivenFile {
    QString Path;
    enum class TKind : unsigned char { Ours, Unreadable, Engine } Kind = TKind::Ours;
    std::size_t Index = 0;  // in Logs() or UnreadableLogs()
  };
  const std::vector<TGivenFile>& Given() const { return GivenFiles; }
  // The engine log open (none: nullptr, also while a followed one still waits for its header),
  // its path, and a number that changes with each one (and when a followed one is read again
  // with other channels). A followed engine log grows, and is another object after its file was
  // read again: fetch it anew after each Changed, never keep it across a turn of the event loop.
  const enginelog::TLog* EngineLog() const {
    return EngineReady ? &EngineLogFile->Data() : nullptr;
  }
  const QString& EnginePath() const { return EngineFile; }
  unsigned EngineNumber() const { return EngineCount; }
  // The engine log's file (none: nullptr), as it is followed.
  const TLogFile* EngineSource() const { return EngineLogFile.get(); }
  // The engine log's own mixture reading, found by its role; none without an engine log or one.
  std::optional<std::size_t> EngineMixture() const;

  // The names engine channels are known by: the built-in ones and the user's (channels.conf).
  // Set before opening files: the roles decide the channels an engine log opens with.
  void SetChannelNames(enginelog::TChannelNames names) { Names = std::move(names); }
  const enginelog::TChannelNames& ChannelNames() const { return Names; }
  // The messages about files, one a line: those that could not be read, an engine log's
  // warnings, skipped rows, followed logs still waiting for rows.
  QString Messages() const;

  // Follows every file open, our logs and the engine log, or stops. Turning it on reads each file
  // again (Follow, or Files when the engine log came back with other channels).
  void SetFollow(bool follow);
  bool Follow() const { return Following; }
  // Reads what was appended to every followed file now, as their watchers and timers do (Grew,
  // or Files for an engine log read again with other channels): for a caller who knows the
  // files changed.
  void ReadAppended();

  // Follows the newest engine log and the newest log of ours in `folders` (none: stops looking at
  // folders; the logs open stay): each is opened and followed, and replaced by a newer one when
  // one appears there, with the table's setup, the shown channels and the tune kept (channels
  // found again by name). Turns Follow on. Says Files when it opened something.
  void FollowFolders(const QStringList& folders);
  const QStringList& FollowedFolders() const;
  // Looks at the followed folders now, as their watcher and timer do; true when it moved to
  // another log (and said Files).
  bool ScanFolders();

  // The unit and fuel; the user's choice from then on (when it differs from what is shown).
  void SetDisplay(const TDisplay& display);
  const TDisplay& Display() const { return Shown; }
  // Time since each log's start (true) or the time of day; the user's choice from then on (when
  // it differs).
  void SetRelative(bool relative);
  bool Relative() const { return RelativeSet; }
  // Whether the chart's axis counts from the start: as set, or always for an engine log alone.
  bool RelativeAxis() const;
  void SetBands(const TBands& bands);
  const TBands& Bands() const { return BandEdges; }

  // How to line the engine log up; choosing a way drops a hand offset.
  void SetAlign(TAlignMode mode);
  TAlignMode AlignMode() const { return Mode; }
  // Seconds from the first row of ours to the engine log's first record, given by hand (wins
  // over the mode); none: found as the mode says.
  void SetHandOffset(std::optional<double> seconds);
  std::optional<double> HandOffset() const { return Hand; }
  // Where the engine log lies: found again whenever it, our first log, the mode or the hand
  // offset change. Without a log of ours, the hand offset or 0 on the engine log's own axis.
  const TAlignment& Alignment() const { return Aligned; }
  // The alignment when there is something to line up with: an engine log and a log of ours.
  std::optional<TAlignment> LinedUp() const;

  // The engine log's shown channels, top to bottom (engine speed and load by default).
  void SetShownChannels(const std::vector<std::size_t>& channels);
  // Shows the named channels; returns the names the log does not have (all, without a log).
  std::vector<std::string> SetShownChannelNames(const std::vector<std::string>& names);
  const std::vector<std::size_t>& ShownChannels() const { return Channels; }

  // The visible range on the chart's axis (everything until the chart says otherwise) and the
  // cursor's time on it (none: off the chart).
  void SetView(double from, double to);
  double ViewFrom() const { return From; }
  double ViewTo() const { return To; }
  void SetCursor(std::optional<double> time);
  std::optional<double> Cursor() const { return CursorTime; }

  // The mixture table's setup. Choosing an axis's channel gives it breakpoints derived over the
  // whole log; DeriveTableBins derives both over the view range.
  const TTableSetup& TableSetup() const { return Table; }
  void SetTableAxes(std::size_t x, std::size_t y);
  void SetTableBinsText(const std::string& x, const std::string& y);
  void DeriveTableBins();
  void SetTableMixture(int source, bool chosen = true);
  void SetTableLag(double seconds);
  void SetTableMinHits(std::size_t hits);
  void SetTableSteady(bool on, const TSteadyFilter& filter);
  void SetTableRanges(const std::vector<TRangeText>& ranges);
  // One target for every cell as typed; replaces a loaded grid.
  void SetTableTarget(const std::string& typed);
  // Loads a target grid of the present table's shape from a CSV file; false with "PATH: reason".
  bool LoadTableTarget(const QString& path, std::string& error);
  void SetTableQuantity(TTableQuantity quantity);

  // The logs the table is made of (none without an engine log), and what to add to a time on the
  // chart's axis to reach the table's times.
  TTableInput TableInput() const;
  double TableAxisShift() const;
  // The table's settings: the setup read (typed texts parsed, empty breakpoints derived over the
  // view range), the display's unit, the view range on the table's axis. Nothing, with the
  // problem, when something typed does not read; needs an engine log.
  std::optional<TTableSettings> TableSettings(TTableProblem& problem) const;
  // What the table's texts say of its axes, unit and alignment.
  TTableDescription TableDescription(const TTableSettings& settings) const;

  // The tune the corrected fuel table starts from: an MSQ tune, its fuel table found by the
  // known names or those SetTuneNames gave (and its target table where it has one), or a CSV grid
  // with its breakpoints. False, with "PATH: reason", when it cannot be read or holds no fuel
  // table kestview can name; the tune before it stays. Says Table.
  bool LoadTune(const QString& path, std::string& error);
  void ClearTune();
  const QString& TunePath() const { return TuneFile; }
  // Whether the tune is an MSQ tune, which SaveTune can write a corrected copy of.
  bool TuneIsMsq() const;
  // The tune's fuel table on its breakpoints; none without a tune.
  std::optional<TFuelGrid> TuneGrid() const;
  // The names of the fuel table and its axes to look for in an MSQ tune instead of the known
  // ones (--tune-table, --tune-axes); empty: the known ones. Before LoadTune.
  void SetTuneNames(const std::string& table, const std::string& xAxis, const std::string& yAxis);
  // The most a cell may change, in percent either way (15 unless set).
  void SetMaxChange(double percent);
  double MaxChange() const { return MaxChangePercent; }
  // The corrected fuel table over the table's `settings`: on the tune's breakpoints, or the
  // table's without a tune; the engine log's channels by their roles. `description` (where
  // given) says what it was made of.
  TFuelProposal Proposal(const TTableSettings& settings,
                         TProposalDescription* description = nullptr) const;
  // What Proposal makes it of besides the logs and `settings`: the tune, its target, the limits
  // and the engine log's channels by their roles (a running table follows it). Needs an engine
  // log.
  TCorrectionInput CorrectionInput(const TTableSettings& settings,
                                   TProposalDescription* description = nullptr) const;
  // The tune's bytes with only its fuel table's numbers replaced by `proposal`'s (rounded to the
  // tune's decimals); nothing, with the reason, without an MSQ tune or when it does not fit.
  std::optional<std::string> TuneWithProposal(const TFuelProposal& proposal,
                                              std::string& error) const;

 signals:
  void Changed(viewer::TViewSession::TChange what);

 private:
  void OpenEngineLog(std::unique_ptr<TLogFile> file, TFileReport& report);
  void SetEngineFile(std::unique_ptr<TLogFile> file);
  void OpenOurLog(std::unique_ptr<TLogFile> file, bool loaded, TFileReport& report);
  void EngineFileChanged();
  std::optional<TChange> EngineFileRead();
  bool TakeEngineChannels(bool keepSetup);
  void OurLogGrew(TLogFile* file);
  void OurLogBecameEngineLog(TLogFile* file);
  bool ReplaceFolderEngineLog(const QString& path);
  bool ReplaceFolderOurLog(const QString& path);
  bool Realign();
  void RealignAsGrown();
  double GrownSeconds() const;
  void DefaultTableSetup();
  void DefaultMixture();
  std::string DerivedBinsText(std::size_t channel, bool wholeLog) const;
  void ChangeTable(const TTableSetup& setup);
  void Say(TChange what) { emit Changed(what); }

  TSecondEngineLog SecondEngineLog;
  enginelog::TChannelNames Names;
  std::vector<std::unique_ptr<TLogFile>> OurLogs;
  std::vector<std::unique_ptr<TLogFile>> Unreadable;
  std::vector<TGivenFile> GivenFiles;
  std::vector<TFileReport> Reports;  // of every file given, for Messages
  std::unique_ptr<TLogFile> EngineLogFile;
  bool EngineReady = false;  // EngineLogFile holds an engine log with its channels
  std::vector<std::string> EngineChannelNames;  // of the engine log shown last
  QString EngineFile;
  unsigned EngineCount = 0;
  TLogFolders* Folders = nullptr;
  TLogFile* FolderOurLog = nullptr;  // the log of ours that came from the followed folders
  QString RefusedFolderFile;         // the newest engine log there, which could not be read
  bool EngineDefaultDue = false;     // the folders' first engine log: the default setup is due
  bool Following = false;
  TDisplay Shown;
  bool DisplayChosen = false;
  bool RelativeSet = false;
  bool RelativeChosen = false;
  TBands BandEdges;
  TAlignMode Mode = TAlignMode::Match;
  std::optional<double> Hand;
  TAlignment Aligned;
  // While the alignment is not found the way asked, it is tried again as the logs grow: once
  // GrownSeconds reaches RealignDue, each wait twice the last.
  double RealignDue = 0;
  double RealignWait = 0;
  std::vector<std::size_t> Channels;
  double From = -std::numeric_limits<double>::infinity();
  double To = std::numeric_limits<double>::infinity();
  std::optional<double> CursorTime;
  TTableSetup Table;
  struct TLoadedTune;
  std::shared_ptr<const TLoadedTune> Tune;  // none: the current table is estimated
  QString TuneFile;
  std::string TuneTable, TuneXAxis, TuneYAxis;
  double MaxChangePercent = 15;
};

// The chart and panes of the session at full range: the window's scene before the user zooms,
// and the exported chart. An engine log without a log of ours brings its mixture channel
// (EngineMixture) to the chart as the mixture trace.
TSessionScene MakeSessionScene(const TViewSession& session);

}  // namespace viewer
