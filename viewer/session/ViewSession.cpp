// The session: routing the files, lining the engine log up, and the table's setup read into its
// settings.
#include "viewer/session/ViewSession.h"

#include <QFile>
#include <QFileInfo>
#include <QSignalBlocker>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <tuple>

#include "log/LogAlignment.h"

namespace viewer {

namespace {

constexpr double Everywhere = std::numeric_limits<double>::infinity();
// Seconds more of the logs after which an alignment not yet found is looked for again; each
// further look waits twice as long as the one before.
constexpr double FirstRealignWait = 5;

std::vector<std::string> ChannelNamesOf(const enginelog::TLog& log) {
  std::vector<std::string> names;
  for (const enginelog::TChannel& channel : log.Channels) names.push_back(channel.Name);
  return names;
}

bool SamePath(const QString& a, const QString& b) {
  return QFileInfo(a).absoluteFilePath() == QFileInfo(b).absoluteFilePath();
}

// Breakpoints as the user types them: the shortest text that reads back as each.
std::string BinsText(const TBins& bins) {
  QStringList parts;
  for (const double b : bins) parts << QString::number(b, 'g', 8);
  return parts.join(QStringLiteral(", ")).toStdString();
}

auto Fields(const TTableSetup& s) {
  return std::tie(s.XChannel, s.YChannel, s.XBins, s.YBins, s.Mixture, s.MixtureChosen, s.Lag,
                  s.MinHits, s.Steady, s.SteadyFilter.Channel, s.SteadyFilter.Rate,
                  s.SteadyFilter.Settle, s.Ranges, s.Target, s.TargetGrid, s.GridColumns,
                  s.GridRows, s.GridName, s.Quantity);
}

}  // namespace

bool TTableSetup::operator==(const TTableSetup& other) const {
  return Fields(*this) == Fields(other);
}

TViewSession::TViewSession(TSecondEngineLog second, QObject* parent)
    : QObject(parent), SecondEngineLog(second) {}

TViewSession::~TViewSession() = default;

std::vector<TViewSession::TFileReport> TViewSession::OpenFiles(const QStringList& paths) {
  std::vector<TFileReport> reports;
  const unsigned engineBefore = EngineCount;
  const bool oursBefore = !OurLogs.empty();
  for (const QString& path : paths) {
    TFileReport report;
    report.Path = path;
    // Each file is opened and read once; its first bytes choose its reader. A second engine log
    // that is not to replace the first is read as a log of ours would be, and its fault named so.
    auto file = std::make_unique<TLogFile>(path, this);
    if (EngineLogFile && SecondEngineLog != TSecondEngineLog::Replace) file->SetOursOnly();
    const bool loaded = file->Load(Following);
    report.Engine = file->IsEngineLog();
    if (report.Engine) {
      OpenEngineLog(std::move(file), report);
    } else {
      OpenOurLog(std::move(file), loaded, report);
    }
    reports.push_back(report);
    Reports.push_back(std::move(report));
  }
  if (!RelativeChosen) RelativeSet = OurLogs.size() > 1;
  if (!DisplayChosen && !OurLogs.empty()) Shown = LoggedDisplay(OurLogs.front()->Data());
  Realign();  // the engine log, or the log of ours it is lined up with, may be new
  if (EngineCount != engineBefore && EngineLog() != nullptr) {
    DefaultTableSetup();
  } else if (oursBefore != !OurLogs.empty()) {
    DefaultMixture();
  }
  Say(TChange::Files);
  return reports;
}

void TViewSession::OpenEngineLog(std::unique_ptr<TLogFile> file, TFileReport& report) {
  const enginelog::TLog& log = file->Data();
  report.Warnings = log.Warnings;
  if (!log.Ok()) {
    report.Error = log.Error;
    return;
  }
  SetEngineFile(std::move(file));
  // A log the user opens starts from the table's default setup, not from the last one's.
  EngineChannelNames.clear();
  const enginelog::TLog& read = EngineLogFile->Data();
  // A followed log just begun is shown from its first record.
  if (!read.Channels.empty() && !read.Times.empty()) {
    EngineReady = true;
    TakeEngineChannels(false);
  }
}

void TViewSession::SetEngineFile(std::unique_ptr<TLogFile> file) {
  EngineLogFile = std::move(file);
  EngineFile = EngineLogFile->Path();
  EngineReady = false;
  ++EngineCount;
  connect(EngineLogFile.get(), &TLogFile::Grew, this, &TViewSession::EngineFileChanged);
  // A second engine log takes the first one's place in the order too.
  std::erase_if(GivenFiles,
                [](const TGivenFile& f) { return f.Kind == TGivenFile::TKind::Engine; });
  GivenFiles.push_back({EngineFile, TGivenFile::TKind::Engine, 0});
}

// The shown channels and the table's setup for the engine log now in EngineLogFile. With
// `keepSetup` they stay as they were for the log shown before (a newer log of the same engine
// software, or the same file read again), each channel found again by its name; false when
// there was nothing to keep and the caller is to make the default setup once lined up.
bool TViewSession::TakeEngineChannels(bool keepSetup) {
  const enginelog::TLog& log = *EngineLog();
  std::vector<std::string> names = ChannelNamesOf(log);
  const std::vector<std::string> before = std::move(EngineChannelNames);
  EngineChannelNames = names;
  ++EngineCount;
  const auto found = [&](std::size_t old) -> std::optional<std::size_t> {
    if (old >= before.size()) return std::nullopt;
    const auto at = std::find(names.begin(), names.end(), before[old]);
    if (at == names.end()) return std::nullopt;
    return static_cast<std::size_t>(at - names.begin());
  };
  if (!keepSetup || before.empty()) {
    Channels = DefaultShownChannels(log, Names);
    return false;
  }
  std::vector<std::size_t> shown;
  for (const std::size_t c : Channels) {
    if (const auto now = found(c)) shown.push_back(*now);
  }
  Channels = shown.empty() ? DefaultShownChannels(log, Names) : shown;
  TTableSetup setup = Table;
  const auto axis = [&](std::size_t old, std::optional<std::size_t> fallback, std::size_t& channel,
                        std::string& bins) {
    if (const auto now = found(old)) {
      channel = *now;
      return;
    }
    // Another channel on the axis takes breakpoints of its own.
    channel = fallback.value_or(0);
    bins = Following ? std::string() : DerivedBinsText(channel, true);
  };
  axis(Table.XChannel, DefaultXChannel(log, Names), setup.XChannel, setup.XBins);
  axis(Table.YChannel, DefaultYChannel(log, Names).value_or(log.Channels.size() > 1),
       setup.YChannel, setup.YBins);
  setup.SteadyFilter.Channel =
      found(Table.SteadyFilter.Channel).value_or(DefaultSteadyChannel(log, Names).value_or(0));
  for (TRangeText& range : setup.Ranges) {
    if (range.Channel) range.Channel = found(*range.Channel);
  }
  if (setup.Mixture >= 0) {
    const auto now = found(static_cast<std::size_t>(setup.Mixture));
    setup.Mixture = now ? static_cast<int>(*now) : MixtureFromNone;
    if (!now) setup.MixtureChosen = false;
  }
  Table = setup;
  DefaultMixture();
  return true;
}

void TViewSession::EngineFileChanged() {
  if (const std::optional<TChange> change = EngineFileRead()) Say(*change);
}

// What the engine log's file holds now, taken in: nothing changed that is shown, rows were added
// (Grew), or it is another log (Files).
std::optional<TViewSession::TChange> TViewSession::EngineFileRead() {
  const enginelog::TLog& log = EngineLogFile->Data();
  const bool usable =
      EngineLogFile->IsEngineLog() && log.Ok() && !log.Channels.empty() && !log.Times.empty();
  if (!usable) {
    // Read again and no engine log yet (replaced, its header being written): nothing is shown
    // until it is one again.
    if (!EngineReady) return std::nullopt;
    EngineReady = false;
    ++EngineCount;
    return TChange::Files;
  }
  if (EngineReady && ChannelNamesOf(log) == EngineChannelNames) {
    RealignAsGrown();
    return TChange::Grew;
  }
  EngineReady = true;
  const bool kept = TakeEngineChannels(true);
  Realign();
  if (!kept) DefaultTableSetup();
  return TChange::Files;
}

void TViewSession::OpenOurLog(std::unique_ptr<TLogFile> file, bool loaded, TFileReport& report) {
  const QString path = file->Path();
  if (!loaded) {
    report.Error = file->Data().Error;
    file->SetFollow(false);  // nothing to follow; its reason stays for the summary
    GivenFiles.push_back({path, TGivenFile::TKind::Unreadable, Unreadable.size()});
    Unreadable.push_back(std::move(file));
    return;
  }
  TLogFile* grown = file.get();
  connect(grown, &TLogFile::Grew, this, [this, grown] { OurLogGrew(grown); });
  GivenFiles.push_back({path, TGivenFile::TKind::Ours, OurLogs.size()});
  OurLogs.push_back(std::move(file));
}

void TViewSession::OurLogGrew(TLogFile* file) {
  if (file->IsEngineLog()) {
    OurLogBecameEngineLog(file);
    return;
  }
  if (file == OurLogs.front().get()) RealignAsGrown();
  Say(TChange::Grew);
}

// A followed file whose first bytes did not yet say what it is was taken for a log of ours; now
// that they say it is an engine log, it becomes the engine log.
void TViewSession::OurLogBecameEngineLog(TLogFile* file) {
  const auto at = std::find_if(OurLogs.begin(), OurLogs.end(),
                               [file](const auto& ours) { return ours.get() == file; });
  if (at == OurLogs.end()) return;
  const auto index = static_cast<std::size_t>(at - OurLogs.begin());
  std::unique_ptr<TLogFile> taken = std::move(*at);
  OurLogs.erase(at);
  if (FolderOurLog == file) FolderOurLog = nullptr;
  std::erase_if(GivenFiles, [index](const TGivenFile& f) {
    return f.Kind == TGivenFile::TKind::Ours && f.Index == index;
  });
  for (TGivenFile& given : GivenFiles) {
    if (given.Kind == TGivenFile::TKind::Ours && given.Index > index) --given.Index;
  }
  taken->disconnect(this);
  SetEngineFile(std::move(taken));
  EngineChannelNames.clear();
  if (!RelativeChosen) RelativeSet = OurLogs.size() > 1;
  const enginelog::TLog& log = EngineLogFile->Data();
  if (log.Ok() && !log.Channels.empty() && !log.Times.empty()) {
    EngineReady = true;
    TakeEngineChannels(false);
    Realign();
    DefaultTableSetup();
  }
  Say(TChange::Files);
}

void TViewSession::ReadAppended() {
  // Raw pointers: a log of ours that turns out to be the engine log moves while this runs.
  std::vector<TLogFile*> files;
  for (const auto& file : OurLogs) files.push_back(file.get());
  if (EngineLogFile) files.push_back(EngineLogFile.get());
  for (TLogFile* file : files) {
    if (file->Following()) file->Refresh();
  }
}

const QStringList& TViewSession::FollowedFolders() const {
  static const QStringList none;
  return Folders != nullptr ? Folders->Folders() : none;
}

void TViewSession::FollowFolders(const QStringList& folders) {
  if (Folders == nullptr) {
    Folders = new TLogFolders(this);
    connect(Folders, &TLogFolders::Changed, this, [this] { ScanFolders(); });
  }
  Folders->SetFolders(folders);
  RefusedFolderFile.clear();
  if (folders.isEmpty()) {
    FolderOurLog = nullptr;
    return;
  }
  SetFollow(true);
  ScanFolders();
}

bool TViewSession::ScanFolders() {
  if (Folders == nullptr || Folders->Folders().isEmpty()) return false;
  const TLogFolders::TNewest newest = Folders->Newest();
  bool moved = false;
  if (!newest.Engine.isEmpty() && !SamePath(newest.Engine, EngineFile) &&
      newest.Engine != RefusedFolderFile) {
    moved = ReplaceFolderEngineLog(newest.Engine) || moved;
  }
  if (!newest.Ours.isEmpty() &&
      (FolderOurLog == nullptr || !SamePath(newest.Ours, FolderOurLog->Path()))) {
    moved = ReplaceFolderOurLog(newest.Ours) || moved;
  }
  if (!moved) return false;
  if (!RelativeChosen) RelativeSet = OurLogs.size() > 1;
  if (!DisplayChosen && !OurLogs.empty()) Shown = LoggedDisplay(OurLogs.front()->Data());
  Realign();
  if (EngineDefaultDue && EngineLog() != nullptr) {
    DefaultTableSetup();
  } else {
    DefaultMixture();
  }
  EngineDefaultDue = false;
  Say(TChange::Files);
  return true;
}

// The followed folders' newest engine log in the place of the one open, the setup kept.
bool TViewSession::ReplaceFolderEngineLog(const QString& path) {
  auto file = std::make_unique<TLogFile>(path, this);
  if (!file->Load(true) || !file->IsEngineLog()) {
    // Not tried again each second while it stays the newest; a newer one is.
    RefusedFolderFile = path;
    return false;
  }
  const bool keep = !EngineChannelNames.empty();
  SetEngineFile(std::move(file));
  const enginelog::TLog& log = EngineLogFile->Data();
  if (!log.Channels.empty() && !log.Times.empty()) {
    EngineReady = true;
    EngineDefaultDue = !TakeEngineChannels(keep);
  }
  return true;
}

// The followed folders' newest log of ours in the place of the one they gave before.
bool TViewSession::ReplaceFolderOurLog(const QString& path) {
  for (const auto& file : OurLogs) {
    // Opened already (given on the command line too): that one is the folder's.
    if (SamePath(file->Path(), path)) {
      FolderOurLog = file.get();
      return false;
    }
  }
  auto file = std::make_unique<TLogFile>(path, this);
  if (!file->Load(true) || file->IsEngineLog()) return false;
  TLogFile* grown = file.get();
  connect(grown, &TLogFile::Grew, this, [this, grown] { OurLogGrew(grown); });
  const auto at = std::find_if(OurLogs.begin(), OurLogs.end(),
                               [this](const auto& ours) { return ours.get() == FolderOurLog; });
  if (at == OurLogs.end()) {
    GivenFiles.push_back({path, TGivenFile::TKind::Ours, OurLogs.size()});
    OurLogs.push_back(std::move(file));
  } else {
    const auto index = static_cast<std::size_t>(at - OurLogs.begin());
    for (TGivenFile& given : GivenFiles) {
      if (given.Kind == TGivenFile::TKind::Ours && given.Index == index) given.Path = path;
    }
    *at = std::move(file);
  }
  FolderOurLog = grown;
  return true;
}

QString TViewSession::Messages() const {
  QStringList lines;
  for (const TFileReport& report : Reports) {
    if (!report.Error.empty()) {
      lines << QString::fromStdString(report.Error);
      continue;
    }
    for (const std::string& warning : report.Warnings) lines << QString::fromStdString(warning);
  }
  for (const auto& file : OurLogs) {
    const std::string text = SkippedRowsText(file->Data());
    if (!text.empty()) lines << QString::fromStdString(text);
    if (file->Following() && file->Data().Times.empty()) {
      lines << file->Path() + QStringLiteral(": waiting for rows");
    }
  }
  if (EngineLogFile && !EngineReady) {
    // A followed engine log read again after it was replaced may have turned out unreadable.
    const std::string& error = EngineLogFile->Data().Error;
    lines << (error.empty()
                  ? EngineFile + QStringLiteral(": waiting for the engine log's first record")
                  : QString::fromStdString(error));
  }
  return lines.join('\n');
}

void TViewSession::SetFollow(bool follow) {
  if (follow == Following) return;
  Following = follow;
  std::vector<TLogFile*> files;
  for (const auto& file : OurLogs) {
    // Turning follow on reads the file again: one change for all, not a Grew for each.
    const QSignalBlocker quiet(file.get());
    file->SetFollow(follow);
    files.push_back(file.get());
  }
  if (EngineLogFile) {
    const QSignalBlocker quiet(EngineLogFile.get());
    EngineLogFile->SetFollow(follow);
  }
  // Read again, a file may have become another: an engine log with other channels, or one that
  // was taken for a log of ours while its first bytes did not tell.
  if (follow && EngineLogFile && EngineFileRead() == TChange::Files) Say(TChange::Files);
  for (TLogFile* file : files) {
    if (follow && file->IsEngineLog()) OurLogBecameEngineLog(file);
  }
  Say(TChange::Follow);
}

void TViewSession::SetDisplay(const TDisplay& display) {
  if (display == Shown) return;
  DisplayChosen = true;
  Shown = display;
  Say(TChange::Display);
}

void TViewSession::SetRelative(bool relative) {
  if (relative == RelativeSet) return;
  RelativeChosen = true;
  RelativeSet = relative;
  Say(TChange::TimeAxis);
}

bool TViewSession::RelativeAxis() const {
  return RelativeSet || (OurLogs.empty() && EngineLog() != nullptr);
}

void TViewSession::SetBands(const TBands& bands) {
  if (bands.RichBelow == BandEdges.RichBelow && bands.LeanAbove == BandEdges.LeanAbove) return;
  BandEdges = bands;
  Say(TChange::Bands);
}

void TViewSession::SetAlign(TAlignMode mode) {
  if (mode == Mode && !Hand) return;
  Mode = mode;
  Hand.reset();
  Realign();
  Say(TChange::Alignment);
}

void TViewSession::SetHandOffset(std::optional<double> seconds) {
  if (seconds == Hand) return;
  Hand = seconds;
  Realign();
  Say(TChange::Alignment);
}

std::optional<TAlignment> TViewSession::LinedUp() const {
  if (!EngineLog() || OurLogs.empty()) return std::nullopt;
  return Aligned;
}

// Where the engine log lies follows the first log of ours: found again whenever either changes.
bool TViewSession::Realign() {
  RealignWait = FirstRealignWait;
  RealignDue = GrownSeconds() + RealignWait;
  if (!EngineLog()) return false;
  TAlignment found;
  if (OurLogs.empty()) {
    found = TAlignment{Hand.value_or(0), Hand ? "hand" : "none", {}};
  } else {
    const TLog& mixture = OurLogs.front()->Data();
    found = AlignEngineLog(mixture, *EngineLog(), EngineMixture(), Mode, Hand,
                           LocalUtcOffsetAt(mixture));
  }
  const bool changed =
      found.Offset != Aligned.Offset || found.How != Aligned.How || found.Note != Aligned.Note;
  Aligned = found;
  return changed;
}

double TViewSession::GrownSeconds() const {
  const enginelog::TLog* engine = EngineLog();
  return (engine != nullptr ? engine->Duration() : 0) +
         (OurLogs.empty() ? 0 : OurLogs.front()->Data().Duration());
}

// Rows appended leave the engine log where it was found: matching again at every growth would
// cost a search a second and move the panes under the user's eyes. Only while it is not found
// the way asked (the logs too short to match, or ours without rows yet) is it looked for again
// as they grow, and then less and less often: a match that never comes costs a search after 5,
// 10, 20, ... seconds more of the logs, a dozen in an hour rather than one a second.
void TViewSession::RealignAsGrown() {
  if (EngineLog() == nullptr || OurLogs.empty() || Hand || Mode == TAlignMode::None ||
      Aligned.Note.empty() || GrownSeconds() < RealignDue) {
    return;
  }
  const double wait = RealignWait * 2;
  const bool changed = Realign();
  RealignWait = wait;
  RealignDue = GrownSeconds() + wait;
  if (changed) Say(TChange::Alignment);
}

void TViewSession::SetShownChannels(const std::vector<std::size_t>& channels) {
  if (channels == Channels) return;
  Channels = channels;
  Say(TChange::Channels);
}

std::vector<std::string> TViewSession::SetShownChannelNames(const std::vector<std::string>& names) {
  if (!EngineLog()) return names;
  std::vector<std::string> unknown;
  SetShownChannels(ChannelsNamed(*EngineLog(), names, unknown));
  return unknown;
}

void TViewSession::SetView(double from, double to) {
  if (from == From && to == To) return;
  From = from;
  To = to;
  Say(TChange::View);
}

void TViewSession::SetCursor(std::optional<double> time) {
  if (time == CursorTime) return;
  CursorTime = time;
  Say(TChange::Cursor);
}

// The table's setup for a new engine log: its usual axes with breakpoints over the whole log, the
// throttle for the steady filter, the mixture from the logs open, no target.
void TViewSession::DefaultTableSetup() {
  TTableSetup setup = Table;  // what is not about the log's channels stays as the user set it
  const enginelog::TLog& log = *EngineLog();
  setup.XChannel = DefaultXChannel(log, Names).value_or(0);
  setup.YChannel = DefaultYChannel(log, Names).value_or(log.Channels.size() > 1);
  setup.SteadyFilter.Channel = DefaultSteadyChannel(log, Names).value_or(0);
  // A followed log has only its first records yet: its breakpoints are derived anew for each
  // table (left empty) until the user types them.
  setup.XBins = Following ? std::string() : DerivedBinsText(setup.XChannel, true);
  setup.YBins = Following ? std::string() : DerivedBinsText(setup.YChannel, true);
  setup.MixtureChosen = false;
  for (TRangeText& range : setup.Ranges) range.Channel.reset();
  setup.TargetGrid.clear();
  setup.GridName.clear();
  Table = setup;
  DefaultMixture();
}

std::optional<std::size_t> TViewSession::EngineMixture() const {
  if (!EngineLog()) return std::nullopt;
  return enginelog::FindRole(*EngineLog(), enginelog::TChannelRole::Mixture, Names);
}

// Our log when one is open, else the engine log's own mixture channel; a source the user picked
// stays while it is there to pick.
void TViewSession::DefaultMixture() {
  if (!EngineLog()) return;
  const bool available =
      Table.Mixture == MixtureFromOurs ? !OurLogs.empty() : Table.Mixture >= 0 || OurLogs.empty();
  if (Table.MixtureChosen && available) return;
  const std::optional<std::size_t> channel = EngineMixture();
  Table.Mixture = !OurLogs.empty() ? MixtureFromOurs
                  : channel        ? static_cast<int>(*channel)
                                   : MixtureFromNone;
}

std::string TViewSession::DerivedBinsText(std::size_t channel, bool wholeLog) const {
  if (!EngineLog() || channel >= EngineLog()->Channels.size()) return {};
  const double shift = TableInput().Shift;
  const double axisShift = wholeLog ? 0 : TableAxisShift();
  return BinsText(DeriveBins(*EngineLog(), channel, shift,
                             wholeLog ? -Everywhere : From + axisShift,
                             wholeLog ? Everywhere : To + axisShift));
}

void TViewSession::ChangeTable(const TTableSetup& setup) {
  if (setup == Table) return;
  Table = setup;
  Say(TChange::Table);
}

void TViewSession::SetTableAxes(std::size_t x, std::size_t y) {
  TTableSetup setup = Table;
  // Another channel on an axis takes breakpoints of its own.
  if (x != Table.XChannel) setup.XBins = DerivedBinsText(x, true);
  if (y != Table.YChannel) setup.YBins = DerivedBinsText(y, true);
  setup.XChannel = x;
  setup.YChannel = y;
  ChangeTable(setup);
}

void TViewSession::SetTableBinsText(const std::string& x, const std::string& y) {
  TTableSetup setup = Table;
  setup.XBins = x;
  setup.YBins = y;
  ChangeTable(setup);
}

void TViewSession::DeriveTableBins() {
  SetTableBinsText(DerivedBinsText(Table.XChannel, false), DerivedBinsText(Table.YChannel, false));
}

void TViewSession::SetTableMixture(int source, bool chosen) {
  TTableSetup setup = Table;
  setup.Mixture = source;
  setup.MixtureChosen = setup.MixtureChosen || chosen;
  ChangeTable(setup);
}

void TViewSession::SetTableLag(double seconds) {
  TTableSetup setup = Table;
  setup.Lag = seconds;
  ChangeTable(setup);
}

void TViewSession::SetTableMinHits(std::size_t hits) {
  TTableSetup setup = Table;
  setup.MinHits = hits;
  ChangeTable(setup);
}

void TViewSession::SetTableSteady(bool on, const TSteadyFilter& filter) {
  TTableSetup setup = Table;
  setup.Steady = on;
  setup.SteadyFilter = filter;
  ChangeTable(setup);
}

void TViewSession::SetTableRanges(const std::vector<TRangeText>& ranges) {
  TTableSetup setup = Table;
  setup.Ranges = ranges;
  ChangeTable(setup);
}

void TViewSession::SetTableTarget(const std::string& typed) {
  TTableSetup setup = Table;
  setup.Target = typed;
  setup.TargetGrid.clear();  // what is typed replaces a loaded grid
  setup.GridName.clear();
  ChangeTable(setup);
}

bool TViewSession::LoadTableTarget(const QString& path, std::string& error) {
  TTableProblem problem;
  TTableSetup shape = Table;
  shape.Target.clear();
  shape.TargetGrid.clear();
  std::swap(shape, Table);
  const std::optional<TTableSettings> settings =
      EngineLog() ? TableSettings(problem) : std::nullopt;
  std::swap(shape, Table);
  const std::size_t columns = settings ? settings->XBins.size() : 0;
  const std::size_t rows = settings ? settings->YBins.size() : 0;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    error = path.toStdString() + ": " + file.errorString().toStdString();
    return false;
  }
  const QByteArray text = file.readAll();
  std::optional<std::vector<double>> grid =
      ParseTargetGrid(std::string_view(text.constData(), static_cast<std::size_t>(text.size())),
                      columns, rows, error);
  if (!grid) {
    error = path.toStdString() + ": " + error;
    return false;
  }
  TTableSetup setup = Table;
  setup.Target.clear();
  setup.TargetGrid = std::move(*grid);
  setup.GridColumns = columns;
  setup.GridRows = rows;
  setup.GridName = QFileInfo(path).fileName().toStdString();
  ChangeTable(setup);
  return true;
}

