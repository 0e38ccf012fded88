#pragma once
// JSON string literals for vorn3ctl's --json output.

#include <string>

namespace vorn {

// Quotes and escapes `text`. Disk texts are 8-bit; bytes from 0x80 are taken as
// Latin-1 and written as \u00XX so the output is always valid JSON.
std::string JsonString(const std::string& text);

}  // namespace vorn
