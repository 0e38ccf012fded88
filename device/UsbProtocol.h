#pragma once
// The vendor protocol of a VORN unit: identity, requests, command block, status
// packet and the checksum that confirms every data transfer.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vorn {

inline constexpr std::uint16_t kUnitVendorId = 0xAA00;
inline constexpr std::uint16_t kUnitProductId = 0x0001;

// bmRequestType of every request: vendor, host to device, recipient device.
inline constexpr int kUnitRequestType = 0x40;
inline constexpr int kRequestReadSectors = 0xA0;
inline constexpr int kRequestIdentify = 0xA1;
inline constexpr int kRequestWriteSectors = 0xA2;
inline constexpr int kRequestSetBaudRate = 0xA3;

inline constexpr int kUnitTimeoutMs = 5000;      // disk requests and their bulk transfers
inline constexpr int kBaudRequestTimeoutMs = 1000;

inline constexpr std::size_t kCommandBlockSize = 8;   // first sector, sector count
inline constexpr std::size_t kStatusPacketSize = 128;
inline constexpr std::size_t kIdentifyBlockSize = 512;

// 8-bit XOR of every byte, starting at 0: "abc" gives 0x60, an empty block 0.
// Every transfer is summed once, so the bytes are taken eight at a time (XOR
// does not care how they are grouped) and folded at the end.
inline std::uint8_t XorChecksum(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  std::uint64_t wide = 0;
  std::size_t i = 0;
  for (; i + sizeof wide <= size; i += sizeof wide) {
    std::uint64_t word;
    std::memcpy(&word, bytes + i, sizeof word);
    wide ^= word;
  }
  wide ^= wide >> 32;
  wide ^= wide >> 16;
  wide ^= wide >> 8;
  auto sum = static_cast<std::uint8_t>(wide);
  for (; i < size; ++i) sum ^= bytes[i];
  return sum;
}

// A status packet confirms a transfer when it starts FF FF and carries the
// transfer's checksum in byte 2; the rest of the packet is the unit's own.
inline bool StatusConfirms(const std::uint8_t* packet, std::uint8_t expected) {
  return packet[0] == 0xFF && packet[1] == 0xFF && packet[2] == expected;
}

}  // namespace vorn
