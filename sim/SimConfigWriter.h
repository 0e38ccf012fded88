#pragma once
// Test and benchmark support: writes simulator configs, creates disk images
// and reads the simulator's log. Header only; link vorn_sim_support.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace vorn::sim {

// One device line of a config, with the defaults of a healthy unit.
struct SimUnitSpec {
  int devnum = 1;
  bool unit = true;                 // false: a plain device with `ids`
  std::string ids = "aa00:0001";    // written for plain devices, or when changed
  std::optional<std::string> manufacturer = std::string("Calverin");
  std::optional<std::string> product = std::string("VORN3 Unit");
  std::string image;                // empty: no disk
  std::string model = "VORN DISK";
  std::string serial = "0001";
  std::string capture;
  std::string baudFile;
  std::string shape;                // empty: full
  std::vector<std::string> faults;  // e.g. "status-checksum", "bulk-write after 3"
};

class CSimConfigWriter {
 public:
  CSimConfigWriter& Log(const std::string& path) {
    m_log = path;
    return *this;
  }
  CSimConfigWriter& Bus(const std::string& name) {
    m_text << "bus " << name << "\n";
    return *this;
  }
  CSimConfigWriter& Device(int devnum, const std::string& ids,
                           std::optional<std::string> manufacturer = std::nullopt,
                           std::optional<std::string> product = std::nullopt) {
    SimUnitSpec spec;
    spec.devnum = devnum;
    spec.unit = false;
    spec.ids = ids;
    spec.manufacturer = std::move(manufacturer);
    spec.product = std::move(product);
    return Unit(spec);
  }
  CSimConfigWriter& Unit(const SimUnitSpec& spec) {
    if (spec.unit) {
      m_text << "unit " << spec.devnum;
      if (spec.ids != "aa00:0001") m_text << " " << spec.ids;
      m_text << "\n";
    } else {
      m_text << "device " << spec.devnum << " " << spec.ids << "\n";
    }
    if (spec.manufacturer) m_text << "  manufacturer " << Quote(*spec.manufacturer) << "\n";
    if (spec.product) m_text << "  product " << Quote(*spec.product) << "\n";
    if (spec.unit) {
      if (!spec.image.empty()) m_text << "  image " << Quote(spec.image) << "\n";
      m_text << "  model " << Quote(spec.model) << "\n";
      m_text << "  serial " << Quote(spec.serial) << "\n";
      if (!spec.capture.empty()) m_text << "  capture " << Quote(spec.capture) << "\n";
      if (!spec.baudFile.empty()) m_text << "  baud-file " << Quote(spec.baudFile) << "\n";
      if (!spec.shape.empty()) m_text << "  shape " << spec.shape << "\n";
    }
    for (const std::string& fault : spec.faults) m_text << "  fault " << fault << "\n";
    return *this;
  }

  std::string Text() const {
    std::string text;
    if (!m_log.empty()) text += "log " + Quote(m_log) + "\n";
    return text + m_text.str();
  }

  // Writes the config and points the simulator at it (VORN_USB_SIM_CONFIG);
  // the next usb_find_busses loads it.
  void Install(const std::string& path) const {
    std::ofstream file(path, std::ios::trunc);
    file << Text();
    if (!file) throw std::runtime_error("cannot write " + path);
    file.close();
    ::setenv("VORN_USB_SIM_CONFIG", path.c_str(), 1);
  }

  static std::string Quote(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) {
      if (c == '"' || c == '\\') quoted.push_back('\\');
      quoted.push_back(c);
    }
    return quoted + "\"";
  }

 private:
  std::string m_log;
  std::ostringstream m_text;
};

// Creates (or resizes) a zero-filled disk image of `sectors` sectors of 512 bytes.
inline void CreateDiskImage(const std::string& path, std::uint64_t sectors) {
  { std::ofstream create(path, std::ios::app); }
  if (::truncate(path.c_str(), static_cast<off_t>(sectors * 512)) != 0) {
    throw std::runtime_error("cannot size " + path);
  }
}

// The simulator's log, read back.
class CSimLogReader {
 public:
  explicit CSimLogReader(std::string path) : m_path(std::move(path)) {}

  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::ifstream file(m_path);
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    return lines;
  }
  // Lines holding `word` as a whole word, e.g. "OUT-OF-SHAPE", "baud", "capture".
  std::vector<std::string> Matching(const std::string& word) const {
    std::vector<std::string> found;
    for (const std::string& line : Lines()) {
      std::istringstream words(line);
      for (std::string w; words >> w;) {
        if (w == word) {
          found.push_back(line);
          break;
        }
      }
    }
    return found;
  }
  std::vector<std::string> OutOfShape() const { return Matching("OUT-OF-SHAPE"); }

 private:
  std::string m_path;
};

}  // namespace vorn::sim
