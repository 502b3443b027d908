// The Linux host's own pieces: the machine made of the scan, raw I/O rules
// that must agree with the simulated machine, reads that bypass the page
// cache, the mount table and the refusal to run without root.
#include "platform/linux/host_platform.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "linux/loop_device.h"
#include "platform/linux/block_store.h"
#include "platform/linux/host_machine.h"
#include "platform/sim/machine.h"
#include "platform/winconst.h"
#include "support/sim_fixture.h"

namespace pbaloader {
namespace {

using host::Bus;
using host::HostDisk;
constexpr std::uint64_t MiB = 1 << 20;

HostDisk disk(Bus bus, bool removable = false, bool holdsRoot = false, bool libata = false) {
  HostDisk d;
  d.name = "sdx";
  d.node = "/dev/sdx";
  d.size = 64 * MiB;
  d.bus = bus;
  d.removable = removable;
  d.holdsRoot = holdsRoot;
  d.usesLibata = libata;
  d.vendor = "Maker";
  d.model = "Model";
  return d;
}

TEST(HostDescription, RemovalPolicyAndDriveKindFollowTheBus) {
  struct Case {
    const char* name;
    HostDisk disk;
    int policy;
    const char* kind;
  };
  const Case cases[] = {
      {"USB stick", disk(Bus::Usb), 3, "sat"},
      {"removable MMC card", disk(Bus::Mmc, true), 3, "scsi"},
      {"SATA disk behind libata", disk(Bus::Ata, false, false, true), 1, "ata"},
      {"NVMe namespace", disk(Bus::Nvme), 1, "nvme"},
      {"virtio disk", disk(Bus::Virtio), 1, "scsi"},
      {"USB disk with the root file system", disk(Bus::Usb, true, true), 1, "sat"},
  };
  for (const Case& c : cases) {
    const auto d = host::describeHost({c.disk}, {"/work", "/bin/pbaloader", ""});
    const auto& entry = d.at("disks").at(0);
    EXPECT_EQ(entry.at("removalPolicy"), c.policy) << c.name;
    EXPECT_EQ(entry.at("device").at("kind"), c.kind) << c.name;
    EXPECT_EQ(entry.at("devicePath"), "/dev/sdx") << c.name;
  }
}

TEST(HostDescription, PartitionsWithAFileSystemCarryAVolume) {
  HostDisk d = disk(Bus::Usb);
  d.partitionStyle = "mbr";
  d.mbrSignature = 0x1234;
  d.partitions = {{1, "/dev/sdx1", MiB, 8 * MiB, "0x0c", "", "", "vfat", {"/media/x"}},
                  {2, "/dev/sdx2", 9 * MiB, 8 * MiB, "0x05", "", "", "", {}},
                  {5, "/dev/sdx5", 10 * MiB, 4 * MiB, "0x83", "", "", "", {}}};
  testing::TempFolder folder;
  auto machine = host::buildHostMachine({d}, {folder.path().string(), "/bin/pbaloader", ""});
  const auto& layout = machine->setup.state().disks.at(0).layout;
  ASSERT_GE(layout.entries.size(), 3u);
  EXPECT_EQ(layout.mbrSignature, 0x1234u);
  EXPECT_TRUE(layout.entries[0].hasVolume);
  EXPECT_EQ(layout.entries[0].number, 1u);
  EXPECT_FALSE(layout.entries[1].hasVolume);  // the extended container
  EXPECT_EQ(layout.entries[1].number, 0u);
  EXPECT_FALSE(layout.entries[2].hasVolume);  // no file system on it
  EXPECT_EQ(layout.entries[2].number, 5u);
}

TEST(MountTable, FindsADeviceBySource) {
  testing::TempFolder folder;
  const auto table = folder.path() / "mountinfo";
  std::ofstream(table) << "22 1 0:21 / /proc rw - proc proc rw\n"
                       << "30 1 1:3 / / rw - ext4 /dev/ram3 rw\n"
                       << "41 30 0:50 / /mnt rw - vfat /dev/sdz1 rw\n";
  EXPECT_TRUE(host::anyMounted(table.string(), {"/dev/sdz1"}));
  EXPECT_FALSE(host::anyMounted(table.string(), {"/dev/sdz", "/dev/sdz2"}));
}

// One raw-disk row: opens, reads and writes, noted as text.
struct RawSteps {
  os::Platform& p;
  std::string log;
  void note(const std::string& text) { log += (log.empty() ? "" : "; ") + text; }
  os::Handle open(const std::string& path, std::uint32_t share) {
    const auto r = p.createFileA(path, win::GenericRead | win::GenericWrite, share,
                                 win::OpenExisting, win::FileAttributeNormal);
    note(r.value == os::InvalidHandle ? fmt::format("open fail {}", r.error) : "open ok");
    return r.value;
  }
  void seek(os::Handle h, std::uint64_t at) {
    std::int32_t high = static_cast<std::int32_t>(at >> 32);
    p.setFilePointer(h, static_cast<std::int32_t>(at), &high, win::FileBegin);
  }
  void read(os::Handle h, std::uint32_t size) {
    std::vector<char> buffer(size);
    const auto r = p.readFile(h, buffer.data(), size);
    note(r.ok ? fmt::format("read {}", r.count) : fmt::format("read fail {}", r.error));
  }
  void write(os::Handle h, std::uint32_t size) {
    const std::vector<char> buffer(size, 'w');
    const auto r = p.writeFile(h, buffer.data(), size);
    note(r.ok ? fmt::format("write {}", r.count) : fmt::format("write fail {}", r.error));
  }
};

// The same steps on a simulated disk and on a loop device must read alike.
TEST(RawDiskConformance, LoopDeviceAnswersAsTheSimulatedDisk) {
  constexpr std::uint64_t Size = 8 * MiB;
  testing::LoopDevice loop(Size);
  if (!loop.unavailable().empty()) GTEST_SKIP() << loop.unavailable();
  struct Row {
    const char* name;
    std::function<void(RawSteps&, const std::string&)> act;
    const char* expected;
  };
  const Row rows[] = {
      {"partial sectors are refused",
       [](RawSteps& s, const std::string& path) {
         const auto h = s.open(path, win::FileShareRead | win::FileShareWrite);
         s.read(h, 100);
         s.seek(h, 1);
         s.read(h, 512);
         s.write(h, 512);
         s.p.closeHandle(h);
       },
       "open ok; read fail 87; read fail 87; write fail 87"},
      {"reads are cut at the end, writes past it fail",
       [](RawSteps& s, const std::string& path) {
         const auto h = s.open(path, win::FileShareRead | win::FileShareWrite);
         s.seek(h, Size - 512);
         s.read(h, 1024);
         s.read(h, 512);
         s.seek(h, Size - 512);
         s.write(h, 1024);
         s.write(h, 512);
         s.p.closeHandle(h);
       },
       "open ok; read 512; read 0; write fail 27; write 512"},
      {"an exclusive open fails while another program holds the disk, a shared one works",
       [](RawSteps& s, const std::string& path) {
         s.p.closeHandle(s.open(path, 0));
         s.p.closeHandle(s.open(path, win::FileShareRead | win::FileShareWrite));
       },
       "open fail 32; open ok"},
  };
  for (const Row& row : rows) {
    std::string results[2];
    for (int onHost = 0; onHost < 2; ++onHost) {
      testing::TempFolder folder;
      std::unique_ptr<sim::Machine> machine;
      std::string path;
      int holder = -1;
      if (onHost) {
        machine = host::buildHostMachine({loop.asDisk(Bus::Usb, "Loop", "L1")},
                                         {folder.path().string(), "/bin/pbaloader", ""});
        path = loop.node();
        holder = ::open(path.c_str(), O_RDONLY | O_EXCL);
      } else {
        machine = sim::Machine::fromJson(
            {{"disks", {{{"size", Size}, {"faults", {{"heldOpenShared", true}}}}}}}, folder.path());
        path = "\\\\.\\PHYSICALDRIVE0";
      }
      // Only the last row has another program holding the disk.
      if (std::string(row.name).find("another program") == std::string::npos) {
        machine->files.diskFaults(0).heldOpenShared = false;
        if (holder >= 0) ::close(holder);
        holder = -1;
      }
      auto platform = onHost ? std::unique_ptr<os::Platform>(new host::HostPlatform(*machine))
                             : sim::makeSimPlatform(*machine);
      RawSteps steps{*platform, {}};
      row.act(steps, path);
      if (holder >= 0) ::close(holder);
      results[onHost] = steps.log;
    }
    EXPECT_EQ(results[0], row.expected) << row.name << " (simulated)";
    EXPECT_EQ(results[1], row.expected) << row.name << " (loop device)";
  }
}

TEST(BlockStore, ReadsTheDeviceNotThePageCache) {
  testing::LoopDevice loop(4 * MiB);
  if (!loop.unavailable().empty()) GTEST_SKIP() << loop.unavailable();
  loop.writeBacking(0, std::string(512, 'A'));
  // A buffered read fills the device's page cache with A; the descriptor
  // stays open, as the kernel drops the cache at the last close.
  const int fd = ::open(loop.node().c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  auto buffered = [&] {
    std::string bytes(512, '\0');
    return ::pread(fd, bytes.data(), bytes.size(), 0) == 512 ? bytes : std::string();
  };
  ASSERT_EQ(buffered(), std::string(512, 'A'));
  // ...then the bytes change underneath it.
  loop.writeBacking(0, std::string(512, 'B'));
  const bool stale = buffered() == std::string(512, 'A');
  auto store = host::openBlockStore({loop.node(), loop.size(), 512, true, {}, ""});
  std::string direct(512, '\0');
  const bool read = store->read(0, direct.data(), direct.size());
  ::close(fd);
  if (!stale) GTEST_SKIP() << "the page cache of " << loop.node() << " did not keep the old bytes";
  ASSERT_TRUE(read);
  EXPECT_EQ(direct, std::string(512, 'B'));
}

TEST(BlockStore, RootDiskIsNeverWritten) {
  testing::LoopDevice loop(4 * MiB);
  if (!loop.unavailable().empty()) GTEST_SKIP() << loop.unavailable();
  auto store = host::openBlockStore({loop.node(), loop.size(), 512, false, {}, ""});
  const std::string bytes(512, 'x');
  EXPECT_EQ(store->claim(win::GenericRead | win::GenericWrite, 3), win::ErrorAccessDenied);
  EXPECT_FALSE(store->write(0, bytes.data(), bytes.size()));
  EXPECT_EQ(loop.readBacking(0, 512), std::string(512, '\0'));
}

TEST(NonRoot, OneLineAndNonZeroStatusBeforeAnyDrive) {
  if (::geteuid() != 0) {
    // Already without root: the executable itself shows it.
    FILE* pipe = ::popen(PBA_LINUX_EXE " -l", "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
    const int status = ::pclose(pipe);
    EXPECT_EQ(out, host::NeedsRootLine);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    return;
  }
  for (const char* args : {" -l", " -d /dev/sdz -clear", ""}) {
    const std::string command =
        std::string("setpriv --reuid=65534 --regid=65534 --clear-groups ") + PBA_LINUX_EXE + args;
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
    const int status = ::pclose(pipe);
    EXPECT_EQ(out, host::NeedsRootLine) << args;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << args;
  }
}

TEST(ErrorTexts, EveryCodeAnErrnoBecomesHasAText) {
  testing::TempFolder folder;
  auto machine = host::buildHostMachine({}, {folder.path().string(), "/bin/pbaloader", ""});
  for (int e : {ENOENT, ENOTDIR, EACCES, EPERM, EBUSY, EINVAL, EIO, ENXIO, ENODEV, ENOMEDIUM,
                ETIMEDOUT, EROFS, EPIPE}) {
    const std::uint32_t code = sim::windowsErrorOfErrno(e);
    EXPECT_NE(machine->messages.texts.count(code), 0u) << "errno " << e << " -> " << code;
  }
  EXPECT_EQ(sim::windowsErrorOfErrno(EBUSY), win::ErrorSharingViolation);
  EXPECT_EQ(sim::windowsErrorOfErrno(ENOMEDIUM), win::ErrorDeviceNotConnected);
}

}  // namespace
}  // namespace pbaloader
