#include "device/IdentifyBlock.h"

#include "platform/LittleEndian.h"

namespace vorn {

namespace {
constexpr std::size_t kSerialOffset = 20;
constexpr std::size_t kSerialLength = 20;
constexpr std::size_t kModelOffset = 54;
constexpr std::size_t kModelLength = 40;
constexpr std::size_t kSectorCountOffset = 120;
}  // namespace

std::string AtaFieldText(const std::uint8_t* field, std::size_t length) {
  std::string text;
  for (std::size_t i = 0; i < length; ++i) {
    const char c = static_cast<char>(field[i ^ 1]);
    if (c == '\0') break;
    text.push_back(c);
  }
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

UnitIdentity ParseIdentifyBlock(const std::uint8_t* block) {
  UnitIdentity identity;
  identity.model = AtaFieldText(block + kModelOffset, kModelLength);
  identity.serial = AtaFieldText(block + kSerialOffset, kSerialLength);
  identity.sectorCount = GetLe32(block + kSectorCountOffset);
  return identity;
}

}  // namespace vorn
