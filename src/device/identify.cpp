#include <fmt/format.h>

#include <array>

#include "common/text.h"
#include "device/device.h"
#include "discovery/wmi.h"
#include "platform/winconst.h"

namespace pbaloader {
namespace {

std::uint16_t word(const std::uint8_t* data, unsigned index) {
  return static_cast<std::uint16_t>(data[2 * index] | data[2 * index + 1] << 8);
}

std::uint64_t words(const std::uint8_t* data, unsigned first, unsigned count) {
  std::uint64_t value = 0;
  for (unsigned i = count; i-- > 0;) value = (value << 16) | word(data, first + i);
  return value;
}

bool startsWith(const std::string& text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

std::string ataString(const std::uint8_t* data, unsigned firstWord, unsigned count) {
  const std::uint16_t first = word(data, firstWord);
  if (first == 0 || first == 0xFFFF) return {};
  std::string text(count, ' ');
  for (unsigned i = 0; i < count; ++i) {
    const std::uint8_t byte = data[2 * firstWord + i];
    char c = static_cast<char>(byte);
    if (byte == 0)
      c = ' ';
    else if (byte < 0x20 || byte > 0x7E)
      c = '?';
    text[i ^ 1u] = c;
  }
  return trimText(text, " \t\n\r");
}

std::uint32_t ataSectorSize(const std::uint8_t* data) {
  const std::uint16_t major = word(data, 80);
  if (major == 0 || major == 0xFFFF || (major & 0x0380) == 0) return 512;
  const std::uint16_t sizes = word(data, 106);
  if ((sizes & 0xC000) == 0x4000 && (sizes & 0x1000) != 0)
    return static_cast<std::uint32_t>(2u * static_cast<std::uint32_t>(words(data, 117, 2)));
  return 512;
}

std::uint64_t ataSectorCount(const std::uint8_t* data) {
  if (word(data, 69) & 0x0008) return words(data, 230, 4);
  if (word(data, 83) & 0x0400) return words(data, 100, 4);
  if (word(data, 49) & 0x0200) return words(data, 60, 2);
  return 0;
}

std::string managementKey(const std::string& path) {
  std::string key;
  for (char c : path) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c == '\\') key += '\\';
    key += c;
  }
  return key;
}

bool SystemDevice::identify() {
  std::array<std::uint8_t, 512> ata{};
  ScsiIdentity scsi;
  bool result = false;

  if (ataIdentify(ata.data(), true)) {
    drive_.interfaceType = DriveInfo::InterfaceAta;
    drive_.serialNumber = ataString(ata.data(), 10, 20);
    drive_.model = ataString(ata.data(), 27, 40);
    drive_.firmwareRevision = ataString(ata.data(), 23, 8);
    drive_.bytesPerSector = ataSectorSize(ata.data());
    drive_.lastLba = ataSectorCount(ata.data()) - 1;
    ScsiIdentity bridge;
    if (drive_.transport == DriveInfo::TransportScsi && scsiInquiry(bridge) &&
        bridge.vendor == "Quorin")
      drive_.interfaceType = DriveInfo::InterfaceScsi;
    result = true;
  } else if (scsiIdentify(scsi)) {
    drive_.interfaceType = DriveInfo::InterfaceScsi;
    drive_.bytesPerSector = scsi.blockLength;
    drive_.lastLba = scsi.lastLba;
    std::array<std::uint8_t, 4096> controller{};
    if (!probeBridgeNvme(controller.data(), scsi)) {
      NVMePacket packet;
      packet.opcode = 0x06;
      packet.data = controller.data();
      packet.dataLength = 4096;
      if (sendNvme(packet)) {
        drive_.interfaceType = DriveInfo::InterfaceNvme;
        drive_.model = nvmeModel(controller.data());
        drive_.serialNumber = nvmeSerial(controller.data());
        drive_.firmwareRevision = nvmeFirmware(controller.data());
      } else if (auto firmware = queryFirmwareRevision();
                 firmware && firmware->size() > drive_.firmwareRevision.size()) {
        drive_.firmwareRevision = *firmware;
      }
    }
    if (drive_.model.empty() || drive_.serialNumber.empty()) queryModelAndSerial();
    result = true;
  } else {
    return false;
  }

  drive_.model = trimText(drive_.model, BlankSet);
  drive_.serialNumber = trimText(drive_.serialNumber, BlankSet);
  drive_.firmwareRevision = trimText(drive_.firmwareRevision, BlankSet);
  return result;
}

bool SystemDevice::probeBridgeNvme(std::uint8_t* buffer, const ScsiIdentity& identity) {
  if (bridgeIdentifyController(buffer)) {
    drive_.nvmeBehindBridge = 1;
    drive_.interfaceType = DriveInfo::InterfaceNvme;
    drive_.bridgeRevision = identity.revision;
    drive_.usbPcieBridge =
        (identity.vendor == "Bridge" && startsWith(identity.product, "PCIe V")) ||
        (identity.vendor == "BRIDGE" && startsWith(identity.product, "PCIe M1"));
    drive_.model = nvmeModel(buffer);
    drive_.serialNumber = nvmeSerial(buffer);
    drive_.firmwareRevision = nvmeFirmware(buffer);
    return true;
  }
  if (!identity.serialNumber.empty()) drive_.serialNumber = identity.serialNumber;
  if (!identity.product.empty()) drive_.model = identity.product;
  if (!identity.revision.empty()) drive_.firmwareRevision = identity.revision;
  return false;
}

std::optional<std::string> SystemDevice::queryFirmwareRevision() {
  auto session = WmiSession::open(u"ROOT\\CIMV2");
  if (!session) return {};
  const std::string text =
      fmt::format("SELECT FirmwareRevision FROM Win32_DiskDrive WHERE DeviceID='{}'",
                  managementKey(drive_.path));
  WmiQuery query(*session, toWide(text));
  WmiObject* object = query.next(win::WbemInfinite);
  if (object == nullptr) return std::nullopt;
  return object->getString(u"FirmwareRevision").value_or(std::string{});
}

bool SystemDevice::queryModelAndSerial() {
  auto session = WmiSession::open(u"ROOT\\CIMV2");
  if (!session) return {};
  const std::string text =
      fmt::format("SELECT Model,SerialNumber FROM Win32_DiskDrive WHERE DeviceID='{}'",
                  managementKey(drive_.path));
  WmiQuery query(*session, toWide(text));
  WmiObject* object = query.next(win::WbemInfinite);
  if (object == nullptr) return false;
  if (drive_.model.empty()) {
    if (auto model = object->getString(u"Model")) drive_.model = *model;
  }
  if (drive_.serialNumber.empty()) {
    if (auto serial = object->getString(u"SerialNumber")) drive_.serialNumber = *serial;
  }
  return true;
}

}  // namespace pbaloader
