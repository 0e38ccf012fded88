#include "tools/LiveSession.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <system_error>

#include "platform/LittleEndian.h"
#include "server/LiveLink.h"
#include "tools/ManagerProcess.h"
#include "tools/StopSignals.h"

namespace vorn {
namespace {

using namespace std::chrono_literals;

// Sleeping on the event in short slices lets us notice a server that died.
constexpr auto kWatchSlice = 50ms;

std::string UpperCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

CLiveSession::CLiveSession(const LiveSessionOptions& options)
    : m_unit(UpperCase(options.unit)), m_options(options) {
  if (options.blockBytes < 1 || options.blockBytes > kMaxBlockPayload) {
    throw CLiveSessionError("the block size must be 1 to " + std::to_string(kMaxBlockPayload) +
                            " bytes");
  }
  try {
    const LiveObjectNames names = LiveObjectNamesFor(m_unit);
    m_block.Create(names.sharedMem, BlockTransferLength(options.blockBytes));
    m_ready.Create(names.ready, EventReset::kManual);
    m_quit.Create(names.quit, EventReset::kManual);
    m_dataReady.Create(names.dataReady, EventReset::kAuto);
    m_dataDone.Create(names.dataDone, EventReset::kAuto);
  } catch (const std::system_error& e) {
    throw CLiveSessionError(std::string(e.what()) + " (is another client driving " + m_unit +
                            "? a name left by a crashed client is removed with rm /dev/shm/" +
                            m_unit + "_*)");
  }
  try {
    m_server = StartManager({"-server", m_unit, std::to_string(options.baudRate)});
  } catch (const std::system_error& e) {
    throw CLiveSessionError(e.what());
  }
  try {
    WaitForReady();
  } catch (...) {
    StopServer();  // the destructor does not run for a session never made
    throw;
  }
}

CLiveSession::~CLiveSession() { StopServer(); }

void CLiveSession::WaitForReady() {
  if (WaitWatchingServer(m_ready, m_options.readyTimeout)) return;
  if (m_server.HasEnded()) {
    throw CLiveSessionError("the server for " + m_unit + " ended (" + m_server.DescribeEnd() +
                            ") before it was ready");
  }
  if (StopRequested()) {
    throw CLiveSessionError("stopped before the server for " + m_unit + " was ready");
  }
  throw CLiveSessionError("the server for " + m_unit + " gave no ready signal within " +
                          std::to_string(m_options.readyTimeout.count()) + " ms");
}

void CLiveSession::StopServer() {
  if (m_server.HasEnded()) return;
  m_quit.Set();
  if (!m_server.WaitFor(m_options.quitTimeout)) m_server.Kill();
}

bool CLiveSession::WaitWatchingServer(CNamedEvent& event, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return event.Wait(0ms);
    const auto slice = std::min<std::chrono::nanoseconds>(kWatchSlice, deadline - now);
    if (event.Wait(std::chrono::duration_cast<std::chrono::milliseconds>(slice) + 1ms)) {
      return true;
    }
    if (m_server.HasEnded() || StopRequested()) return event.Wait(0ms);
  }
}

bool CLiveSession::SendBlock(const std::uint8_t* payload, int size) {
  if (size < 0 || size > m_options.blockBytes) {
    throw CLiveSessionError("block of " + std::to_string(size) + " bytes is beyond the block size");
  }
  std::uint8_t* block = m_block.Data();
  PutLe16(block, static_cast<std::uint16_t>(size));
  if (size > 0) std::memcpy(block + 2, payload, static_cast<std::size_t>(size));
  // Padding goes to the unit as well: send zeros rather than an older block.
  std::memset(block + 2 + size, 0, m_block.Size() - 2 - static_cast<std::size_t>(size));

  const auto start = std::chrono::steady_clock::now();
  m_dataReady.Set();
  // Fast path: a healthy server answers well within the first slice.
  bool done = m_dataDone.Wait(kWatchSlice);
  m_lastBlockTime = std::chrono::steady_clock::now() - start;
  if (!done) {
    done = WaitWatchingServer(m_dataDone, m_options.doneTimeout);
    m_lastBlockTime = std::chrono::steady_clock::now() - start;
  }
  if (!done && StopRequested() && !m_server.HasEnded()) return false;
  if (!done) {
    const std::string which = "block " + std::to_string(m_blocksSent + 1);
    if (m_server.HasEnded()) {
      throw CLiveSessionError("the server for " + m_unit + " ended (" + m_server.DescribeEnd() +
                              ") without taking " + which);
    }
    throw CLiveSessionError("the server for " + m_unit + " did not take " + which + " within " +
                            std::to_string(m_options.doneTimeout.count()) + " ms");
  }
  ++m_blocksSent;
  return true;
}

int CLiveSession::Finish() {
  m_quit.Set();
  if (!m_server.WaitFor(m_options.quitTimeout)) {
    m_server.Kill();
    throw CLiveSessionError("the server for " + m_unit + " did not end after quit; killed it");
  }
  return m_server.ExitCode();
}

}  // namespace vorn
