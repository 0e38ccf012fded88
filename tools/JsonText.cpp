#include "tools/JsonText.h"

#include <nlohmann/json.hpp>

#include "disk/DiskText.h"

namespace vorn {

std::string JsonString(const std::string& diskText) { return JsonSystemString(DiskTextToUtf8(diskText)); }

std::string JsonSystemString(const std::string& text) {
  return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace vorn
