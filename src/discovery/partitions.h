// The partitions of a drive that carry a volume: where they lie, their table
// identity, their volume GUID and drive letter.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/text.h"
#include "platform/layout/drive_layout.h"
#include "platform/layout/storage_device_number.h"
#include "platform/platform.h"

namespace pbaloader {

struct PartitionInfo {
  std::uint64_t startingOffset = 0;
  std::uint64_t partitionLength = 0;
  std::string driveLetter;      // "E:", or empty
  std::string partitionIdText;  // GPT: partitionId in UTF-8
  std::uint8_t style = 0;       // 1 GPT, 2 MBR
  std::uint8_t mbrType = 0;
  std::uint32_t diskNumber = 0;
  std::uint32_t partitionNumber = 0;
  std::uint32_t deviceType = 0;
  char16_t driveLetterChar = 0;
  WString partitionId;    // GPT: "{...}"
  WString volumeGuid;     // "{...}", lower case
  WString partitionType;  // GPT: "{...}"

  friend bool operator==(const PartitionInfo&, const PartitionInfo&) = default;
};

// DRIVE_LAYOUT_INFORMATION_EX with room for 128 entries.
inline constexpr std::size_t DriveLayoutBufferSize =
    layout::DriveLayoutEntriesOffset +
    layout::DriveLayoutMaxEntries * sizeof(layout::PartitionInformationEx);
static_assert(DriveLayoutBufferSize == 18480);

// An open disk and its drive layout.
class DiskHandle {
 public:
  // Opens the disk for reading and writing; the handle stays invalid on failure.
  explicit DiskHandle(WStringView path);
  ~DiskHandle();
  DiskHandle(const DiskHandle&) = delete;
  DiskHandle& operator=(const DiskHandle&) = delete;

  void close();
  // Reads the drive layout into layout(), first asking the driver to re-read
  // the partition table when refresh is set.
  bool readDriveLayout(bool refresh);

  const WString& path() const { return path_; }
  const std::vector<std::uint8_t>& layout() const { return layout_; }
  os::Handle handle() const { return handle_; }
  bool layoutValid() const { return layoutValid_; }
  // Bytes of layout() that the last read filled.
  std::uint32_t layoutBytes() const { return layoutBytes_; }

 private:
  WString path_;
  std::vector<std::uint8_t> layout_;
  os::Handle handle_ = os::InvalidHandle;
  bool layoutValid_ = false;
  std::uint32_t layoutBytes_ = 0;
};

// The partitions with a volume of the drive at a device path, in layout order.
std::vector<PartitionInfo> listPartitions(const std::string& path);
std::vector<PartitionInfo> listDiskPartitions(DiskHandle& disk);

// The volume GUID ("{...}", lower case) of the partition that the device
// number names, from the volume interfaces and else from MSFT_Partition;
// empty when not found.
WString findVolumeGuid(const layout::StorageDeviceNumber& number);
WString findVolumeGuidInStorage(const layout::StorageDeviceNumber& number);

void fillPartitionInfo(const layout::PartitionInformationEx& entry,
                       const layout::StorageDeviceNumber& disk, PartitionInfo& info);
// The one drive letter a volume is mounted at, 0 when none or several paths.
char16_t driveLetterOfVolume(WStringView volumeGuid);

WString formatGuid(const os::Guid& guid);
// Keeps the part from the first "{" to the first "}" after it.
void keepBraced(WString& text);
void toLowerWide(WString& text);
WString toLowerWide(WStringView text);

}  // namespace pbaloader
