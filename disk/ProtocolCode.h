#pragma once
// The controller protocol: the first byte of a routine's controller settings.

namespace vorn {

class ProtocolCode {
 public:
  ProtocolCode() = default;
  explicit ProtocolCode(int code) : m_code(code) {}

  int Code() const { return m_code; }
  bool IsMiniSSC() const { return m_code == 0 || m_code == 2 || m_code == 3 || m_code == 9; }
  bool IsSV203() const { return m_code == 1 || m_code == 4; }
  bool IsDMX() const { return m_code == 5 || m_code == 7 || m_code == 11; }

  // "MiniSSC Compatible", "SV203 Compatible", "DMX Compatible" or "Unknown".
  const char* Name() const {
    if (IsMiniSSC()) return "MiniSSC Compatible";
    if (IsSV203()) return "SV203 Compatible";
    if (IsDMX()) return "DMX Compatible";
    return "Unknown";
  }

 private:
  int m_code = 0;
};

}  // namespace vorn
