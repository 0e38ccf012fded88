#pragma once
// The show editor's side of a live session with vorn3manager's server mode:
// creates the five named objects of a unit, starts the server, and hands it
// blocks one at a time, each waited for with a bound (a failed USB write ends
// the server without a data-done signal). docs/named-objects.md has the rules.

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "platform/ChildProcess.h"
#include "platform/NamedEvent.h"
#include "platform/SharedBlock.h"

namespace vorn {

class CLiveSessionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct LiveSessionOptions {
  std::string unit;      // "VORN3"; upper-cased by the session
  int baudRate = 0;
  int blockBytes = 0;    // the largest payload a block carries, 1 to 32765
  std::chrono::milliseconds readyTimeout{10000};
  std::chrono::milliseconds doneTimeout{10000};  // above the server's 6 s USB time-out
  std::chrono::milliseconds quitTimeout{10000};
};

class CLiveSession {
 public:
  // Creates the objects, starts the server and waits for its ready signal.
  // Throws CLiveSessionError (objects in use, the server ended, no signal).
  // A stop request (tools/StopSignals.h) cuts the wait short, with an error.
  explicit CLiveSession(const LiveSessionOptions& options);
  CLiveSession(const CLiveSession&) = delete;
  CLiveSession& operator=(const CLiveSession&) = delete;
  // A server still running is asked to quit (and killed only when it does not
  // end in time); the names of the objects go with their owners.
  ~CLiveSession();

  // Sends one block of `size` <= blockBytes payload bytes and waits for data
  // done; false when a stop request ended the wait first (the server may still
  // take the block). Throws CLiveSessionError when the server ends or does not
  // answer.
  bool SendBlock(const std::uint8_t* payload, int size);

  // Sets quit and waits for the server to end; returns its exit code.
  int Finish();

  // Time from setting data ready to seeing data done, for the last block.
  std::chrono::nanoseconds LastBlockTime() const { return m_lastBlockTime; }
  const std::string& Unit() const { return m_unit; }
  CChildProcess& Server() { return m_server; }

 private:
  bool WaitWatchingServer(CNamedEvent& event, std::chrono::milliseconds timeout);
  void WaitForReady();
  void StopServer();

  std::string m_unit;
  LiveSessionOptions m_options;
  CSharedBlock m_block;
  CNamedEvent m_ready, m_quit, m_dataReady, m_dataDone;
  CChildProcess m_server;
  std::chrono::nanoseconds m_lastBlockTime{0};
  int m_blocksSent = 0;
};

}  // namespace vorn
