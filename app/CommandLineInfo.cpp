#include "app/CommandLineInfo.h"

#include <cctype>
#include <climits>
#include <cstdlib>

namespace vorn {
namespace {

std::string LowerCased(const char* text) {
  std::string copy(text ? text : "");
  for (char& c : copy) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return copy;
}

std::string UpperCased(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

std::int32_t AtoiClamped(const std::string& text) {
  long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<std::int32_t>(value);
}

void CManagerCommandLineInfo::ParseParam(const char* param, bool isSwitch, bool /*isLast*/) {
  const std::string lower = LowerCased(param);
  switch (m_parseState) {
    case kExpectSwitch:
      if (!isSwitch) break;
      if (lower == "server") {
        m_server = true;
        m_parseState = kExpectUnitName;
      } else if (lower == "listdevices") {
        m_listDevices = true;
      }
      break;
    case kExpectUnitName:
      // Taken whether or not it looks like a switch: "-server -abc" names ABC.
      m_unitName = UpperCased(lower);
      m_parseState = kExpectBaudRate;
      break;
    case kExpectBaudRate:
      m_baudRate = AtoiClamped(lower);
      m_parseState = kExpectSwitch;
      break;
  }
}

void CManagerCommandLineInfo::ParseCommandLine(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const char* param = argv[i];
    bool isSwitch = param[0] == '-' || param[0] == '/';
    if (isSwitch) ++param;
    ParseParam(param, isSwitch, i + 1 == argc);
  }
}

}  // namespace vorn
