// The simulated machine's raw disks, paths and backing stores: what the
// conformance table cannot reach because Wine has no raw disks.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/winconst.h"
#include "support/sim_fixture.h"

namespace pbaloader {
namespace {

using testing::SimMachine;
constexpr std::uint32_t ReadWrite = win::GenericRead | win::GenericWrite;
constexpr std::uint32_t ShareRW = win::FileShareRead | win::FileShareWrite;

sim::Json oneDisk(std::uint64_t size, sim::Json extra = sim::Json::object()) {
  sim::Json disk = {{"number", 2}, {"size", size}};
  disk.update(extra);
  return {{"drives", {{"C:", "c"}}}, {"currentDirectory", "C:\\Work"}, {"disks", {disk}}};
}

os::Handle openDisk(SimMachine& m, std::uint32_t share = ShareRW) {
  return m->files.createFileW(u"\\\\.\\PhysicalDrive2", ReadWrite, share, win::OpenExisting, 0)
      .value;
}

void seek(SimMachine& m, os::Handle h, std::uint64_t offset) {
  const std::int32_t high = static_cast<std::int32_t>(offset >> 32);
  ASSERT_EQ(
      m->files.setFilePointer(h, static_cast<std::int32_t>(offset), &high, win::FileBegin).error,
      0u);
}

struct RawCase {
  const char* name;
  std::uint64_t offset;
  std::uint32_t size;
  bool write;
  bool ok;
  std::uint32_t count;
  std::uint32_t error;
};

class RawDiskIo : public ::testing::TestWithParam<RawCase> {};

// A 1 MiB disk with 512-byte sectors.
TEST_P(RawDiskIo, MovesWholeSectorsInsideTheDisk) {
  const RawCase& c = GetParam();
  SimMachine m(oneDisk(1 << 20));
  const os::Handle h = openDisk(m);
  ASSERT_NE(h, os::InvalidHandle);
  seek(m, h, c.offset);
  std::vector<std::uint8_t> buffer(c.size, 0x5A);
  const os::Transfer t = c.write ? m->files.writeFile(h, buffer.data(), c.size)
                                 : m->files.readFile(h, buffer.data(), c.size);
  EXPECT_EQ(t.ok, c.ok);
  EXPECT_EQ(t.count, c.count);
  EXPECT_EQ(t.error, c.error);
  EXPECT_EQ(m->files.object(h)->position, c.offset + (c.ok ? c.count : 0));
  m->files.closeHandle(h);
}

INSTANTIATE_TEST_SUITE_P(
    Sim, RawDiskIo,
    ::testing::Values(
        RawCase{"ReadInside", 4096, 8192, false, true, 8192, 0},
        RawCase{"ReadCrossingTheEndIsCut", (1 << 20) - 512, 8192, false, true, 512, 0},
        RawCase{"ReadAtTheEndGivesZero", 1 << 20, 512, false, true, 0, 0},
        RawCase{"ReadPastTheEndGivesZero", 2 << 20, 512, false, true, 0, 0},
        RawCase{"ReadOfPartSectorRejected", 0, 3048, false, false, 0, 87},
        RawCase{"ReadAtPartSectorRejected", 100, 512, false, false, 0, 87},
        RawCase{"WriteInside", 0, 8192, true, true, 8192, 0},
        RawCase{"WriteOfPartSectorRejected", 0, 1000, true, false, 0, 87},
        RawCase{"WriteCrossingTheEndFails", (1 << 20) - 512, 1024, true, false, 0, 27},
        RawCase{"WriteAtTheEndFails", 1 << 20, 512, true, false, 0, 27}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SimDisk, FailedWriteLeavesTheDiskAndPositionAsTheyWere) {
  SimMachine m(oneDisk(1 << 20, {{"faults", {{"failWritesFrom", 8192}}}}));
  const os::Handle h = openDisk(m);
  std::vector<std::uint8_t> ones(8192, 1);
  EXPECT_TRUE(m->files.writeFile(h, ones.data(), 8192).ok);
  const auto t = m->files.writeFile(h, ones.data(), 8192);
  EXPECT_FALSE(t.ok);
  EXPECT_EQ(t.error, 1117u);
  EXPECT_EQ(m->files.object(h)->position, 8192u);
  std::vector<std::uint8_t> back(8192, 9);
  ASSERT_TRUE(m->disks[0].store->read(8192, back.data(), 8192));
  EXPECT_EQ(back, std::vector<std::uint8_t>(8192, 0));
  const auto& log = m->files.diskLog(0);
  ASSERT_EQ(log.writes.size(), 2u);
  EXPECT_TRUE(log.writes[0].ok);
  EXPECT_FALSE(log.writes[1].ok);
  EXPECT_EQ(log.writes[1].offset, 8192u);
  m->files.closeHandle(h);
}

TEST(SimDisk, FlippedByteReadsBackChangedButStaysOnTheDisk) {
  SimMachine m(oneDisk(1 << 20, {{"faults", {{"flipByteOnReadAt", 1000}}}}));
  const os::Handle h = openDisk(m);
  std::vector<std::uint8_t> buffer(1024);
  ASSERT_TRUE(m->files.readFile(h, buffer.data(), 1024).ok);
  EXPECT_EQ(buffer[1000], 0xFF);
  EXPECT_EQ(buffer[999], 0);
  std::uint8_t stored = 1;
  ASSERT_TRUE(m->disks[0].store->read(1000, &stored, 1));
  EXPECT_EQ(stored, 0);
  m->files.closeHandle(h);
}

TEST(SimDisk, InterfacePathSharesWithThePhysicalDrivePath) {
  SimMachine m(oneDisk(1 << 20));
  m->registerDevice(u"\\\\?\\usbstor#disk#1#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
                    sim::DeviceNode{sim::DeviceNode::Kind::DiskInterface, 0, 0});
  const os::Handle h = openDisk(m, 0);
  const auto other =
      m->files.createFileW(u"\\\\?\\USBSTOR#DISK#1#{53F56307-B6BF-11D0-94F2-00A0C91EFB8B}",
                           win::GenericRead, ShareRW, win::OpenExisting, 0);
  EXPECT_EQ(other.value, os::InvalidHandle);
  EXPECT_EQ(other.error, win::ErrorSharingViolation);
  const auto query =
      m->files.createFileW(u"\\\\.\\PHYSICALDRIVE2", 0, ShareRW, win::OpenExisting, 0);
  EXPECT_NE(query.value, os::InvalidHandle) << "an open without data access never conflicts";
  m->files.closeHandle(query.value);
  m->files.closeHandle(h);
  EXPECT_EQ(m->files.openHandleCount(), 0u);
}

TEST(SimDisk, BackingFileIsCreatedSparseAtTheDiskSizeAndKeepsWhatWasWritten) {
  SimMachine probe;
  const auto backing = probe.host() / "disk.img";
  const std::uint64_t size = std::uint64_t{16} << 30;
  {
    SimMachine m(oneDisk(size, {{"backing", backing.string()}}));
    EXPECT_EQ(std::filesystem::file_size(backing), size);
    struct stat st {};
    ASSERT_EQ(::stat(backing.c_str(), &st), 0);
    EXPECT_LT(static_cast<std::uint64_t>(st.st_blocks) * 512, std::uint64_t{1} << 20);
    const os::Handle h = openDisk(m);
    seek(m, h, size - 512);
    std::vector<std::uint8_t> tail(512, 0xA5);
    EXPECT_TRUE(m->files.writeFile(h, tail.data(), 512).ok);
    m->files.closeHandle(h);
  }
  SimMachine again(oneDisk(size, {{"backing", backing.string()}}));
  std::vector<std::uint8_t> back(512);
  ASSERT_TRUE(again->disks[0].store->read(size - 512, back.data(), 512));
  EXPECT_EQ(back, std::vector<std::uint8_t>(512, 0xA5));
}

TEST(SimDisk, LargeMemoryDiskReadsZerosWhereNothingWasWritten) {
  SimMachine m(oneDisk(std::uint64_t{2} << 40));
  const os::Handle h = openDisk(m);
  seek(m, h, (std::uint64_t{2} << 40) - 8192);
  std::vector<std::uint8_t> buffer(8192, 7);
  ASSERT_TRUE(m->files.readFile(h, buffer.data(), 8192).ok);
  EXPECT_EQ(buffer, std::vector<std::uint8_t>(8192, 0));
  m->files.closeHandle(h);
}

// --- Paths ----------------------------------------------------------------------

struct PathCase {
  const char* input;
  const char16_t* absolute;
};

TEST(SimPaths, AbsoluteFormsFollowTheCurrentDirectory) {
  SimMachine m(oneDisk(1 << 20));
  const PathCase cases[] = {
      {"s.txt", u"C:\\Work\\s.txt"},
      {".\\sub\\..\\s.txt", u"C:\\Work\\s.txt"},
      {"..\\..\\..\\x", u"C:\\x"},
      {"C:s.txt", u"C:\\Work\\s.txt"},
      {"\\top.bin", u"C:\\top.bin"},
      {"c:/Images//a.bin", u"C:\\Images\\a.bin"},
      {"D:rel", u"D:\\rel"},
      {"\\\\?\\C:\\long\\p", u"C:\\long\\p"},
      {"\\\\.\\PHYSICALDRIVE2", u"\\\\.\\PHYSICALDRIVE2"},
  };
  for (const auto& c : cases) {
    os::WString wide;
    for (const char* p = c.input; *p; ++p) wide.push_back(static_cast<char16_t>(*p));
    EXPECT_EQ(m->files.absolutePath(wide), c.absolute) << c.input;
  }
}

TEST(SimPaths, ComponentsMatchWithoutRegardToCaseAndUnmappedDrivesAreMissingPaths) {
  SimMachine m(oneDisk(1 << 20));
  std::filesystem::create_directories(m.host() / "c" / "Work" / "Images");
  std::ofstream(m.host() / "c" / "Work" / "Images" / "PBA.bin") << "data";
  const auto h =
      m->files.createFileA("images\\pba.BIN", win::GenericRead, ShareRW, win::OpenExisting, 0);
  ASSERT_NE(h.value, os::InvalidHandle);
  EXPECT_EQ(m->files.object(h.value)->hostPath, m.host() / "c" / "Work" / "Images" / "PBA.bin");
  m->files.closeHandle(h.value);
  const auto d =
      m->files.createFileW(u"D:\\x.bin", win::GenericRead, ShareRW, win::OpenExisting, 0);
  EXPECT_EQ(d.error, win::ErrorPathNotFound);
  const auto dir =
      m->files.createFileW(u"C:\\Work", win::GenericRead, ShareRW, win::OpenExisting, 0);
  EXPECT_EQ(dir.error, win::ErrorAccessDenied) << "a folder is not a file";
}

TEST(SimPaths, CreatingInAFolderWithoutWritePermissionIsDenied) {
  SimMachine m(oneDisk(1 << 20));
  const auto work = m.host() / "c" / "Work";
  std::filesystem::create_directories(work);
  std::filesystem::permissions(work, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::remove);
  const auto r = m->files.createFileW(u"s.txt", win::GenericWrite, 0, win::CreateAlways,
                                      win::FileAttributeNormal);
  EXPECT_EQ(r.value, os::InvalidHandle);
  EXPECT_EQ(r.error, win::ErrorAccessDenied);
  EXPECT_FALSE(std::filesystem::exists(work / "s.txt"));
  std::filesystem::permissions(work, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);
}

TEST(SimPaths, FileFaultsAreKeyedByTheAbsolutePath) {
  sim::Json d = oneDisk(1 << 20);
  d["fileFaults"] = {{"c:\\work\\IMG.bin", {{"failReadsCount", 1}}}};
  SimMachine m(d);
  std::filesystem::create_directories(m.host() / "c" / "Work");
  std::ofstream(m.host() / "c" / "Work" / "img.bin") << "abcd";
  const auto h = m->files.createFileW(u"img.bin", win::GenericRead, ShareRW, win::OpenExisting, 0);
  char buffer[4];
  EXPECT_FALSE(m->files.readFile(h.value, buffer, 4).ok);
  const auto t = m->files.readFile(h.value, buffer, 4);
  EXPECT_TRUE(t.ok);
  EXPECT_EQ(std::string(buffer, t.count), "abcd");
  m->files.closeHandle(h.value);
}

TEST(SimPaths, FileFaultKeysAreUtf8) {
  sim::Json d = oneDisk(1 << 20);
  d["fileFaults"] = {{"C:\\Work\\Abbild-\xC3\xA4.bin", {{"failOpens", true}}}};
  SimMachine m(d);
  std::filesystem::create_directories(m.host() / "c" / "Work");
  std::ofstream(m.host() / "c" / "Work" / "Abbild-\xc3\xa4.bin") << "abcd";
  const auto h =
      m->files.createFileW(u"Abbild-\u00e4.bin", win::GenericRead, ShareRW, win::OpenExisting, 0);
  EXPECT_EQ(h.value, os::InvalidHandle);
  EXPECT_EQ(h.error, 32u);
}

}  // namespace
}  // namespace pbaloader
