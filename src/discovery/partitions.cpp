#include "discovery/partitions.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>

#include "discovery/interface_walk.h"
#include "discovery/wmi.h"
#include "platform/winconst.h"

namespace pbaloader {
namespace {

constexpr std::uint32_t VolumeNameCapacity = 50;
constexpr WStringView VolumePathPrefix = u"\\\\?\\Volume{";

WString asciiToWide(std::string_view text) { return WString(text.begin(), text.end()); }

// The volume's name through its interface path, as "{guid}" in lower case;
// empty when the volume manager cannot name it.
WString volumeGuidOfInterface(const WString& devicePath) {
  char16_t buffer[VolumeNameCapacity] = {};
  const auto named = os::current().getVolumeNameForVolumeMountPointW(devicePath + u"\\", buffer,
                                                                     VolumeNameCapacity);
  if (!named.ok) return {};
  std::size_t length = 0;
  while (length < VolumeNameCapacity && buffer[length] != 0) ++length;
  WString name(buffer, length);
  toLowerWide(name);
  keepBraced(name);
  return name;
}

// "{guid}" in lower case from a text that holds one, or empty.
WString bracedLower(WString text) {
  toLowerWide(text);
  keepBraced(text);
  return text;
}

}  // namespace

DiskHandle::DiskHandle(WStringView path) {
  const auto opened = os::current().createFileW(path, win::GenericRead | win::GenericWrite,
                                                win::FileShareRead | win::FileShareWrite,
                                                win::OpenExisting, win::FileAttributeNormal);
  if (opened.value == os::InvalidHandle) return;
  path_ = WString(path);
  handle_ = opened.value;
}

DiskHandle::~DiskHandle() { close(); }

void DiskHandle::close() {
  if (handle_ != os::InvalidHandle) os::current().closeHandle(handle_);
  handle_ = os::InvalidHandle;
}

bool DiskHandle::readDriveLayout(bool refresh) {
  os::Platform& sys = os::current();
  // Makes the driver re-read the partition table; a failure leaves the old view.
  if (refresh) sys.deviceIoControl(handle_, win::IoctlDiskUpdateProperties, nullptr, 0, nullptr, 0);
  layout_.assign(DriveLayoutBufferSize, 0);
  const auto read = sys.deviceIoControl(handle_, win::IoctlDiskGetDriveLayoutEx, nullptr, 0,
                                        layout_.data(), static_cast<std::uint32_t>(layout_.size()));
  layoutValid_ = read.ok;
  layoutBytes_ = read.ok ? std::min<std::uint32_t>(read.count, DriveLayoutBufferSize) : 0;
  return layoutValid_;
}

std::vector<PartitionInfo> listPartitions(const std::string& path) {
  DiskHandle disk(toWide(path));
  return listDiskPartitions(disk);
}

std::vector<PartitionInfo> listDiskPartitions(DiskHandle& disk) {
  if (disk.handle() == os::InvalidHandle) return {};
  if (!disk.readDriveLayout(true)) return {};
  const auto& bytes = disk.layout();
  layout::DriveLayoutInformationExHeader header;
  std::memcpy(&header, bytes.data(), sizeof(header));
  if (header.partitionStyle != win::PartitionStyleMbr &&
      header.partitionStyle != win::PartitionStyleGpt)
    return {};
  const auto diskNumber = queryDeviceNumber(disk.handle());
  if (!diskNumber) return {};
  // The disk is not held open while its volumes are being opened.
  disk.close();

  // Only entries that the driver actually filled are read.
  const std::size_t filled = disk.layoutBytes() < layout::DriveLayoutEntriesOffset
                                 ? 0
                                 : (disk.layoutBytes() - layout::DriveLayoutEntriesOffset) /
                                       sizeof(layout::PartitionInformationEx);
  const std::size_t count = std::min<std::size_t>(header.partitionCount, filled);

  std::vector<PartitionInfo> partitions;
  for (std::size_t i = 0; i < count; ++i) {
    layout::PartitionInformationEx entry;
    std::memcpy(&entry,
                bytes.data() + layout::DriveLayoutEntriesOffset +
                    i * sizeof(layout::PartitionInformationEx),
                sizeof(entry));
    if (header.partitionStyle == win::PartitionStyleMbr && entry.mbr().partitionType == 0) continue;
    PartitionInfo info;
    layout::StorageDeviceNumber partition = *diskNumber;
    partition.partitionNumber = entry.partitionNumber;
    info.volumeGuid = findVolumeGuid(partition);
    fillPartitionInfo(entry, *diskNumber, info);
    if (!info.volumeGuid.empty()) partitions.push_back(std::move(info));
  }
  return partitions;
}

WString findVolumeGuid(const layout::StorageDeviceNumber& number) {
  {
    DeviceInterfaceWalk walk(GuidDevinterfaceVolume);
    if (!walk.valid()) return {};
    while (walk.next()) {
      if (walk.detail(false) == nullptr) continue;
      const WString devicePath = walk.devicePath();
      const auto volume = readDeviceNumber(devicePath);
      if (!volume) continue;
      if (volume->deviceNumber != number.deviceNumber ||
          volume->partitionNumber != number.partitionNumber)
        continue;
      // The partition's own volume decides, even when it cannot be named.
      return volumeGuidOfInterface(devicePath);
    }
  }
  return findVolumeGuidInStorage(number);
}

WString findVolumeGuidInStorage(const layout::StorageDeviceNumber& number) {
  WString answer;
  auto session = WmiSession::open(u"ROOT\\Microsoft\\Windows\\Storage");
  {
    WmiQuery query(*session, u"SELECT * FROM MSFT_Partition");
    while (WmiObject* object = query.next(win::WbemInfinite)) {
      const auto diskNumber = object->getInt32(u"DiskNumber");
      if (!diskNumber) continue;
      const auto partitionNumber = object->getInt32(u"PartitionNumber");
      if (!partitionNumber) continue;
      if (static_cast<std::uint32_t>(*diskNumber) != number.deviceNumber ||
          static_cast<std::uint32_t>(*partitionNumber) != number.partitionNumber)
        continue;

      os::Variant accessPaths;
      object->getVariant(u"AccessPaths", accessPaths);
      std::int32_t result = 0;
      if (auto paths = getStringArray(accessPaths, result)) {
        for (const WString& path : *paths) {
          if (!path.starts_with(VolumePathPrefix)) continue;
          answer = bracedLower(path);
          if (!answer.empty()) break;
        }
      } else if (auto guid = object->getWString(u"Guid")) {
        answer = bracedLower(*guid);
      }
      break;
    }
  }
  return answer;
}

void fillPartitionInfo(const layout::PartitionInformationEx& entry,
                       const layout::StorageDeviceNumber& disk, PartitionInfo& info) {
  info.startingOffset = static_cast<std::uint64_t>(entry.startingOffset);
  info.partitionLength = static_cast<std::uint64_t>(entry.partitionLength);
  info.partitionNumber = entry.partitionNumber;
  info.diskNumber = disk.deviceNumber;
  info.deviceType = disk.deviceType;
  if (entry.partitionStyle == win::PartitionStyleGpt) {
    const auto gpt = entry.gpt();
    info.style = 1;
    info.partitionId = formatGuid(gpt.partitionId);
    info.partitionIdText = toUtf8(info.partitionId);
    info.partitionType = formatGuid(gpt.partitionType);
  } else {
    info.style = 2;
    info.mbrType = entry.mbr().partitionType;
  }
  info.driveLetterChar = driveLetterOfVolume(info.volumeGuid);
  if (info.driveLetterChar != 0) info.driveLetter = toUtf8(WString(1, info.driveLetterChar)) + ":";
}

char16_t driveLetterOfVolume(WStringView volumeGuid) {
  os::Platform& sys = os::current();
  const WString name = u"\\\\?\\Volume" + WString(volumeGuid) + u"\\";
  std::uint32_t length = 0;
  const auto probe = sys.getVolumePathNamesForVolumeNameW(name, nullptr, 0, &length);
  if (!probe.ok && probe.error != win::ErrorMoreData) return 0;
  if (length == 0) return 0;
  std::vector<char16_t> names(length, 0);
  if (!sys.getVolumePathNamesForVolumeNameW(name, names.data(), length, &length).ok) return 0;
  const auto end = std::find(names.begin(), names.end(), u'\0');
  if (end == names.end()) return 0;
  const auto first = static_cast<std::size_t>(end - names.begin());
  // Exactly one path, and it is the root of a drive letter: a folder mount
  // point such as C:\mnt\stick\ does not give the volume the letter C.
  if (first + 2 == length && first == 3 && names[1] == u':' && names[2] == u'\\') return names[0];
  return 0;
}

WString formatGuid(const os::Guid& g) {
  return asciiToWide(
      fmt::format("{{{:08x}-{:04x}-{:04x}-{:02x}{:02x}-{:02x}{:02x}{:02x}{:02x}{:02x}{:02x}}}",
                  g.data1, g.data2, g.data3, unsigned{g.data4[0]}, unsigned{g.data4[1]},
                  unsigned{g.data4[2]}, unsigned{g.data4[3]}, unsigned{g.data4[4]},
                  unsigned{g.data4[5]}, unsigned{g.data4[6]}, unsigned{g.data4[7]}));
}

void keepBraced(WString& text) {
  std::size_t from = 0;
  if (const auto open = text.find(u'{'); open != WString::npos) {
    text.erase(0, open);
    from = 1;
  }
  if (const auto close = text.find(u'}', from); close != WString::npos) text.erase(close + 1);
}

void toLowerWide(WString& text) {
  for (char16_t& c : text)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
}

WString toLowerWide(WStringView text) {
  WString copy(text);
  toLowerWide(copy);
  return copy;
}

}  // namespace pbaloader
