#pragma once
// vorn3ctl's --json output: documents built with nlohmann-json, keys in the
// order they are added, printed two-space indented and always valid UTF-8.

#include <string>

#include <nlohmann/json.hpp>

namespace vorn {

using JsonDocument = nlohmann::ordered_json;

// The text of `document` and a newline. Strings in it are UTF-8: a disk's own
// text is converted first (DiskTextToUtf8); a byte of a system text (a file
// name) that is not UTF-8 becomes U+FFFD rather than breaking the output.
std::string JsonText(const JsonDocument& document);

}  // namespace vorn
