#include "device/ImageDevice.h"

#include <gtest/gtest.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "device/DeviceExceptions.h"

namespace vorn {
namespace {

namespace fs = std::filesystem;

class ImageDeviceTest : public testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() / ("vorn-image-test-" + std::to_string(::getpid()));
    fs::create_directories(m_dir);
  }
  void TearDown() override { fs::remove_all(m_dir); }

  std::string MakeImage(const std::string& name, std::size_t bytes) {
    std::string path = (m_dir / name).string();
    std::ofstream(path, std::ios::binary) << std::string(bytes, '\0');
    return path;
  }

  template <class Fn>
  std::string MessageOf(Fn fn) {
    try {
      fn();
    } catch (const CUsbDeviceException& e) {
      return e.GetMessage();
    }
    return "(nothing thrown)";
  }

  fs::path m_dir;
};

TEST_F(ImageDeviceTest, ReportsSizeNameAndIdentityOfTheFile) {
  // A tail shorter than a sector is not addressable.
  std::string path = MakeImage("disk.img", 4 * 512 + 100);
  CImageDevice device(path, false);
  device.Open(CImageDevice::EntryFor(path));
  EXPECT_EQ(device.GetSectorCount(), 4u);
  EXPECT_EQ(device.GetName(), path);
  EXPECT_TRUE(device.Identify());
  device.Close();
}

TEST_F(ImageDeviceTest, WritesReachTheFileAndReadsFillExactlyTheSectors) {
  std::string path = MakeImage("disk.img", 8 * 512);
  std::unique_ptr<CSectorDevice> device = std::make_unique<CImageDevice>(path, true);
  device->Open(DeviceEntry{});  // an entry without text opens the constructed path

  std::vector<std::uint8_t> out(3 * 512);
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<std::uint8_t>(i * 13);
  device->WriteSectors(5, 3, out.data());

  std::ifstream file(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(file)), {});
  ASSERT_EQ(bytes.size(), 8u * 512);
  EXPECT_TRUE(std::equal(out.begin(), out.end(), bytes.begin() + 5 * 512,
                         [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); }));

  std::array<std::uint8_t, 514> in;
  in.fill(0xEE);
  device->ReadSectors(6, 1, in.data() + 1);
  EXPECT_EQ(in[0], 0xEE);
  EXPECT_EQ(in[513], 0xEE);
  EXPECT_TRUE(std::equal(in.begin() + 1, in.begin() + 513, out.begin() + 512));
  device->Close();
}

TEST_F(ImageDeviceTest, TransfersPastTheEndThrowAndLeaveTheFileAlone) {
  std::string path = MakeImage("disk.img", 4 * 512);
  CImageDevice device(path, false);
  device.Open(CImageDevice::EntryFor(path));
  std::vector<std::uint8_t> buffer(2 * 512, 0x11);
  EXPECT_EQ(MessageOf([&] { device.ReadSectors(3, 2, buffer.data()); }), "Unable to read sector");
  EXPECT_EQ(MessageOf([&] { device.WriteSectors(3, 2, buffer.data()); }), "Unable to write sector");
  EXPECT_EQ(MessageOf([&] { device.WriteSectors(0xFFFFFFFFu, 2, buffer.data()); }), "Unable to write sector");
  EXPECT_EQ(fs::file_size(path), 4u * 512);
  // A device whose transfer threw is still usable.
  device.WriteSectors(3, 1, buffer.data());
  device.Close();
  EXPECT_EQ(MessageOf([&] { device.ReadSectors(0, 1, buffer.data()); }), "Unable to read sector");
}

TEST_F(ImageDeviceTest, OpenFailuresAreDeviceErrors) {
  CImageDevice missing((m_dir / "missing.img").string());
  EXPECT_NE(MessageOf([&] { missing.Open(DeviceEntry{}); }).find("Could not open disk image"),
            std::string::npos);

  CImageDevice directory(m_dir.string());
  EXPECT_NE(MessageOf([&] { directory.Open(DeviceEntry{}); }).find("Is a directory"), std::string::npos);
  CImageDevice characterDevice("/dev/null");
  EXPECT_EQ(MessageOf([&] { characterDevice.Open(DeviceEntry{}); }), "Not a disk image file: /dev/null");

  std::string path = MakeImage("disk.img", 512);
  CImageDevice twice(path);
  twice.Open(DeviceEntry{});
  EXPECT_EQ(MessageOf([&] { twice.Open(DeviceEntry{}); }), "A drive is already opened");
}

