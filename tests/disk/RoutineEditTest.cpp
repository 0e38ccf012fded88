// Editing routines in the middle of a disk. The sweep cuts every edit kind at
// every one of its writes (nothing, half, or all of that write landing) and
// reads the disk back with the original reader: it must hold the old show, the
// new show, or a prefix of the new show that recovery completes — routine
// bytes compared with the originals and with a plain import of the same file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "device/DeviceExceptions.h"
#include "device/ImageDevice.h"
#include "disk/DiskHeader.h"
#include "disk/RoutineEdit.h"
#include "disk/VornDisk.h"
#include "tests/audio/AudioTestSupport.h"
#include "tests/audio/RoutineFixtures.h"
#include "tests/support/FaultyDevice.h"
#include "tests/support/ReferenceTable.h"

namespace vorn {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes RoutineBytes(CMemoryDevice& device, const RoutineEntry& entry) {
  return Bytes(device.Sector(entry.startSector), device.Sector(entry.endSector));
}

struct EditCase {
  std::string name;
  std::size_t routines;
  std::function<void(CRoutineEdit&, const std::vector<std::string>& files)> build;
  bool full = false;  // no free sector behind the old table
  std::vector<std::uint32_t> sizes = {600, 3, 700, 520, 1, 900};  // sectors of the routines, cycled
};

class RoutineEditTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Routine files: pass-through MP3 with data, and one with data only.
    const auto write = [&](const char* title, const Bytes& audio, const Bytes& data) {
      const std::string path = dir / (std::string(title) + ".vorn");
      test::WriteBytes(path, test::RoutineFileBytes(
          test::MakeHeader(title, 1, static_cast<std::uint32_t>(audio.size()), static_cast<std::uint32_t>(data.size())),
          audio, data));
      return path;
    };
    files = {write("Long file", test::DiskKindFrames(900), test::PatternBytes(70000, 3)),
             write("Data only", {}, test::PatternBytes(1500, 5))};
  }

  // The routines with their bytes in place.
  static CMemoryDevice BuildDisk(std::size_t routines, bool full,
                                 const std::vector<std::uint32_t>& sizes = EditCase{}.sizes) {
    const std::vector<RoutineEntry> table = MakeRoutines(routines, sizes);
    const std::uint32_t end = table.empty() ? 1 : table.back().endSector;
    CMemoryDevice device(full ? end + static_cast<std::uint32_t>(routines / 8 + 1) : end + 2000);
    for (const RoutineEntry& entry : table) FillRoutine(device, entry);
    LayOutDisk(device, table);
    return device;
  }

  // The bytes a plain import writes for `path`.
  Bytes ImportedBytes(const std::string& path) {
    CMemoryDevice device(20000);
    CVornDisk disk(device, nullptr);
    disk.ReadTable();
    disk.Format();
    disk.AddRoutine(path, nullptr);
    return RoutineBytes(device, disk.Table().back());
  }

  EditOptions Options(const std::string& root) {
    EditOptions options;
    options.identity = "memory disk";
    options.recordRoot = root;
    return options;
  }

  void Run(const EditCase& c, CSectorDevice& device, const std::string& root) {
    CVornDisk disk(device, nullptr);
    disk.ReadTable();
    CRoutineEdit edit(disk.Table());
    c.build(edit, files);
    ApplyEdit(disk, edit, Options(root));
  }

  // Every routine the reading lists holds the bytes it must.
  void CheckBytes(CMemoryDevice& device, const std::vector<RoutineEntry>& table, const std::vector<Bytes>& expected,
                  const std::string& where) {
    for (std::size_t k = 0; k < table.size(); ++k) {
      EXPECT_EQ(RoutineBytes(device, table[k]), expected[k]) << where << ": routine " << k + 1;
    }
  }

  // Counts in `prefixes` the cuts that left a prefix for the recovery to finish.
  void Sweep(const EditCase& c, int& prefixes) {
    SCOPED_TRACE(c.name);
    // Without failures: what the edit leaves, checked against the sources.
    CMemoryDevice original = BuildDisk(c.routines, c.full, c.sizes);
    CMemoryDevice done = BuildDisk(c.routines, c.full, c.sizes);
    const ReferenceReading oldReading = *ReferenceReadTable(original);
    CFaultyDevice counting(done, 0);
    Run(c, counting, dir / "dry");
    const std::uint32_t writes = counting.WritesSeen();
    const ReferenceReading newReading = *ReferenceReadTable(done);
    ASSERT_TRUE(newReading.valid);
    EXPECT_EQ(DiskHeader::Decode(done.Sector(0)).tableSector,
              newReading.table.empty() ? 1 : newReading.table.back().endSector) << "table behind the last routine";
    std::vector<Bytes> oldBytes, newBytes;
    for (const RoutineEntry& entry : oldReading.table) oldBytes.push_back(RoutineBytes(original, entry));
    {
      CRoutineEdit edit(oldReading.table);
      c.build(edit, files);
      ASSERT_EQ(edit.Count(), newReading.table.size());
      for (std::size_t k = 0; k < edit.Count(); ++k) {
        const auto& item = edit.Items()[k];
        newBytes.push_back(item.oldIndex ? oldBytes[*item.oldIndex] : ImportedBytes(item.path));
        EXPECT_EQ(RoutineBytes(done, newReading.table[k]), newBytes.back()) << "routine " << k + 1 << " after the edit";
      }
    }
    EXPECT_FALSE(std::filesystem::exists(CEditRecord::DirectoryFor(dir / "dry", "memory disk")));

    for (FaultMode mode : {FaultMode::kNothingWritten, FaultMode::kFirstHalfWritten, FaultMode::kAllWritten}) {
      for (std::uint32_t k = 1; k <= writes; ++k) {
        const std::string where = "write " + std::to_string(k) + " of " + std::to_string(writes) + " mode " +
                                  std::to_string(static_cast<int>(mode));
        const std::string root = dir / ("cut-" + std::to_string(k) + "-" + std::to_string(static_cast<int>(mode)));
        CMemoryDevice device = BuildDisk(c.routines, c.full, c.sizes);
        CFaultyDevice faulty(device, k, mode);
        EXPECT_THROW(Run(c, faulty, root), CUsbDeviceException) << where;

        const std::optional<ReferenceReading> reading = ReferenceReadTable(device);
        ASSERT_TRUE(reading && reading->valid) << where << ": not a well-formed disk";
        const bool pending = EditPending("memory disk", root);
        const auto& table = reading->table;
        if (*reading == oldReading) {
          CheckBytes(device, table, oldBytes, where + " (old show)");
        } else if (*reading == newReading) {
          CheckBytes(device, table, newBytes, where + " (new show)");
        } else {
          ASSERT_TRUE(pending) << where << ": neither show, and no record";
          ASSERT_LE(table.size(), newReading.table.size()) << where;
          ASSERT_TRUE(std::equal(table.begin(), table.end(), newReading.table.begin())) << where << ": not a prefix";
          CheckBytes(device, table, newBytes, where + " (prefix)");
          ++prefixes;
        }
        // The next open finishes it; the disk then holds the new show, or
        // still the old one when the edit had not begun.
        const RecoveryOutcome outcome = FinishEdit(device, Options(root));
        EXPECT_EQ(outcome == RecoveryOutcome::kNothingPending, !pending) << where;
        const ReferenceReading after = *ReferenceReadTable(device);
        if (outcome == RecoveryOutcome::kNotStarted || (!pending && after == oldReading)) {
          EXPECT_EQ(after, oldReading) << where;
        } else {
          ASSERT_EQ(after, newReading) << where << ", recovered";
          CheckBytes(device, after.table, newBytes, where + ", recovered");
        }
        EXPECT_FALSE(EditPending("memory disk", root)) << where;
      }
    }
  }

  test::CScratchDir dir;
  std::vector<std::string> files;
};

