#pragma once
// The simulated USB world of one process: the devices of the loaded config,
// libusb's bus list, the open handles and the last error. Every libusb entry
// point of the simulator runs under the world's lock.

#include <usb.h>

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "sim/SimDevice.h"
#include "sim/SimLog.h"

namespace vorn::sim {

inline constexpr const char* kConfigVariable = "VORN_USB_SIM_CONFIG";

class CSimWorld {
 public:
  static CSimWorld& Instance();

  std::mutex& Lock() { return m_lock; }

  // Loads the config named by the environment when it changed since the last
  // scan; returns the number of buses of a newly loaded config.
  int FindBusses();
  // Lists the present devices on their buses; returns how many lists changed.
  int FindDevices();
  usb_bus* Busses() const { return m_busses; }

  usb_dev_handle* Open(struct usb_device* record);
  bool IsHandle(usb_dev_handle* handle) const { return m_handles.count(handle) != 0; }
  void Close(usb_dev_handle* handle);

  // Records a failed call's result for usb_strerror; passes the result on.
  int Fail(int result);
  const char* LastError() const { return m_lastError.c_str(); }
  CSimLog& Log() { return m_log; }

 private:
  struct Generation {
    std::vector<std::unique_ptr<usb_bus>> buses;
    std::vector<std::unique_ptr<CSimDevice>> devices;
  };

  void Load(const std::string& text, const std::string& baseDir);
  CSimDevice* DeviceOf(struct usb_device* record) const;

  std::mutex m_lock;
  std::string m_loadedKey;  // path and text of the loaded config
  // Retired generations stay alive: the program may still hold copies of
  // their records, which must then fail to open rather than crash.
  std::vector<std::unique_ptr<Generation>> m_generations;
  std::set<const CSimDevice*> m_allDevices;
  std::set<usb_dev_handle*> m_handles;
  usb_bus* m_busses = nullptr;
  CSimLog m_log;
  std::string m_lastError = "No error";
};

}  // namespace vorn::sim
