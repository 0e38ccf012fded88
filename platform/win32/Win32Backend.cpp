// The Win32 back end of the named objects and of the message boxes, for the
// module that runs under Wine: there the show editor's file mappings and
// events live in wineserver, out of reach of the POSIX objects.
//
// This is the one file of the project that includes windows.h. It is compiled
// by wineg++ (see app/CMakeLists.txt); everything it shares with the rest of
// the program goes through backend-neutral headers that name no Win32 type,
// because windows.h and the libusb header must never meet in one unit.

#include <windows.h>
#include <winternl.h>

#include <cstdio>
#include <string>
#include <system_error>

#include "platform/MessageBox.h"
#include "platform/NamedEvent.h"
#include "platform/SharedBlock.h"
#include "platform/WaitForEvents.h"
#include "platform/win32/Win32MessageBoxes.h"

namespace vorn {
namespace {

std::string Win32Failure(const std::string& name, DWORD error) {
  char text[64];
  std::snprintf(text, sizeof text, ": Win32 error %lu", static_cast<unsigned long>(error));
  return name + text;
}

void CloseIfOpen(HANDLE& handle) {
  if (handle != nullptr) CloseHandle(handle);
  handle = nullptr;
}

EVENT_BASIC_INFORMATION QueryEvent(HANDLE event) {
  EVENT_BASIC_INFORMATION info{};
  if (NtQueryEvent(event, EventBasicInformation, &info, sizeof info, nullptr) != 0) {
    info = EVENT_BASIC_INFORMATION{};
  }
  return info;
}

// Message boxes through the system when it can show them; without a display
// MessageBoxA fails at once (0, or -1 under Wine), and the text goes to stderr.
class CWin32Presenter : public CMessagePresenter {
 public:
  MessageAnswer Present(const MessageRequest& request) override {
    UINT type = request.buttons == MessageButtons::kYesNo ? MB_YESNO : MB_OK;
    switch (request.icon) {
      case MessageIcon::kInformation: type |= MB_ICONINFORMATION; break;
      case MessageIcon::kWarning: type |= MB_ICONWARNING; break;
      case MessageIcon::kError: type |= MB_ICONERROR; break;
      case MessageIcon::kNone: break;
    }
    const int answer = MessageBoxA(nullptr, request.text.c_str(), request.caption.c_str(), type);
    if (answer <= 0) return StderrPresenter().Present(request);
    if (answer == IDYES) return MessageAnswer::kYes;
    if (answer == IDNO) return MessageAnswer::kNo;
    return MessageAnswer::kOk;
  }
};

}  // namespace

void InstallWin32MessageBoxes() {
  static CWin32Presenter presenter;
  SetMessagePresenter(&presenter);
}

// ---- shared block: a file mapping -------------------------------------------------

struct CSharedBlock::Impl {
  HANDLE mapping = nullptr;
  void* view = nullptr;
  std::size_t size = 0;
  std::string failure;
  bool missing = false;
};

CSharedBlock::CSharedBlock() : m_impl(std::make_unique<Impl>()) {}
CSharedBlock::CSharedBlock(CSharedBlock&&) noexcept = default;
CSharedBlock& CSharedBlock::operator=(CSharedBlock&&) noexcept = default;
CSharedBlock::~CSharedBlock() {
  if (m_impl) Close();
}

bool CSharedBlock::Open(const std::string& name) {
  Close();
  m_impl->mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name.c_str());
  if (m_impl->mapping == nullptr) {
    const DWORD error = GetLastError();
    m_impl->missing = error == ERROR_FILE_NOT_FOUND;
    m_impl->failure = Win32Failure(name, error);
    return false;
  }
  m_impl->missing = false;
  return true;
}

bool CSharedBlock::Map() {
  Unmap();
  // The section's own size: VirtualQuery would round the view up to pages.
  SECTION_BASIC_INFORMATION info{};
  if (NtQuerySection(m_impl->mapping, SectionBasicInformation, &info, sizeof info, nullptr) != 0 ||
      info.Size.QuadPart <= 0) {
    m_impl->failure = "the shared block's size cannot be told";
    return false;
  }
  m_impl->view = MapViewOfFile(m_impl->mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
  if (m_impl->view == nullptr) {
    m_impl->failure = Win32Failure("MapViewOfFile", GetLastError());
    return false;
  }
  m_impl->size = static_cast<std::size_t>(info.Size.QuadPart);
  return true;
}

void CSharedBlock::Create(const std::string& name, std::size_t size) {
  Close();
  const auto wide = static_cast<unsigned long long>(size);
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                      static_cast<DWORD>(wide >> 32), static_cast<DWORD>(wide),
                                      name.c_str());
  const DWORD error = GetLastError();
  if (mapping == nullptr || error == ERROR_ALREADY_EXISTS) {
    if (mapping != nullptr) CloseHandle(mapping);
    throw std::system_error(static_cast<int>(error), std::system_category(), "cannot create " + name);
  }
  m_impl->mapping = mapping;
  if (!Map()) throw std::system_error(EINVAL, std::generic_category(), "cannot map " + name);
}

void CSharedBlock::Unmap() {
  if (m_impl->view != nullptr) UnmapViewOfFile(m_impl->view);
  m_impl->view = nullptr;
  m_impl->size = 0;
}

