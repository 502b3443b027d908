#include "platform/linux/scan/scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "platform/linux/scan/host_disks.h"

namespace pbaloader::host {

// Found by gtest through the argument's namespace.
void PrintTo(const HostPartition& p, std::ostream* os) {
  *os << "{" << p.number << " " << p.node << " " << p.start << "+" << p.length << " type=" << p.type
      << " uuid=" << p.uuid << " name=" << p.name << " fs=" << p.fsType << " mounts=";
  for (const auto& m : p.mountPoints) *os << m << ";";
  *os << "}";
}

namespace {

namespace fs = std::filesystem;

const fs::path kFixtures = PBA_LINUX_SYSFS_FIXTURES;

ScanRoots machine(const std::string& name) {
  const fs::path root = kFixtures / name;
  return ScanRoots{root / "sys", root / "dev", root / "mountinfo"};
}

std::map<std::string, HostDisk> byName(const std::vector<HostDisk>& disks) {
  std::map<std::string, HostDisk> map;
  for (const auto& d : disks) map[d.name] = d;
  return map;
}

std::vector<std::string> names(const std::vector<HostDisk>& disks) {
  std::vector<std::string> n;
  for (const auto& d : disks) n.push_back(d.name);
  return n;
}

TEST(ScanHostDisks, ListsWholeDisksOnlyInKernelOrder) {
  // Left out: partitions, sr0, loop0, zram0, nbd0, ram0, dm-0, md0, the
  // hidden NVMe path nvme0c0n1, the eMMC boot areas and the card reader
  // without a medium (sdd).
  EXPECT_EQ(
      names(scanHostDisks(machine("workstation"))),
      (std::vector<std::string>{"mmcblk0", "nvme0n1", "nvme1n1", "sda", "sdb", "sdc", "vda"}));
}

struct IdentityRow {
  const char* name;
  Bus bus;
  bool usesLibata, removable, holdsRoot;
  const char *vendor, *model, *revision, *serial, *firmware;
  std::uint64_t size;
  std::uint32_t logical, major, minor;
};

TEST(ScanHostDisks, JudgesBusAndReadsIdentityOfEveryKind) {
  const IdentityRow rows[] = {
      // SATA on AHCI: the whole model, serial and firmware from IDENTIFY.
      {"sda", Bus::Ata, true, false, true, "ATA", "Kestrel SSD 900 1TB", "2B6Q", "S5KX1234567890A",
       "SVT02B6Q", 1953525168ull * 512, 512, 8, 0},
      // usb-storage: no VPD pages.
      {"sdb", Bus::Usb, false, true, false, "Lumen", "FlashKey 3.2", "1.00", "", "1.00", 256 * 512,
       512, 8, 16},
      // SCSI through a virtio adapter is SCSI, not virtio.
      {"sdc", Bus::Scsi, false, false, false, "QEMU", "QEMU HARDDISK", "2.5+", "scsi-data-0",
       "2.5+", 67108864ull * 512, 512, 8, 32},
      // Multipath NVMe: identity from the subsystem, blanks trimmed.
      {"nvme0n1", Bus::Nvme, false, false, false, "", "Osprey NVMe 2TB", "", "OSP22A0B1C2",
       "3B2QGXA7", 512 * 512, 512, 259, 0},
      {"nvme1n1", Bus::Nvme, false, false, false, "", "Osprey NVMe 512GB", "", "OSP51X9", "1.2.0",
       1000215216ull * 512, 4096, 259, 3},
      {"mmcblk0", Bus::Mmc, false, false, false, "0x000015", "BJTD4R", "", "0x2f8c41a0",
       "0x0300000000000000", 61071360ull * 512, 512, 179, 0},
      {"vda", Bus::Virtio, false, false, false, "", "", "", "vol-7f3a", "", 256 * 512, 512, 254, 0},
  };
  auto disks = byName(scanHostDisks(machine("workstation")));
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    ASSERT_TRUE(disks.count(r.name));
    const HostDisk& d = disks[r.name];
    EXPECT_EQ(d.bus, r.bus);
    EXPECT_EQ(d.usesLibata, r.usesLibata);
    EXPECT_EQ(d.removable, r.removable);
    EXPECT_EQ(d.holdsRoot, r.holdsRoot);
    EXPECT_EQ(d.vendor, r.vendor);
    EXPECT_EQ(d.model, r.model);
    EXPECT_EQ(d.revision, r.revision);
    EXPECT_EQ(d.serial, r.serial);
    EXPECT_EQ(d.firmware, r.firmware);
    EXPECT_EQ(d.size, r.size);
    EXPECT_EQ(d.logicalSectorSize, r.logical);
    EXPECT_EQ(d.major, r.major);
    EXPECT_EQ(d.minor, r.minor);
    EXPECT_EQ(d.node, (kFixtures / "workstation" / "dev" / r.name).string());
    EXPECT_EQ(d.usbVendorId.has_value(), r.bus == Bus::Usb);
  }
  EXPECT_EQ(disks["sdb"].usbVendorId, 0x1a2b);
  EXPECT_EQ(disks["sdb"].usbProductId, 0x3c4d);
  EXPECT_EQ(disks["sdb"].usbSerial, "0401f2a9c8e1d7");
}

TEST(ScanHostDisks, ReadsMbrAndGptLayoutsWithSignaturesAndMounts) {
  auto disks = byName(scanHostDisks(machine("workstation")));
  const fs::path dev = kFixtures / "workstation" / "dev";

  const HostDisk& stick = disks["sdb"];
  EXPECT_EQ(stick.partitionStyle, "mbr");
  EXPECT_EQ(stick.mbrSignature, 0x5e1f0c2au);
  EXPECT_EQ(stick.fsType, "");
  EXPECT_EQ(stick.partitions, (std::vector<HostPartition>{{1,
                                                           (dev / "sdb1").string(),
                                                           8 * 512,
                                                           248 * 512,
                                                           "0x0c",
                                                           "",
                                                           "",
                                                           "vfat",
                                                           {"/media/user/KEY 32", "/mnt/again"}}}));

  const HostDisk& nvme = disks["nvme0n1"];
  EXPECT_EQ(nvme.partitionStyle, "gpt");
  EXPECT_EQ(nvme.gptDiskId, "3f1a6c2e-9b0d-4e57-8a21-6d4c0b9e7f13");
  EXPECT_EQ(nvme.partitions, (std::vector<HostPartition>{{1,
                                                          (dev / "nvme0n1p1").string(),
                                                          40 * 512,
                                                          200 * 512,
                                                          "c12a7328-f81f-11d2-ba4b-00a0c93ec93b",
                                                          "8d2e4b61-0c7a-4f38-9e15-a2b3c4d5e6f7",
                                                          "EFI system",
                                                          "vfat",
                                                          {}},
                                                         {2,
                                                          (dev / "nvme0n1p2").string(),
                                                          240 * 512,
                                                          200 * 512,
                                                          "0fc63daf-8483-4772-8e79-3d69d8477de4",
                                                          "1b2c3d4e-5f60-4718-8293-a4b5c6d7e8f9",
                                                          "data",
                                                          "",
                                                          {}}}));

  // A file system on the whole disk, without a partition table, mounted.
  const HostDisk& bare = disks["vda"];
  EXPECT_EQ(bare.partitionStyle, "none");
  EXPECT_TRUE(bare.partitions.empty());
  EXPECT_EQ(bare.fsType, "vfat");
  EXPECT_EQ(bare.mountPoints, std::vector<std::string>{"/mnt/bare"});

  // Without a readable node, the kernel's partitions still show, with what
  // is mounted on them.
  const HostDisk& sata = disks["sda"];
  EXPECT_EQ(sata.partitionStyle, "none");
  EXPECT_EQ(
      sata.partitions,
      (std::vector<HostPartition>{
          {1, (dev / "sda1").string(), 2048 * 512, 1048576 * 512, "", "", "", "", {"/boot/efi"}},
          {2,
           (dev / "sda2").string(),
           1050624ull * 512,
           1952474511ull * 512,
           "",
           "",
           "",
           "",
           {"/"}}}));
  EXPECT_EQ(disks["mmcblk0"].partitions.at(0).node, (dev / "mmcblk0p1").string());

  EXPECT_EQ(disks["sdc"].holders, std::vector<std::string>{"dm-0"});
  EXPECT_TRUE(stick.holders.empty());
}

TEST(ScanHostDisks, FindsTheRootDisksThroughStackedDevices) {
  // btrfs on LVM on RAID1: the root's device number is anonymous, its
  // source names the mapper device, which rests on md127, on sda1 and sdb1.
  auto raid = byName(scanHostDisks(machine("raidroot")));
  ASSERT_EQ(raid.size(), 3u);
  EXPECT_TRUE(raid["sda"].holdsRoot);
  EXPECT_TRUE(raid["sdb"].holdsRoot);
  EXPECT_FALSE(raid["sdc"].holdsRoot);
  EXPECT_EQ(raid["sda"].holders, std::vector<std::string>{"md127"});
  // uas: a USB disk that reports itself fixed and has a unit serial page.
  EXPECT_EQ(raid["sdc"].bus, Bus::Usb);
  EXPECT_FALSE(raid["sdc"].removable);
  EXPECT_EQ(raid["sdc"].serial, "AA00000000001234");
  EXPECT_EQ(raid["sdc"].usbProductId, 0x3c4e);

  // An initramfs root: no disk beneath it.
  for (const auto& d : scanHostDisks(machine("initramfs"))) EXPECT_FALSE(d.holdsRoot) << d.name;

  // The whole disk mounted as root, recorded on a real virtual machine.
  auto live = scanHostDisks(machine("live-vm"));
  ASSERT_EQ(names(live), std::vector<std::string>{"vda"});
  EXPECT_TRUE(live[0].holdsRoot);
  EXPECT_EQ(live[0].bus, Bus::Virtio);
  EXPECT_EQ(live[0].mountPoints, std::vector<std::string>{"/"});
}

TEST(ScanHostDisks, InitramfsWithoutUdevStillKnowsTheStick) {
  auto disks = scanHostDisks(machine("initramfs"));
  ASSERT_EQ(names(disks), (std::vector<std::string>{"sda", "vda"}));
  EXPECT_EQ(disks[0].bus, Bus::Usb);
  EXPECT_TRUE(disks[0].removable);
  EXPECT_EQ(disks[0].model, "QEMU HARDDISK");
  EXPECT_EQ(disks[0].usbVendorId, 0x46f4);
  EXPECT_EQ(disks[1].bus, Bus::Virtio);
}

// The recorded tree must be read exactly as libudev reads the live one.
TEST(LiveSysfs, TreeReaderAgreesWithLibudev) {
  if (!fs::exists("/sys/class/block")) GTEST_SKIP() << "no sysfs here";
  auto udev = makeUdevSource();
  auto tree = makeTreeSource("/sys");
  auto fromUdev = udev->blockDevices();
  auto fromTree = tree->blockDevices();
  auto bySyspath = [](const SysNode& a, const SysNode& b) { return a.syspath < b.syspath; };
  std::sort(fromUdev.begin(), fromUdev.end(), bySyspath);
  std::sort(fromTree.begin(), fromTree.end(), bySyspath);
  ASSERT_FALSE(fromUdev.empty());
  ASSERT_EQ(fromUdev, fromTree);
  for (const auto& node : fromUdev) {
    SCOPED_TRACE(node.syspath);
    auto a = udev->parent(node);
    auto b = tree->parent(node);
    while (a || b) {
      ASSERT_EQ(a, b);
      EXPECT_EQ(udev->attribute(*a, "uevent"), tree->attribute(*b, "uevent"));
      a = udev->parent(*a);
      b = tree->parent(*b);
    }
    for (const char* attr :
         {"dev", "size", "removable", "queue/logical_block_size", "device/vendor"}) {
      EXPECT_EQ(udev->attribute(node, attr), tree->attribute(node, attr)) << attr;
    }
  }
  ScanRoots live;
  EXPECT_EQ(scanDisks(*udev, live), scanDisks(*tree, live));
}

}  // namespace
}  // namespace pbaloader::host