TEST_F(ImageDeviceTest, AWriteProtectedImageCanBeReadButNotWritten) {
  std::string path = MakeImage("backup.img", 2 * 512);
  ::chmod(path.c_str(), 0444);
  auto readThenWrite = [&] {
    CImageDevice device(path);
    device.Open(DeviceEntry{});
    std::array<std::uint8_t, 512> sector{};
    device.ReadSectors(1, 1, sector.data());
    return std::string(device.IsReadOnly() ? "read-only: " : "writable: ") +
           MessageOf([&] { device.WriteSectors(1, 1, sector.data()); });
  };
  std::string result;
  if (::geteuid() != 0) {
    result = readThenWrite();
  } else {
    // Root ignores file permissions: a child that became "nobody" tries.
    fs::permissions(m_dir, fs::perms(0755));
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t child = ::fork();
    if (child == 0) {
      ::close(out[0]);
      const std::string text =
          ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0 ? readThenWrite() : "no setuid";
      ::_exit(::write(out[1], text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0 : 1);
    }
    ::close(out[1]);
    char chunk[256];
    for (ssize_t got; (got = ::read(out[0], chunk, sizeof chunk)) > 0;) result.append(chunk, got);
    ::close(out[0]);
    ::waitpid(child, nullptr, 0);
  }
  EXPECT_EQ(result, "read-only: Unable to write sector: Permission denied");
}

// Two programs on one image: readers share it, a writer has it alone, and the
// one refused is refused at once and can try again later. The locks belong to
// open files, so two devices in this process stand for two programs.
TEST_F(ImageDeviceTest, ImagesAreLockedSharedToReadAndExclusiveToWrite) {
  const std::string path = MakeImage("disk.img", 8 * 512);
  const std::string inUse = "The disk " + path + " is in use by another program: try again when it has finished.";
  CImageDevice writer(path, false, ImageAccess::kWrite);
  CImageDevice secondWriter(path, false, ImageAccess::kWrite);
  CImageDevice reader(path, false, ImageAccess::kRead);
  CImageDevice secondReader(path, false, ImageAccess::kRead);

  writer.Open(DeviceEntry{});
  EXPECT_EQ(MessageOf([&] { secondWriter.Open(DeviceEntry{}); }), inUse);
  EXPECT_EQ(MessageOf([&] { reader.Open(DeviceEntry{}); }), inUse);
  writer.Close();

  reader.Open(DeviceEntry{});
  secondReader.Open(DeviceEntry{});
  EXPECT_TRUE(reader.IsReadOnly());
  std::array<std::uint8_t, 512> sector{};
  EXPECT_EQ(MessageOf([&] { reader.WriteSectors(1, 1, sector.data()); }).rfind("Unable to write sector: ", 0), 0u);
  EXPECT_EQ(MessageOf([&] { secondWriter.Open(DeviceEntry{}); }), inUse);
  reader.Close();
  EXPECT_EQ(MessageOf([&] { secondWriter.Open(DeviceEntry{}); }), inUse);
  secondReader.Close();
  // The refused device is as new: the same object opens once the image is free.
  secondWriter.Open(DeviceEntry{});
  secondWriter.WriteSectors(1, 1, sector.data());
  secondWriter.Close();
}

TEST_F(ImageDeviceTest, AnImageCutShortUnderUsSaysSo) {
  const std::string path = MakeImage("disk.img", 8 * 512);
  CImageDevice device(path, false, ImageAccess::kRead);
  device.Open(DeviceEntry{});
  fs::resize_file(path, 2 * 512);  // a program that ignores our lock
  std::array<std::uint8_t, 512> sector{};
  EXPECT_EQ(MessageOf([&] { device.ReadSectors(5, 1, sector.data()); }),
            "Unable to read sector: the disk image ends early");
}

}  // namespace
}  // namespace vorn
