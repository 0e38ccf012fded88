#include "platform/NamedEvent.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "platform/LittleEndian.h"
#include "platform/WaitForEvents.h"
#include "platform/posix/Futex.h"
#include "platform/posix/PosixObjects.h"
#include "platform/posix/ShmObject.h"

namespace vorn {
namespace {

constexpr std::size_t kFlagsOffset = 4;

}  // namespace

bool CNamedEvent::Impl::IsIntact() const {
  return mapping.IsMapped() && ShmSize(fd.Get()) >= static_cast<long long>(kEventObjectSize);
}

bool CNamedEvent::Impl::IsManualReset() const {
  return (GetLe32(mapping.Data() + kFlagsOffset) & kEventManualResetFlag) != 0;
}

bool CNamedEvent::Impl::TryConsume() {
  // Any value but 0 counts as set: a word the other side left at, say, 2 must
  // neither be missed nor keep a waiter spinning (the futex sleep returns at
  // once on every value but 0).
  std::atomic_ref<std::uint32_t> state(*StateWord());
  if (IsManualReset()) return state.load(std::memory_order_acquire) != 0;
  std::uint32_t expected = state.load(std::memory_order_acquire);
  while (expected != 0) {
    if (state.compare_exchange_weak(expected, 0, std::memory_order_acq_rel)) return true;
  }
  return false;
}

CNamedEvent::CNamedEvent() : m_impl(std::make_unique<Impl>()) {}
CNamedEvent::CNamedEvent(CNamedEvent&&) noexcept = default;
CNamedEvent& CNamedEvent::operator=(CNamedEvent&&) noexcept = default;
CNamedEvent::~CNamedEvent() = default;

bool CNamedEvent::Open(const std::string& name) {
  Close();
  bool missing = false;
  CUniqueFd fd = OpenTrustedShm(name, m_impl->failure, missing);
  if (!fd.IsValid()) return false;
  const long long size = ShmSize(fd.Get());
  if (size < static_cast<long long>(kEventObjectSize)) {
    m_impl->failure = ShmPath(name) + ": " + std::to_string(size) + " bytes, an event needs 8";
    return false;
  }
  if (!m_impl->mapping.Map(fd.Get(), kEventObjectSize)) {
    m_impl->failure = ShmPath(name) + ": " + std::strerror(errno);
    return false;
  }
  m_impl->fd = std::move(fd);
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
  m_impl->owner = std::move(owner);
  m_impl->fd = std::move(fd);
  m_impl->mapping = std::move(mapping);
}

void CNamedEvent::Close() {
  m_impl->mapping.Reset();
  m_impl->fd.Reset();
  m_impl->owner.Reset();
}

bool CNamedEvent::Set() {
  if (!m_impl->IsIntact()) return false;
  std::atomic_ref<std::uint32_t>(*m_impl->StateWord()).store(1, std::memory_order_release);
  FutexWakeAll(m_impl->StateWord());
  return true;
}

bool CNamedEvent::Reset() {
  if (!m_impl->IsIntact()) return false;
  std::atomic_ref<std::uint32_t>(*m_impl->StateWord()).store(0, std::memory_order_release);
  return true;
}

// Two stores to words in shared memory: nothing to gain by joining them.
bool ResetThenSet(CNamedEvent& toReset, CNamedEvent& toSet) {
  return toReset.Reset() && toSet.Set();
}

bool CNamedEvent::IsSet() const {
  if (!m_impl->IsIntact()) return false;
  return std::atomic_ref<std::uint32_t>(*m_impl->StateWord()).load(std::memory_order_acquire) != 0;
}

bool CNamedEvent::IsManualReset() const { return m_impl->IsIntact() && m_impl->IsManualReset(); }
bool CNamedEvent::IsIntact() const { return m_impl->IsIntact(); }
bool CNamedEvent::IsOpen() const { return m_impl->mapping.IsMapped(); }
const std::string& CNamedEvent::Failure() const { return m_impl->failure; }

bool CNamedEvent::Wait(std::optional<std::chrono::milliseconds> timeout) {
  CNamedEvent* self = this;
  return WaitForFirstEvent(std::span<CNamedEvent* const>(&self, 1), timeout) == 0;
}

}  // namespace vorn
