// Live relay benchmark: 10,000 blocks of 126 payload bytes from the client
// (CLiveSession, as vorn3ctl live uses it) through vorn3manager's server mode to
// the unit simulator, timed from setting data ready to seeing data done.
//
// Peer, run in the same process: the bare handshake, a child process that
// answers data ready with data done through the same kind of named events and
// touches no unit. The ratio shows what the server and its USB path add over
// the cost of the two-process signal itself.

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/NamedEvent.h"
#include "platform/WaitForEvents.h"
#include "server/LiveLink.h"
#include "tools/LiveSession.h"

namespace {

using namespace std::chrono_literals;
using vorn::CNamedEvent;
using vorn::EventReset;

constexpr int kBlocks = 10000;
constexpr int kWarmUp = 200;
constexpr int kPayload = 126;

struct Figures {
  double median;
  double p99;
};

Figures Summarise(std::vector<double> micros) {
  std::sort(micros.begin(), micros.end());
  return {micros[micros.size() / 2], micros[micros.size() * 99 / 100]};
}

std::vector<double> RunRelay(const std::string& dir) {
  {
    std::ofstream config(dir + "/sim.conf");
    config << "bus 001\nunit 250\nmanufacturer Calverin\nproduct \"VORN unit\"\ncapture " << dir
           << "/capture.bin\n";
  }
  ::setenv("LD_PRELOAD", VORN_SIM_LIBRARY, 1);
  ::setenv("VORN_USB_SIM_CONFIG", (dir + "/sim.conf").c_str(), 1);
  ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
  ::setenv("VORN3MANAGER", VORN3MANAGER_PATH, 1);

  vorn::LiveSessionOptions options;
  options.unit = "VORN250";
  options.baudRate = 38400;
  options.blockBytes = kPayload;
  vorn::CLiveSession session(options);
  std::array<std::uint8_t, kPayload> payload{};
  std::vector<double> micros;
  for (int i = 0; i < kWarmUp + kBlocks; ++i) {
    payload[0] = static_cast<std::uint8_t>(i);
    session.SendBlock(payload.data(), kPayload);
    if (i >= kWarmUp) {
      micros.push_back(std::chrono::duration<double, std::micro>(session.LastBlockTime()).count());
    }
  }
  if (session.Finish() != 0) throw std::runtime_error("the server did not stop in order");
  ::unsetenv("LD_PRELOAD");
  return micros;
}

std::vector<double> RunBareHandshake() {
  const vorn::LiveObjectNames names =
      vorn::LiveObjectNamesFor("VORNBENCH_" + std::to_string(::getpid()));
  CNamedEvent quit, dataReady, dataDone;
  quit.Create(names.quit, EventReset::kManual);
  dataReady.Create(names.dataReady, EventReset::kAuto);
  dataDone.Create(names.dataDone, EventReset::kAuto);

  const pid_t child = ::fork();
  if (child == 0) {
    CNamedEvent q, r, d;
    if (!q.Open(names.quit) || !r.Open(names.dataReady) || !d.Open(names.dataDone)) {
      ::_exit(1);
    }
    CNamedEvent* const pair[] = {&q, &r};
    while (vorn::WaitForFirstEvent(pair) == 1) {
      r.Reset();
      d.Set();
    }
    ::_exit(0);
  }
  std::vector<double> micros;
  for (int i = 0; i < kWarmUp + kBlocks; ++i) {
    const auto start = std::chrono::steady_clock::now();
    dataReady.Set();
    if (!dataDone.Wait(10s)) throw std::runtime_error("the handshake peer did not answer");
    const auto took = std::chrono::steady_clock::now() - start;
    if (i >= kWarmUp) micros.push_back(std::chrono::duration<double, std::micro>(took).count());
  }
  quit.Set();
  int status = 0;
  ::waitpid(child, &status, 0);
  return micros;
}

}  // namespace

int main() {
  std::string dir = std::filesystem::temp_directory_path().string() + "/vornbenchXXXXXX";
  if (::mkdtemp(dir.data()) == nullptr) return 1;
  try {
    const Figures relay = Summarise(RunRelay(dir));
    const Figures bare = Summarise(RunBareHandshake());
    std::printf("live relay, %d blocks of %d payload bytes, data ready -> data done:\n", kBlocks,
                kPayload);
    std::printf("  client -> server -> simulator: median %8.1f us   p99 %8.1f us\n", relay.median,
                relay.p99);
    std::printf("  peer: bare event handshake:    median %8.1f us   p99 %8.1f us\n", bare.median,
                bare.p99);
    std::printf("  ratio relay / handshake:       median %8.2f      p99 %8.2f\n",
                relay.median / bare.median, relay.p99 / bare.p99);
    std::printf("  goal: median below 100 us: %s\n", relay.median < 100.0 ? "met" : "NOT met");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "relay_bench: %s\n", e.what());
    std::filesystem::remove_all(dir);
    return 1;
  }
  std::filesystem::remove_all(dir);
  return 0;
}
