#include "discovery/enumerate.h"

#include <exception>
#include <memory>

#include "device/device.h"
#include "platform/winconst.h"

namespace pbaloader {
namespace {

constexpr std::string_view BridgeModelPrefix = "Bridge PCIe V";

}  // namespace

std::vector<DriveInfo> enumerateDrives() {
  std::vector<DriveInfo> drives;
  auto session = WmiSession::open(u"ROOT\\CIMV2");
  WmiQuery query(*session, u"SELECT * FROM Win32_DiskDrive");
  while (WmiObject* object = query.next(win::WbemInfinite)) {
    DriveInfo drive;
    auto deviceId = object->getString(u"DeviceID");
    if (!deviceId || deviceId->empty()) continue;
    drive.path = *deviceId;

    std::unique_ptr<SystemDevice> device;
    try {
      device = std::make_unique<SystemDevice>(drive);
    } catch (const std::exception&) {
      // Not openable for reading and writing (not elevated, vanished): not offered.
      continue;
    }
    const bool identified = device->identify();
    DriveInfo record = device->drive();
    device.reset();
    if (!identified) {
      fillFromWmiObject(record, *object);
      record.model = trimText(record.model, BlankSet);
      record.serialNumber = trimText(record.serialNumber, BlankSet);
      if (record.model.starts_with(BridgeModelPrefix)) record.usbPcieBridge = true;
    }
    drives.push_back(std::move(record));
  }
  return drives;
}

void fillFromWmiObject(DriveInfo& drive, WmiObject& object) {
  if (auto model = object.getString(u"Model")) drive.model = *model;
  if (auto serial = object.getString(u"SerialNumber")) drive.serialNumber = *serial;
  if (auto firmware = object.getString(u"FirmwareRevision")) drive.firmwareRevision = *firmware;
  if (auto bytes = object.getInt32(u"BytesPerSector"))
    drive.bytesPerSector = static_cast<std::uint32_t>(*bytes);
  // A sector size of 0 gives no capacity in sectors; the last LBA stays as it was.
  if (auto size = object.getUInt64(u"Size"); size && drive.bytesPerSector != 0)
    drive.lastLba = *size / drive.bytesPerSector - 1;
  drive.transport = DriveInfo::TransportManagement;
}

bool isUsableUsbDrive(const DriveInfo& drive) {
  const auto diskNumber = readDeviceNumber(toWide(drive.path));
  if (!diskNumber) return false;

  DeviceInterfaceWalk walk(GuidDevinterfaceDisk);
  if (!walk.valid()) return false;
  while (walk.next()) {
    if (walk.detail() == nullptr) continue;
    const auto number = readDeviceNumber(walk.devicePath());
    if (!number) continue;
    if (number->deviceType != diskNumber->deviceType ||
        number->deviceNumber != diskNumber->deviceNumber)
      continue;
    std::uint32_t policy = 0;
    const auto read = os::current().setupDiGetDeviceRegistryPropertyW(
        walk.set(), walk.deviceData(), win::SpdrpRemovalPolicy, &policy, sizeof(policy), nullptr);
    return read.ok && policy != win::CmRemovalPolicyExpectNoRemoval;
  }
  return false;
}

}  // namespace pbaloader
