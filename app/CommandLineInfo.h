#pragma once
// The command line of vorn3manager. Only two switches mean anything:
//   -server NAME BAUD   run the device server for the unit NAME at BAUD bit/s
//   -listdevices        publish the attached units and end
// '/' works as well as '-', switch words are case-insensitive, and anything
// else is ignored, so ZOV can pass extra words without breaking the start.
// --help and --version print and end before any mode is chosen.

#include <cstdint>
#include <string>

namespace vorn {

class CManagerCommandLineInfo {
 public:
  // One argument, in command-line order. isSwitch: the argument began with '-'
  // or '/', and param comes without that character. isLast is not used.
  void ParseParam(const char* param, bool isSwitch, bool isLast);

  // Feeds argv[1] .. argv[argc - 1] to ParseParam, stripping the switch prefix.
  void ParseCommandLine(int argc, const char* const* argv);

  bool IsServer() const { return m_server; }
  // --help or --version was given where a switch may stand.
  bool WantsHelp() const { return m_help; }
  bool WantsVersion() const { return m_version; }
  bool IsListDevices() const { return m_listDevices; }
  // The unit the server opens, upper-cased ("VORN3").
  const std::string& UnitName() const { return m_unitName; }
  // The serial baud rate the server sets; 0 when missing or not a number.
  std::int32_t BaudRate() const { return m_baudRate; }

 private:
  enum ParseState : std::int32_t { kExpectSwitch = 0, kExpectUnitName = 1, kExpectBaudRate = 2 };

  bool m_server = false;
  bool m_listDevices = false;
  bool m_help = false;
  bool m_version = false;
  std::string m_unitName;
  std::int32_t m_baudRate = 0;
  std::int32_t m_parseState = kExpectSwitch;
};

// The baud-rate argument: a decimal number in the 32-bit range, read by the
// checked parser both command lines share; 0 (which the server refuses as an
// unsupported rate) for anything else, where atoi would have read "9600x" as
// 9600 and "99999999999" as whatever it overflowed to.
std::int32_t BaudRateArgument(const std::string& text);

// The text of vorn3manager --help and --version.
const char* ManagerHelpText();
const char* ManagerVersionText();

}  // namespace vorn
