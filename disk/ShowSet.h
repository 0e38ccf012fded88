#pragma once
// A show set: a small TOML file, edited by hand, naming the routines of a show
// in order (".vorn" files, relative to the show set) with optional overrides of
// a routine's title and settings. `vorn3ctl sync` makes disks hold it;
// docs/show-sets.md describes the format.
//
//   [[routine]]
//   file = "01-intro.vorn"
//   title = "Intro"          # optional: the title on the disk (16 characters)
//   frame-ms = 20            # optional: frame period
//   baud = 9600              # optional: 2400 ... 38400, or 250000 / "DMX"
//   protocol = 1             # optional: the first controller setting byte
//   controller-settings = [1, 0, ...]  # optional: all 32 bytes
//   settings = "x.settings" # optional: the 32 bytes from a file

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/SectorDevice.h"
#include "disk/OutputFile.h"
#include "disk/RoutineEdit.h"
#include "platform/Cancel.h"
#include "platform/Error.h"
#include "platform/ProgressBar.h"
#include "platform/StatusText.h"

namespace vorn {

// A show set that cannot be used as it stands (unreadable, bad syntax, a
// routine that names a missing file, the show set itself, a FIFO, a folder,
// something that is no routine file): refused with the name, before anything
// is converted or written.
class CShowSetError : public CVornError {
 public:
  using CVornError::CVornError;
};

struct ShowSetRoutine {
  std::string file;  // as the show set names it
  std::string path;  // the file to read: `file` taken from the show set's folder
  std::optional<std::string> title;  // UTF-8; checked against the disk's code page on load
  RoutineSettingsChange settings;    // the overrides; unset fields come from the file
};

struct ShowSet {
  std::string path;
  std::vector<ShowSetRoutine> routines;
};

// Reads and checks a show set: every routine file is opened and its header
// read (a regular file, a version 1 routine file), titles fit the disk.
ShowSet LoadShowSet(const std::string& path);

// The show set's text, as LoadShowSet reads it back.
std::string ShowSetText(const ShowSet& set);

// Writes a show set of the routines `device` holds now, in order: each routine
// exported beside it as "NN-title.vorn" and the show set at `showSetPath`,
// every file through COutputFile (a name taken goes through `mayReplace`; a
// routine file, then the show set, appear whole or not at all). `inputs`: the
// files the caller reads (the disk among them), which no output may be.
// Throws CShowSetError for an unformatted disk.
ShowSet MakeShowSet(CSectorDevice& device, const std::string& showSetPath, const std::vector<std::string>& inputs,
                    const COutputFile::ReplaceCheck& mayReplace, CStatusText* status = nullptr,
                    CProgressBar* progress = nullptr, const CCancelFlag* cancel = nullptr);

}  // namespace vorn