void TViewSession::SetTableQuantity(TTableQuantity quantity) {
  TTableSetup setup = Table;
  setup.Quantity = quantity;
  ChangeTable(setup);
}

TTableInput TViewSession::TableInput() const {
  TTableInput input;
  input.Engine = EngineLog();
  if (EngineLog() && !OurLogs.empty()) {
    input.Mixture = &OurLogs.front()->Data();
    input.Shift = EngineShift(*input.Mixture, *EngineLog(), Aligned.Offset);
  }
  return input;
}

// A chart time becomes a time of the log of ours by its trace's shift, or an engine log time by
// the panes' without one.
double TViewSession::TableAxisShift() const {
  if (!EngineLog()) return 0;
  if (!OurLogs.empty()) {
    const TLog& first = OurLogs.front()->Data();
    return RelativeAxis() && !first.Times.empty() ? first.Times.front() : 0;
  }
  return (EngineLog()->Times.empty() ? 0 : EngineLog()->Times.front()) - Aligned.Offset;
}

std::optional<TTableSettings> TViewSession::TableSettings(TTableProblem& problem) const {
  const enginelog::TLog& log = *EngineLog();
  const TTableInput input = TableInput();
  const double axisShift = TableAxisShift();
  TTableSettings settings;
  settings.XChannel = Table.XChannel;
  settings.YChannel = Table.YChannel;
  settings.From = From + axisShift;
  settings.To = To + axisShift;
  for (auto [typed, bins, channel, field] :
       {std::tuple{&Table.XBins, &settings.XBins, settings.XChannel, TTableProblem::TField::XBins},
        std::tuple{&Table.YBins, &settings.YBins, settings.YChannel,
                   TTableProblem::TField::YBins}}) {
    if (QString::fromStdString(*typed).trimmed().isEmpty()) {
      // Derived here rather than by the table, so that a target grid's shape can be checked.
      *bins = DeriveBins(log, channel, input.Shift, settings.From, settings.To);
      continue;
    }
    std::optional<TBins> read = ParseBins(*typed, problem.Reason);
    if (!read) {
      problem.Field = field;
      return std::nullopt;
    }
    *bins = std::move(*read);
  }
  settings.UseEngineMixture = Table.Mixture >= 0;
  settings.MixtureChannel =
      Table.Mixture >= 0 ? std::optional<std::size_t>(static_cast<std::size_t>(Table.Mixture))
      : Table.Mixture == MixtureFromOurs ? EngineMixture()
                                         : std::nullopt;
  settings.Unit = Shown;
  settings.Lag = Table.Lag;
  settings.MinHits = Table.MinHits;
  if (Table.Steady) settings.Steady = Table.SteadyFilter;
  for (const TRangeText& range : Table.Ranges) {
    // A channel picked before either end is typed filters nothing yet, nor ends without one.
    if (!range.Channel) continue;
    if (QString::fromStdString(range.Low).trimmed().isEmpty() &&
        QString::fromStdString(range.High).trimmed().isEmpty()) {
      continue;
    }
    const auto ends = ParseRangeEnds(range.Low, range.High, problem.Reason);
    if (!ends) {
      problem.Field = TTableProblem::TField::Range;
      return std::nullopt;
    }
    settings.Ranges.push_back(TRangeFilter{*range.Channel, ends->first, ends->second});
  }
  const QString typed = QString::fromStdString(Table.Target).trimmed();
  if (!typed.isEmpty()) {
    bool ok = false;
    const double value = QString(typed).replace(',', '.').toDouble(&ok);
    if (!ok || !(value > 0) || !std::isfinite(value)) {
      problem = {TTableProblem::TField::Target, "The target must be a number above 0"};
      return std::nullopt;
    }
    settings.Target.Value = value;
  } else if (!Table.TargetGrid.empty()) {
    if (settings.XBins.size() != Table.GridColumns || settings.YBins.size() != Table.GridRows) {
      problem = {TTableProblem::TField::TargetGrid,
                 "The target grid " + Table.GridName + " is " + std::to_string(Table.GridColumns) +
                     " x " + std::to_string(Table.GridRows) + " cells, the table " +
                     std::to_string(settings.XBins.size()) + " x " +
                     std::to_string(settings.YBins.size()) + ": load another or type a target"};
      return std::nullopt;
    }
    settings.Target.Grid = Table.TargetGrid;
  }
  return settings;
}

