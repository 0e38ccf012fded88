#include "sim/SimConfig.h"

#include <array>
#include <cstdlib>
#include <sstream>
#include <tuple>
#include <utility>

namespace vorn::sim {

namespace {

constexpr std::array<std::pair<Fault, const char*>, 19> kFaultNames = {{
    {Fault::Open, "open"},
    {Fault::ManufacturerString, "manufacturer-string"},
    {Fault::ProductString, "product-string"},
    {Fault::SetConfiguration, "set-configuration"},
    {Fault::Claim, "claim"},
    {Fault::AltSetting, "altsetting"},
    {Fault::Release, "release"},
    {Fault::Control, "control"},
    {Fault::ControlTimeout, "control-timeout"},
    {Fault::DataTimeout, "data-timeout"},
    {Fault::DataShort, "data-short"},
    {Fault::StatusTimeout, "status-timeout"},
    {Fault::StatusShort, "status-short"},
    {Fault::StatusChecksum, "status-checksum"},
    {Fault::StatusBytes, "status-bytes"},
    {Fault::BulkWrite, "bulk-write"},
    {Fault::WriteGarble, "write-garble"},
    {Fault::WrapAround, "wrap-around"},
    {Fault::Unplug, "unplug-after"},
}};

[[noreturn]] void Fail(int line, const std::string& what) {
  throw CSimConfigError("line " + std::to_string(line) + ": " + what);
}

// Splits a line into words; "double quoted" words may hold spaces, \" and \\.
// A # outside quotes starts a comment.
std::vector<std::string> SplitWords(const std::string& line, int lineNumber) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
    } else if (c == '#') {
      break;
    } else if (c == '"') {
      std::string word;
      ++i;
      bool closed = false;
      while (i < line.size()) {
        char d = line[i++];
        if (d == '"') {
          closed = true;
          break;
        }
        if (d == '\\' && i < line.size()) d = line[i++];
        word.push_back(d);
      }
      if (!closed) Fail(lineNumber, "unterminated quoted text");
      words.push_back(std::move(word));
    } else {
      std::string word;
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') {
        word.push_back(line[i++]);
      }
      words.push_back(std::move(word));
    }
  }
  return words;
}

unsigned long ParseNumber(const std::string& text, int base, unsigned long max, int line,
                          const char* what) {
  char* end = nullptr;
  const unsigned long value = std::strtoul(text.c_str(), &end, base);
  if (text.empty() || *end != '\0' || text[0] == '-' || value > max) {
    Fail(line, std::string("bad ") + what + " '" + text + "'");
  }
  return value;
}

// "aa00:0001" (hexadecimal, as lsusb prints it).
std::pair<std::uint16_t, std::uint16_t> ParseIds(const std::string& text, int line) {
  const auto colon = text.find(':');
  if (colon == std::string::npos) Fail(line, "ids must read VENDOR:PRODUCT in hexadecimal");
  return {static_cast<std::uint16_t>(ParseNumber(text.substr(0, colon), 16, 0xFFFF, line, "vendor id")),
          static_cast<std::uint16_t>(ParseNumber(text.substr(colon + 1), 16, 0xFFFF, line, "product id"))};
}

std::string ResolvePath(const std::string& path, const std::string& baseDir) {
  if (path.empty() || path[0] == '/' || baseDir.empty()) return path;
  return baseDir + "/" + path;
}

void ExpectArgs(const std::vector<std::string>& words, std::size_t count, int line) {
  if (words.size() != count + 1) {
    Fail(line, "'" + words[0] + "' takes " + std::to_string(count) + " argument(s)");
  }
}

FaultSetting ParseFault(const std::vector<std::string>& words, int line) {
  if (words.size() < 2) Fail(line, "'fault' needs a knob name");
  FaultSetting setting{Fault::Open, 0};
  bool known = false;
  for (const auto& [fault, name] : kFaultNames) {
    if (words[1] == name) {
      setting.fault = fault;
      known = true;
    }
  }
  if (!known) Fail(line, "unknown fault knob '" + words[1] + "'");
  if (setting.fault == Fault::Unplug) {
    if (words.size() != 3) Fail(line, "'fault unplug-after' takes a transfer count");
    setting.after = static_cast<unsigned>(ParseNumber(words[2], 10, 1u << 30, line, "count"));
  } else if (words.size() == 4 && words[2] == "after") {
    setting.after = static_cast<unsigned>(ParseNumber(words[3], 10, 1u << 30, line, "count"));
  } else if (words.size() != 2) {
    Fail(line, "a fault knob takes nothing or 'after N'");
  }
  return setting;
}

}  // namespace

