// The thin reader under the disk scanner: the few questions it asks the
// kernel's device tree. One answer comes from libudev on the live /sys, one
// from a recorded copy of such a tree, so every decision above runs on both.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pbaloader::host {

// Only sysfs is asked, never the udev database: the scanner also runs in
// initramfs systems where udevd never ran and the database is empty.

// One device of the sysfs tree, as libudev describes it.
struct SysNode {
  std::string syspath;    // its directory, symbolic links resolved
  std::string sysname;    // last element of the path: sdb, 1-2, ata1
  std::string subsystem;  // "block", "scsi", "usb", ...; empty for devices that have none
  std::string devtype;    // DEVTYPE of its uevent: "disk", "partition", "usb_device", "ata_port"
  std::string driver;     // bound driver, empty if none
  bool operator==(const SysNode&) const = default;
};

class SysfsSource {
 public:
  virtual ~SysfsSource() = default;
  // Every block device: disks, partitions and virtual devices alike.
  virtual std::vector<SysNode> blockDevices() = 0;
  // The nearest ancestor that is a device of its own (has a uevent file).
  virtual std::optional<SysNode> parent(const SysNode& node) = 0;
  // A text attribute (relative path, may pass through links such as
  // "device/model"), without its trailing newline.
  virtual std::optional<std::string> attribute(const SysNode& node, const std::string& name) = 0;
};

// libudev attribute values are C strings, so binary attributes such as the
// VPD pages (their first byte is the peripheral qualifier, usually zero) and
// directory listings (slaves/, holders/) are read from the tree directly.
std::optional<std::string> readBinaryAttribute(const SysNode& node, const std::string& name);
std::vector<std::string> listEntries(const SysNode& node, const std::string& dir);

std::unique_ptr<SysfsSource> makeUdevSource();
// A recorded tree laid out as /sys is (class/block/..., devices/...).
std::unique_ptr<SysfsSource> makeTreeSource(const std::filesystem::path& sysRoot);

}  // namespace pbaloader::host
