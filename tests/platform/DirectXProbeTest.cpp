#include "platform/DirectXProbe.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "platform/DisplayProbe.h"
#include "platform/UniqueFd.h"

namespace vorn {
namespace {

TEST(DirectXProbeTest, PackingCountsLettersFromOneAndIgnoresEverythingElse) {
  struct Row {
    std::uint32_t major, minor;
    char letter;
    std::uint32_t packed;
  };
  const Row rows[] = {
      {8, 1, ' ', 0x80100}, {8, 1, 'a', 0x80101}, {8, 1, 'b', 0x80102}, {9, 0, 'c', 0x90003},
      {9, 0, 'C', 0x90003}, {9, 0, ' ', 0x90000}, {9, 0, 'z', 0x9001a}, {8, 1, '1', 0x80100},
      {8, 1, '\0', 0x80100}, {3, 0, 'a', 0x30001},
  };
  for (const Row& row : rows)
    EXPECT_EQ(PackDirectXVersion(row.major, row.minor, row.letter), row.packed)
        << row.major << "." << row.minor << "'" << row.letter << "'";
  // 8.2 is the last version start-up refuses.
  EXPECT_LT(PackDirectXVersion(8, 2, 'z'), kMinimumDirectXVersion);
}

TEST(DirectXProbeTest, TextCarriesTheLetterLowerCasedAndIsCutToTheBuffer) {
  char text[16];
  FormatDirectXVersion(9, 0, 'C', text, sizeof text);
  EXPECT_STREQ(text, "9.0c");
  FormatDirectXVersion(9, 0, ' ', text, sizeof text);
  EXPECT_STREQ(text, "9.0");

  char small[3] = {'x', 'x', 'x'};
  FormatDirectXVersion(9, 0, 'c', small, sizeof small);
  EXPECT_EQ(small[0], '9');
  EXPECT_EQ(small[1], '.');
  EXPECT_EQ(small[2], '\0');

  char untouched = 'x';
  FormatDirectXVersion(9, 0, ' ', &untouched, 0);
  EXPECT_EQ(untouched, 'x');
  FormatDirectXVersion(9, 0, ' ', &untouched, 1);
  EXPECT_EQ(untouched, '\0');
}

// The machines we build on have the decoders; the probe must say 9.0 there.
TEST(DirectXProbeTest, ReportsNineWhenFfmpegDecodesWavAndMp3) {
  ASSERT_TRUE(DecoderBackEndAvailable());
  std::uint32_t packed = 123;
  char text[256];
  std::memset(text, 'x', sizeof text);
  EXPECT_TRUE(ProbeDirectXVersion(&packed, text, sizeof text));
  EXPECT_EQ(packed, 0x00090000u);
  EXPECT_STREQ(text, "9.0");

  // Either output may be absent.
  EXPECT_TRUE(ProbeDirectXVersion(nullptr, text, sizeof text));
  EXPECT_TRUE(ProbeDirectXVersion(&packed, nullptr, 0));
  char three[3];
  EXPECT_TRUE(ProbeDirectXVersion(nullptr, three, sizeof three));
  EXPECT_STREQ(three, "9.");
}

TEST(DirectXProbeTest, MissingDecodersGiveZeroAndEmptyText) {
  ::setenv(kForceNoDecoderEnv, "1", 1);
  std::uint32_t packed = 0x90000;
  char text[8] = "junk";
  bool found = ProbeDirectXVersion(&packed, text, sizeof text);
  ::unsetenv(kForceNoDecoderEnv);
  EXPECT_FALSE(found);
  EXPECT_EQ(packed, 0u);
  EXPECT_STREQ(text, "");
}


// A display counts when its server takes a connection, not when a variable
// names it: a socket that is listening is reached, the same address once
// nobody listens is not, and malformed names reach nothing.
TEST(DisplayProbeTest, ADisplayIsReachedOnlyWhereAServerListens) {
  char pattern[] = "/tmp/vorn-display-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  {
    CUniqueFd wayland(::socket(AF_UNIX, SOCK_STREAM, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = dir + "/wayland-7";
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(::bind(wayland.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(wayland.Get(), 4), 0);
    EXPECT_TRUE(CanReachWaylandDisplay("wayland-7", dir));
    EXPECT_TRUE(CanReachWaylandDisplay(path, ""));
    EXPECT_FALSE(CanReachWaylandDisplay("wayland-8", dir));
    EXPECT_FALSE(CanReachWaylandDisplay("wayland-7", ""));
  }
  EXPECT_FALSE(CanReachWaylandDisplay("wayland-7", dir));  // the socket is left, nobody listens
  std::filesystem::remove_all(dir);

  // X over TCP: display N is port 6000 + N.
  CUniqueFd x11(::socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(x11.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t size = sizeof address;
  ASSERT_EQ(::getsockname(x11.Get(), reinterpret_cast<sockaddr*>(&address), &size), 0);
  const int port = ntohs(address.sin_port);
  if (port <= 6000) GTEST_SKIP() << "no port above 6000 to stand for a display";
  ASSERT_EQ(::listen(x11.Get(), 4), 0);
  const std::string display = "127.0.0.1:" + std::to_string(port - 6000);
  EXPECT_TRUE(CanReachX11Display(display));
  EXPECT_TRUE(CanReachX11Display(display + ".0"));
  x11.Reset();
  EXPECT_FALSE(CanReachX11Display(display));
  for (const char* name : {"", ":", "nothing", ":x", ":1x", "unix:99999999", ":64999"}) {
    EXPECT_FALSE(CanReachX11Display(name)) << name;
  }

  // What Qt would be told: a serverless platform is taken as it is; a server
  // platform only when its server answers.
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  EXPECT_EQ(ReachableDisplayPlatform(), "offscreen");
  ::setenv("QT_QPA_PLATFORM", "xcb", 1);
  ::setenv("DISPLAY", ":64999", 1);
  EXPECT_EQ(ReachableDisplayPlatform(), std::nullopt);
  ::unsetenv("QT_QPA_PLATFORM");
  ::setenv("WAYLAND_DISPLAY", "wayland-none", 1);
  EXPECT_EQ(ReachableDisplayPlatform(), std::nullopt);
  ::unsetenv("DISPLAY");
  ::unsetenv("WAYLAND_DISPLAY");
}

}  // namespace
}  // namespace vorn
