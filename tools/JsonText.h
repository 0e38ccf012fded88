#pragma once
// JSON string literals for vorn3ctl's --json output, always valid UTF-8.

#include <string>

namespace vorn {

// A disk's own text (a routine title): 8-bit in the disk's code page, converted
// to UTF-8, quoted and escaped.
std::string JsonString(const std::string& diskText);

// Text of the system (a file name, a device text) that is meant to be UTF-8
// already; a byte that is not becomes U+FFFD rather than breaking the output.
std::string JsonSystemString(const std::string& text);

}  // namespace vorn