const char* FaultName(Fault fault) {
  for (const auto& [known, name] : kFaultNames) {
    if (known == fault) return name;
  }
  return "?";
}

SimConfig ParseSimConfig(const std::string& text, const std::string& baseDir) {
  SimConfig config;
  std::istringstream lines(text);
  std::string raw;
  int line = 0;
  DeviceConfig* device = nullptr;
  while (std::getline(lines, raw)) {
    ++line;
    const std::vector<std::string> words = SplitWords(raw, line);
    if (words.empty()) continue;
    const std::string& key = words[0];

    if (key == "log") {
      ExpectArgs(words, 1, line);
      if (!config.buses.empty()) Fail(line, "'log' belongs before the first bus");
      config.log = ResolvePath(words[1], baseDir);
    } else if (key == "bus") {
      ExpectArgs(words, 1, line);
      config.buses.push_back(BusConfig{words[1], {}});
      device = nullptr;
    } else if (key == "unit" || key == "device") {
      if (config.buses.empty()) Fail(line, "'" + key + "' before any 'bus'");
      DeviceConfig fresh;
      fresh.line = line;
      fresh.unit = key == "unit";
      if (fresh.unit) {
        if (words.size() != 2 && words.size() != 3) Fail(line, "'unit' takes DEVNUM [VENDOR:PRODUCT]");
        fresh.vendor = 0xAA00;
        fresh.product = 0x0001;
      } else {
        ExpectArgs(words, 2, line);
      }
      fresh.devnum = static_cast<int>(ParseNumber(words[1], 10, 255, line, "device number"));
      if (words.size() == 3) std::tie(fresh.vendor, fresh.product) = ParseIds(words[2], line);
      for (const DeviceConfig& other : config.buses.back().devices) {
        if (other.devnum == fresh.devnum) Fail(line, "device number " + words[1] + " is taken on this bus");
      }
      config.buses.back().devices.push_back(std::move(fresh));
      device = &config.buses.back().devices.back();
    } else {
      if (device == nullptr) Fail(line, "'" + key + "' outside a device");
      if (key == "manufacturer") {
        ExpectArgs(words, 1, line);
        device->manufacturerString = words[1];
      } else if (key == "product") {
        ExpectArgs(words, 1, line);
        device->productString = words[1];
      } else if (key == "fault") {
        device->faults.push_back(ParseFault(words, line));
      } else if (!device->unit) {
        Fail(line, "'" + key + "' belongs to a unit");
      } else if (key == "image") {
        ExpectArgs(words, 1, line);
        device->image = ResolvePath(words[1], baseDir);
      } else if (key == "model") {
        ExpectArgs(words, 1, line);
        device->model = words[1];
      } else if (key == "serial") {
        ExpectArgs(words, 1, line);
        device->serial = words[1];
      } else if (key == "capture") {
        ExpectArgs(words, 1, line);
        device->capture = ResolvePath(words[1], baseDir);
      } else if (key == "baud-file") {
        ExpectArgs(words, 1, line);
        device->baudFile = ResolvePath(words[1], baseDir);
      } else if (key == "shape") {
        ExpectArgs(words, 1, line);
        if (words[1] == "full") {
          device->shape = Shape::Full;
        } else if (words[1] == "one-configuration") {
          device->shape = Shape::OneConfiguration;
        } else if (words[1] == "no-endpoints") {
          device->shape = Shape::NoEndpoints;
        } else {
          Fail(line, "unknown shape '" + words[1] + "'");
        }
      } else {
        Fail(line, "unknown keyword '" + key + "'");
      }
    }
  }
  return config;
}

}  // namespace vorn::sim
