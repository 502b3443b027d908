#include <array>
#include <cstring>

#include "common/text.h"
#include "device/bounce_buffer.h"
#include "device/device.h"
#include "platform/layout/pass_through.h"
#include "platform/winconst.h"

namespace pbaloader {
namespace {

using Error = BaseDevice::Error;

std::uint64_t bigEndian(const std::uint8_t* bytes, int count) {
  std::uint64_t value = 0;
  for (int i = 0; i < count; ++i) value = (value << 8) | bytes[i];
  return value;
}

std::string inquiryText(const std::uint8_t* bytes, std::size_t count) {
  return trimText(std::string_view(reinterpret_cast<const char*>(bytes), count), WhitespaceSet);
}

SCSIPacket dataInPacket(std::initializer_list<std::uint8_t> cdb, void* data, std::uint32_t length) {
  SCSIPacket packet;
  std::copy(cdb.begin(), cdb.end(), packet.cdb);
  packet.cdbLength = static_cast<std::uint8_t>(cdb.size());
  packet.data = data;
  packet.dataLength = length;
  packet.direction = 1;
  return packet;
}

// Descriptor-format sense (72h, 73h) carries the sense key in byte 1, fixed
// format in byte 2: reading byte 2 of a descriptor answer would take a
// refused command for a success.
std::uint8_t senseKeyByte(const std::uint8_t* sense) {
  return sense[0] == 0x72 || sense[0] == 0x73 ? sense[1] : sense[2];
}

// A capacity answer counts only when it delivered the fields that are read.
bool readCapacity(SystemDevice& device, std::initializer_list<std::uint8_t> cdb,
                  std::array<std::uint8_t, 32>& answer, std::uint32_t needed) {
  answer.fill(0);
  SCSIRet result;
  return device.sendSCSI(dataInPacket(cdb, answer.data(), 32), &result) &&
         result.transferred >= needed;
}

}  // namespace

BaseDevice::Error SystemDevice::sendScsiDirect(const SCSIPacket& packet) {
  layout::ScsiPassThroughDirectWithSense buffer{};
  auto& sptd = buffer.sptd;
  sptd.length = sizeof(sptd);
  sptd.targetId = 1;
  // A CDB never exceeds the 16 bytes the record carries.
  sptd.cdbLength = packet.cdbLength <= 16 ? packet.cdbLength : 16;
  sptd.senseInfoLength = sizeof(buffer.sense);
  sptd.senseInfoOffset = offsetof(layout::ScsiPassThroughDirectWithSense, sense);
  sptd.timeOutValue = detail::timeoutSeconds(timeoutMs_);
  detail::AlignedData data(packet.data, packet.dataLength, packet.direction);
  if (packet.direction == 1 || packet.direction == 2) {
    sptd.dataIn = packet.direction == 1 ? win::ScsiIoctlDataIn : win::ScsiIoctlDataOut;
    sptd.dataTransferLength = packet.dataLength;
    sptd.dataBuffer = reinterpret_cast<std::uintptr_t>(data.address());
  } else {
    sptd.dataIn = win::ScsiIoctlDataUnspecified;
  }
  std::memcpy(sptd.cdb, packet.cdb, sptd.cdbLength);

  auto sent = os::current().deviceIoControl(handle_, win::IoctlScsiPassThroughDirect, &buffer,
                                            sizeof(buffer), &buffer, sizeof(buffer));
  if (!sent.ok) {
    lastScsiResult_.scsiStatus = 0xFFFFFFFF;
    lastScsiResult_.systemError = sent.error;
    return mapSystemError(sent.error);
  }
  lastScsiResult_.systemError = 0;
  lastScsiResult_.scsiStatus = sptd.scsiStatus;
  std::memcpy(lastScsiResult_.sense, buffer.sense, sizeof(buffer.sense));
  lastScsiResult_.senseLength = sptd.senseInfoLength;

  const std::uint8_t* sense = buffer.sense;
  if (sptd.scsiStatus == 2 && sense[0] == 0xF0) return Error::SenseWithInformation;
  const std::uint8_t key = senseKeyByte(sense);
  const bool acceptable =
      sptd.scsiStatus == 0 ||
      (sptd.scsiStatus == 2 && (sense[0] == 0x70 || sense[0] == 0x72) && key <= 1);
  if (acceptable) {
    if (packet.direction == 1) data.copyBack(sptd.dataTransferLength);
    lastScsiResult_.transferred = sptd.dataTransferLength;
    return Error::Ok;
  }
  return key == 4 ? Error::HardwareError : Error::Failed;
}

bool SystemDevice::sendSCSI(const SCSIPacket& packet, SCSIRet* result) {
  if (drive_.transport == DriveInfo::TransportUnknown)
    drive_.transport = DriveInfo::TransportScsi;
  else if (drive_.transport != DriveInfo::TransportScsi)
    return false;
  runCommand([&] { return sendScsiDirect(packet); });
  if (result != nullptr) *result = lastScsiResult_;
  return lastError_ == Error::Ok;
}

bool SystemDevice::scsiInquiry(ScsiIdentity& identity) {
  std::array<std::uint8_t, 128> data{};
  if (!sendSCSI(dataInPacket({0x12, 0x00, 0x00, 0x00, 0x80, 0x00}, data.data(), 128), nullptr))
    return false;
  identity.vendor = inquiryText(&data[8], 8);
  identity.product = inquiryText(&data[16], 16);
  identity.revision = inquiryText(&data[32], 4);
  if (identity.product.empty()) identity.product = trimText(identity.vendor, WhitespaceSet);
  return true;
}

bool SystemDevice::scsiIdentify(ScsiIdentity& identity) {
  if (!scsiInquiry(identity)) return false;

  std::array<std::uint8_t, 256> serial{};
  if (sendSCSI(dataInPacket({0x12, 0x01, 0x80, 0x01, 0x00, 0x00}, serial.data(), 256), nullptr) &&
      serial[3] > 4) {
    const std::size_t length = serial[3] < 252 ? serial[3] : 252;
    identity.serialNumber = inquiryText(&serial[4], length);
  }

  std::array<std::uint8_t, 32> capacity{};
  if (readCapacity(*this, {0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x20, 0, 0}, capacity,
                   12)) {
    identity.lastLba = bigEndian(&capacity[0], 8);
    identity.blockLength = static_cast<std::uint32_t>(bigEndian(&capacity[8], 4));
    return true;
  }
  if (readCapacity(*this, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, capacity, 8)) {
    identity.lastLba = bigEndian(&capacity[0], 4);
    identity.blockLength = static_cast<std::uint32_t>(bigEndian(&capacity[4], 4));
    return true;
  }
  return false;
}

std::uint32_t SystemDevice::sectorSize() const {
  const std::uint32_t size = drive_.bytesPerSector;
  return size >= 512 && size <= 65536 && (size & (size - 1)) == 0 ? size : 512;
}

bool SystemDevice::readSectors(void* buffer, std::uint64_t lba, std::uint32_t blocks) {
  // A transfer that is not whole logical blocks is refused: the length
  // follows the drive's own sector size.
  SCSIPacket packet = dataInPacket({0x88, 0x00}, buffer, blocks * sectorSize());
  for (int i = 0; i < 8; ++i) packet.cdb[2 + i] = static_cast<std::uint8_t>(lba >> (56 - 8 * i));
  for (int i = 0; i < 4; ++i)
    packet.cdb[10 + i] = static_cast<std::uint8_t>(blocks >> (24 - 8 * i));
  packet.cdbLength = 16;
  return sendSCSI(packet, nullptr);
}

}  // namespace pbaloader
