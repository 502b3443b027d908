// The storage property query and protocol command records that carry NVMe
// commands, as 64-bit Windows lays them out.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pbaloader::layout {

// STORAGE_PROPERTY_QUERY up to its AdditionalParameters.
struct StoragePropertyQueryHeader {
  std::uint32_t propertyId = 0;
  std::uint32_t queryType = 0;
};
inline constexpr std::size_t StoragePropertyQueryAdditionalParameters = 8;
// sizeof(STORAGE_PROPERTY_QUERY): the one-byte AdditionalParameters, padded.
inline constexpr std::size_t StoragePropertyQuerySize = 12;
static_assert(sizeof(StoragePropertyQueryHeader) == StoragePropertyQueryAdditionalParameters);

struct StorageProtocolSpecificData {
  std::uint32_t protocolType = 0;
  std::uint32_t dataType = 0;
  std::uint32_t protocolDataRequestValue = 0;
  std::uint32_t protocolDataRequestSubValue = 0;
  std::uint32_t protocolDataOffset = 0;
  std::uint32_t protocolDataLength = 0;
  std::uint32_t fixedProtocolReturnData = 0;
  std::uint32_t protocolDataRequestSubValue2 = 0;
  std::uint32_t protocolDataRequestSubValue3 = 0;
  std::uint32_t protocolDataRequestSubValue4 = 0;
};
static_assert(sizeof(StorageProtocolSpecificData) == 40);
static_assert(offsetof(StorageProtocolSpecificData, dataType) == 4);
static_assert(offsetof(StorageProtocolSpecificData, protocolDataRequestValue) == 8);
static_assert(offsetof(StorageProtocolSpecificData, protocolDataRequestSubValue) == 12);
static_assert(offsetof(StorageProtocolSpecificData, protocolDataOffset) == 16);
static_assert(offsetof(StorageProtocolSpecificData, protocolDataLength) == 20);
static_assert(offsetof(StorageProtocolSpecificData, fixedProtocolReturnData) == 24);
static_assert(offsetof(StorageProtocolSpecificData, protocolDataRequestSubValue2) == 28);

// The NVMe query buffer: the query, its protocol-specific parameters and the
// data area, used as input and output.
struct NvmeQueryBuffer {
  StoragePropertyQueryHeader query;
  StorageProtocolSpecificData protocolSpecific;
  std::uint8_t data[4096] = {};
};
static_assert(sizeof(NvmeQueryBuffer) == 4144);
static_assert(offsetof(NvmeQueryBuffer, protocolSpecific) == 8);
static_assert(offsetof(NvmeQueryBuffer, data) == 48);

// STORAGE_PROTOCOL_DATA_DESCRIPTOR: how the answer overlays the same buffer.
struct StorageProtocolDataDescriptor {
  std::uint32_t version = 0;
  std::uint32_t size = 0;
  StorageProtocolSpecificData protocolSpecificData;
};
static_assert(sizeof(StorageProtocolDataDescriptor) == 48);
static_assert(offsetof(StorageProtocolDataDescriptor, size) == 4);
static_assert(offsetof(StorageProtocolDataDescriptor, protocolSpecificData) == 8);

// STORAGE_PROTOCOL_COMMAND (84 bytes with its one-element Command).
struct StorageProtocolCommand {
  std::uint32_t version = 0;
  std::uint32_t length = 0;
  std::uint32_t protocolType = 0;
  std::uint32_t flags = 0;
  std::uint32_t returnStatus = 0;
  std::uint32_t errorCode = 0;
  std::uint32_t commandLength = 0;
  std::uint32_t errorInfoLength = 0;
  std::uint32_t dataToDeviceTransferLength = 0;
  std::uint32_t dataFromDeviceTransferLength = 0;
  std::uint32_t timeOutValue = 0;
  std::uint32_t errorInfoOffset = 0;
  std::uint32_t dataToDeviceBufferOffset = 0;
  std::uint32_t dataFromDeviceBufferOffset = 0;
  std::uint32_t commandSpecific = 0;
  std::uint32_t reserved0 = 0;
  std::uint32_t fixedProtocolReturnData = 0;
  std::uint32_t reserved1[3] = {};
  std::uint8_t command[4] = {};  // one element, padded; the command runs on
};
static_assert(sizeof(StorageProtocolCommand) == 84);
static_assert(offsetof(StorageProtocolCommand, returnStatus) == 16);
static_assert(offsetof(StorageProtocolCommand, commandLength) == 24);
static_assert(offsetof(StorageProtocolCommand, dataToDeviceTransferLength) == 32);
static_assert(offsetof(StorageProtocolCommand, dataFromDeviceTransferLength) == 36);
static_assert(offsetof(StorageProtocolCommand, timeOutValue) == 40);
static_assert(offsetof(StorageProtocolCommand, errorInfoOffset) == 44);
static_assert(offsetof(StorageProtocolCommand, dataToDeviceBufferOffset) == 48);
static_assert(offsetof(StorageProtocolCommand, dataFromDeviceBufferOffset) == 52);
static_assert(offsetof(StorageProtocolCommand, commandSpecific) == 56);
static_assert(offsetof(StorageProtocolCommand, fixedProtocolReturnData) == 64);
static_assert(offsetof(StorageProtocolCommand, command) == 80);

// The protocol command buffer: command record, 64-byte NVMe command from
// byte 80, error information at 144, data at 208.
inline constexpr std::size_t ProtocolCommandOffset = 80;
inline constexpr std::size_t ProtocolCommandLength = 64;
inline constexpr std::size_t ProtocolErrorInfoOffset = 144;
inline constexpr std::size_t ProtocolErrorInfoLength = 64;
inline constexpr std::size_t ProtocolDataOffset = 208;
inline constexpr std::size_t ProtocolDataLength = 4096;
inline constexpr std::size_t ProtocolCommandBufferSize = 4304;
static_assert(ProtocolCommandOffset + ProtocolCommandLength == ProtocolErrorInfoOffset);
static_assert(ProtocolErrorInfoOffset + ProtocolErrorInfoLength == ProtocolDataOffset);
static_assert(ProtocolDataOffset + ProtocolDataLength == ProtocolCommandBufferSize);

}  // namespace pbaloader::layout