TEST_F(RoutineEditTest, EveryEditKindCutAtEveryWrite) {
  const std::vector<EditCase> cases = {
      {"remove the first", 6, [](CRoutineEdit& e, auto&) { e.Remove({0}); }},
      {"remove 2 and 5", 6, [](CRoutineEdit& e, auto&) { e.Remove({1, 4}); }},
      {"remove the last", 6, [](CRoutineEdit& e, auto&) { e.Remove({5}); }},
      {"move the first to the end", 6, [](CRoutineEdit& e, auto&) { e.Move(0, 5); }},
      {"move the last to the front", 6, [](CRoutineEdit& e, auto&) { e.Move(5, 0); }},
      {"replace 3 by a longer file", 6, [](CRoutineEdit& e, auto& f) { e.Replace(2, f[0]); }},
      {"insert two files at 2", 6, [](CRoutineEdit& e, auto& f) { e.Insert(1, {f[0], f[1]}); }},
      {"insert into an empty disk", 0, [](CRoutineEdit& e, auto& f) { e.Insert(0, {f[1]}); }},
      {"retitle", 6, [](CRoutineEdit& e, auto&) { e.Retitle(2, "New title"); }},
      {"settings in two table sectors", 10,
       [](CRoutineEdit& e, auto&) {
         e.ChangeSettings(1, {.frameRate = 40, .baudCode = 4, .protocol = {}, .controllerSettings = {}});
         e.ChangeSettings(9, {.frameRate = {}, .baudCode = {}, .protocol = 2, .controllerSettings = {}});
       }},
      {"several at once", 10,
       [](CRoutineEdit& e, auto& f) {
         e.Remove({1, 6});
         e.Move(3, 0);
         e.Insert(5, {f[1]});
         e.Retitle(0, "Opening");
         e.ChangeSettings(2, {.frameRate = 25, .baudCode = {}, .protocol = {}, .controllerSettings = {}});
       }},
      {"remove the first of a full disk", 6, [](CRoutineEdit& e, auto&) { e.Remove({0}); }, true},
      {"swap two of one size", 3, [](CRoutineEdit& e, auto&) { e.Move(0, 1); }, false, {600}},
  };
  int prefixes = 0;
  for (const EditCase& c : cases) Sweep(c, prefixes);
  EXPECT_GT(prefixes, 100) << "too few cuts left a prefix to finish";
}

