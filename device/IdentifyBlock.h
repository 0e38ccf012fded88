#pragma once
// The unit's identify block, laid out as ATA IDENTIFY DEVICE data: the serial
// number (bytes 20-39) and model (bytes 54-93) as characters in byte-swapped
// pairs, the user-addressable sector count at bytes 120-123.

#include <cstdint>
#include <string>

namespace vorn {

struct UnitIdentity {
  std::string model;
  std::string serial;
  std::uint32_t sectorCount = 0;
};

// Decodes a 512-byte identify block.
UnitIdentity ParseIdentifyBlock(const std::uint8_t* block);

// Reads `length` characters from a byte-swapped ATA text field (character 2k is
// byte 2k+1), stops at an earlier zero byte, strips spaces at both ends.
std::string AtaFieldText(const std::uint8_t* field, std::size_t length);

}  // namespace vorn