TTableDescription TViewSession::TableDescription(const TTableSettings& settings) const {
  TTableDescription description;
  const auto name = [&](std::size_t channel) {
    return EngineLog() && channel < EngineLog()->Channels.size()
               ? EngineLog()->Channels[channel].Name
               : std::string();
  };
  description.XChannel = name(settings.XChannel);
  description.YChannel = name(settings.YChannel);
  description.Unit = settings.Unit.DisplayMode == sensor::dmLambda ? "lambda" : "afr";
  description.Offset = Aligned.Offset;
  description.Align = Aligned.How;
  return description;
}

TSessionScene MakeSessionScene(const TViewSession& session) {
  std::vector<TNamedLog> logs;
  for (const auto& file : session.Logs()) {
    logs.push_back({&file->Data(), QFileInfo(file->Path()).fileName()});
  }
  TSessionScene scene;
  scene.Chart = MakeScene(logs, session.Display(), session.RelativeAxis());
  if (const enginelog::TLog* engine = session.EngineLog()) {
    scene.Panes =
        PlacePanes(scene.Chart, *engine, session.Alignment().Offset, session.ShownChannels());
    scene.Chart.MoreExtents.push_back(PaneExtent(scene.Panes));
    // An engine log alone is a whole view: its own mixture channel is the chart's trace. Beside a
    // log of ours it is not: the mixture is ours, the engine's channel only lines the logs up.
    if (session.Logs().empty()) {
      if (const std::optional<std::size_t> channel = session.EngineMixture()) {
        scene.Chart.EngineMixture = MakeEngineMixtureTrace(
            *engine, *channel, scene.Panes.Shift, QFileInfo(session.EnginePath()).fileName());
      }
    }
    const TValueRange extent = TimeExtent(scene.Chart);
    scene.Chart.From = scene.Panes.From = extent.Low;
    scene.Chart.To = scene.Panes.To = extent.High;
  }
  return scene;
}

}  // namespace viewer
