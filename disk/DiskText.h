#pragma once
// The text of a VORN disk and of a ".vorn" file (routine titles) is 8-bit, one
// byte per character, in the Windows-1252 code page (docs/text-encoding.md says
// why). Everything that shows a title converts it to UTF-8 here, and everything
// that takes a title from a user converts it back here, so the window, vorn3ctl's
// table and its JSON all agree.

#include <stdexcept>
#include <string>
#include <string_view>

namespace vorn {

inline constexpr const char* kDiskCodePageName = "Windows-1252";

// A title that cannot be stored: not UTF-8, or a character the code page lacks.
class CDiskTextError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Every byte has a character: the five bytes Windows-1252 leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the C1 controls of the same number, as
// Windows itself decodes them, so the result is always valid UTF-8.
std::string DiskTextToUtf8(std::string_view diskText);

// UTF-8 to disk bytes, one per character. Throws CDiskTextError naming the
// first character the code page lacks (or the first byte that is not UTF-8).
std::string Utf8ToDiskText(std::string_view utf8);

// The same, but a character that cannot be stored becomes '?': for titles made
// up from file names, where refusing would help nobody.
std::string Utf8ToDiskTextLossy(std::string_view utf8);

}  // namespace vorn
