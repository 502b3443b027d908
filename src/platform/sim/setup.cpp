// Disk and volume device interfaces, removal policies, the partition tables
// the disk driver reports and the volume manager of the simulated machine.
#include "platform/sim/setup.h"

#include <algorithm>
#include <cstring>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "platform/layout/device_interface_detail.h"
#include "platform/layout/drive_layout.h"
#include "platform/layout/storage_device_number.h"
#include "platform/sim/machine.h"
#include "platform/sim/wmi_values.h"
#include "platform/winconst.h"

namespace pbaloader::sim {
namespace {

constexpr os::Guid GuidDevinterfaceDisk{
    0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
constexpr os::Guid GuidDevinterfaceVolume{
    0x53F5630D, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
constexpr os::Guid GuidDevclassDiskDrive{
    0x4D36E967, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
constexpr os::Guid GuidDevclassVolume{
    0x71A27CDD, 0x812A, 0x11D0, {0xBE, 0xC7, 0x08, 0x00, 0x2B, 0xE2, 0xF3, 0x0B}};
constexpr os::Guid GptBasicData{
    0xEBD0A0A2, 0xB9E5, 0x4433, {0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7}};
constexpr os::Guid GptMsr{
    0xE3C9E316, 0x0B5C, 0x4DB8, {0x81, 0x7D, 0xF9, 0x2D, 0xF0, 0x02, 0x15, 0xAE}};
constexpr os::Guid GptEsp{
    0xC12A7328, 0xF81F, 0x11D2, {0xBA, 0x4B, 0x00, 0xA0, 0xC9, 0x3E, 0xC9, 0x3B}};

constexpr std::uint32_t SpintActive = 1;
constexpr std::uint64_t MiB = 1 << 20;

std::string hex(std::uint64_t value, int digits) {
  static const char* const Digits = "0123456789abcdef";
  std::string out(static_cast<std::size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i, value >>= 4)
    out[static_cast<std::size_t>(i)] = Digits[value & 0xF];
  return out;
}

os::WString guidText(const os::Guid& g) {
  std::string s = "{" + hex(g.data1, 8) + "-" + hex(g.data2, 4) + "-" + hex(g.data3, 4) + "-";
  for (int i = 0; i < 8; ++i) {
    if (i == 2) s += "-";
    s += hex(g.data4[i], 2);
  }
  return asciiWide(s + "}");
}

os::Guid parseGuid(const std::string& text) {
  std::string digits;
  for (char c : text)
    if (std::isxdigit(static_cast<unsigned char>(c))) digits.push_back(c);
  if (digits.size() != 32) throw std::runtime_error("not a GUID: " + text);
  auto field = [&](std::size_t at, std::size_t n) {
    return std::stoull(digits.substr(at, n), nullptr, 16);
  };
  os::Guid g;
  g.data1 = static_cast<std::uint32_t>(field(0, 8));
  g.data2 = static_cast<std::uint16_t>(field(8, 4));
  g.data3 = static_cast<std::uint16_t>(field(12, 4));
  for (std::size_t i = 0; i < 8; ++i) g.data4[i] = static_cast<std::uint8_t>(field(16 + 2 * i, 2));
  return g;
}

// A GUID the description leaves out, distinct per disk and entry.
os::Guid madeUpGuid(std::uint32_t family, std::uint32_t disk, std::size_t entry) {
  os::Guid g{family, static_cast<std::uint16_t>(disk), 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0}};
  g.data4[7] = static_cast<std::uint8_t>(entry + 1);
  g.data4[6] = static_cast<std::uint8_t>((entry + 1) >> 8);
  return g;
}

bool isExtendedType(std::uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

std::uint8_t parseMbrType(const Json& value) {
  if (value.is_string()) {
    const std::string name = value.get<std::string>();
    if (name == "extended") return 0x0F;
    if (name == "fat32") return 0x0C;
    if (name == "ntfs") return 0x07;
    return static_cast<std::uint8_t>(std::stoul(name, nullptr, 0));
  }
  return value.get<std::uint8_t>();
}

os::Guid parseGptType(const Json& value) {
  const std::string name = value.get<std::string>();
  if (name == "basic") return GptBasicData;
  if (name == "msr") return GptMsr;
  if (name == "esp") return GptEsp;
  return parseGuid(name);
}

os::WString mountPointText(Machine& machine, const std::string& text) {
  os::WString out = utf8ToWide(machine, text);
  if (out.empty() || out.back() != u'\\') out.push_back(u'\\');
  return out;
}

SimLayout parseLayout(Machine& machine, const Json& d, std::uint32_t diskNumber) {
  SimLayout layout;
  const std::string style = d.value("style", "none");
  if (style == "none") return layout;
  if (style != "mbr" && style != "gpt")
    throw std::runtime_error("partitions.style: mbr, gpt or none");
  const bool gpt = style == "gpt";
  layout.style = gpt ? win::PartitionStyleGpt : win::PartitionStyleMbr;
  layout.mbrSignature = d.value("signature", 0x5E0000u + diskNumber);
  layout.diskId = d.contains("diskId") ? parseGuid(d.at("diskId").get<std::string>())
                                       : madeUpGuid(0xD15C0000, diskNumber, 0);
  std::uint32_t nextNumber = 1;
  std::uint64_t nextStart = MiB;
  const Json entries = d.value("entries", Json::array());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const Json& e = entries[i];
    SimPartition p;
    if (!gpt && e.value("unused", false)) {
      p.used = false;
      layout.entries.push_back(p);
      continue;
    }
    p.start = e.value("start", nextStart);
    p.length = e.value("length", 32 * MiB);
    nextStart = p.start + p.length;
    if (gpt) {
      p.gptType = e.contains("type") ? parseGptType(e.at("type")) : GptBasicData;
      p.gptId = e.contains("id") ? parseGuid(e.at("id").get<std::string>())
                                 : madeUpGuid(0x9A270000, diskNumber, i);
      p.gptAttributes = e.value("attributes", std::uint64_t{0});
      p.gptName = utf8ToWide(machine, e.value("name", std::string("Basic data partition")));
      p.hasVolume = p.gptType != GptMsr;
      p.number = e.value("number", nextNumber++);
    } else {
      p.mbrType = e.contains("type") ? parseMbrType(e.at("type")) : std::uint8_t{0x0C};
      p.bootIndicator = e.value("active", false);
      // Windows numbers the partitions that hold data; containers get 0.
      p.hasVolume = !isExtendedType(p.mbrType);
      p.number = e.value("number", p.hasVolume ? nextNumber++ : 0u);
    }
    if (e.value("noVolume", false)) p.hasVolume = false;
    p.volumeInterface = e.value("volumeInterface", true);
    p.volumeNameUnreadable = e.value("volumeNameUnreadable", false);
    p.volumeGuid = e.contains("volume") ? utf8ToWide(machine, e.at("volume").get<std::string>())
                                        : guidText(madeUpGuid(0x5E1F0000, diskNumber, i));
    for (const Json& m : e.value("mountPoints", Json::array()))
      p.mountPoints.push_back(mountPointText(machine, m.get<std::string>()));
    if (e.contains("management")) {
      PropertyOverrides o = parseOverrides(machine, e.at("management"));
      p.overrideSet = std::move(o.set);
      p.overrideAbsent = std::move(o.absent);
    }
    layout.entries.push_back(std::move(p));
  }
  // The MBR layout lists its slots in groups of four, unused ones included.
  if (!gpt)
    while (layout.entries.empty() || layout.entries.size() % 4 != 0) {
      SimPartition unused;
      unused.used = false;
      layout.entries.push_back(unused);
    }
  return layout;
}

bool equalsNoCase(os::WStringView a, os::WStringView b) {
  return upperAsciiWide(a) == upperAsciiWide(b);
}

os::WString volumeGuidPath(const SimPartition& p) { return u"\\\\?\\Volume" + p.volumeGuid; }

std::uint32_t devInstOfDisk(int disk) { return 0x100 + static_cast<std::uint32_t>(disk); }
std::uint32_t devInstOf(const SetupState::Interface& i) {
  if (i.partition < 0) return devInstOfDisk(i.disk);
  return 0x10000 + static_cast<std::uint32_t>(i.disk) * 0x100 +
         static_cast<std::uint32_t>(i.partition);
}

}  // namespace

DeviceSetup::DeviceSetup(Machine& machine)
    : machine_(machine), state_(std::make_unique<SetupState>()) {}

DeviceSetup::~DeviceSetup() = default;

void DeviceSetup::load(const nlohmann::json& d) {
  SetupState& s = *state_;
  if (d.contains("setup")) {
    for (const Json& name : d.at("setup").value("unavailable", Json::array())) {
      if (name == "disk")
        s.diskClassFails = true;
      else if (name == "volume")
        s.volumeClassFails = true;
      else
        throw std::runtime_error("setup.unavailable lists \"disk\" and \"volume\"");
    }
  }
  s.disks.resize(machine_.disks.size());
  for (std::size_t i = 0; i < machine_.disks.size(); ++i) {
    const SimDisk& disk = machine_.disks[i];
    const Json& e = disk.description;
    SimDiskSetup& ds = s.disks[i];
    const Json itf = e.value("interface", Json::object());
    ds.interfaceListed = itf.value("listed", true);
    ds.removalPolicyReadable = itf.value("removalPolicy", std::string()) != "unreadable";
    const std::string bus =
        disk.removalPolicy == win::CmRemovalPolicyExpectNoRemoval ? "SCSI" : "USBSTOR";
    ds.interfacePath =
        itf.contains("path")
            ? utf8ToWide(machine_, itf.at("path").get<std::string>())
            : asciiWide("\\\\?\\" + bus + "#Disk&Ven_Sim&Prod_Disk" + std::to_string(disk.number) +
                        "#" + std::to_string(disk.number) +
                        "&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}");
    const Json faults = e.value("faults", Json::object());
    ds.deviceNumberFails = faults.value("deviceNumber", false);
    ds.layoutFails = faults.value("driveLayout", false);
    if (e.contains("partitions"))
      ds.layout = parseLayout(machine_, e.at("partitions"), disk.number);
    for (std::size_t k = 0; k < ds.layout.entries.size(); ++k) {
      SimPartition& p = ds.layout.entries[k];
      p.interfacePath =
          asciiWide("\\\\?\\STORAGE#Volume#SimDisk" + std::to_string(disk.number) + "#" +
                    hex(p.start, 16) + "#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}");
    }
    registerPaths(static_cast<int>(i));
  }
}

void DeviceSetup::registerPaths(int disk) {
  const SimDiskSetup& ds = state_->disks[static_cast<std::size_t>(disk)];
  if (ds.interfaceListed)
    machine_.registerDevice(ds.interfacePath, DeviceNode{DeviceNode::Kind::DiskInterface, disk, 0});
  for (const SimPartition& p : ds.layout.entries) {
    if (!p.used || !p.hasVolume) continue;
    const DeviceNode node{DeviceNode::Kind::Volume, disk, p.number};
    if (p.volumeInterface) machine_.registerDevice(p.interfacePath, node);
    machine_.registerDevice(volumeGuidPath(p), node);
  }
}

void DeviceSetup::clearPartitions(int disk) {
  if (disk < 0 || static_cast<std::size_t>(disk) >= state_->disks.size()) return;
  SimDiskSetup& ds = state_->disks[static_cast<std::size_t>(disk)];
  for (const SimPartition& p : ds.layout.entries) {
    if (!p.used || !p.hasVolume) continue;
    machine_.devices.erase(upperAsciiWide(p.interfacePath));
    machine_.devices.erase(upperAsciiWide(volumeGuidPath(p)));
  }
  ds.layout = SimLayout{};
}

os::Result<os::DevInfoSet> DeviceSetup::setupDiGetClassDevsW(const os::Guid& classGuid,
                                                             std::uint32_t flags) {
  SetupState& s = *state_;
  const bool disk = classGuid == GuidDevinterfaceDisk;
  const bool volume = classGuid == GuidDevinterfaceVolume;
  if ((disk && s.diskClassFails) || (volume && s.volumeClassFails))
    return {os::InvalidDevInfoSet, win::ErrorInvalidData};
  SetupState::InfoSet set{classGuid, {}};
  if ((flags & win::DigcfDeviceInterface) != 0) {
    for (std::size_t i = 0; i < s.disks.size(); ++i) {
      const SimDiskSetup& ds = s.disks[i];
      if (disk && ds.interfaceListed)
        set.interfaces.push_back({classGuid, static_cast<int>(i), -1, ds.interfacePath});
      if (!volume) continue;
      for (std::size_t k = 0; k < ds.layout.entries.size(); ++k) {
        const SimPartition& p = ds.layout.entries[k];
        if (p.used && p.hasVolume && p.volumeInterface)
          set.interfaces.push_back(
              {classGuid, static_cast<int>(i), static_cast<int>(k), p.interfacePath});
      }
    }
  }
  const os::DevInfoSet handle = s.nextSet;
  s.nextSet += 0x10;
  s.sets[handle] = std::move(set);
  ++s.openSets;
  return {handle, 0};
}

os::Status DeviceSetup::setupDiEnumDeviceInterfaces(os::DevInfoSet set, const os::Guid& classGuid,
                                                    std::uint32_t index,
                                                    os::DeviceInterfaceData& data) {
  auto it = state_->sets.find(set);
  if (it == state_->sets.end()) return {false, win::ErrorInvalidHandle};
  if (data.cbSize != sizeof(os::DeviceInterfaceData)) return {false, win::ErrorInvalidUserBuffer};
  std::uint32_t seen = 0;
  const auto& interfaces = it->second.interfaces;
  for (std::size_t i = 0; i < interfaces.size(); ++i) {
    if (interfaces[i].classGuid != classGuid) continue;
    if (seen++ != index) continue;
    data.interfaceClassGuid = classGuid;
    data.flags = SpintActive;
    data.reserved = i + 1;
    return {true, 0};
  }
  return {false, win::ErrorNoMoreItems};
}

os::Status DeviceSetup::setupDiGetDeviceInterfaceDetailW(os::DevInfoSet set,
                                                         const os::DeviceInterfaceData& data,
                                                         void* detail, std::uint32_t detailSize,
                                                         std::uint32_t* requiredSize,
                                                         os::DevInfoData* devInfo) {
  auto it = state_->sets.find(set);
  if (it == state_->sets.end()) return {false, win::ErrorInvalidHandle};
  const auto& interfaces = it->second.interfaces;
  if (data.cbSize != sizeof(os::DeviceInterfaceData) || data.reserved == 0 ||
      data.reserved > interfaces.size())
    return {false, win::ErrorInvalidParameter};
  const SetupState::Interface& itf = interfaces[data.reserved - 1];

  if (devInfo != nullptr) {
    if (devInfo->cbSize != sizeof(os::DevInfoData)) return {false, win::ErrorInvalidUserBuffer};
    devInfo->classGuid = itf.partition < 0 ? GuidDevclassDiskDrive : GuidDevclassVolume;
    devInfo->devInst = devInstOf(itf);
    devInfo->reserved = devInstOf(itf);
  }
  const auto required = static_cast<std::uint32_t>(layout::DevicePathOffset +
                                                   (itf.path.size() + 1) * sizeof(char16_t));
  if (detail == nullptr) {
    if (detailSize != 0) return {false, win::ErrorInvalidUserBuffer};
    if (requiredSize != nullptr) *requiredSize = required;
    return {false, win::ErrorInsufficientBuffer};
  }
  std::uint32_t cbSize = 0;
  if (detailSize >= sizeof(cbSize)) std::memcpy(&cbSize, detail, sizeof(cbSize));
  if (cbSize != layout::DeviceInterfaceDetailFixedSize) return {false, win::ErrorInvalidUserBuffer};
  if (detailSize < required) {
    if (requiredSize != nullptr) *requiredSize = required;
    return {false, win::ErrorInsufficientBuffer};
  }
  auto* bytes = static_cast<std::uint8_t*>(detail);
  std::memcpy(bytes + layout::DevicePathOffset, itf.path.c_str(),
              (itf.path.size() + 1) * sizeof(char16_t));
  if (requiredSize != nullptr) *requiredSize = required;
  return {true, 0};
}

os::Status DeviceSetup::setupDiGetDeviceRegistryPropertyW(os::DevInfoSet set,
                                                          const os::DevInfoData& devInfo,
                                                          std::uint32_t property, void* buffer,
                                                          std::uint32_t size,
                                                          std::uint32_t* requiredSize) {
  auto it = state_->sets.find(set);
  if (it == state_->sets.end()) return {false, win::ErrorInvalidHandle};
  if (devInfo.cbSize != sizeof(os::DevInfoData)) return {false, win::ErrorInvalidParameter};
  const SetupState::Interface* itf = nullptr;
  for (const auto& candidate : it->second.interfaces)
    if (devInstOf(candidate) == devInfo.devInst) itf = &candidate;
  if (itf == nullptr) return {false, win::ErrorInvalidParameter};
  const SimDiskSetup& ds = state_->disks[static_cast<std::size_t>(itf->disk)];
  if (property != win::SpdrpRemovalPolicy || itf->partition >= 0 || !ds.removalPolicyReadable)
    return {false, win::ErrorInvalidData};
  const std::uint32_t policy = machine_.disks[static_cast<std::size_t>(itf->disk)].removalPolicy;
  if (requiredSize != nullptr) *requiredSize = sizeof(policy);
  if (buffer == nullptr || size < sizeof(policy)) return {false, win::ErrorInsufficientBuffer};
  std::memcpy(buffer, &policy, sizeof(policy));
  return {true, 0};
}

os::Status DeviceSetup::setupDiDestroyDeviceInfoList(os::DevInfoSet set) {
  if (state_->sets.erase(set) == 0) return {false, win::ErrorInvalidHandle};
  --state_->openSets;
  return {true, 0};
}

const SimPartition* DeviceSetup::volumeByGuidPath(os::WStringView volumeName) const {
  for (const SimDiskSetup& ds : state_->disks)
    for (const SimPartition& p : ds.layout.entries)
      if (p.used && p.hasVolume && equalsNoCase(volumeGuidPath(p), volumeName)) return &p;
  return nullptr;
}

const SimPartition* DeviceSetup::volumeByMountPoint(os::WStringView mountPoint) const {
  for (const SimDiskSetup& ds : state_->disks) {
    for (const SimPartition& p : ds.layout.entries) {
      if (!p.used || !p.hasVolume) continue;
      if (equalsNoCase(volumeGuidPath(p) + u"\\", mountPoint)) return &p;
      if (p.volumeInterface && equalsNoCase(p.interfacePath + u"\\", mountPoint)) return &p;
      for (const os::WString& m : p.mountPoints)
        if (equalsNoCase(m, mountPoint)) return &p;
    }
  }
  return nullptr;
}

os::Status DeviceSetup::getVolumeNameForVolumeMountPointW(os::WStringView mountPoint,
                                                          char16_t* buffer, std::uint32_t length) {
  if (mountPoint.empty() || mountPoint.back() != u'\\') return {false, win::ErrorInvalidParameter};
  const SimPartition* p = volumeByMountPoint(mountPoint);
  if (p == nullptr) return {false, win::ErrorFileNotFound};
  if (p->volumeNameUnreadable) return {false, win::ErrorNotReady};
  const os::WString name = volumeGuidPath(*p) + u"\\";
  if (buffer == nullptr || length < name.size() + 1) return {false, win::ErrorFilenameExcedRange};
  std::copy(name.begin(), name.end(), buffer);
  buffer[name.size()] = 0;
  return {true, 0};
}

os::Status DeviceSetup::getVolumePathNamesForVolumeNameW(os::WStringView volumeName,
                                                         char16_t* buffer, std::uint32_t length,
                                                         std::uint32_t* returnLength) {
  if (volumeName.size() < 2 || volumeName.back() != u'\\') return {false, win::ErrorInvalidName};
  const SimPartition* p = volumeByGuidPath(volumeName.substr(0, volumeName.size() - 1));
  if (p == nullptr) return {false, win::ErrorFileNotFound};
  os::WString names;
  for (const os::WString& m : p->mountPoints) {
    names += m;
    names.push_back(0);
  }
  names.push_back(0);
  if (p->mountPoints.empty()) names.resize(1);
  const auto required = static_cast<std::uint32_t>(names.size());
  if (returnLength != nullptr) *returnLength = required;
  if (buffer == nullptr || length < required) return {false, win::ErrorMoreData};
  std::copy(names.begin(), names.end(), buffer);
  return {true, 0};
}

std::optional<os::Transfer> DeviceSetup::deviceIoControl(OpenObject& object, std::uint32_t code,
                                                         const void*, std::uint32_t, void* out,
                                                         std::uint32_t outSize) {
  if (object.kind == OpenObject::Kind::HostFile) return std::nullopt;
  if (object.disk < 0 || static_cast<std::size_t>(object.disk) >= state_->disks.size())
    return std::nullopt;
  SimDiskSetup& ds = state_->disks[static_cast<std::size_t>(object.disk)];
  const SimDisk& disk = machine_.disks[static_cast<std::size_t>(object.disk)];
  const bool volume = object.kind == OpenObject::Kind::Volume;

  if (code == win::IoctlStorageGetDeviceNumber) {
    if (ds.deviceNumberFails) return os::Transfer{false, 0, win::ErrorInvalidFunction};
    layout::StorageDeviceNumber number{layout::FileDeviceDisk, disk.number,
                                       volume ? object.partition : 0};
    if (out == nullptr || outSize < sizeof(number))
      return os::Transfer{false, 0, win::ErrorInsufficientBuffer};
    std::memcpy(out, &number, sizeof(number));
    return os::Transfer{true, sizeof(number), 0};
  }
  if (code == win::IoctlDiskUpdateProperties) {
    if (volume) return os::Transfer{false, 0, win::ErrorInvalidFunction};
    ++state_->updatePropertiesCalls;
    return os::Transfer{true, 0, 0};
  }
  if (code != win::IoctlDiskGetDriveLayoutEx) return std::nullopt;
  if (volume || ds.layoutFails) return os::Transfer{false, 0, win::ErrorInvalidFunction};

  const SimLayout& l = ds.layout;
  const std::size_t needed =
      layout::DriveLayoutEntriesOffset +
      std::max<std::size_t>(l.entries.size(), 1) * sizeof(layout::PartitionInformationEx);
  if (out == nullptr || outSize < needed)
    return os::Transfer{false, 0, win::ErrorInsufficientBuffer};

  layout::DriveLayoutInformationExHeader header;
  header.partitionStyle = l.style;
  header.partitionCount = static_cast<std::uint32_t>(l.entries.size());
  if (l.style == win::PartitionStyleMbr) {
    const layout::DriveLayoutInformationMbr mbr{l.mbrSignature, 0};
    std::memcpy(header.styleInfo, &mbr, sizeof(mbr));
  } else if (l.style == win::PartitionStyleGpt) {
    layout::DriveLayoutInformationGpt gpt;
    gpt.diskId = l.diskId;
    gpt.startingUsableOffset = 34 * disk.sectorSize;
    // Both copies of the table and their headers lie outside the usable area.
    const std::uint64_t tables = 67ull * disk.sectorSize;
    gpt.usableLength = static_cast<std::int64_t>(disk.size > tables ? disk.size - tables : 0);
    gpt.maxPartitionCount = 128;
    std::memcpy(header.styleInfo, &gpt, sizeof(gpt));
  }
  auto* bytes = static_cast<std::uint8_t*>(out);
  std::memset(bytes, 0, needed);
  std::memcpy(bytes, &header, sizeof(header));
  for (std::size_t i = 0; i < l.entries.size(); ++i) {
    const SimPartition& p = l.entries[i];
    layout::PartitionInformationEx entry;
    entry.partitionStyle = l.style;
    if (p.used) {
      entry.startingOffset = static_cast<std::int64_t>(p.start);
      entry.partitionLength = static_cast<std::int64_t>(p.length);
      entry.partitionNumber = p.number;
    }
    if (l.style == win::PartitionStyleGpt) {
      layout::PartitionInformationGpt gpt;
      gpt.partitionType = p.gptType;
      gpt.partitionId = p.gptId;
      gpt.attributes = p.gptAttributes;
      std::copy_n(p.gptName.begin(), std::min<std::size_t>(p.gptName.size(), 35), gpt.name);
      entry.setGpt(gpt);
    } else {
      layout::PartitionInformationMbr mbr;
      mbr.partitionType = p.used ? p.mbrType : 0;
      mbr.bootIndicator = p.bootIndicator ? 1 : 0;
      mbr.recognizedPartition = p.used && p.hasVolume ? 1 : 0;
      mbr.hiddenSectors = static_cast<std::uint32_t>(p.start / disk.sectorSize);
      entry.setMbr(mbr);
    }
    std::memcpy(bytes + layout::DriveLayoutEntriesOffset + i * sizeof(entry), &entry,
                sizeof(entry));
  }
  return os::Transfer{true, static_cast<std::uint32_t>(needed), 0};
}

std::vector<WmiInstance> DeviceSetup::partitionInstances(int disk) const {
  std::vector<WmiInstance> out;
  const SimDiskSetup& ds = state_->disks[static_cast<std::size_t>(disk)];
  const SimDisk& d = machine_.disks[static_cast<std::size_t>(disk)];
  for (const SimPartition& p : ds.layout.entries) {
    if (!p.used) continue;
    WmiInstance instance{"MSFT_Partition", {}};
    setProperty(instance, u"DiskNumber", int32Variant(static_cast<std::int32_t>(d.number)));
    setProperty(instance, u"PartitionNumber", int32Variant(static_cast<std::int32_t>(p.number)));
    setProperty(instance, u"Offset", textVariant(asciiWide(std::to_string(p.start))));
    setProperty(instance, u"Size", textVariant(asciiWide(std::to_string(p.length))));
    // A partition without a volume (a container, a reserved partition) has no access paths.
    std::vector<os::WString> paths;
    if (p.hasVolume) {
      paths = p.mountPoints;
      paths.push_back(volumeGuidPath(p) + u"\\");
    }
    setProperty(instance, u"AccessPaths", textArrayVariant(std::move(paths)));
    setProperty(
        instance, u"Guid",
        ds.layout.style == win::PartitionStyleGpt ? textVariant(guidText(p.gptId)) : nullVariant());
    applyOverrides(instance, PropertyOverrides{p.overrideSet, p.overrideAbsent, true});
    out.push_back(std::move(instance));
  }
  return out;
}

SetupState& DeviceSetup::state() { return *state_; }

}  // namespace pbaloader::sim
