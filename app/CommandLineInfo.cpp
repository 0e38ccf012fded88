#include "app/CommandLineInfo.h"

#include <cctype>
#include <climits>

#include "platform/CheckedNumber.h"

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

std::int32_t BaudRateArgument(const std::string& text) {
  return static_cast<std::int32_t>(ParseSigned(text, INT32_MIN, INT32_MAX).value_or(0));
}

const char* ManagerHelpText() {
  return "Usage: vorn3manager [-server UNIT BAUD | -listdevices]\n"
         "Lists, formats and fills the routine disks of VORN show units.\n"
         "\n"
         "Without a switch the main window opens. The switches serve a show editor:\n"
         "  -server UNIT BAUD  relay live control data from named shared memory to the\n"
         "                     VORN unit UNIT (VORN3) at BAUD bit/s (2400, 4800, 9600,\n"
         "                     19200, 38400 or 250000)\n"
         "  -listdevices       publish the names of the attached units and end\n"
         "  --help             show this help and end\n"
         "  --version          show the version and end\n"
         "\n"
         "Switches start with '-' or '/' and are case-insensitive; other words are\n"
         "ignored, and -listdevices wins when both switches are given. Any number of\n"
         "servers may run side by side; the main window and the list mode run alone.\n"
         "The command-line tool vorn3ctl(1) does the same work without a window.\n"
         "\n"
         "Exit status: 0 the mode ran and succeeded; 1 the mode failed; 2 the audio\n"
         "decoders are missing; 3 another instance forbids the mode, or the run-time\n"
         "directory ($XDG_RUNTIME_DIR/vorn3manager) is unusable.\n";
}

const char* ManagerVersionText() { return "vorn3manager " VORN_VERSION "\n"; }

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
      } else if (lower == "-help") {  // "--help" without the switch character
        m_help = true;
      } else if (lower == "-version") {
        m_version = true;
      }
      break;
    case kExpectUnitName:
      // Taken whether or not it looks like a switch: "-server -abc" names ABC.
      m_unitName = UpperCased(lower);
      m_parseState = kExpectBaudRate;
      break;
    case kExpectBaudRate:
      m_baudRate = BaudRateArgument(lower);
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
