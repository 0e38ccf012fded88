#pragma once
// Helpers of the window tests: a scripted presenter, routine files, image-backed
// disks offered as drives and units, and waiting for the event loop.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <QString>

#include <ostream>

#include "EventLoop.h"
#include "device/DeviceExceptions.h"
#include "device/ImageDevice.h"
#include "platform/MessageBox.h"
#include "ui/DeviceSource.h"

// Failed expectations on Qt strings print the text.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace vorn::test {

// Answers boxes from a script (Yes when the script is empty) and records them.
// Safe to call from the import worker.
class CScriptedPresenter final : public CMessagePresenter {
 public:
  CScriptedPresenter() { SetMessagePresenter(this); }
  ~CScriptedPresenter() override { SetMessagePresenter(nullptr); }

  void Answer(MessageAnswer answer) {
    std::lock_guard lock(m_mutex);
    m_answers.push_back(answer);
  }
  // Runs `what` while the next box is up, as an event arriving then would.
  void DuringNext(std::function<void()> what) {
    std::lock_guard lock(m_mutex);
    m_during = std::move(what);
  }
  MessageAnswer Present(const MessageRequest& request) override {
    std::function<void()> during;
    {
      std::lock_guard lock(m_mutex);
      during.swap(m_during);
    }
    if (during) during();
    std::lock_guard lock(m_mutex);
    m_requests.push_back(request);
    if (m_answers.empty()) return request.buttons == MessageButtons::kYesNo ? MessageAnswer::kYes : MessageAnswer::kOk;
    MessageAnswer answer = m_answers.front();
    m_answers.pop_front();
    return answer;
  }
  std::vector<MessageRequest> Requests() {
    std::lock_guard lock(m_mutex);
    return m_requests;
  }
  std::vector<std::string> Texts() {
    std::vector<std::string> texts;
    for (const MessageRequest& r : Requests()) texts.push_back(r.text);
    return texts;
  }
  void Clear() {
    std::lock_guard lock(m_mutex);
    m_requests.clear();
  }

 private:
  std::mutex m_mutex;
  std::deque<MessageAnswer> m_answers;
  std::function<void()> m_during;
  std::vector<MessageRequest> m_requests;
};

// A ".vorn" file without audio: the header and `dataSize` bytes of control data.
std::string WriteRoutineFile(const std::filesystem::path& path, const std::string& title,
                             std::uint32_t dataSize, std::uint8_t baudCode = 2,
                             std::uint8_t frameRate = 25, std::uint8_t protocol = 0,
                             std::uint8_t version = 1);

// A ".vorn" file whose audio is `seconds` of a 16-bit stereo WAV tone, which
// the import converts; `dataSize` bytes of control data.
std::string WriteAudioRoutineFile(const std::filesystem::path& path, const std::string& title,
                                  double seconds, std::uint32_t dataSize = 600);

// A zero-filled (unformatted) image of `sectors` sectors.
std::string MakeImage(const std::filesystem::path& path, std::uint32_t sectors);
std::vector<char> ReadWholeFile(const std::string& path);

// Offers image files as drives (key = index) and units (name VORN<n>); both open
// as CImageDevice by their text. A unit error can be injected, and every write
// can be held at a gate to keep an import running.
class CImageSource final : public CDeviceSource {
 public:
  struct Shared {
    std::vector<std::string> drives;
    std::vector<std::string> units;
    std::optional<std::string> unitError;  // thrown after the listed units
    int enumerations = 0;
    std::mutex gateMutex;
    std::condition_variable gateChanged;
    bool gateOpen = true;
    std::atomic<int> writesWaiting{0};
    std::atomic<int> writes{0};  // every write asked for, held or not
    int passBeforeGate = 0;      // writes let through a closed gate (under gateMutex)
    int writeDelayMs = 0;        // each write takes this long (set before the writes start)
    std::atomic<int> readDelayMs{0};  // each read of a drive takes this long
    std::atomic<bool> unplugged{false};  // drive reads and opens fail as for a card pulled out
    std::atomic<bool> garbleWrites{false};  // writes land with their first byte flipped, reported good
    std::atomic<std::uint32_t> wrapAt{0};   // a fake card: sector s lands on s mod wrapAt (0: honest)
    bool holdOpens = false;      // drive opens wait until it is cleared (under gateMutex)
    std::atomic<int> opensWaiting{0};
    std::atomic<int> opens{0};   // every drive open asked for

    void CloseGate(int pass = 0);
    void OpenGate();
  };

  explicit CImageSource(std::shared_ptr<Shared> shared) : m_shared(std::move(shared)) {}

  void EnumerateDrives(std::vector<DeviceEntry>& drives) override;
  void EnumerateUnits(std::vector<DeviceEntry>& units) override;
  void FreeUnitEntries(std::vector<DeviceEntry>& units) override { units.clear(); }
  std::unique_ptr<CSectorDevice> NewDriveDevice() override;
  std::unique_ptr<CSectorDevice> NewUnitDevice() override { return NewDriveDevice(); }

 private:
  std::shared_ptr<Shared> m_shared;
};

}  // namespace vorn::test
