#include "tools/JsonText.h"

namespace vorn {

std::string JsonText(const JsonDocument& document) {
  return document.dump(2, ' ', false, JsonDocument::error_handler_t::replace) + "\n";
}

}  // namespace vorn
