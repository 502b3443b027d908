// The storage stack of the simulated machine: checks the pass-through and
// NVMe query buffers as Windows' port and class drivers do, follows the
// DataBuffer addresses of the DIRECT records, and routes each command to the
// disk's device model.
#include "platform/sim/storage.h"

#include <algorithm>
#include <cstring>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

#include "platform/layout/pass_through.h"
#include "platform/layout/storage_query.h"
#include "platform/sim/devices/device_model.h"
#include "platform/sim/machine.h"
#include "platform/winconst.h"

namespace pbaloader::sim {
namespace {

// Largest data phase the simulated adapters accept (the port driver's limit).
constexpr std::uint32_t MaxTransferLength = 0x20000;
// The port driver's ceiling for a pass-through time-out: 30 hours.
constexpr std::uint32_t MaxTimeOutSeconds = 108000;

std::uint8_t* userAddress(std::uint64_t address) {
  return reinterpret_cast<std::uint8_t*>(static_cast<std::uintptr_t>(address));
}

os::Transfer fail(std::uint32_t error) { return {false, 0, error}; }
os::Transfer done(std::uint32_t count) { return {true, count, 0}; }

bool ownsCode(std::uint32_t code) {
  return code == win::IoctlAtaPassThroughDirect || code == win::IoctlScsiPassThroughDirect ||
         code == win::IoctlStorageQueryProperty || code == win::IoctlStorageProtocolCommand;
}

// Shared checks of a DIRECT data phase: a buffer that exists, is aligned to
// the adapter's 4-byte alignment and fits the transfer limit.
std::uint32_t checkDataBuffer(std::uint64_t address, std::uint32_t length) {
  if (length == 0) return 0;
  if (address == 0 || length > MaxTransferLength || address % 4 != 0)
    return win::ErrorInvalidParameter;
  return 0;
}

}  // namespace

StorageStack::StorageStack(Machine& machine) : machine_(machine) {}
StorageStack::~StorageStack() = default;

void StorageStack::load(const nlohmann::json&) {
  models_.clear();
  for (const SimDisk& disk : machine_.disks) {
    // Capacities in sectors and every sector-sized transfer divide by it.
    const std::uint32_t size = disk.sectorSize;
    if (size < 512 || (size & (size - 1)) != 0)
      throw std::runtime_error("disk " + std::to_string(disk.number) +
                               ": sectorSize must be a power of two, at least 512");
  }
  for (std::size_t i = 0; i < machine_.disks.size(); ++i) {
    const auto& entry = machine_.disks[i].description;
    if (entry.is_object() && entry.contains("device"))
      models_.push_back(
          std::make_unique<DeviceModel>(machine_, static_cast<int>(i), entry.at("device")));
    else
      models_.push_back(nullptr);
  }
}

DeviceModel* StorageStack::model(int disk) {
  if (disk < 0 || static_cast<std::size_t>(disk) >= models_.size()) return nullptr;
  return models_[static_cast<std::size_t>(disk)].get();
}

void StorageStack::setModel(int disk, std::unique_ptr<DeviceModel> model) {
  models_.at(static_cast<std::size_t>(disk)) = std::move(model);
}

std::optional<os::Transfer> StorageStack::deviceIoControl(OpenObject& object, std::uint32_t code,
                                                          const void* in, std::uint32_t inSize,
                                                          void* out, std::uint32_t outSize) {
  if (!ownsCode(code)) return std::nullopt;
  IoctlRecord record;
  record.disk = object.disk;
  record.code = code;
  if (in != nullptr) {
    const auto* bytes = static_cast<const std::uint8_t*>(in);
    record.input.assign(bytes, bytes + inSize);
  }
  const os::Transfer result = dispatch(object, code, in, inSize, out, outSize, record.dataOut);
  record.ok = result.ok;
  record.error = result.error;
  log.push_back(std::move(record));
  return result;
}

os::Transfer StorageStack::dispatch(OpenObject& object, std::uint32_t code, const void* in,
                                    std::uint32_t inSize, void* out, std::uint32_t outSize,
                                    std::vector<std::uint8_t>& dataOut) {
  // Only a disk answers storage commands; files and volumes do not carry them.
  if (object.kind != OpenObject::Kind::RawDisk && object.kind != OpenObject::Kind::DiskInterface)
    return fail(win::ErrorInvalidFunction);
  DeviceModel* device = model(object.disk);
  const bool passThrough = code != win::IoctlStorageQueryProperty;
  if (passThrough) {
    const bool readWrite =
        (object.access & win::GenericAll) != 0 ||
        ((object.access & win::GenericRead) && (object.access & win::GenericWrite));
    if (!readWrite) return fail(win::ErrorAccessDenied);
  }
  if (device == nullptr)
    return fail(code == win::IoctlStorageQueryProperty || code == win::IoctlStorageProtocolCommand
                    ? win::ErrorNotSupported
                    : win::ErrorInvalidFunction);
  if (std::uint32_t error = device->interceptIoctl(code)) return fail(error);
  switch (code) {
    case win::IoctlAtaPassThroughDirect:
      return ataPassThrough(*device, in, inSize, out, outSize, dataOut);
    case win::IoctlScsiPassThroughDirect:
      return scsiPassThrough(*device, in, inSize, out, outSize, dataOut);
    case win::IoctlStorageQueryProperty:
      return queryProperty(*device, in, inSize, out, outSize);
    default:
      return protocolCommand(*device, in, inSize, out, outSize, dataOut);
  }
}

os::Transfer StorageStack::ataPassThrough(DeviceModel& device, const void* in, std::uint32_t inSize,
                                          void* out, std::uint32_t outSize,
                                          std::vector<std::uint8_t>& dataOut) {
  if (std::uint32_t error = device.ataIoctlError()) return fail(error);
  layout::AtaPassThroughDirect apt;
  if (in == nullptr || inSize < sizeof(apt)) return fail(win::ErrorInvalidParameter);
  if (out == nullptr || outSize < sizeof(apt)) return fail(win::ErrorInsufficientBuffer);
  std::memcpy(&apt, in, sizeof(apt));
  if (apt.length != sizeof(apt)) return fail(win::ErrorRevisionMismatch);
  const bool dataIn = (apt.ataFlags & win::AtaFlagsDataIn) != 0;
  const bool dataOutFlag = (apt.ataFlags & win::AtaFlagsDataOut) != 0;
  if (dataIn && dataOutFlag) return fail(win::ErrorInvalidParameter);
  if (apt.timeOutValue == 0 || apt.timeOutValue > MaxTimeOutSeconds)
    return fail(win::ErrorInvalidParameter);
  const std::uint32_t length = (dataIn || dataOutFlag) ? apt.dataTransferLength : 0;
  if (std::uint32_t error = checkDataBuffer(apt.dataBuffer, length)) return fail(error);
  std::uint8_t* data = userAddress(apt.dataBuffer);
  if (dataOutFlag && length > 0) dataOut.assign(data, data + length);

  AtaTaskFile tf;
  std::memcpy(tf.current, apt.currentTaskFile, 8);
  std::memcpy(tf.previous, apt.previousTaskFile, 8);
  tf.lba48 = (apt.ataFlags & win::AtaFlags48BitCommand) != 0;
  const std::uint32_t moved = device.executeAta(tf, data, length, dataIn ? 1 : dataOutFlag ? 2 : 0);
  std::memcpy(apt.currentTaskFile, tf.current, 8);
  if (tf.lba48) std::memcpy(apt.previousTaskFile, tf.previous, 8);
  apt.dataTransferLength = moved;
  std::memcpy(out, &apt, sizeof(apt));
  return done(sizeof(apt));
}

os::Transfer StorageStack::scsiPassThrough(DeviceModel& device, const void* in,
                                           std::uint32_t inSize, void* out, std::uint32_t outSize,
                                           std::vector<std::uint8_t>& dataOut) {
  layout::ScsiPassThroughDirect sptd;
  if (in == nullptr || inSize < sizeof(sptd)) return fail(win::ErrorInvalidParameter);
  if (out == nullptr || outSize < sizeof(sptd)) return fail(win::ErrorInsufficientBuffer);
  std::memcpy(&sptd, in, sizeof(sptd));
  if (sptd.length != sizeof(sptd)) return fail(win::ErrorRevisionMismatch);
  if (sptd.cdbLength == 0 || sptd.cdbLength > 16 || sptd.dataIn > win::ScsiIoctlDataUnspecified)
    return fail(win::ErrorInvalidParameter);
  if (sptd.timeOutValue == 0 || sptd.timeOutValue > MaxTimeOutSeconds)
    return fail(win::ErrorInvalidParameter);
  // The sense area must lie behind the record and inside the output buffer.
  if (sptd.senseInfoLength > 0 &&
      (sptd.senseInfoOffset < sizeof(sptd) ||
       std::uint64_t{sptd.senseInfoOffset} + sptd.senseInfoLength > outSize))
    return fail(win::ErrorInvalidParameter);
  const int direction = sptd.dataIn == win::ScsiIoctlDataIn    ? 1
                        : sptd.dataIn == win::ScsiIoctlDataOut ? 2
                                                               : 0;
  const std::uint32_t length = direction == 0 ? 0 : sptd.dataTransferLength;
  if (direction == 0 && sptd.dataTransferLength != 0) return fail(win::ErrorInvalidParameter);
  if (std::uint32_t error = checkDataBuffer(sptd.dataBuffer, length)) return fail(error);
  std::uint8_t* data = userAddress(sptd.dataBuffer);
  if (direction == 2 && length > 0) dataOut.assign(data, data + length);

  const ScsiOutcome outcome = device.executeScsi(sptd.cdb, sptd.cdbLength, data, length, direction);
  if (outcome.ioctlError != 0) return fail(outcome.ioctlError);
  sptd.scsiStatus = outcome.status;
  sptd.dataTransferLength = std::min(outcome.transferred, length);
  std::uint32_t senseBytes = 0;
  if (outcome.status == 2 && sptd.senseInfoLength > 0) {
    senseBytes = std::min<std::uint32_t>(sptd.senseInfoLength,
                                         static_cast<std::uint32_t>(outcome.sense.size()));
    std::memcpy(static_cast<std::uint8_t*>(out) + sptd.senseInfoOffset, outcome.sense.data(),
                senseBytes);
  }
  sptd.senseInfoLength = static_cast<std::uint8_t>(senseBytes);
  std::memcpy(out, &sptd, sizeof(sptd));
  return done(senseBytes > 0 ? sptd.senseInfoOffset + senseBytes : sizeof(sptd));
}

os::Transfer StorageStack::queryProperty(DeviceModel& device, const void* in, std::uint32_t inSize,
                                         void* out, std::uint32_t outSize) {
  layout::StoragePropertyQueryHeader query;
  if (in == nullptr || inSize < sizeof(query)) return fail(win::ErrorInvalidParameter);
  std::memcpy(&query, in, sizeof(query));
  if (query.queryType != win::PropertyStandardQuery && query.queryType != win::PropertyExistsQuery)
    return fail(win::ErrorInvalidParameter);
  if (query.propertyId != win::StorageAdapterProtocolSpecificProperty &&
      query.propertyId != win::StorageDeviceProtocolSpecificProperty)
    return fail(win::ErrorNotSupported);
  if (!device.isNvme()) return fail(win::ErrorNotSupported);
  if (query.queryType == win::PropertyExistsQuery || device.emptyQueryAnswer()) return done(0);

  layout::StorageProtocolSpecificData request;
  if (inSize < sizeof(query) + sizeof(request)) return fail(win::ErrorInvalidParameter);
  std::memcpy(&request, static_cast<const std::uint8_t*>(in) + sizeof(query), sizeof(request));
  if (request.protocolType != win::ProtocolTypeNvme) return fail(win::ErrorNotSupported);
  layout::StorageProtocolDataDescriptor descriptor;
  if (out == nullptr || outSize < sizeof(descriptor)) return fail(win::ErrorInsufficientBuffer);

  // Offsets count from the protocol-specific data, which follows the 8-byte header.
  const std::uint64_t room =
      outSize - offsetof(layout::StorageProtocolDataDescriptor, protocolSpecificData);
  std::vector<std::uint8_t> answer;
  std::uint32_t fixed = 0;
  if (request.dataType == win::NvmeDataTypeIdentify ||
      request.dataType == win::NvmeDataTypeLogPage) {
    if (request.protocolDataOffset < sizeof(request) || request.protocolDataLength == 0)
      return fail(win::ErrorInvalidParameter);
    if (std::uint64_t{request.protocolDataOffset} + request.protocolDataLength > room)
      return fail(win::ErrorInsufficientBuffer);
    if (request.dataType == win::NvmeDataTypeIdentify && request.protocolDataLength < 4096)
      return fail(win::ErrorInvalidParameter);
    answer.assign(request.protocolDataLength, 0);
    const bool identify = request.dataType == win::NvmeDataTypeIdentify;
    // Identify: CNS in the request value, the namespace in the sub-value.
    const bool answered =
        identify ? device.executeNvmeAdmin(0x06, request.protocolDataRequestSubValue,
                                           request.protocolDataRequestValue, 0, answer.data(),
                                           static_cast<std::uint32_t>(answer.size()), fixed)
                 : device.executeNvmeAdmin(0x02, 0xFFFFFFFF, request.protocolDataRequestValue, 0,
                                           answer.data(), static_cast<std::uint32_t>(answer.size()),
                                           fixed);
    if (!answered) return fail(win::ErrorInvalidParameter);
  } else if (request.dataType == win::NvmeDataTypeFeature) {
    if (!device.executeNvmeAdmin(0x0A, 0, request.protocolDataRequestValue, 0, nullptr, 0, fixed))
      return fail(win::ErrorInvalidParameter);
  } else {
    return fail(win::ErrorInvalidParameter);
  }

  descriptor.version = device.descriptorVersion();
  descriptor.size = device.descriptorSize();
  descriptor.protocolSpecificData = request;
  descriptor.protocolSpecificData.fixedProtocolReturnData = fixed;
  auto* bytes = static_cast<std::uint8_t*>(out);
  if (auto offset = device.returnedDataOffset())
    descriptor.protocolSpecificData.protocolDataOffset = *offset;
  std::memcpy(bytes, &descriptor, sizeof(descriptor));
  if (answer.empty()) return done(sizeof(descriptor));
  const std::size_t at = offsetof(layout::StorageProtocolDataDescriptor, protocolSpecificData) +
                         request.protocolDataOffset;
  std::memcpy(bytes + at, answer.data(), answer.size());
  return done(static_cast<std::uint32_t>(at + answer.size()));
}

os::Transfer StorageStack::protocolCommand(DeviceModel& device, const void* in,
                                           std::uint32_t inSize, void* out, std::uint32_t outSize,
                                           std::vector<std::uint8_t>& dataOut) {
  layout::StorageProtocolCommand command;
  if (in == nullptr || inSize < sizeof(command)) return fail(win::ErrorInvalidParameter);
  std::memcpy(static_cast<void*>(&command), in, layout::ProtocolCommandOffset);
  if (command.version != win::StorageProtocolStructureVersion || command.length != sizeof(command))
    return fail(win::ErrorRevisionMismatch);
  if (!device.isNvme() || command.protocolType != win::ProtocolTypeNvme)
    return fail(win::ErrorNotSupported);
  if (command.commandLength != win::StorageProtocolCommandLengthNvme || command.timeOutValue == 0 ||
      layout::ProtocolCommandOffset + layout::ProtocolCommandLength > inSize)
    return fail(win::ErrorInvalidParameter);
  const auto fits = [](std::uint32_t offset, std::uint32_t length, std::uint32_t size) {
    return length == 0 || std::uint64_t{offset} + length <= size;
  };
  if (out == nullptr || !fits(command.errorInfoOffset, command.errorInfoLength, outSize) ||
      !fits(command.dataToDeviceBufferOffset, command.dataToDeviceTransferLength, inSize) ||
      !fits(command.dataFromDeviceBufferOffset, command.dataFromDeviceTransferLength, outSize))
    return fail(win::ErrorInvalidParameter);
  const auto* input = static_cast<const std::uint8_t*>(in);
  const std::uint8_t opcode = input[layout::ProtocolCommandOffset];
  if (command.dataToDeviceTransferLength > 0) {
    const auto* from = input + command.dataToDeviceBufferOffset;
    dataOut.assign(from, from + command.dataToDeviceTransferLength);
  }
  // The NVMe driver passes only vendor-specific admin commands through.
  const bool admin = command.commandSpecific == win::StorageProtocolSpecificNvmeAdminCommand;
  if (!admin || opcode < 0xC0) return fail(win::ErrorInvalidFunction);
  auto* bytes = static_cast<std::uint8_t*>(out);
  if (command.dataFromDeviceTransferLength > 0)
    std::memset(bytes + command.dataFromDeviceBufferOffset, 0,
                command.dataFromDeviceTransferLength);
  command.returnStatus = device.protocolStatus();
  command.errorCode = 0;
  command.fixedProtocolReturnData = 0;
  std::memcpy(bytes, &command, layout::ProtocolCommandOffset);
  return done(outSize);
}

}  // namespace pbaloader::sim
