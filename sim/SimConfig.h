#pragma once
// The simulated USB world, as read from the simulator's config file: buses in
// order, each with its devices in order; a device is either a VORN unit (with
// its disk image, identity, capture file and fault knobs) or any other device.
// The text format is described in docs/unit-simulator.md.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vorn::sim {

enum class Fault {
  Open,               // usb_open gives no handle
  ManufacturerString, // the manufacturer string cannot be read
  ProductString,      // the product string cannot be read
  SetConfiguration,   // usb_set_configuration fails
  Claim,              // usb_claim_interface fails
  AltSetting,         // usb_set_altinterface fails
  Release,            // usb_release_interface fails
  Control,            // every vendor request stalls
  ControlTimeout,     // every vendor request times out
  DataTimeout,        // data bulk transfers time out
  DataShort,          // data bulk transfers move half their length
  StatusTimeout,      // status packet reads time out
  StatusShort,        // status packets come 64 bytes short
  StatusChecksum,     // status byte 2 carries a wrong checksum
  StatusBytes,        // status byte 0 is not 0xFF
  BulkWrite,          // every bulk write fails, on either configuration
  WriteGarble,        // written data lands with its first byte flipped; the unit reports success
  WrapAround,         // a fake card: sectors from half the image on land half the image lower
  Unplug,             // the unit disappears after `after` transfers
};

struct FaultSetting {
  Fault fault;
  unsigned after = 0;  // active once this many transfers reached the device
};

enum class Shape {
  Full,              // two configurations: disk access, live output
  OneConfiguration,  // only the disk-access configuration
  NoEndpoints,       // both configurations, interfaces without endpoints
};

struct DeviceConfig {
  int line = 0;
  int devnum = 0;
  bool unit = false;  // answers the unit protocol
  std::uint16_t vendor = 0;
  std::uint16_t product = 0;
  std::optional<std::string> manufacturerString;  // none: string index 0
  std::optional<std::string> productString;
  std::string image;    // disk image file; empty: a unit without a disk
  std::string model;
  std::string serial;
  std::string capture;  // live-output bulk writes are appended here
  std::string baudFile; // the last baud-rate code, as decimal text
  Shape shape = Shape::Full;
  std::vector<FaultSetting> faults;
};

struct BusConfig {
  std::string name;
  std::vector<DeviceConfig> devices;
};

struct SimConfig {
  std::string log;  // event log; empty: out-of-shape requests go to stderr only
  std::vector<BusConfig> buses;
};

class CSimConfigError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses the config text; relative paths are taken from `baseDir`.
// Throws CSimConfigError "line N: ..." on anything it does not understand.
SimConfig ParseSimConfig(const std::string& text, const std::string& baseDir);

// The knob's name in the config file, e.g. "status-checksum".
const char* FaultName(Fault fault);

}  // namespace vorn::sim
