// The whole disks of the Linux machine the tool runs on, as the kernel shows
// them (sysfs, libudev, libblkid, the mount table). Plain records: the Linux
// platform turns them into the drives, management objects, device interfaces,
// partitions and volumes that the tool queries.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace pbaloader::host {

// How the disk is attached, judged from its sysfs ancestry.
enum class Bus { Usb, Ata, Nvme, Scsi, Virtio, Mmc, Other };

struct HostPartition {
  std::uint32_t number = 0;  // the kernel's partition number (sdb1 -> 1)
  std::string node;          // /dev/sdb1
  std::uint64_t start = 0;   // byte offset on the disk
  std::uint64_t length = 0;  // bytes
  std::string type;          // MBR: "0x0c"; GPT: type GUID, lower case
  std::string uuid;          // GPT: the partition's GUID; MBR: empty
  std::string name;          // GPT partition name
  std::string fsType;        // file system or other signature found on it, empty if none
  std::vector<std::string> mountPoints;  // where it is mounted now, in mount-table order
  bool operator==(const HostPartition&) const = default;
};

struct HostDisk {
  std::string name;  // kernel name: sdb, nvme0n1, mmcblk0, vda
  std::string node;  // /dev/sdb
  std::uint32_t major = 0, minor = 0;
  std::uint64_t size = 0;                  // bytes
  std::uint32_t logicalSectorSize = 512;   // queue/logical_block_size
  std::uint32_t physicalSectorSize = 512;  // queue/physical_block_size
  Bus bus = Bus::Other;
  bool removable = false;   // sysfs "removable"
  bool holdsRoot = false;   // the running system's root file system lives on it
  bool usesLibata = false;  // an ATA device behind libata (SATA/PATA), so SAT pass-through works
  // Identity as the kernel reports it (sysfs device/vendor, model, rev,
  // serial, firmware_rev, wwid; udev properties where present), blanks trimmed.
  // SCSI-attached disks: INQUIRY vendor, model and revision, serial from the
  // unit serial VPD page (firmware = revision). libata disks: model, serial
  // and firmware from IDENTIFY DEVICE (the ATA information VPD page). NVMe:
  // the controller's model, serial, firmware_rev. MMC: manfid, name, serial,
  // fwrev. virtio-blk: serial only. usb-storage reads no VPD pages, so a
  // stick behind it has no serial here; its USB serial is usbSerial.
  std::string vendor, model, revision, serial, firmware;
  std::optional<std::uint16_t> usbVendorId, usbProductId;  // the USB device's idVendor/idProduct
  std::string usbSerial;                                   // the USB device's iSerial text
  std::string partitionStyle = "none";                     // "mbr", "gpt" or "none"
  std::uint32_t mbrSignature = 0;
  std::string gptDiskId;                  // lower case, no braces
  std::vector<HostPartition> partitions;  // in partition-number order
  // A signature on the whole disk (a stick formatted without a partition
  // table) and where the whole disk itself is mounted.
  std::string fsType;
  std::vector<std::string> mountPoints;
  // Devices stacked on the disk or its partitions (dm-0, md127): they hold
  // it even where nothing is mounted.
  std::vector<std::string> holders;
  bool operator==(const HostDisk&) const = default;
};

// Where the scanner reads the kernel's data; tests point it at recorded trees.
// libudev reads the live /sys; the scanner keeps its decisions above a thin
// reader so that they run against recorded trees too.
struct ScanRoots {
  std::filesystem::path sys = "/sys";
  std::filesystem::path dev = "/dev";
  std::filesystem::path mountInfo = "/proc/self/mountinfo";
};

// Every whole disk (SCSI disks, NVMe namespaces, MMC, virtio), in kernel-name
// order; never partitions, loop, zram, device-mapper, md, ram or optical
// devices. Nothing is opened for writing.
std::vector<HostDisk> scanHostDisks(const ScanRoots& roots = {});

}  // namespace pbaloader::host
