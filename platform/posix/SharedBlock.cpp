#include "platform/SharedBlock.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "platform/posix/PosixObjects.h"
#include "platform/posix/ShmObject.h"

namespace vorn {

CSharedBlock::CSharedBlock() : m_impl(std::make_unique<Impl>()) {}
CSharedBlock::CSharedBlock(CSharedBlock&&) noexcept = default;
CSharedBlock& CSharedBlock::operator=(CSharedBlock&&) noexcept = default;
CSharedBlock::~CSharedBlock() = default;

bool CSharedBlock::Open(const std::string& name) {
  Close();
  m_impl->fd = OpenTrustedShm(name, m_impl->failure, m_impl->missing);
  return m_impl->fd.IsValid();
}

bool CSharedBlock::Map() {
  const long long size = ShmSize(m_impl->fd.Get());
  if (size <= 0) {
    m_impl->failure = size == 0 ? "the shared block is empty" : std::strerror(errno);
    return false;
  }
  if (!m_impl->mapping.Map(m_impl->fd.Get(), static_cast<std::size_t>(size))) {
    m_impl->failure = std::strerror(errno);
    return false;
  }
  return true;
}

void CSharedBlock::Create(const std::string& name, std::size_t size) {
  Close();
  CUniqueFd fd = CreateExclusiveShm(name, size);
  CShmNameOwner owner(name);
  CMapping mapping;
  if (!mapping.Map(fd.Get(), size)) {
    throw std::system_error(errno, std::generic_category(), "cannot map " + ShmPath(name));
  }
  m_impl->owner = std::move(owner);
  m_impl->fd = std::move(fd);
  m_impl->mapping = std::move(mapping);
}

void CSharedBlock::Unmap() { m_impl->mapping.Reset(); }

void CSharedBlock::Close() {
  m_impl->mapping.Reset();
  m_impl->fd.Reset();
  m_impl->owner.Reset();
}

std::uint8_t* CSharedBlock::Data() const { return m_impl->mapping.Data(); }
std::size_t CSharedBlock::Size() const { return m_impl->mapping.Size(); }

std::size_t CSharedBlock::ReadableSize() const {
  const long long size = ShmSize(m_impl->fd.Get());
  if (size <= 0) return 0;
  return std::min(m_impl->mapping.Size(), static_cast<std::size_t>(size));
}

bool CSharedBlock::IsOpen() const { return m_impl->fd.IsValid(); }
const std::string& CSharedBlock::Failure() const { return m_impl->failure; }
bool CSharedBlock::IsMissing() const { return m_impl->missing; }

}  // namespace vorn
