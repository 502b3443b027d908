#include <array>
#include <cstring>

#include "device/bounce_buffer.h"
#include "device/device.h"
#include "platform/layout/pass_through.h"
#include "platform/winconst.h"

namespace pbaloader {
namespace {

using Error = BaseDevice::Error;

bool ataStatusPasses(std::uint8_t status) { return (status & 0x01) == 0 && (status & 0xE0) != 0; }

// An ATA Status Return descriptor (descriptor or fixed format) in the sense area.
bool hasAtaStatusReturn(const std::uint8_t* sense) {
  return (sense[0] == 0x70 || sense[0] == 0x72) && sense[8] == 0x09 && sense[9] == 0x0C;
}

}  // namespace

BaseDevice::Error decodeAtaResult(const ATAPacket& packet, const ATARetReg& registers) {
  if (packet.skipStatusCheck) return Error::Ok;
  if (ataStatusPasses(registers.status)) return Error::Ok;
  const bool busy = (registers.status & 0x80) != 0;
  const bool ready = (registers.status & 0x40) != 0;
  return !busy && ready ? Error::AtaError : Error::Busy;
}

BaseDevice::Error SystemDevice::sendAtaDirect(const ATAPacket& packet, ATARetReg& registers) {
  layout::AtaPassThroughDirect apt{};
  apt.length = sizeof(apt);
  apt.timeOutValue = detail::timeoutSeconds(timeoutMs_);
  detail::AlignedData data(packet.data, packet.dataLength, packet.direction);
  if (packet.direction == 1 || packet.direction == 2) {
    apt.ataFlags = packet.direction == 1 ? win::AtaFlagsDataIn : win::AtaFlagsDataOut;
    apt.dataTransferLength = packet.dataLength;
    apt.dataBuffer = reinterpret_cast<std::uintptr_t>(data.address());
  }
  const std::array<std::uint8_t, 8> current = {
      packet.features, packet.sectorCount, packet.lbaLow,  packet.lbaMid,
      packet.lbaHigh,  packet.device,      packet.command, 0};
  std::memcpy(apt.currentTaskFile, current.data(), 8);
  if (packet.lba48) {
    apt.ataFlags |= win::AtaFlags48BitCommand;
    const std::array<std::uint8_t, 8> previous = {
        packet.featuresExt, packet.sectorCountExt, packet.lbaLowExt, packet.lbaMidExt,
        packet.lbaHighExt,  packet.device,         packet.command,   0};
    std::memcpy(apt.previousTaskFile, previous.data(), 8);
  }
  if (packet.useDma) apt.ataFlags |= win::AtaFlagsUseDma;

  auto sent = os::current().deviceIoControl(handle_, win::IoctlAtaPassThroughDirect, &apt,
                                            sizeof(apt), &apt, sizeof(apt));
  if (!sent.ok) return mapSystemError(sent.error);

  registers.error = apt.currentTaskFile[0];
  registers.sectorCount = apt.currentTaskFile[1];
  registers.lbaLow = apt.currentTaskFile[2];
  registers.lbaMid = apt.currentTaskFile[3];
  registers.lbaHigh = apt.currentTaskFile[4];
  registers.device = apt.currentTaskFile[5];
  registers.status = apt.currentTaskFile[6];
  if (packet.lba48) {
    registers.sectorCountExt = apt.previousTaskFile[1];
    registers.lbaLowExt = apt.previousTaskFile[2];
    registers.lbaMidExt = apt.previousTaskFile[3];
    registers.lbaHighExt = apt.previousTaskFile[4];
  }
  if (packet.direction == 1) data.copyBack(packet.dataLength);
  return decodeAtaResult(packet, registers);
}

BaseDevice::Error SystemDevice::sendAtaThroughScsi(const ATAPacket& packet, ATARetReg& registers) {
  layout::ScsiPassThroughDirectWithSense buffer{};
  auto& sptd = buffer.sptd;
  sptd.length = sizeof(sptd);
  sptd.targetId = 0;
  sptd.cdbLength = 16;
  sptd.senseInfoLength = sizeof(buffer.sense);
  sptd.senseInfoOffset = offsetof(layout::ScsiPassThroughDirectWithSense, sense);
  sptd.timeOutValue = detail::timeoutSeconds(timeoutMs_);
  const bool withData = packet.direction == 1 || packet.direction == 2;
  detail::AlignedData data(packet.data, packet.dataLength, packet.direction);
  if (withData) {
    sptd.dataIn = packet.direction == 1 ? win::ScsiIoctlDataIn : win::ScsiIoctlDataOut;
    sptd.dataTransferLength = packet.dataLength;
    sptd.dataBuffer = reinterpret_cast<std::uintptr_t>(data.address());
  } else {
    sptd.dataIn = win::ScsiIoctlDataUnspecified;
  }

  std::uint8_t protocol = 3;  // non-data
  if (withData) {
    if (packet.useDma)
      protocol = 6;
    else if (packet.useFpdma)
      protocol = 12;
    else
      protocol = packet.direction == 1 ? 4 : 5;
  }
  std::uint8_t* cdb = sptd.cdb;
  cdb[0] = 0x85;
  cdb[1] = static_cast<std::uint8_t>((protocol << 1) | (packet.lba48 ? 1 : 0));
  std::uint8_t flags = packet.skipStatusCheck ? 0x00 : 0x20;  // CK_COND
  if (packet.direction == 1) flags |= 0x08;                   // T_DIR
  if (withData) {
    switch (packet.lengthField) {
      case 0:
        break;
      case 1:
        flags |= 0x05;
        break;
      case 3:
        flags |= 0x03;
        break;
      default:
        flags |= 0x06;
        break;
    }
  }
  cdb[2] = flags;
  const std::array<std::uint8_t, 12> registerBytes = {
      packet.featuresExt, packet.features, packet.sectorCountExt, packet.sectorCount,
      packet.lbaLowExt,   packet.lbaLow,   packet.lbaMidExt,      packet.lbaMid,
      packet.lbaHighExt,  packet.lbaHigh,  packet.device,         packet.command};
  std::memcpy(cdb + 3, registerBytes.data(), registerBytes.size());
  cdb[15] = 0;

  auto sent = os::current().deviceIoControl(handle_, win::IoctlScsiPassThroughDirect, &buffer,
                                            sizeof(buffer), &buffer, sizeof(buffer));
  if (!sent.ok) return mapSystemError(sent.error);

  const std::uint8_t* sense = buffer.sense;
  const bool descriptor = hasAtaStatusReturn(sense);
  if (sptd.scsiStatus == 0 || (sptd.scsiStatus == 2 && descriptor)) {
    if (packet.direction == 1) data.copyBack(packet.dataLength);
    if (!descriptor) return Error::Ok;
    registers.error = sense[11];
    registers.sectorCount = sense[13];
    registers.lbaLow = sense[15];
    registers.lbaMid = sense[17];
    registers.lbaHigh = sense[19];
    registers.device = sense[20];
    registers.status = sense[21];
    if (packet.lba48) {
      registers.sectorCountExt = sense[12];
      registers.lbaLowExt = sense[14];
      registers.lbaMidExt = sense[16];
      registers.lbaHighExt = sense[18];
    }
    return decodeAtaResult(packet, registers);
  }
  return Error::Failed;
}

bool SystemDevice::sendATA(const ATAPacket& packet, ATARetReg* registers) {
  lastError_ = Error::Ok;
  ATARetReg returned{};
  auto attemptOn = [&](std::int32_t path) {
    if (path == DriveInfo::TransportAta)
      runCommand([&] { return sendAtaDirect(packet, returned); });
    else
      runCommand([&] { return sendAtaThroughScsi(packet, returned); });
  };

  const std::int32_t fixed = drive_.transport;
  if (fixed == DriveInfo::TransportAta || fixed == DriveInfo::TransportScsi) {
    attemptOn(fixed);
  } else if (fixed == DriveInfo::TransportUnknown) {
    bool carried = false;
    for (std::int32_t path : {DriveInfo::TransportAta, DriveInfo::TransportScsi}) {
      attemptOn(path);
      if (lastError_ == Error::Ok) {
        drive_.transport = path;
        carried = true;
        break;
      }
    }
    if (!carried) {
      lastError_ = Error::NotSupported;
      return false;
    }
  } else {
    // The record came from the management service: no pass-through path to use.
    lastError_ = Error::NotSupported;
  }
  if (registers != nullptr) *registers = returned;
  return lastError_ == Error::Ok;
}

bool SystemDevice::ataIdentify(std::uint8_t* buffer, bool verify) {
  std::array<std::uint8_t, 512> own{};
  std::uint8_t* data = buffer != nullptr ? buffer : own.data();
  ATAPacket packet;
  packet.sectorCount = 1;
  packet.device = 0xE0;
  packet.command = 0xEC;
  packet.data = data;
  packet.dataLength = 512;
  packet.direction = 1;
  packet.lengthField = 0xFF;
  if (!sendATA(packet, nullptr)) return false;
  if (!verify) return true;
  if (data[510] != 0xA5) return false;
  std::uint8_t sum = 0;
  for (int i = 0; i < 512; ++i) sum = static_cast<std::uint8_t>(sum + data[i]);
  return sum == 0;
}

}  // namespace pbaloader
