// Edits of any routine from the grid: remove (several rows at once), move,
// replace, rename and settings. Each is one edit of the disk (disk/RoutineEdit.h).
// The table is read again first and must be the one the grid shows: a row the
// user picked names that routine and no other. What drops a routine's data asks
// first. Cancel stops at the next point the edit can stop at; stopped half way,
// the disk shows part of the new show and the window offers to finish the edit
// the next time the disk is read.
#include <QAction>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <memory>

#include "disk/OutputFile.h"
#include "disk/RoutineEdit.h"
#include "disk/VornDisk.h"
#include "ui/ControlList.h"
#include "ui/ManagerActions.h"
#include "ui/RoutineTableModel.h"
#include "ui/actions/DiskAction.h"

namespace vorn {
namespace {

using Table = std::vector<RoutineEntry>;

// "routine 3 (Title)", as the grid counts rows (from 1).
std::string Named(const Table& table, int row) {
  return "routine " + std::to_string(row + 1) + " (" + table[static_cast<std::size_t>(row)].DisplayTitle() + ")";
}

// "routine 3 (A)", "routines 2 (A) and 3 (B)".
std::string NamedList(const Table& table, const std::vector<int>& rows) {
  if (rows.size() == 1) return Named(table, rows.front());
  std::string text = "routines";
  for (std::size_t k = 0; k < rows.size(); ++k) {
    text += (k == 0 ? " " : k + 1 == rows.size() ? " and " : ", ") + Named(table, rows[k]).substr(8);
  }
  return text;
}

struct EditRequest {
  std::function<void(CRoutineEdit&)> build;
  std::function<std::string(const Table&)> done;      // the status at the end
  std::function<std::string(const Table&)> question;  // none: nothing is lost, nothing asked
  std::string loss;                                   // under the question, after the disk
  std::vector<int> selectAfter;                       // rows selected at the end
};

class CEdit final : public CDiskAction {
 public:
  CEdit(CActionHost& host, EditRequest request)
      : CDiskAction(host), m_request(std::move(request)), m_shown(host.Routines().Entries()) {}

  void Start() {
    auto self = Me<CEdit>();
    Open(ImageAccess::kWrite, [self] {
      self->m_vorn = std::make_unique<CVornDisk>(*self->m_device, &self->m_host.Status());
      self->Step([self] {
        self->m_vorn->ReadTable();
        self->m_identity = DiskIdentity(*self->m_device);
      }, [self] { return self->Detail(); }, [self](const JobOutcome& outcome) {
        outcome.Done() ? self->Build() : self->End({}, false);
      });
    });
  }

 private:
  std::string Detail() const { return "Disk: " + DiskText(); }

  bool Refuse(const std::exception_ptr& error) {
    ShowFailure({JobOutcome::Kind::kFailed, FailureMessage(error)}, Detail());
    End("Nothing was changed", false);
    return false;
  }

  bool MakeEdit() {
    try {
      // Another program changed the disk since the grid showed it: the rows
      // picked may be other routines now.
      if (!m_vorn->IsValid() || m_vorn->Table() != m_shown) {
        throw CEditError("The routines on the disk changed since they were listed; check the list and try again.");
      }
      m_edit = std::make_unique<CRoutineEdit>(m_vorn->Table());
      m_request.build(*m_edit);  // a title the disk cannot hold is refused here
      return true;
    } catch (...) {
      return Refuse(std::current_exception());
    }
  }

  void Build() {
    if (!MakeEdit()) return;
    if (m_request.question &&
        !AskUnlessStopping(m_host, m_request.question(m_shown), "Disk: " + ShownText() + "\n" + m_request.loss)) {
      return End("Nothing was changed", false);
    }
    m_host.Runner().AllowCancel(
        "The routines of " + DiskText() + " are being rewritten.\n\nStop the edit and close the window?",
        "The edit stops at the next safe point; until it is finished the disk shows part of the new show.");
    auto self = Me<CEdit>();
    const CCancelFlag* cancel = m_host.Runner().CancelFlag();
    CStatusText* status = &m_host.Status();
    CProgressBar* progress = &m_host.Progress();
    Step([self, cancel, status, progress] {
      EditOptions options;
      options.identity = self->m_identity;
      options.status = status;
      options.progress = progress;
      options.cancel = cancel;
      ApplyEdit(*self->m_vorn, *self->m_edit, options);
    }, [self] { return self->Detail(); }, [self](const JobOutcome& outcome) { self->Ended(outcome); });
  }

  void Ended(const JobOutcome& outcome) {
    bool pending = false;
    try {
      pending = outcome.kind != JobOutcome::Kind::kDone && EditPending(m_identity);
    } catch (const CVornError&) {
    }
    const std::string halfDone = " and " + DiskText() + " shows part of the new show; Refresh offers to finish it";
    switch (outcome.kind) {
      case JobOutcome::Kind::kDone:
        m_selectAfter = m_request.selectAfter;
        return End(m_request.done(m_shown), true);
      case JobOutcome::Kind::kCancelled:
        return End(pending ? "The edit stopped half way" + halfDone : "Edit cancelled; nothing was changed", false);
      case JobOutcome::Kind::kFailed:
        return End("Edit failed: " + outcome.failure.text + (pending ? ";" + halfDone : ""), false);
    }
  }

  void End(const std::string& text, bool succeeded) {
    m_vorn.reset();
    Finish(true, QString::fromLocal8Bit(text), succeeded);
  }

