#pragma once
// A named event: the POSIX shared-memory object "/NAME" of at least 8 bytes.
// Bytes 0-3 hold the state word (0 clear, 1 set), a shared futex word; bytes
// 4-7 hold the flags, bit 0 set for manual reset, clear for auto reset.
// Set stores 1 and wakes every waiter; Reset stores 0; a waiter consumes an
// auto-reset event by a compare-and-swap 1 -> 0. The byte-level contract is in
// docs/named-objects.md.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/Mapping.h"
#include "platform/ShmNameOwner.h"

namespace vorn {

enum class EventReset { kAuto, kManual };

inline constexpr std::size_t kEventObjectSize = 8;
inline constexpr std::uint32_t kEventManualResetFlag = 1;

class CNamedEvent {
 public:
  CNamedEvent() = default;

  // Opens an existing, trusted event. False when missing, untrusted or shorter
  // than 8 bytes; Failure() tells why.
  bool Open(const std::string& name);
  // Creates a new event, mode 0600, removing its name again when this object
  // ends. Throws std::system_error.
  void Create(const std::string& name, EventReset reset, bool initiallySet = false);
  void Close();

  void Set();
  void Reset();
  bool IsSet() const;
  bool IsManualReset() const;
  // Takes the signal if there is one: a manual-reset event stays set, an
  // auto-reset one is cleared by this very call (and by no other waiter).
  bool TryConsume();
  // Waits for the event alone. No time-out: waits for ever. True when taken,
  // false on time-out or a failed wait.
  bool Wait(std::optional<std::chrono::milliseconds> timeout = std::nullopt);

  std::uint32_t* StateWord() const;  // the futex word
  bool IsOpen() const { return m_mapping.IsMapped(); }
  const std::string& Failure() const { return m_failure; }

 private:
  CShmNameOwner m_owner;
  CMapping m_mapping;
  std::string m_failure;
};

}  // namespace vorn
