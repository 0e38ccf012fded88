#include "platform/CheckedNumber.h"

#include <charconv>

namespace vorn {

std::optional<std::uint64_t> ParseUnsigned(std::string_view text, std::uint64_t max) {
  if (text.empty()) return std::nullopt;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  std::uint64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value > max) return std::nullopt;
  return value;
}

std::optional<std::int64_t> ParseSigned(std::string_view text, std::int64_t min, std::int64_t max) {
  const bool negative = !text.empty() && text.front() == '-';
  if (negative) text.remove_prefix(1);
  // The magnitude of INT64_MIN is one more than INT64_MAX.
  auto magnitude = ParseUnsigned(text, static_cast<std::uint64_t>(INT64_MAX) + (negative ? 1 : 0));
  if (!magnitude) return std::nullopt;
  std::int64_t value = negative ? static_cast<std::int64_t>(0 - *magnitude) : static_cast<std::int64_t>(*magnitude);
  if (value < min || value > max) return std::nullopt;
  return value;
}

std::optional<std::uint64_t> ParseByteSize(std::string_view text, std::uint64_t max) {
  std::size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  const std::string_view suffix = text.substr(digits);
  unsigned shift = 0;
  if (suffix == "K" || suffix == "k" || suffix == "KiB") shift = 10;
  else if (suffix == "M" || suffix == "m" || suffix == "MiB") shift = 20;
  else if (suffix == "G" || suffix == "g" || suffix == "GiB") shift = 30;
  else if (!suffix.empty()) return std::nullopt;
  auto value = ParseUnsigned(text.substr(0, digits));
  if (!value || *value > (max >> shift)) return std::nullopt;
  return *value << shift;
}

}  // namespace vorn