  EditRequest m_request;
  Table m_shown;  // what the grid showed when the user chose
  std::unique_ptr<CVornDisk> m_vorn;
  std::unique_ptr<CRoutineEdit> m_edit;
  std::string m_identity;
};

bool Shown(CActionHost& host, int row) {
  return row >= 0 && host.Routines().Entry(row) != nullptr && !host.Runner().IsBusy();
}

void Run(CActionHost& host, const char* what, EditRequest request) {
  if (!BeginOnSelected(host, what)) return;
  std::make_shared<CEdit>(host, std::move(request))->Start();
}

}  // namespace

void RemoveRoutines(CActionHost& host, const std::vector<int>& rows) {
  std::vector<int> sorted = rows;
  std::sort(sorted.begin(), sorted.end());
  sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
  if (sorted.empty() || !Shown(host, sorted.front()) || !Shown(host, sorted.back())) return;
  std::vector<std::size_t> positions(sorted.begin(), sorted.end());
  Run(host, "edit", {[positions](CRoutineEdit& e) { e.Remove(positions); },
                     [sorted](const Table& t) { return "Removed " + NamedList(t, sorted); },
                     [sorted](const Table& t) { return "Are you sure you want to remove " + NamedList(t, sorted) + "?"; },
                     sorted.size() == 1 ? "Its data will be lost." : "Their data will be lost.",
                     {}});
}

void MoveRoutine(CActionHost& host, int row, int to) {
  if (!Shown(host, row) || !Shown(host, to)) return;
  const auto from = static_cast<std::size_t>(row);
  const auto place = static_cast<std::size_t>(to);
  Run(host, "edit", {[from, place](CRoutineEdit& e) { e.Move(from, place); },
                     [row, to](const Table& t) { return "Moved " + Named(t, row) + " to position " + std::to_string(to + 1); },
                     {}, {}, {to}});
}

void ReplaceRoutine(CActionHost& host, int row) {
  if (!Shown(host, row) || host.Selected().kind == DiskKind::kNone) return;
  const QString file = host.AskForPath(PathQuestion::kReplaceSource, QString());
  if (file.isEmpty()) return;
  host.RememberFolder(file);
  const std::string path = QFile::encodeName(file).toStdString();
  const std::string name = QFileInfo(file).fileName().toLocal8Bit().toStdString();
  const DiskRecord disk = host.Selected();
  const std::string image = disk.kind == DiskKind::kImage ? disk.entry.text : std::string();
  Run(host, "edit", {[row, path, image](CRoutineEdit& e) {
                       // The image would be read as a routine while it is rewritten.
                       if (!image.empty() && SameFileAmong(path, {image}) != nullptr) {
                         throw CEditError("A disk image cannot replace a routine of its own: " + path);
                       }
                       e.Replace(static_cast<std::size_t>(row), path);
                     },
                     [row, name](const Table& t) { return "Replaced " + Named(t, row) + " by " + name; },
                     [row, name](const Table& t) {
                       return "Are you sure you want to replace " + Named(t, row) + " by " + name + "?";
                     },
                     "Its data will be lost; the file's routine takes its place.", {row}});
}

void RenameRoutine(CActionHost& host, int row) {
  if (!Shown(host, row) || host.Selected().kind == DiskKind::kNone) return;
  const std::optional<std::string> title = host.AskForTitle(*host.Routines().Entry(row));
  if (!title) return;
  Run(host, "edit", {[row, title](CRoutineEdit& e) { e.Retitle(static_cast<std::size_t>(row), *title); },
                     [row, title](const Table& t) { return "Renamed " + Named(t, row) + " to \"" + *title + "\""; },
                     {}, {}, {row}});
}

void ChangeRoutineSettings(CActionHost& host, int row) {
  if (!Shown(host, row) || host.Selected().kind == DiskKind::kNone) return;
  const std::optional<RoutineSettingsChange> change = host.AskForSettings(*host.Routines().Entry(row));
  if (!change) return;
  Run(host, "edit", {[row, change](CRoutineEdit& e) { e.ChangeSettings(static_cast<std::size_t>(row), *change); },
                     [row](const Table& t) { return "Changed the settings of " + Named(t, row); },
                     {}, {}, {row}});
}

void ConnectEdits(CActionHost& host, const CManagerActions& a, CControlList* grid) {
  const auto row = [grid] {
    const std::vector<int> rows = grid->SelectedRows();
    return rows.empty() ? -1 : rows.front();
  };
  CActionHost* h = &host;
  QObject::connect(a.removeRoutines, &QAction::triggered, grid, [h, grid] { RemoveRoutines(*h, grid->SelectedRows()); });
  QObject::connect(a.moveUp, &QAction::triggered, grid, [h, row] { MoveRoutine(*h, row(), row() - 1); });
  QObject::connect(a.moveDown, &QAction::triggered, grid, [h, row] { MoveRoutine(*h, row(), row() + 1); });
  QObject::connect(a.replace, &QAction::triggered, grid, [h, row] { ReplaceRoutine(*h, row()); });
  QObject::connect(a.rename, &QAction::triggered, grid, [h, row] { RenameRoutine(*h, row()); });
  QObject::connect(a.settings, &QAction::triggered, grid, [h, row] { ChangeRoutineSettings(*h, row()); });
  a.AttachEdits(grid);
}

}  // namespace vorn
