#include "server/ListDevices.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "device/DeviceDiscovery.h"
#include "device/DeviceExceptions.h"
#include "platform/MessageBox.h"
#include "platform/NamedEvent.h"
#include "platform/SharedBlock.h"

namespace vorn {
namespace {

// The unit list, freed on every path.
class CUnitList {
 public:
  CUnitList() = default;
  CUnitList(const CUnitList&) = delete;
  CUnitList& operator=(const CUnitList&) = delete;
  ~CUnitList() { FreeUnitEntries(m_units); }
  std::vector<DeviceEntry>& Units() { return m_units; }

 private:
  std::vector<DeviceEntry> m_units;
};

}  // namespace

std::size_t WriteNameList(const std::vector<std::string>& names, std::uint8_t* block,
                          std::size_t size) {
  if (size == 0) return 0;
  std::size_t cursor = 0;
  for (const std::string& name : names) {
    // The name, its zero byte and the list's closing zero byte must fit.
    if (cursor + name.size() + 2 > size) break;
    std::memcpy(block + cursor, name.data(), name.size());
    cursor += name.size();
    block[cursor++] = 0;
  }
  block[cursor++] = 0;
  return cursor;
}

bool ListDevices() {
  CUnitList list;
  try {
    EnumerateUnits(list.Units());
  } catch (const CUsbDeviceException& e) {
    // A unit that cannot be opened ends the walk; the editor still gets the
    // units found before it instead of waiting for a signal that never comes.
    ShowMessageBox(e.GetMessage());
  }

  CSharedBlock block;
  if (!block.Open(kListBlockName)) {
    if (!block.IsMissing()) std::fprintf(stderr, "vorn3manager: %s\n", block.Failure().c_str());
    return false;
  }
  if (!block.Map()) {
    std::fprintf(stderr, "vorn3manager: %s\n", block.Failure().c_str());
    ShowMessageBox("Could not map view of file.");
    return false;
  }
  CNamedEvent event;
  if (!event.Open(kListEventName)) {
    std::fprintf(stderr, "vorn3manager: %s\n", event.Failure().c_str());
    ShowMessageBox("Could not open event");
  }

  std::vector<std::string> names;
  for (const DeviceEntry& entry : list.Units()) names.push_back(entry.name);
  // Within the first 1024 bytes, and never beyond a block made too small.
  WriteNameList(names, block.Data(), std::min(kListAreaSize, block.Size()));

  const bool signalled = event.IsOpen();
  if (signalled) event.Set();
  block.Close();
  event.Close();
  return signalled;
}

}  // namespace vorn
