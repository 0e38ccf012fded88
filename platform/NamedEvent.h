#pragma once
// A named event, set and reset by name from several processes, auto-reset or
// manual-reset. Same header for every back end (see platform/SharedBlock.h): on
// POSIX a shared-memory object holding a futex word, on Win32 an event object.
// The byte-level contract of the POSIX object is in docs/named-objects.md.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace vorn {

enum class EventReset { kAuto, kManual };

inline constexpr std::size_t kEventObjectSize = 8;
inline constexpr std::uint32_t kEventManualResetFlag = 1;

class CNamedEvent {
 public:
  CNamedEvent();
  CNamedEvent(CNamedEvent&&) noexcept;
  CNamedEvent& operator=(CNamedEvent&&) noexcept;
  ~CNamedEvent();

  // Opens an existing event (on POSIX only a trusted one of at least 8 bytes).
  // False when missing or refused; Failure() tells why.
  bool Open(const std::string& name);
  // Creates a new event, only for this user, giving the name up again when
  // this object ends. Throws std::system_error.
  void Create(const std::string& name, EventReset reset, bool initiallySet = false);
  void Close();

  // False when the event can no longer be reached (its POSIX object was cut
  // short by its creator); nothing is touched then.
  bool Set();
  bool Reset();
  bool IsSet() const;
  bool IsManualReset() const;
  // Whether the object is still whole. A POSIX object cut below 8 bytes after
  // we mapped it is not, and its word must not be touched again.
  bool IsIntact() const;
  // Waits for the event alone. No time-out: waits for ever. True when taken,
  // false on time-out or a failed wait.
  bool Wait(std::optional<std::chrono::milliseconds> timeout = std::nullopt);

  bool IsOpen() const;
  const std::string& Failure() const;

  struct Impl;  // the back end's
  Impl& Backend() const { return *m_impl; }

 private:
  std::unique_ptr<Impl> m_impl;
};

// Resets `toReset`, then sets `toSet`, with nothing of another process able to
// come between: a signal given to `toReset` before this call is lost, one given
// after it stands. One step of the system where the back end has one (under
// Wine every event call is a round trip to wineserver, on a relay's critical
// path). False when either event can no longer be reached.
bool ResetThenSet(CNamedEvent& toReset, CNamedEvent& toSet);

}  // namespace vorn
