// Device setup services and the volume manager: thin forwarding. Our own
// layouts of the records these calls fill are checked against the SDK here.
#include <windows.h>
// windows.h first: the setup and ioctl headers build on its types.
#include <cfgmgr32.h>
#include <setupapi.h>
#include <winioctl.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "platform/layout/device_interface_detail.h"
#include "platform/layout/drive_layout.h"
#include "platform/win32/win32_platform.h"
#include "platform/winconst.h"

namespace pbaloader::win32 {
namespace {

static_assert(sizeof(DevInfoSet) == sizeof(HDEVINFO));

static_assert(sizeof(DeviceInterfaceData) == sizeof(SP_DEVICE_INTERFACE_DATA));
static_assert(offsetof(DeviceInterfaceData, interfaceClassGuid) ==
              offsetof(SP_DEVICE_INTERFACE_DATA, InterfaceClassGuid));
static_assert(offsetof(DeviceInterfaceData, flags) == offsetof(SP_DEVICE_INTERFACE_DATA, Flags));
static_assert(offsetof(DeviceInterfaceData, reserved) ==
              offsetof(SP_DEVICE_INTERFACE_DATA, Reserved));
static_assert(sizeof(DevInfoData) == sizeof(SP_DEVINFO_DATA));
static_assert(offsetof(DevInfoData, classGuid) == offsetof(SP_DEVINFO_DATA, ClassGuid));
static_assert(offsetof(DevInfoData, devInst) == offsetof(SP_DEVINFO_DATA, DevInst));
static_assert(offsetof(DevInfoData, reserved) == offsetof(SP_DEVINFO_DATA, Reserved));
static_assert(layout::DeviceInterfaceDetailFixedSize == sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W));
static_assert(layout::DevicePathOffset == offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath));

static_assert(sizeof(layout::PartitionInformationEx) == sizeof(PARTITION_INFORMATION_EX));
static_assert(offsetof(layout::PartitionInformationEx, startingOffset) ==
              offsetof(PARTITION_INFORMATION_EX, StartingOffset));
static_assert(offsetof(layout::PartitionInformationEx, partitionLength) ==
              offsetof(PARTITION_INFORMATION_EX, PartitionLength));
static_assert(offsetof(layout::PartitionInformationEx, partitionNumber) ==
              offsetof(PARTITION_INFORMATION_EX, PartitionNumber));
static_assert(offsetof(layout::PartitionInformationEx, rewritePartition) ==
              offsetof(PARTITION_INFORMATION_EX, RewritePartition));
static_assert(offsetof(layout::PartitionInformationEx, styleInfo) ==
              offsetof(PARTITION_INFORMATION_EX, Mbr));
static_assert(offsetof(layout::PartitionInformationEx, styleInfo) ==
              offsetof(PARTITION_INFORMATION_EX, Gpt));
static_assert(sizeof(layout::PartitionInformationGpt) == sizeof(PARTITION_INFORMATION_GPT));
static_assert(offsetof(layout::PartitionInformationGpt, partitionId) ==
              offsetof(PARTITION_INFORMATION_GPT, PartitionId));
static_assert(offsetof(layout::PartitionInformationGpt, attributes) ==
              offsetof(PARTITION_INFORMATION_GPT, Attributes));
static_assert(offsetof(layout::PartitionInformationGpt, name) ==
              offsetof(PARTITION_INFORMATION_GPT, Name));
static_assert(offsetof(layout::PartitionInformationMbr, partitionType) ==
              offsetof(PARTITION_INFORMATION_MBR, PartitionType));
static_assert(offsetof(layout::PartitionInformationMbr, bootIndicator) ==
              offsetof(PARTITION_INFORMATION_MBR, BootIndicator));
static_assert(offsetof(layout::PartitionInformationMbr, hiddenSectors) ==
              offsetof(PARTITION_INFORMATION_MBR, HiddenSectors));
static_assert(sizeof(layout::DriveLayoutInformationGpt) == sizeof(DRIVE_LAYOUT_INFORMATION_GPT));
static_assert(offsetof(layout::DriveLayoutInformationGpt, maxPartitionCount) ==
              offsetof(DRIVE_LAYOUT_INFORMATION_GPT, MaxPartitionCount));
// Older SDKs end the MBR part after Signature; CheckSum is read by nothing.
static_assert(offsetof(layout::DriveLayoutInformationMbr, signature) ==
              offsetof(DRIVE_LAYOUT_INFORMATION_MBR, Signature));
static_assert(offsetof(layout::DriveLayoutInformationExHeader, partitionCount) ==
              offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionCount));
static_assert(offsetof(layout::DriveLayoutInformationExHeader, styleInfo) ==
              offsetof(DRIVE_LAYOUT_INFORMATION_EX, Mbr));
static_assert(layout::DriveLayoutEntriesOffset ==
              offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry));

