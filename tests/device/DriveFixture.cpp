#include "tests/device/DriveFixture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "platform/LittleEndian.h"

namespace vorn::test {
namespace fs = std::filesystem;

namespace {

void WriteFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::trunc);
  out << text << "\n";
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

void MakeImage(const std::string& path, std::uint64_t bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::trunc | std::ios::binary).close();
  fs::resize_file(path, bytes);
}

}  // namespace

CDriveFixture::CDriveFixture() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/vorn-drives-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  m_dir = buffer.data();
  fs::create_directories(m_dir + "/sys/block");
  fs::create_directories(m_dir + "/sys/bus/usb");
  fs::create_directories(m_dir + "/sys/bus/mmc");
  fs::create_directories(m_dir + "/sys/bus/scsi");
  fs::create_directories(m_dir + "/dev");
  WriteFile(m_dir + "/mountinfo", "22 1 0:21 / /sys rw,relatime - sysfs sysfs rw");
  WriteFile(m_dir + "/swaps", "Filename\t\t\t\tType\t\tSize\t\tUsed\t\tPriority");
}

CDriveFixture::~CDriveFixture() {
  std::error_code ignored;
  fs::remove_all(m_dir, ignored);
}

DriveRoots CDriveFixture::Roots() const {
  DriveRoots roots;
  roots.sysfs = m_dir + "/sys";
  roots.dev = m_dir + "/dev";
  roots.mountinfo = m_dir + "/mountinfo";
  roots.swaps = m_dir + "/swaps";
  return roots;
}

std::string CDriveFixture::NextDevice() {
  const int minor = m_nextMinor++;
  return std::to_string(8 + minor / 256) + ":" + std::to_string(minor % 256);
}

std::string CDriveFixture::SysDir(const std::string& name) const {
  auto it = m_sysDirs.find(name);
  if (it == m_sysDirs.end()) throw std::runtime_error("no such fixture device " + name);
  return it->second;
}

std::string CDriveFixture::Node(const std::string& name) const { return m_dir + "/dev/" + name; }

void CDriveFixture::AddDisk(const std::string& name, std::uint64_t sectors, Bus bus,
                            bool removableFlag, std::uint32_t logicalBlockSize) {
  const std::string host = std::to_string(m_nextHost++);
  const fs::path sys = m_dir + "/sys";
  fs::path parent;
  fs::path busDevice;  // the ancestor that carries the bus's subsystem link
  std::string busName;
  switch (bus) {
    case Bus::kUsb:
      busDevice = sys / "devices/pci0000:00/0000:00:14.0/usb1" / ("1-" + host);
      parent = busDevice / ("1-" + host + ":1.0") / ("host" + host) / ("target" + host + ":0:0") /
               (host + ":0:0:0");
      busName = "usb";
      break;
    case Bus::kMmc:
      busDevice = sys / "devices/platform/mmc_host" / ("mmc" + host) / ("mmc" + host + ":0001");
      parent = busDevice;
      busName = "mmc";
      break;
    case Bus::kAta:
      busDevice = sys / "devices/pci0000:00/0000:00:1f.2" / ("ata" + host) / ("host" + host) /
                  ("target" + host + ":0:0") / (host + ":0:0:0");
      parent = busDevice;
      busName = "scsi";
      break;
    case Bus::kVirtual:
      parent = sys / "devices/virtual";
      break;
  }
  const fs::path dir = parent / "block" / name;
  fs::create_directories(dir);
  if (!busName.empty() && !fs::is_symlink(busDevice / "subsystem")) {
    fs::create_directory_symlink(fs::relative(sys / "bus" / busName, busDevice), busDevice / "subsystem");
  }
  fs::create_directory_symlink(fs::relative(dir, sys / "block"), sys / "block" / name);
  const std::string device = NextDevice();
  m_sysDirs[name] = dir.string();
  m_devices[name] = device;
  WriteFile(dir / "dev", device);
  WriteFile(dir / "size", std::to_string(sectors));
  WriteFile(dir / "removable", removableFlag ? "1" : "0");
  WriteFile(dir / "queue/logical_block_size", std::to_string(logicalBlockSize));
  fs::create_directories(dir / "holders");
  fs::create_directories(dir / "slaves");
  MakeImage(Node(name), sectors * 512);
}

std::string CDriveFixture::AddPartition(const std::string& disk, std::uint32_t number,
                                        std::uint64_t sectors) {
  const bool digit = !disk.empty() && std::isdigit(static_cast<unsigned char>(disk.back()));
  const std::string name = disk + (digit ? "p" : "") + std::to_string(number);
  const fs::path dir = fs::path(SysDir(disk)) / name;
  const std::string device = NextDevice();
  m_sysDirs[name] = dir.string();
  m_devices[name] = device;
  WriteFile(dir / "partition", std::to_string(number));
  WriteFile(dir / "dev", device);
  WriteFile(dir / "size", std::to_string(sectors));
  fs::create_directories(dir / "holders");
  MakeImage(Node(name), sectors * 512);
  return name;
}

