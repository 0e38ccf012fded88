#pragma once
// The one number parser of both command lines: decimal digits only (no sign,
// no spaces, no "0x"), checked against a maximum instead of wrapping or
// saturating, so "17179869185G" is an error and never a small size.

#include <cstdint>
#include <optional>
#include <string_view>

namespace vorn {

// A decimal number in [0, max]; nullopt for anything else.
std::optional<std::uint64_t> ParseUnsigned(std::string_view text, std::uint64_t max = UINT64_MAX);

// A decimal number in [min, max], with an optional leading '-'; nullopt otherwise.
std::optional<std::int64_t> ParseSigned(std::string_view text, std::int64_t min, std::int64_t max);

// A byte count: digits with an optional binary suffix K/M/G (also k/m/g, KiB/MiB/GiB),
// at most `max` bytes after the suffix is applied; nullopt otherwise.
std::optional<std::uint64_t> ParseByteSize(std::string_view text, std::uint64_t max = UINT64_MAX);

}  // namespace vorn
