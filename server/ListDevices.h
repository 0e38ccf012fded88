#pragma once
// List mode: publishes the names of the attached VORN units to the show editor
// in VORN1_LIST_SHAREDMEM and signals VORN1_LIST_EVENT (docs/named-objects.md).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vorn {

inline constexpr const char* kListBlockName = "VORN1_LIST_SHAREDMEM";
inline constexpr const char* kListEventName = "VORN1_LIST_EVENT";
inline constexpr std::size_t kListAreaSize = 1024;

// True when the list was written and its event signalled; false when the
// editor could not be told (no block, no mapping, no event).
bool ListDevices();

// Writes the names, each with its zero byte, and the closing zero byte into
// `block` of `size` bytes, as many names as fit (in order). Returns the bytes
// written; 0 when not even the closing byte fits.
std::size_t WriteNameList(const std::vector<std::string>& names, std::uint8_t* block,
                          std::size_t size);

}  // namespace vorn
