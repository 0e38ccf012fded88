#include "platform/NamedEvent.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "platform/Futex.h"
#include "platform/LittleEndian.h"
#include "platform/ShmObject.h"
#include "platform/UniqueFd.h"
#include "platform/WaitForEvents.h"

namespace vorn {
namespace {

constexpr std::size_t kFlagsOffset = 4;

}  // namespace

bool CNamedEvent::Open(const std::string& name) {
  Close();
  bool missing = false;
  CUniqueFd fd = OpenTrustedShm(name, m_failure, missing);
  if (!fd.IsValid()) return false;
  const long long size = ShmSize(fd.Get());
  if (size < static_cast<long long>(kEventObjectSize)) {
    m_failure = ShmPath(name) + ": " + std::to_string(size) + " bytes, an event needs 8";
    return false;
  }
  if (!m_mapping.Map(fd.Get(), kEventObjectSize)) {
    m_failure = ShmPath(name) + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

void CNamedEvent::Create(const std::string& name, EventReset reset, bool initiallySet) {
  Close();
  CUniqueFd fd = CreateExclusiveShm(name, kEventObjectSize);
  CShmNameOwner owner(name);
  CMapping mapping;
  if (!mapping.Map(fd.Get(), kEventObjectSize)) {
    throw std::system_error(errno, std::generic_category(), "cannot map " + ShmPath(name));
  }
  PutLe32(mapping.Data() + kFlagsOffset, reset == EventReset::kManual ? kEventManualResetFlag : 0);
  std::atomic_ref<std::uint32_t>(*reinterpret_cast<std::uint32_t*>(mapping.Data()))
      .store(initiallySet ? 1 : 0, std::memory_order_release);
  m_owner = std::move(owner);
  m_mapping = std::move(mapping);
}

void CNamedEvent::Close() {
  m_mapping.Reset();
  m_owner.Reset();
}

std::uint32_t* CNamedEvent::StateWord() const {
  // The mapping is page-aligned, so the word at offset 0 is aligned for atomics.
  return reinterpret_cast<std::uint32_t*>(m_mapping.Data());
}

void CNamedEvent::Set() {
  std::atomic_ref<std::uint32_t>(*StateWord()).store(1, std::memory_order_release);
  FutexWakeAll(StateWord());
}

void CNamedEvent::Reset() {
  std::atomic_ref<std::uint32_t>(*StateWord()).store(0, std::memory_order_release);
}

bool CNamedEvent::IsSet() const {
  return std::atomic_ref<std::uint32_t>(*StateWord()).load(std::memory_order_acquire) == 1;
}

bool CNamedEvent::IsManualReset() const {
  return (GetLe32(m_mapping.Data() + kFlagsOffset) & kEventManualResetFlag) != 0;
}

bool CNamedEvent::TryConsume() {
  std::atomic_ref<std::uint32_t> state(*StateWord());
  if (IsManualReset()) return state.load(std::memory_order_acquire) == 1;
  std::uint32_t expected = 1;
  return state.compare_exchange_strong(expected, 0, std::memory_order_acq_rel);
}

bool CNamedEvent::Wait(std::optional<std::chrono::milliseconds> timeout) {
  CNamedEvent* self = this;
  return WaitForFirstEvent(std::span<CNamedEvent* const>(&self, 1), timeout) == 0;
}

}  // namespace vorn
