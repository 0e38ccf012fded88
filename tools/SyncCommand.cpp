// vorn3ctl sync: makes every named disk hold the show of a show set, writing
// only what differs, all disks at once.
#include <sys/stat.h>

#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "disk/ShowSync.h"
#include "tools/Commands.h"
#include "tools/DiskArgument.h"
#include "tools/DriveArgument.h"
#include "tools/JsonText.h"
#include "tools/StopSignals.h"
#include "tools/TerminalPresenter.h"

namespace vorn {
namespace {

std::string Mb(std::uint64_t sectors) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(sectors) * kSectorSize / 1e6);
  return text;
}

// What names the disk behind an argument before it is opened (an image's
// file, a drive's number), so that a disk named twice is refused without
// opening it twice: the second open would only say it is in use.
std::string NameKey(const std::string& argument) {
  if (std::optional<int> drive = DriveArgumentNumber(argument)) return "drive " + std::to_string(*drive);
  if (std::optional<int> drive = DriveNumberOfNode(argument)) return "drive " + std::to_string(*drive);
  struct stat info {};
  if (::stat(argument.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
    return "file " + std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
  }
  return "name " + argument;
}

// One terminal line for all disks: "a.img writing 40% | VORN3 verifying 10%".
class CSyncStatus {
 public:
  CSyncStatus(CTerminalStatusLine* line, std::size_t disks) : m_line(line), m_parts(disks) {}
  void Update(const SyncProgress& progress) {
    if (!m_line) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_parts[progress.disk] = PrintableText(progress.name) + " " + SyncPhaseName(progress.phase) +
                             (progress.phase == SyncPhase::kWriting || progress.phase == SyncPhase::kVerifying ||
                                      progress.phase == SyncPhase::kComparing
                                  ? " " + std::to_string(progress.percent) + "%"
                                  : "");
    std::string text;
    for (const std::string& part : m_parts) text += (text.empty() ? "" : " | ") + part;
    m_line->SetText(text);
  }

 private:
  CTerminalStatusLine* m_line;
  std::mutex m_mutex;
  std::vector<std::string> m_parts;
};

std::string Describe(const DiskSyncResult& result, bool dryRun) {
  const DiskSyncPlan& plan = result.plan;
  if (result.phase == SyncPhase::kFailed) return "FAILED: " + std::string(result.failure->what());
  if (result.phase == SyncPhase::kCancelled) {
    return "stopped; it holds its old show or the first routines of the new one (run the sync again)";
  }
  char time[32];
  std::snprintf(time, sizeof time, " (%.1f s)", result.time.count());
  if (dryRun) {
    if (plan.written == 0 && plan.oldCount == plan.kept) {
      return "already holds the show (" + std::to_string(plan.kept) + " routines)";
    }
    std::string text = "would keep " + std::to_string(plan.kept) + " routine" + (plan.kept == 1 ? "" : "s");
    if (plan.oldCount > plan.kept) text += ", drop " + std::to_string(plan.oldCount - plan.kept);
    text += " and write " + std::to_string(plan.written) + " (" + Mb(plan.writeSectors) + ")";
    if (!plan.formatted) text += "; it is not a VORN disk yet";
    return text;
  }
  if (result.written == 0 && plan.oldCount == plan.kept) {
    return "already held the show; verified " + std::to_string(result.verified) + " routines" + time;
  }
  return "kept " + std::to_string(result.kept) + ", wrote " + std::to_string(result.written) + ", verified " +
         std::to_string(result.verified) + " routines" + time;
}

int Run(const CCommandLine& commandLine) {
  const auto& arguments = commandLine.Positional();
  const bool dryRun = commandLine.Has("--dry-run");
  const bool json = commandLine.Has("--json");
  const bool yes = commandLine.Has("--yes");
  if (!dryRun) RequireConfirmation(yes);  // before minutes of conversion
  CCancelFlag cancel;
  CStopSignals stopSignals(&cancel);  // Ctrl-C: every disk stops at its next safe point

  const ShowSet set = LoadShowSet(arguments[0]);
  const std::vector<std::string> names(arguments.begin() + 1, arguments.end());
  std::map<std::string, std::string> named;
  for (const std::string& name : names) {
    const auto [it, added] = named.emplace(NameKey(name), name);
    if (!added) throw CShowSyncError(it->second + " and " + name + " are the same disk; name each disk once. "
                                     "Nothing was written.");
    if (NameKey(arguments[0]) == NameKey(name)) {
      throw CShowSyncError("The disk " + name + " is the show set; nothing was written.");
    }
    for (const ShowSetRoutine& routine : set.routines) {
      if (NameKey(routine.path) == NameKey(name)) {
        throw CShowSyncError("The disk " + name + " is the routine file " + routine.file + "; nothing was written.");
      }
    }
  }
  // Every disk is opened before anything is written; one that cannot be
  // (unplugged, busy, not a disk image) fails alone.
  DiskOptions diskOptions = DiskOptionsOf(commandLine);
  std::vector<std::unique_ptr<CSectorDevice>> devices(names.size());
  std::vector<std::optional<CVornError>> openFailures(names.size());
  std::vector<SyncDisk> disks;
  std::vector<std::size_t> diskIndex;
  for (std::size_t i = 0; i < names.size(); ++i) {
    try {
      devices[i] = OpenDiskArgument(names[i], dryRun ? ImageAccess::kRead : ImageAccess::kWrite, diskOptions);
      RefuseForeignImage(*devices[i], commandLine.Has("--force"));
      disks.push_back({names[i], devices[i].get()});
      diskIndex.push_back(i);
    } catch (const CVornError& error) {
      openFailures[i] = error;
      devices[i].reset();
    }
  }
  if (!disks.empty()) RefuseSameDisk(disks);

  std::unique_ptr<CTerminalStatusLine> statusLine;
  if (!json) statusLine = std::make_unique<CTerminalStatusLine>(stderr);
  const std::string cacheDir = commandLine.Has("--cache") ? CConvertedShow::DefaultCacheDir() : std::string();
  std::unique_ptr<CConvertedShow> show;
  try {
    show = CConvertedShow::Prepare(set, cacheDir, statusLine.get(), statusLine.get(), &cancel);
  } catch (const CCancelled&) {
    std::fprintf(stderr, "vorn3ctl: stopped while converting; nothing was written.\n");
    return kExitCancelled;
  }
  if (statusLine) {
    statusLine->SetRange(0, 0);
    statusLine->SetText({});
  }
  if (!dryRun && !disks.empty() &&
      !ConfirmOnTerminal("Make " + std::to_string(disks.size()) + " disk" + (disks.size() == 1 ? "" : "s") +
                             " hold the show of " + arguments[0] + " (" + std::to_string(set.routines.size()) +
                             " routines)? Routines that differ from it are replaced.",
                         yes)) {
    std::fprintf(stderr, "Nothing was changed.\n");
    return kExitFailure;
  }

  CSyncStatus status(statusLine.get(), disks.size());
  SyncOptions options;
  options.cancel = &cancel;
  options.dryRun = dryRun;
  options.progress = [&status](const SyncProgress& progress) { status.Update(progress); };
  std::vector<DiskSyncResult> synced = disks.empty() ? std::vector<DiskSyncResult>() : SyncShow(*show, disks, options);
  if (statusLine) statusLine->SetText({});

  std::vector<DiskSyncResult> results(names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    results[i].name = names[i];
    if (openFailures[i]) {
      results[i].phase = SyncPhase::kFailed;
      results[i].failure = openFailures[i];
    }
  }
  for (std::size_t k = 0; k < synced.size(); ++k) results[diskIndex[k]] = synced[k];
  // A unit pulled out fails its release too; that says nothing new about a
  // disk that failed already, but a disk that cannot be let go is no success.
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (!devices[i]) continue;
    try {
      devices[i]->Close();
    } catch (const CVornError& error) {
      if (results[i].Succeeded()) {
        results[i].phase = SyncPhase::kFailed;
        results[i].failure = error;
      }
    }
  }
  bool allDone = true, cancelled = false;
  for (const DiskSyncResult& result : results) {
    allDone = allDone && result.Succeeded();
    cancelled = cancelled || result.phase == SyncPhase::kCancelled;
  }

  if (json) {
    JsonDocument list = JsonDocument::array();
    for (const DiskSyncResult& r : results) {
      JsonDocument disk = {{"disk", r.name}, {"ok", r.Succeeded()}, {"phase", SyncPhaseName(r.phase)}};
      if (dryRun) {
        disk["wouldKeep"] = r.plan.kept;
        disk["wouldWrite"] = r.plan.written;
        disk["wouldWriteBytes"] = r.plan.writeSectors * kSectorSize;
        disk["wasVornDisk"] = r.plan.formatted;
      } else {
        disk["kept"] = r.kept;
        disk["written"] = r.written;
        disk["verified"] = r.verified;
      }
      disk["seconds"] = r.time.count();
      disk["error"] = r.failure ? JsonDocument(r.failure->what()) : JsonDocument(nullptr);
      list.push_back(std::move(disk));
    }
    JsonDocument document = {{"showSet", arguments[0]},
                             {"routines", set.routines.size()},
                             {"converted", show->Converted()},
                             {"dryRun", dryRun},
                             {"ok", allDone},
                             {"disks", std::move(list)}};
    std::fputs(JsonText(document).c_str(), stdout);
  } else {
    for (const DiskSyncResult& r : results) {
      std::printf("%s: %s\n", PrintableText(r.name).c_str(), PrintableText(Describe(r, dryRun)).c_str());
    }
  }
  if (cancelled) return kExitCancelled;
  return allDone ? kExitOk : kExitFailure;
}

}  // namespace

Command SyncCommand() {
  return {"sync", "SHOWSET DISK... [--json] [--dry-run] [--yes] [--cache]",
          "make disks hold the show of a show set, writing only what differs",
          "Each routine is converted once, whatever the number of disks. On each disk\n"
          "the leading routines that already match are kept and the rest is written\n"
          "and read back; the disks are written at the same time. One disk failing\n"
          "does not stop the others. Exit status 0 only when every disk holds the show.\n"
          "'vorn3ctl show-set make' writes a show set from a disk; docs/show-sets.md\n"
          "describes the format.",
          {{"--json", nullptr, "print one result per disk as JSON"},
           {"--dry-run", nullptr, "print what each disk would get; write nothing"},
           {"--yes", nullptr, "do not ask (needed when stdin is not a terminal)"},
           {"--cache", nullptr, "keep converted routines for later runs ($XDG_CACHE_HOME/vorn3manager)"},
           {"--force", nullptr, "use an image file that looks like another kind of file"},
           kUnmountOption},
          2, static_cast<std::size_t>(-1), Run};
}

}  // namespace vorn
