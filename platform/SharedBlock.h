#pragma once
// A named shared block, mapped whole. The server and list modes open blocks
// that the show editor created; the editor's side (our client) creates them.
//
// This header is the same for every back end: platform/posix/ (POSIX
// shared-memory objects, the native build) and platform/win32/ (Win32 file
// mappings, the module that runs under Wine). A program links exactly one of
// them; both define these members, so linking both fails.
// The byte-level contract is in docs/named-objects.md.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vorn {

class CSharedBlock {
 public:
  CSharedBlock();
  CSharedBlock(CSharedBlock&&) noexcept;
  CSharedBlock& operator=(CSharedBlock&&) noexcept;
  ~CSharedBlock();

  // Opens an existing block (on POSIX only a trusted one, see
  // platform/posix/ShmObject.h). False when it is missing or refused;
  // Failure() tells why.
  bool Open(const std::string& name);
  // Maps the whole opened block read/write. False when it cannot (an empty
  // object included); Failure() tells why.
  bool Map();
  // Creates a new zero-filled block of `size` bytes, only for this user, maps
  // it and gives the name up again when this object ends. Throws
  // std::system_error.
  void Create(const std::string& name, std::size_t size);

  void Unmap();
  void Close();  // unmaps, closes, and gives the name up if we created it

  std::uint8_t* Data() const;
  std::size_t Size() const;  // of the mapping made by Map
  // The bytes that may be read from Data() now: the creator of a POSIX object
  // can shrink it after we mapped it, and touching a page past its new end
  // kills the process. min(Size(), the object's size); 0 when it cannot be told.
  std::size_t ReadableSize() const;
  bool IsOpen() const;
  const std::string& Failure() const;
  // After a failed Open: there is no object at all under the name (as opposed
  // to one we refuse to trust).
  bool IsMissing() const;

  struct Impl;  // the back end's

 private:
  std::unique_ptr<Impl> m_impl;
};

}  // namespace vorn
