// Plain decoders of what the kernel hands the scanner: no file access here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pbaloader::host {

std::string trimmed(std::string_view s);

// The whole-disk names the scanner lists, with the order the kernel gives
// them (sdz before sdaa, nvme0n2 before nvme0n10); nullopt for every other
// block device: partitions, loop, zram, dm, md, ram, sr, nbd, mmc boot areas,
// the hidden per-path nodes of multipath NVMe (nvme0c0n1).
struct DiskNameKey {
  std::string family;
  std::vector<std::uint64_t> index;
  auto operator<=>(const DiskNameKey&) const = default;
};
std::optional<DiskNameKey> wholeDiskName(std::string_view name);

// A mountinfo line as the kernel writes it (see proc(5)).
struct MountEntry {
  std::uint32_t major = 0, minor = 0;
  std::string mountPoint;  // octal escapes resolved
  std::string fsType;
  std::string source;
};
std::vector<MountEntry> parseMountInfo(std::string_view text);

// "8:16" -> {8, 16}
std::optional<std::pair<std::uint32_t, std::uint32_t>> parseDevNumber(std::string_view text);

// Unit serial number VPD page (80h): a four-byte header, then the text.
std::string vpdUnitSerial(std::string_view page);

// The ATA Information VPD page (89h) carries the drive's IDENTIFY DEVICE
// data at byte 60; its strings are stored two bytes to a word, swapped.
struct AtaIdentity {
  std::string model, serial, firmware;
};
std::optional<AtaIdentity> vpdAtaIdentity(std::string_view page);

}  // namespace pbaloader::host