// Each refusal comes before the first write: the disk reads as before.
TEST_F(RoutineEditTest, RefusalsLeaveTheDiskAsItIs) {
  const std::string root = dir / "records";
  const auto cutAfterPrefix = [&](CMemoryDevice& device) {
    // An edit cut once the disk shows the prefix: a record is pending.
    CFaultyDevice faulty(device, 4);
    EXPECT_THROW(Run({"", 6, [](CRoutineEdit& e, auto&) { e.Remove({0}); }}, faulty, root), CUsbDeviceException);
  };
  const std::string recordDir = CEditRecord::DirectoryFor(root, "memory disk");
  struct Refusal {
    std::string name;
    std::function<void(CMemoryDevice&)> before;  // sets the scene (may write)
    std::function<void(CMemoryDevice&)> action;
    std::string message;
    bool full = false;
  };
  const auto edit = [&](std::function<void(CRoutineEdit&)> build) {
    return [this, build, root](CMemoryDevice& device) {
      CVornDisk disk(device, nullptr);
      disk.ReadTable();
      CRoutineEdit e(disk.Table());
      build(e);
      ApplyEdit(disk, e, Options(root));
    };
  };
  const auto nothing = [](CMemoryDevice&) {};
  const std::vector<Refusal> refusals = {
      {"longer routine on a full disk", nothing, edit([&](CRoutineEdit& e) { e.Replace(1, files[0]); }),
       "more sectors (", true},
      {"title character", nothing, edit([](CRoutineEdit& e) { e.Retitle(0, "Caf\xC3\xA9 \xE2\x9C\x93"); }),
       "'\xE2\x9C\x93' (U+2713) cannot be stored"},
      {"17 characters", nothing, edit([](CRoutineEdit& e) { e.Retitle(0, "Seventeen chars!!"); }), "at most 16"},
      {"remove a routine that is not there", nothing, edit([](CRoutineEdit& e) { e.Remove({6}); }),
       "no routine 7"},
      {"the same routine twice", nothing, edit([](CRoutineEdit& e) { e.Remove({2, 2}); }), "named twice"},
      {"move beyond the end", nothing, edit([](CRoutineEdit& e) { e.Move(0, 6); }), "no routine 7"},
      {"insert beyond the end", nothing, edit([this](CRoutineEdit& e) { e.Insert(8, {files[1]}); }),
       "no routine 9"},
      {"a new edit while one is pending", cutAfterPrefix, edit([this](CRoutineEdit& e) { e.Insert(0, {files[1]}); }),
       "waiting to be finished"},
      {"a damaged record", [&](CMemoryDevice& d) {
         cutAfterPrefix(d);
         std::fstream plan(recordDir + "/plan", std::ios::in | std::ios::out | std::ios::binary);
         plan.seekp(40);
         plan.put('\x55');
       }, [&](CMemoryDevice& d) { FinishEdit(d, Options(root)); }, "is damaged"},
      {"a record of another disk", [&](CMemoryDevice& d) {
         cutAfterPrefix(d);
         std::filesystem::rename(recordDir, CEditRecord::DirectoryFor(root, "other disk"));
       }, [&](CMemoryDevice& d) {
         EditOptions options = Options(root);
         options.identity = "other disk";
         FinishEdit(d, options);
       }, "belongs to another disk"},
      {"a stale record", [&](CMemoryDevice& d) {
         cutAfterPrefix(d);
         CVornDisk disk(d, nullptr);
         disk.ReadTable();
         disk.Format();  // the disk changed since
       }, [&](CMemoryDevice& d) { FinishEdit(d, Options(root)); }, "does not match"},
  };
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.name);
    std::filesystem::remove_all(root);
    CMemoryDevice device = BuildDisk(6, r.full);
    r.before(device);
    const Bytes bytes = device.Bytes();
    try {
      r.action(device);
      ADD_FAILURE() << "not refused";
    } catch (const std::exception& error) {
      EXPECT_NE(std::string(error.what()).find(r.message), std::string::npos) << error.what();
    }
    EXPECT_TRUE(device.Bytes() == bytes) << "the disk was written";
  }

  // The edges of a title: empty and 16 characters are taken.
  std::filesystem::remove_all(root);
  for (const std::string title : {"", "Sixteen chars!!!"}) {
    CMemoryDevice device = BuildDisk(6, true);
    edit([&](CRoutineEdit& e) { e.Retitle(3, title); })(device);
    EXPECT_EQ(ReferenceReadTable(device)->table[3].Title(), title);
  }

  // Two programs editing one image: the second is refused at once.
  const std::string image = dir / "disk.img";
  test::WriteBytes(image, BuildDisk(6, false).Bytes());
  CImageDevice first(image);
  first.Open(CImageDevice::EntryFor(image));
  CImageDevice second(image);
  EXPECT_THROW(second.Open(CImageDevice::EntryFor(image)), CUsbDeviceException);
}

}  // namespace
}  // namespace vorn