void CSharedBlock::Close() {
  Unmap();
  CloseIfOpen(m_impl->mapping);
}

std::uint8_t* CSharedBlock::Data() const { return static_cast<std::uint8_t*>(m_impl->view); }
std::size_t CSharedBlock::Size() const { return m_impl->size; }
// A section keeps the size it was created with for as long as it exists.
std::size_t CSharedBlock::ReadableSize() const { return m_impl->size; }
bool CSharedBlock::IsOpen() const { return m_impl->mapping != nullptr; }
const std::string& CSharedBlock::Failure() const { return m_impl->failure; }
bool CSharedBlock::IsMissing() const { return m_impl->missing; }

// ---- events ---------------------------------------------------------------------

struct CNamedEvent::Impl {
  HANDLE event = nullptr;
  // Asked once on opening: an auto-reset event can be reset by taking it.
  bool manualReset = false;
  std::string failure;
};

CNamedEvent::CNamedEvent() : m_impl(std::make_unique<Impl>()) {}
CNamedEvent::CNamedEvent(CNamedEvent&&) noexcept = default;
CNamedEvent& CNamedEvent::operator=(CNamedEvent&&) noexcept = default;
CNamedEvent::~CNamedEvent() {
  if (m_impl) Close();
}

bool CNamedEvent::Open(const std::string& name) {
  Close();
  m_impl->event = OpenEventA(EVENT_ALL_ACCESS, FALSE, name.c_str());
  if (m_impl->event == nullptr) {
    m_impl->failure = Win32Failure(name, GetLastError());
    return false;
  }
  m_impl->manualReset = QueryEvent(m_impl->event).EventType == NotificationEvent;
  return true;
}

void CNamedEvent::Create(const std::string& name, EventReset reset, bool initiallySet) {
  Close();
  HANDLE event = CreateEventA(nullptr, reset == EventReset::kManual, initiallySet, name.c_str());
  const DWORD error = GetLastError();
  if (event == nullptr || error == ERROR_ALREADY_EXISTS) {
    if (event != nullptr) CloseHandle(event);
    throw std::system_error(static_cast<int>(error), std::system_category(), "cannot create " + name);
  }
  m_impl->event = event;
  m_impl->manualReset = reset == EventReset::kManual;
}

void CNamedEvent::Close() { CloseIfOpen(m_impl->event); }
bool CNamedEvent::Set() { return SetEvent(m_impl->event) != FALSE; }
bool CNamedEvent::Reset() { return ResetEvent(m_impl->event) != FALSE; }
// Asked without waiting, which would consume an auto-reset event.
bool CNamedEvent::IsSet() const { return QueryEvent(m_impl->event).EventState != 0; }
bool CNamedEvent::IsManualReset() const { return m_impl->manualReset; }
bool CNamedEvent::IsIntact() const { return m_impl->event != nullptr; }
bool CNamedEvent::IsOpen() const { return m_impl->event != nullptr; }
const std::string& CNamedEvent::Failure() const { return m_impl->failure; }

// wineserver handles one request at a time, so setting `toSet` and taking
// `toReset` (time-out 0: taken if set, else nothing) in one request leaves no
// moment between them, as reset-then-set in two requests would: one round trip
// instead of two. Taking does not clear a manual-reset event; that one is reset
// the plain way.
bool ResetThenSet(CNamedEvent& toReset, CNamedEvent& toSet) {
  HANDLE reset = toReset.Backend().event, set = toSet.Backend().event;
  if (reset == nullptr || set == nullptr) return false;
  if (toReset.Backend().manualReset) return ResetEvent(reset) != FALSE && SetEvent(set) != FALSE;
  const DWORD result = SignalObjectAndWait(set, reset, 0, FALSE);
  return result == WAIT_OBJECT_0 || result == WAIT_TIMEOUT;
}

bool CNamedEvent::Wait(std::optional<std::chrono::milliseconds> timeout) {
  CNamedEvent* self = this;
  return WaitForFirstEvent(std::span<CNamedEvent* const>(&self, 1), timeout) == 0;
}

// The system's wait already has the rule we need: of several signalled
// objects the lowest index wins, and only that one is consumed.
int WaitForFirstEvent(std::span<CNamedEvent* const> events,
                      std::optional<std::chrono::milliseconds> timeout) {
  if (events.empty() || events.size() > MAXIMUM_WAIT_OBJECTS) return kWaitFailed;
  HANDLE handles[MAXIMUM_WAIT_OBJECTS];
  for (std::size_t i = 0; i < events.size(); ++i) {
    handles[i] = events[i]->Backend().event;
    if (handles[i] == nullptr) return kWaitFailed;
  }
  DWORD milliseconds = INFINITE;
  if (timeout) {
    const auto count = timeout->count();
    milliseconds = count <= 0 ? 0 : count >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(count);
  }
  const DWORD result =
      WaitForMultipleObjects(static_cast<DWORD>(events.size()), handles, FALSE, milliseconds);
  if (result < WAIT_OBJECT_0 + events.size()) return static_cast<int>(result - WAIT_OBJECT_0);
  if (result == WAIT_TIMEOUT) return kWaitTimedOut;
  return kWaitFailed;
}

}  // namespace vorn
