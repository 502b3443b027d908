// ATA_PASS_THROUGH_DIRECT and SCSI_PASS_THROUGH_DIRECT as 64-bit Windows lays
// them out. The DataBuffer members carry the caller's address: the DIRECT
// variants move data straight from and to that memory.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pbaloader::layout {

struct AtaPassThroughDirect {
  std::uint16_t length = 0;
  std::uint16_t ataFlags = 0;
  std::uint8_t pathId = 0;
  std::uint8_t targetId = 0;
  std::uint8_t lun = 0;
  std::uint8_t reservedAsUchar = 0;
  std::uint32_t dataTransferLength = 0;
  std::uint32_t timeOutValue = 0;
  std::uint32_t reservedAsUlong = 0;
  std::uint64_t dataBuffer = 0;
  std::uint8_t previousTaskFile[8] = {};
  std::uint8_t currentTaskFile[8] = {};
};
static_assert(sizeof(AtaPassThroughDirect) == 48);
static_assert(offsetof(AtaPassThroughDirect, ataFlags) == 2);
static_assert(offsetof(AtaPassThroughDirect, pathId) == 4);
static_assert(offsetof(AtaPassThroughDirect, targetId) == 5);
static_assert(offsetof(AtaPassThroughDirect, dataTransferLength) == 8);
static_assert(offsetof(AtaPassThroughDirect, timeOutValue) == 12);
static_assert(offsetof(AtaPassThroughDirect, dataBuffer) == 24);
static_assert(offsetof(AtaPassThroughDirect, previousTaskFile) == 32);
static_assert(offsetof(AtaPassThroughDirect, currentTaskFile) == 40);

struct ScsiPassThroughDirect {
  std::uint16_t length = 0;
  std::uint8_t scsiStatus = 0;
  std::uint8_t pathId = 0;
  std::uint8_t targetId = 0;
  std::uint8_t lun = 0;
  std::uint8_t cdbLength = 0;
  std::uint8_t senseInfoLength = 0;
  std::uint8_t dataIn = 0;
  std::uint32_t dataTransferLength = 0;
  std::uint32_t timeOutValue = 0;
  std::uint64_t dataBuffer = 0;
  std::uint32_t senseInfoOffset = 0;
  std::uint8_t cdb[16] = {};
};
static_assert(sizeof(ScsiPassThroughDirect) == 56);
static_assert(offsetof(ScsiPassThroughDirect, scsiStatus) == 2);
static_assert(offsetof(ScsiPassThroughDirect, targetId) == 4);
static_assert(offsetof(ScsiPassThroughDirect, cdbLength) == 6);
static_assert(offsetof(ScsiPassThroughDirect, senseInfoLength) == 7);
static_assert(offsetof(ScsiPassThroughDirect, dataIn) == 8);
static_assert(offsetof(ScsiPassThroughDirect, dataTransferLength) == 12);
static_assert(offsetof(ScsiPassThroughDirect, timeOutValue) == 16);
static_assert(offsetof(ScsiPassThroughDirect, dataBuffer) == 24);
static_assert(offsetof(ScsiPassThroughDirect, senseInfoOffset) == 32);
static_assert(offsetof(ScsiPassThroughDirect, cdb) == 36);

// The record followed by a filler and the sense area, as one buffer.
struct ScsiPassThroughDirectWithSense {
  ScsiPassThroughDirect sptd;
  std::uint32_t filler = 0;
  std::uint8_t sense[32] = {};
};
static_assert(sizeof(ScsiPassThroughDirectWithSense) == 96);
static_assert(offsetof(ScsiPassThroughDirectWithSense, filler) == 56);
static_assert(offsetof(ScsiPassThroughDirectWithSense, sense) == 60);

}  // namespace pbaloader::layout
