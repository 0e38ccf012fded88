#include "disk/ShowSet.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include <toml++/toml.h>

#include "audio/RoutineFileHeader.h"
#include "device/BaudRate.h"
#include "disk/DiskText.h"
#include "disk/RoutineExport.h"
#include "disk/VornDisk.h"
#include "platform/RegularFile.h"

namespace vorn {
namespace {

[[noreturn]] void Refuse(const ShowSet& set, const std::string& text) {
  throw CShowSetError("The show set " + set.path + " cannot be used: " + text + "; nothing was written.");
}

std::string Where(const toml::node& node) {
  const auto& begin = node.source().begin;
  return "line " + std::to_string(begin.line);
}

std::uint8_t ByteValue(const ShowSet& set, const toml::node& node, const std::string& key, int lowest,
                       int highest) {
  const auto value = node.value<std::int64_t>();
  if (!node.is_integer() || !value || *value < lowest || *value > highest) {
    Refuse(set, Where(node) + ": " + key + " wants a whole number from " + std::to_string(lowest) + " to " +
                    std::to_string(highest));
  }
  return static_cast<std::uint8_t>(*value);
}

// Opens the routine file as an import would and reads its header: the show
// set must name routine files, nothing else, and never itself.
void CheckRoutineFile(const ShowSet& set, const ShowSetRoutine& routine, const struct stat& self) {
  const std::string name = "routine file " + routine.path;
  RegularFile file = OpenRegularFile(routine.path);
  if (!file.fd.IsValid()) Refuse(set, name + ": " + file.Reason());
  struct stat info {};
  if (::fstat(file.fd.Get(), &info) != 0) Refuse(set, name + ": cannot be read");
  if (info.st_dev == self.st_dev && info.st_ino == self.st_ino) Refuse(set, name + " is the show set itself");
  std::uint8_t raw[RoutineFileHeader::kEncodedSize];
  const ssize_t got = ::pread(file.fd.Get(), raw, sizeof raw, 0);
  if (got != static_cast<ssize_t>(sizeof raw)) Refuse(set, name + " is not a routine file (too short)");
  const RoutineFileHeader header = RoutineFileHeader::Decode(raw);
  if (header.version != 1) Refuse(set, name + " is not a routine file (a .vorn file of version 1)");
  const std::uint64_t needed = std::uint64_t{sizeof raw} + header.audioSize + header.dataSize;
  if (static_cast<std::uint64_t>(info.st_size) < needed) {
    Refuse(set, name + " ends early: its header announces " + std::to_string(needed) + " bytes, it holds " +
                    std::to_string(info.st_size));
  }
}

ShowSetRoutine ReadRoutine(const ShowSet& set, const toml::node& node, const std::filesystem::path& folder) {
  const toml::table* table = node.as_table();
  if (!table) Refuse(set, Where(node) + ": a [[routine]] is a table");
  ShowSetRoutine routine;
  for (const auto& [key, value] : *table) {
    const std::string name(key.str());
    if (name == "file") {
      if (!value.is_string() || value.value<std::string>()->empty()) {
        Refuse(set, Where(value) + ": file wants the name of a .vorn file");
      }
      routine.file = *value.value<std::string>();
    } else if (name == "title") {
      if (!value.is_string()) Refuse(set, Where(value) + ": title wants a text");
      const std::string title = *value.value<std::string>();
      std::string disk;
      try {
        disk = Utf8ToDiskText(title);
      } catch (const CDiskTextError& error) {
        Refuse(set, Where(value) + ": the title \"" + title + "\" cannot be stored on a disk: " + error.what());
      }
      if (disk.size() > RoutineEntry::kTitleSize) {
        Refuse(set, Where(value) + ": the title \"" + title + "\" has " + std::to_string(disk.size()) +
                        " characters; a disk holds 16");
      }
      routine.title = title;
    } else if (name == "frame-ms") {
      routine.settings.frameRate = ByteValue(set, value, name, 0, 255);
    } else if (name == "protocol") {
      routine.settings.protocol = ByteValue(set, value, name, 0, 255);
    } else if (name == "baud") {
      std::optional<std::uint8_t> code;
      if (value.is_string() && (*value.value<std::string>() == "DMX" || *value.value<std::string>() == "dmx")) {
        code = BaudCodeForRate(kDmxBaudRate);
      } else if (value.is_integer()) {
        code = BaudCodeForRate(static_cast<int>(std::clamp<std::int64_t>(*value.value<std::int64_t>(), 0, 1 << 30)));
      }
      if (!code) Refuse(set, Where(value) + ": baud wants 2400, 4800, 9600, 19200, 38400 or 250000 (\"DMX\")");
      routine.settings.baudCode = code;
    } else if (name == "controller-settings") {
      const toml::array* bytes = value.as_array();
      if (!bytes || bytes->size() != 32) Refuse(set, Where(value) + ": controller-settings wants 32 numbers");
      std::array<std::uint8_t, 32> settings{};
      for (std::size_t i = 0; i < 32; ++i) settings[i] = ByteValue(set, (*bytes)[i], name, 0, 255);
      routine.settings.controllerSettings = settings;
    } else if (name == "settings") {
      // The 32 bytes in a file of their own, as `vorn3ctl set --settings` takes them.
      if (!value.is_string()) Refuse(set, Where(value) + ": settings wants the name of a file of 32 bytes");
      const std::filesystem::path file(*value.value<std::string>());
      const std::string path = file.is_absolute() ? file.string() : (folder / file).lexically_normal().string();
      RegularFile bytes = OpenRegularFile(path);
      std::array<std::uint8_t, 33> read{};
      const ssize_t got = bytes.fd.IsValid() ? ::pread(bytes.fd.Get(), read.data(), read.size(), 0) : -1;
      if (got != 32) {
        Refuse(set, Where(value) + ": the controller settings file " + path +
                        (bytes.fd.IsValid() ? " must hold exactly 32 bytes" : ": " + bytes.Reason()));
      }
      std::array<std::uint8_t, 32> settings{};
      std::copy_n(read.begin(), 32, settings.begin());
      routine.settings.controllerSettings = settings;
    } else {
      Refuse(set, Where(value) + ": a routine has no setting '" + name +
                      "' (file, title, frame-ms, baud, protocol, controller-settings, settings)");
    }
  }
  if (routine.file.empty()) Refuse(set, Where(node) + ": a [[routine]] without file = \"...\"");
  if (routine.settings.protocol && routine.settings.controllerSettings) {
    Refuse(set, Where(node) + ": give protocol or the controller settings, not both");
  }
  if (table->contains("settings") && table->contains("controller-settings")) {
    Refuse(set, Where(node) + ": give settings or controller-settings, not both");
  }
  const std::filesystem::path file(routine.file);
  routine.path = file.is_absolute() ? routine.file : (folder / file).lexically_normal().string();
  return routine;
}

std::string FileNameFor(std::size_t index, std::size_t count, const RoutineEntry& entry) {
  std::string title;
  for (char c : entry.DisplayTitle()) {
    const auto u = static_cast<unsigned char>(c);
    title += std::isalnum(u) || c == '-' || c == '_' ? c : (c == ' ' ? '-' : (u >= 0x80 ? c : '_'));
  }
  // A name of dots or a leading dash would be a hidden file or an option.
  while (!title.empty() && (title.front() == '.' || title.front() == '-')) title.erase(0, 1);
  if (title.empty()) title = "routine";
  const int width = count >= 100 ? 3 : 2;
  char number[32];
  std::snprintf(number, sizeof number, "%0*zu", width, index + 1);
  return std::string(number) + "-" + title + ".vorn";
}

}  // namespace

ShowSet LoadShowSet(const std::string& path) {
  ShowSet set;
  set.path = path;
  RegularFile file = OpenRegularFile(path);
  if (!file.fd.IsValid()) throw CShowSetError("Could not open the show set " + path + ": " + file.Reason());
  struct stat self {};
  if (::fstat(file.fd.Get(), &self) != 0 || self.st_size > (1 << 20)) {
    Refuse(set, "it is not a show set (larger than 1 MiB)");
  }
  std::string text(static_cast<std::size_t>(self.st_size), '\0');
  if (::pread(file.fd.Get(), text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) {
    throw CShowSetError("Could not read the show set " + path);
  }
  toml::table document;
  try {
    document = toml::parse(text, path);
  } catch (const toml::parse_error& error) {
    Refuse(set, "line " + std::to_string(error.source().begin.line) + ": " + std::string(error.description()));
  }
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  for (const auto& [key, value] : document) {
    if (key.str() != "routine") {
      Refuse(set, Where(value) + ": a show set holds [[routine]] entries, not '" + std::string(key.str()) + "'");
    }
    const toml::array* routines = value.as_array();
    if (!routines) Refuse(set, Where(value) + ": routines are given as [[routine]]");
    for (const toml::node& node : *routines) set.routines.push_back(ReadRoutine(set, node, folder));
  }
  // An empty show would leave every disk empty: most likely the wrong file.
  if (set.routines.empty()) Refuse(set, "it names no routines ([[routine]] with file = \"...\")");
  for (const ShowSetRoutine& routine : set.routines) CheckRoutineFile(set, routine, self);
  return set;
}

std::string ShowSetText(const ShowSet& set) {
  toml::array routines;
  for (const ShowSetRoutine& routine : set.routines) {
    toml::table entry;
    entry.insert("file", routine.file);
    if (routine.title) entry.insert("title", *routine.title);
    const RoutineSettingsChange& s = routine.settings;
    if (s.frameRate) entry.insert("frame-ms", static_cast<std::int64_t>(*s.frameRate));
    if (s.baudCode) {
      const int rate = BaudRateForCode(*s.baudCode).value_or(0);
      if (rate == kDmxBaudRate) {
        entry.insert("baud", "DMX");
      } else {
        entry.insert("baud", static_cast<std::int64_t>(rate));
      }
    }
    if (s.protocol) entry.insert("protocol", static_cast<std::int64_t>(*s.protocol));
    if (s.controllerSettings) {
      toml::array bytes;
      for (std::uint8_t b : *s.controllerSettings) bytes.push_back(static_cast<std::int64_t>(b));
      entry.insert("controller-settings", std::move(bytes));
    }
    routines.push_back(std::move(entry));
  }
  toml::table document;
  document.insert("routine", std::move(routines));
  std::ostringstream out;
  out << "# A VORN show set: the routines in the order the disk plays them.\n"
         "# 'vorn3ctl sync THIS-FILE DISK...' makes disks hold this show.\n\n"
      << document << "\n";
  return out.str();
}

ShowSet MakeShowSet(CSectorDevice& device, const std::string& showSetPath, const std::vector<std::string>& inputs,
                    const COutputFile::ReplaceCheck& mayReplace, CStatusText* status, CProgressBar* progress,
                    const CCancelFlag* cancel) {
  CVornDisk disk(device, nullptr);
  const std::vector<RoutineEntry> table = disk.ReadTable();
  if (!disk.IsValid()) throw CShowSetError(device.GetName() + " is not formatted as a VORN disk: it holds no show.");
  if (table.empty()) throw CShowSetError(device.GetName() + " holds no routines: there is no show to write down.");
  ShowSet set;
  set.path = showSetPath;
  const std::filesystem::path folder = std::filesystem::path(showSetPath).parent_path();
  std::vector<std::string> reads = inputs;
  reads.push_back(showSetPath);
  for (std::size_t k = 0; k < table.size(); ++k) {
    ShowSetRoutine routine;
    routine.file = FileNameFor(k, table.size(), table[k]);
    routine.path = (folder / routine.file).string();
    if (status) status->SetText("Exporting " + routine.file);
    // Two titles that make one name: the second gets its number twice.
    for (const ShowSetRoutine& before : set.routines) {
      if (before.file == routine.file) {
        routine.file = routine.file.substr(0, routine.file.size() - 5) + "-" + std::to_string(k + 1) + ".vorn";
        routine.path = (folder / routine.file).string();
      }
    }
    COutputFile out(routine.path, reads, mayReplace);
    ExportRoutine(device, table[k], out.Stream(), progress, cancel);
    out.Commit();
    set.routines.push_back(routine);
  }
  COutputFile out(showSetPath, inputs, mayReplace);
  const std::string text = ShowSetText(set);
  if (std::fwrite(text.data(), 1, text.size(), out.Stream()) != text.size()) {
    throw CShowSetError("Could not write the show set " + showSetPath);
  }
  out.Commit();
  if (status) status->SetText({});
  return set;
}

}  // namespace vorn
