#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "common/text.h"
#include "device/device.h"
#include "platform/layout/storage_query.h"
#include "platform/winconst.h"

namespace pbaloader {
namespace {

using Error = BaseDevice::Error;

std::uint32_t readLe32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

void putLe32(std::uint8_t* bytes, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void putLe64(std::uint8_t* bytes, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::string identifyText(const std::uint8_t* data, std::size_t offset, std::size_t count) {
  return trimText(std::string_view(reinterpret_cast<const char*>(data) + offset, count), BlankSet);
}

// The largest logical sector of any drive the bridges carry.
constexpr std::uint32_t LargestSectorSize = 64 * 1024;

constexpr std::size_t QueryBufferSize = sizeof(layout::NvmeQueryBuffer);
constexpr std::size_t ProtocolSpecificOffset =
    offsetof(layout::StorageProtocolDataDescriptor, protocolSpecificData);

}  // namespace

std::string nvmeSerial(const std::uint8_t* data) { return identifyText(data, 4, 20); }
std::string nvmeModel(const std::uint8_t* data) { return identifyText(data, 24, 40); }
std::string nvmeFirmware(const std::uint8_t* data) { return identifyText(data, 64, 8); }

bool SystemDevice::sendNvme(const NVMePacket& packet) {
  runCommand([&] { return sendNvmeDirect(packet); });
  return lastError_ == Error::Ok;
}

BaseDevice::Error SystemDevice::sendNvmeDirect(const NVMePacket& packet) {
  auto* out = static_cast<std::uint8_t*>(packet.data);
  auto& platform = os::current();

  if (packet.opcode == 0x02 || packet.opcode == 0x06 || packet.opcode == 0x0A) {
    std::vector<std::uint8_t> buffer(QueryBufferSize, 0);
    auto* query = reinterpret_cast<layout::NvmeQueryBuffer*>(buffer.data());
    auto& request = query->protocolSpecific;
    request.protocolType = win::ProtocolTypeNvme;
    query->query.queryType = win::PropertyStandardQuery;
    if (packet.opcode == 0x06) {
      query->query.propertyId = win::StorageAdapterProtocolSpecificProperty;
      request.dataType = win::NvmeDataTypeIdentify;
      request.protocolDataRequestValue = 1;  // Identify Controller
      request.protocolDataRequestSubValue = 0;
      request.protocolDataOffset = sizeof(layout::StorageProtocolSpecificData);
      request.protocolDataLength = packet.dataLength;
    } else if (packet.opcode == 0x0A) {
      query->query.propertyId = win::StorageDeviceProtocolSpecificProperty;
      request.dataType = win::NvmeDataTypeFeature;
      request.protocolDataRequestValue = packet.cdw10 & 0xFF;
    } else {
      query->query.propertyId = win::StorageDeviceProtocolSpecificProperty;
      request.dataType = win::NvmeDataTypeLogPage;
      request.protocolDataRequestValue = packet.cdw10;
      request.protocolDataRequestSubValue = packet.cdw12;
      request.protocolDataRequestSubValue2 = packet.cdw13;
      request.protocolDataOffset = sizeof(layout::StorageProtocolSpecificData);
      request.protocolDataLength = packet.dataLength;
    }

    auto sent = platform.deviceIoControl(handle_, win::IoctlStorageQueryProperty, buffer.data(),
                                         QueryBufferSize, buffer.data(), QueryBufferSize);
    if (!sent.ok) return mapSystemError(sent.error);
    // A call that succeeds without an answer left no error code to map.
    if (sent.count == 0) return Error::Failed;
    layout::StorageProtocolDataDescriptor answer;
    std::memcpy(&answer, buffer.data(), sizeof(answer));
    if (answer.version != sizeof(answer) || answer.size != sizeof(answer)) return Error::Failed;
    const auto& returned = answer.protocolSpecificData;
    // Returned data must lie inside the buffer, whatever offset the driver names.
    const std::size_t room = QueryBufferSize - ProtocolSpecificOffset;
    const auto dataAt = [&](std::size_t length) -> const std::uint8_t* {
      if (returned.protocolDataOffset > room || length > room - returned.protocolDataOffset)
        return nullptr;
      return buffer.data() + ProtocolSpecificOffset + returned.protocolDataOffset;
    };

    if (packet.opcode == 0x06) {
      if (returned.protocolDataOffset < sizeof(layout::StorageProtocolSpecificData) ||
          returned.protocolDataLength < 4096)
        return Error::Failed;
      const std::uint8_t* identify = dataAt(4096);
      if (identify == nullptr) return Error::Failed;
      const bool vendor = identify[0] != 0 || identify[1] != 0;
      if (!vendor || readLe32(identify + 516) == 0) return Error::Failed;
      if (out != nullptr)
        std::memcpy(out, identify, std::min<std::uint32_t>(packet.dataLength, 4096));
      return Error::Ok;
    }
    if (packet.opcode == 0x0A) {
      std::uint8_t fixed[4];
      putLe32(fixed, returned.fixedProtocolReturnData);
      if (out != nullptr) std::memcpy(out, fixed, std::min<std::uint32_t>(packet.dataLength, 4));
      return Error::Ok;
    }
    const std::uint32_t length = std::min(returned.protocolDataLength, packet.dataLength);
    const std::uint8_t* log = dataAt(length);
    if (log == nullptr) return Error::Failed;
    if (out != nullptr) std::memcpy(out, log, length);
    return Error::Ok;
  }

  std::vector<std::uint8_t> buffer(layout::ProtocolCommandBufferSize, 0);
  layout::StorageProtocolCommand command{};
  command.version = win::StorageProtocolStructureVersion;
  command.length = sizeof(command);
  command.protocolType = win::ProtocolTypeNvme;
  command.flags = packet.adapterRequest ? win::StorageProtocolCommandFlagAdapterRequest : 0;
  command.commandLength = win::StorageProtocolCommandLengthNvme;
  command.errorInfoLength = layout::ProtocolErrorInfoLength;
  command.timeOutValue = 10;
  command.errorInfoOffset = layout::ProtocolErrorInfoOffset;
  const std::uint32_t carried = std::min<std::uint32_t>(packet.dataLength, 4096);
  if (packet.direction == 1) {
    command.dataFromDeviceTransferLength = packet.dataLength;
    command.dataFromDeviceBufferOffset = layout::ProtocolDataOffset;
  } else if (packet.direction == 2) {
    command.dataToDeviceTransferLength = packet.dataLength;
    command.dataToDeviceBufferOffset = layout::ProtocolDataOffset;
    if (out != nullptr) std::memcpy(&buffer[layout::ProtocolDataOffset], out, carried);
  }
  command.commandSpecific = packet.adminCommand ? win::StorageProtocolSpecificNvmeAdminCommand
                                                : win::StorageProtocolSpecificNvmeNvmCommand;
  std::memcpy(buffer.data(), &command, layout::ProtocolCommandOffset);
  std::uint8_t* nvme = &buffer[layout::ProtocolCommandOffset];
  nvme[0] = packet.opcode;
  putLe32(nvme + 4, packet.nsid);
  putLe32(nvme + 8, packet.cdw2);
  putLe32(nvme + 12, packet.cdw3);
  const std::uint32_t dwords[6] = {packet.cdw10, packet.cdw11, packet.cdw12,
                                   packet.cdw13, packet.cdw14, packet.cdw15};
  for (int i = 0; i < 6; ++i) putLe32(nvme + 40 + 4 * i, dwords[i]);

  auto sent = platform.deviceIoControl(handle_, win::IoctlStorageProtocolCommand, buffer.data(),
                                       static_cast<std::uint32_t>(buffer.size()), buffer.data(),
                                       static_cast<std::uint32_t>(buffer.size()));
  if (!sent.ok) return mapSystemError(sent.error);
  std::memcpy(static_cast<void*>(&command), buffer.data(), layout::ProtocolCommandOffset);
  // A delivered command the drive refused is a failure, not a success.
  if (command.returnStatus != win::StorageProtocolStatusSuccess) return Error::Failed;
  if (packet.direction == 1 && out != nullptr)
    std::memcpy(out, &buffer[layout::ProtocolDataOffset], carried);
  return Error::Ok;
}

bool SystemDevice::sendNvmeThroughBridge(const NVMePacket& packet) {
  if (drive_.transport != DriveInfo::TransportScsi) return false;
  auto* data = static_cast<std::uint8_t*>(packet.data);
  for (int attempt = 1; attempt <= 2; ++attempt) {
    if (data != nullptr) std::memset(data, 0, packet.dataLength);

    std::array<std::uint8_t, 512> block{};
    std::memcpy(block.data(), "NVME", 4);
    block[8] = packet.opcode;
    putLe32(&block[12], packet.nsid);
    putLe32(&block[16], packet.cdw2);
    putLe32(&block[20], packet.cdw3);
    putLe64(&block[24], reinterpret_cast<std::uintptr_t>(packet.metadata));
    putLe64(&block[32], reinterpret_cast<std::uintptr_t>(packet.data));
    putLe32(&block[44], packet.dataLength);
    const std::uint32_t dwords[6] = {packet.cdw10, packet.cdw11, packet.cdw12,
                                     packet.cdw13, packet.cdw14, packet.cdw15};
    for (int i = 0; i < 6; ++i) putLe32(&block[48 + 4 * i], dwords[i]);

    SCSIPacket command;
    const std::uint8_t commandCdb[12] = {0xA1, 0x80, 0x00, 0x00, 0x02, 0x00};
    std::memcpy(command.cdb, commandCdb, sizeof(commandCdb));
    command.cdbLength = 12;
    command.data = block.data();
    command.dataLength = 512;
    command.direction = 2;
    if (!sendSCSI(command, nullptr)) return false;

    SCSIPacket transfer;
    const std::uint8_t transferCdb[12] = {0xA1,
                                          0x82,
                                          0x00,
                                          static_cast<std::uint8_t>(packet.dataLength),
                                          static_cast<std::uint8_t>(packet.dataLength >> 8),
                                          static_cast<std::uint8_t>(packet.dataLength >> 16)};
    std::memcpy(transfer.cdb, transferCdb, sizeof(transferCdb));
    transfer.cdbLength = 12;
    transfer.data = data;
    transfer.dataLength = packet.dataLength;
    transfer.direction = 1;
    if (sendSCSI(transfer, nullptr)) break;
    if (lastError_ != Error::HardwareError) return false;
    // Some bridges need a plain media access before they carry the data phase.
    // READ(16) always moves 512 bytes per block, so the scratch holds at least that;
    // a block length past any real sector size is the drive's word, not an allocation.
    std::vector<std::uint8_t> scratch(
        std::clamp<std::uint32_t>(drive_.bytesPerSector, 512, LargestSectorSize));
    readSectors(scratch.data(), 0, 1);
  }

  if (data == nullptr || packet.dataLength < 520) return false;
  int count = 0;
  if (!nvmeFirmware(data).empty()) ++count;
  if (!nvmeModel(data).empty()) ++count;
  if (!nvmeSerial(data).empty()) ++count;
  if (readLe32(data + 516) != 0) ++count;
  return count >= 3;
}

bool SystemDevice::bridgeIdentifyController(std::uint8_t* buffer) {
  NVMePacket packet;
  packet.opcode = 0x06;
  packet.cdw10 = 1;
  packet.data = buffer;
  packet.dataLength = 4096;
  return sendNvmeThroughBridge(packet);
}

}  // namespace pbaloader
