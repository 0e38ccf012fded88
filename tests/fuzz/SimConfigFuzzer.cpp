// The unit simulator's config parser on any text: it either throws its own
// error ("line N: ...") or gives a config that, written out again with every
// word quoted, parses to the same config.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "sim/SimConfig.h"
#include "tests/fuzz/FuzzSupport.h"

using namespace vorn::sim;

namespace {

std::string Quote(const std::string& word) {
  std::string out = "\"";
  for (char c : word) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string Ids(const DeviceConfig& device) {
  char text[16];
  std::snprintf(text, sizeof text, "%04x:%04x", device.vendor, device.product);
  return text;
}

std::string Write(const SimConfig& config) {
  std::string text;
  if (!config.log.empty()) text += "log " + Quote(config.log) + "\n";
  for (const BusConfig& bus : config.buses) {
    text += "bus " + Quote(bus.name) + "\n";
    for (const DeviceConfig& device : bus.devices) {
      text += (device.unit ? "unit " : "device ") + std::to_string(device.devnum) + " " + Ids(device) + "\n";
      if (device.manufacturerString) text += "manufacturer " + Quote(*device.manufacturerString) + "\n";
      if (device.productString) text += "product " + Quote(*device.productString) + "\n";
      for (const FaultSetting& fault : device.faults) {
        text += std::string("fault ") + FaultName(fault.fault);
        if (fault.fault == Fault::Unplug) {
          text += " " + std::to_string(fault.after);
        } else if (fault.after != 0) {
          text += " after " + std::to_string(fault.after);
        }
        text += "\n";
      }
      if (!device.unit) continue;
      if (!device.image.empty()) text += "image " + Quote(device.image) + "\n";
      text += "model " + Quote(device.model) + "\nserial " + Quote(device.serial) + "\n";
      if (!device.capture.empty()) text += "capture " + Quote(device.capture) + "\n";
      if (!device.baudFile.empty()) text += "baud-file " + Quote(device.baudFile) + "\n";
      text += std::string("shape ") +
              (device.shape == Shape::Full                 ? "full"
               : device.shape == Shape::OneConfiguration ? "one-configuration"
                                                         : "no-endpoints") +
              "\n";
    }
  }
  return text;
}

bool Same(const DeviceConfig& a, const DeviceConfig& b) {
  if (a.faults.size() != b.faults.size()) return false;
  for (std::size_t i = 0; i < a.faults.size(); ++i) {
    if (a.faults[i].fault != b.faults[i].fault || a.faults[i].after != b.faults[i].after) return false;
  }
  return a.devnum == b.devnum && a.unit == b.unit && a.vendor == b.vendor && a.product == b.product &&
         a.manufacturerString == b.manufacturerString && a.productString == b.productString &&
         a.image == b.image && a.model == b.model && a.serial == b.serial && a.capture == b.capture &&
         a.baudFile == b.baudFile && a.shape == b.shape;
}

bool Same(const SimConfig& a, const SimConfig& b) {
  if (a.log != b.log || a.buses.size() != b.buses.size()) return false;
  for (std::size_t i = 0; i < a.buses.size(); ++i) {
    const BusConfig& x = a.buses[i];
    const BusConfig& y = b.buses[i];
    if (x.name != y.name || x.devices.size() != y.devices.size()) return false;
    for (std::size_t j = 0; j < x.devices.size(); ++j) {
      if (!Same(x.devices[j], y.devices[j])) return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  SimConfig config;
  try {
    config = ParseSimConfig(text, "");
  } catch (const CSimConfigError& error) {
    VORN_FUZZ_CHECK(std::string(error.what()).rfind("line ", 0) == 0);
    return 0;
  }
  try {
    ParseSimConfig(text, "/base");
  } catch (const CSimConfigError&) {
    VORN_FUZZ_CHECK(false);  // the base directory only prefixes paths
  }
  const std::string written = Write(config);
  SimConfig again;
  try {
    again = ParseSimConfig(written, "");
  } catch (const CSimConfigError& error) {
    std::fprintf(stderr, "%s\n--- written as ---\n%s", error.what(), written.c_str());
    VORN_FUZZ_CHECK(false);
  }
  VORN_FUZZ_CHECK(Same(config, again));
  return 0;
}