static_assert(win::PartitionStyleMbr == PARTITION_STYLE_MBR);
static_assert(win::PartitionStyleGpt == PARTITION_STYLE_GPT);
static_assert(win::PartitionStyleRaw == PARTITION_STYLE_RAW);
static_assert(win::DigcfPresent == DIGCF_PRESENT &&
              win::DigcfDeviceInterface == DIGCF_DEVICEINTERFACE);
static_assert(win::SpdrpRemovalPolicy == SPDRP_REMOVAL_POLICY);
static_assert(win::CmRemovalPolicyExpectNoRemoval == CM_REMOVAL_POLICY_EXPECT_NO_REMOVAL);
static_assert(win::CmRemovalPolicyExpectOrderlyRemoval == CM_REMOVAL_POLICY_EXPECT_ORDERLY_REMOVAL);
static_assert(win::CmRemovalPolicyExpectSurpriseRemoval ==
              CM_REMOVAL_POLICY_EXPECT_SURPRISE_REMOVAL);
static_assert(win::ErrorInvalidData == ERROR_INVALID_DATA);
static_assert(win::ErrorFilenameExcedRange == ERROR_FILENAME_EXCED_RANGE);

HDEVINFO setOf(DevInfoSet set) { return reinterpret_cast<HDEVINFO>(set); }

Status status(BOOL ok) { return {ok != FALSE, ok != FALSE ? 0u : GetLastError()}; }

// The APIs want terminated strings; a view need not be one.
std::wstring terminated(WStringView text) { return std::wstring(text.begin(), text.end()); }

}  // namespace

Result<DevInfoSet> Win32Platform::setupDiGetClassDevsW(const Guid& classGuid, std::uint32_t flags) {
  GUID guid;
  std::memcpy(&guid, &classGuid, sizeof(guid));
  const HDEVINFO set = SetupDiGetClassDevsW(&guid, nullptr, nullptr, flags);
  const DWORD error = set == INVALID_HANDLE_VALUE ? GetLastError() : 0;
  return {reinterpret_cast<DevInfoSet>(set), error};
}

Status Win32Platform::setupDiEnumDeviceInterfaces(DevInfoSet set, const Guid& classGuid,
                                                  std::uint32_t index, DeviceInterfaceData& data) {
  GUID guid;
  std::memcpy(&guid, &classGuid, sizeof(guid));
  return status(SetupDiEnumDeviceInterfaces(setOf(set), nullptr, &guid, index,
                                            reinterpret_cast<SP_DEVICE_INTERFACE_DATA*>(&data)));
}

Status Win32Platform::setupDiGetDeviceInterfaceDetailW(DevInfoSet set,
                                                       const DeviceInterfaceData& data,
                                                       void* detail, std::uint32_t detailSize,
                                                       std::uint32_t* requiredSize,
                                                       DevInfoData* devInfo) {
  auto* interfaceData =
      reinterpret_cast<SP_DEVICE_INTERFACE_DATA*>(const_cast<DeviceInterfaceData*>(&data));
  return status(SetupDiGetDeviceInterfaceDetailW(
      setOf(set), interfaceData, static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(detail),
      detailSize, reinterpret_cast<DWORD*>(requiredSize),
      reinterpret_cast<SP_DEVINFO_DATA*>(devInfo)));
}

Status Win32Platform::setupDiGetDeviceRegistryPropertyW(DevInfoSet set, const DevInfoData& devInfo,
                                                        std::uint32_t property, void* buffer,
                                                        std::uint32_t size,
                                                        std::uint32_t* requiredSize) {
  auto* info = reinterpret_cast<SP_DEVINFO_DATA*>(const_cast<DevInfoData*>(&devInfo));
  return status(SetupDiGetDeviceRegistryPropertyW(setOf(set), info, property, nullptr,
                                                  static_cast<BYTE*>(buffer), size,
                                                  reinterpret_cast<DWORD*>(requiredSize)));
}

Status Win32Platform::setupDiDestroyDeviceInfoList(DevInfoSet set) {
  return status(SetupDiDestroyDeviceInfoList(setOf(set)));
}

Status Win32Platform::getVolumeNameForVolumeMountPointW(WStringView mountPoint, char16_t* buffer,
                                                        std::uint32_t length) {
  const std::wstring path = terminated(mountPoint);
  return status(
      GetVolumeNameForVolumeMountPointW(path.c_str(), reinterpret_cast<wchar_t*>(buffer), length));
}

Status Win32Platform::getVolumePathNamesForVolumeNameW(WStringView volumeName, char16_t* buffer,
                                                       std::uint32_t length,
                                                       std::uint32_t* returnLength) {
  const std::wstring name = terminated(volumeName);
  return status(GetVolumePathNamesForVolumeNameW(name.c_str(), reinterpret_cast<wchar_t*>(buffer),
                                                 length, reinterpret_cast<DWORD*>(returnLength)));
}

}  // namespace pbaloader::win32