void CDriveFixture::AddMapped(const std::string& name, const std::string& slave) {
  AddDisk(name, 2048, Bus::kVirtual);
  const fs::path dir = SysDir(name);
  const fs::path slaveDir = SysDir(slave);
  fs::create_directory_symlink(fs::relative(slaveDir, dir / "slaves"), dir / "slaves" / slave);
  fs::create_directory_symlink(fs::relative(dir, slaveDir / "holders"), slaveDir / "holders" / name);
}

void CDriveFixture::AppendLine(const std::string& file, const std::string& line) {
  std::ofstream out(m_dir + "/" + file, std::ios::app);
  out << line << "\n";
}

void CDriveFixture::Mount(const std::string& name, const std::string& mountPoint) {
  const int id = m_nextMount++;
  AppendLine("mountinfo", std::to_string(id) + " 1 " + m_devices.at(name) + " / " + mountPoint +
                              " rw,relatime shared:1 - vfat /dev/" + name + " rw");
}

void CDriveFixture::MountBySourceOnly(const std::string& name, const std::string& mountPoint) {
  const int id = m_nextMount++;
  AppendLine("mountinfo", std::to_string(id) + " 1 0:" + std::to_string(id) + " / " + mountPoint +
                              " rw,relatime - btrfs /dev/" + name + " rw");
}

void CDriveFixture::AddSwap(const std::string& name) {
  AppendLine("swaps", "/dev/" + name + "                               partition\t1048572\t\t0\t\t-2");
}

void CDriveFixture::SetAttribute(const std::string& name, const std::string& file,
                                 const std::string& value) {
  WriteFile(fs::path(SysDir(name)) / file, value);
}

void CDriveFixture::RemoveDisk(const std::string& name) {
  fs::remove(m_dir + "/sys/block/" + name);
  fs::remove_all(SysDir(name));
  fs::remove(Node(name));
}

void CDriveFixture::WriteFat16(const std::string& name, const std::string& label,
                               std::uint32_t serial) {
  std::uint8_t boot[512] = {};
  const std::uint64_t sectors = fs::file_size(Node(name)) / 512;
  boot[0] = 0xEB;
  boot[1] = 0x3C;
  boot[2] = 0x90;
  std::memcpy(boot + 3, "MSDOS5.0", 8);
  PutLe16(boot + 11, 512);   // bytes per sector
  std::uint8_t perCluster = 4;  // keeps the cluster count in FAT16's range
  while (perCluster < 128 && sectors / perCluster > 65000) perCluster = static_cast<std::uint8_t>(perCluster * 2);
  boot[13] = perCluster;
  PutLe16(boot + 14, 4);     // reserved sectors
  boot[16] = 2;              // FATs
  PutLe16(boot + 17, 512);   // root directory entries
  if (sectors < 65536) {
    PutLe16(boot + 19, static_cast<std::uint16_t>(sectors));
  } else {
    PutLe32(boot + 32, static_cast<std::uint32_t>(sectors));
  }
  boot[21] = 0xF8;           // media: fixed
  const std::uint32_t clusters = static_cast<std::uint32_t>(sectors / perCluster);
  PutLe16(boot + 22, static_cast<std::uint16_t>((clusters * 2 + 511) / 512));  // sectors per FAT
  PutLe16(boot + 24, 63);
  PutLe16(boot + 26, 255);
  boot[36] = 0x80;
  boot[38] = 0x29;           // extended boot signature
  PutLe32(boot + 39, serial);
  std::string padded = label;
  padded.resize(11, ' ');
  std::memcpy(boot + 43, padded.data(), 11);
  std::memcpy(boot + 54, "FAT16   ", 8);
  boot[510] = 0x55;
  boot[511] = 0xAA;
  std::fstream out(Node(name), std::ios::in | std::ios::out | std::ios::binary);
  out.write(reinterpret_cast<const char*>(boot), sizeof boot);
  // Both FATs begin with the media byte and the end-of-chain marker.
  const std::uint8_t fatStart[4] = {0xF8, 0xFF, 0xFF, 0xFF};
  const std::uint32_t fatSectors = GetLe16(boot + 22);
  for (std::uint32_t fat = 0; fat < 2; ++fat) {
    out.seekp(static_cast<std::streamoff>((4 + fat * fatSectors) * 512));
    out.write(reinterpret_cast<const char*>(fatStart), sizeof fatStart);
  }
  // The label users see lives in the root directory's volume-label entry.
  std::uint8_t entry[32] = {};
  std::memcpy(entry, padded.data(), 11);
  entry[11] = 0x08;  // attribute: volume label
  out.seekp(static_cast<std::streamoff>((4 + 2 * fatSectors) * 512));
  out.write(reinterpret_cast<const char*>(entry), sizeof entry);
  if (!out) throw std::runtime_error("cannot write a FAT boot sector to " + Node(name));
}

}  // namespace vorn::test
