#include "sim/SimWorld.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace vorn::sim {

namespace {

bool ReadFile(const std::string& path, std::string& text) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::ostringstream content;
  content << file.rdbuf();
  text = content.str();
  return true;
}

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

CSimWorld& CSimWorld::Instance() {
  static CSimWorld world;
  return world;
}

int CSimWorld::FindBusses() {
  const char* path = std::getenv(kConfigVariable);
  std::string text;
  if (path != nullptr && *path != '\0' && !ReadFile(path, text)) {
    std::fprintf(stderr, "vornusbsim: cannot read %s: %s\n", path, std::strerror(errno));
    text.clear();
  }
  const std::string key = std::string(path ? path : "") + '\n' + text;
  if (!m_generations.empty() && key == m_loadedKey) return 0;
  m_loadedKey = key;
  try {
    Load(text, path ? DirectoryOf(path) : std::string());
  } catch (const CSimConfigError& error) {
    std::fprintf(stderr, "vornusbsim: %s: %s\n", path, error.what());
    Load(std::string(), std::string());
  }
  int count = 0;
  for (usb_bus* bus = m_busses; bus != nullptr; bus = bus->next) ++count;
  return count;
}

void CSimWorld::Load(const std::string& text, const std::string& baseDir) {
  const SimConfig config = ParseSimConfig(text, baseDir);
  auto generation = std::make_unique<Generation>();
  for (const BusConfig& busConfig : config.buses) {
    auto bus = std::make_unique<usb_bus>();
    std::snprintf(bus->dirname, sizeof bus->dirname, "%s", busConfig.name.c_str());
    bus->location = static_cast<std::uint32_t>(generation->buses.size() + 1);
    for (const DeviceConfig& deviceConfig : busConfig.devices) {
      generation->devices.push_back(std::make_unique<CSimDevice>(deviceConfig, bus.get(), m_log));
    }
    if (!generation->buses.empty()) {
      bus->prev = generation->buses.back().get();
      generation->buses.back()->next = bus.get();
    }
    generation->buses.push_back(std::move(bus));
  }

  // The previous world is unplugged as a whole.
  if (!m_generations.empty()) {
    for (const auto& device : m_generations.back()->devices) device->Unplug("config reloaded");
  }
  m_log.Open(config.log);
  for (const auto& device : generation->devices) m_allDevices.insert(device.get());
  m_busses = generation->buses.empty() ? nullptr : generation->buses.front().get();
  m_generations.push_back(std::move(generation));
}

int CSimWorld::FindDevices() {
  if (m_generations.empty()) return 0;
  int changes = 0;
  const Generation& current = *m_generations.back();
  for (const auto& bus : current.buses) {
    struct usb_device* head = nullptr;
    struct usb_device* tail = nullptr;
    for (const auto& device : current.devices) {
      struct usb_device* record = device->Record();
      if (record->bus != bus.get() || !device->Present()) continue;
      record->prev = tail;
      record->next = nullptr;
      if (tail != nullptr) {
        tail->next = record;
      } else {
        head = record;
      }
      tail = record;
    }
    if (bus->devices != head) ++changes;
    bus->devices = head;
  }
  return changes;
}

CSimDevice* CSimWorld::DeviceOf(struct usb_device* record) const {
  if (record == nullptr) return nullptr;
  auto* device = static_cast<CSimDevice*>(record->dev);
  return m_allDevices.count(device) != 0 ? device : nullptr;
}

usb_dev_handle* CSimWorld::Open(struct usb_device* record) {
  CSimDevice* device = DeviceOf(record);
  if (device == nullptr) {
    m_log.OutOfShape("?", "usb_open of a record the bus list never held");
    Fail(-ENODEV);
    return nullptr;
  }
  const int result = device->Open();
  if (result < 0) {
    Fail(result);
    return nullptr;
  }
  auto* handle = new usb_dev_handle{device, -1};
  m_handles.insert(handle);
  return handle;
}

void CSimWorld::Close(usb_dev_handle* handle) {
  handle->device->Close(handle);
  m_handles.erase(handle);
  delete handle;
}

int CSimWorld::Fail(int result) {
  if (result < 0) m_lastError = std::strerror(-result);
  return result;
}

}  // namespace vorn::sim
