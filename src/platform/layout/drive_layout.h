// DRIVE_LAYOUT_INFORMATION_EX and PARTITION_INFORMATION_EX as
// IOCTL_DISK_GET_DRIVE_LAYOUT_EX fills them on 64-bit Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/platform.h"

namespace pbaloader::layout {

struct PartitionInformationMbr {
  std::uint8_t partitionType = 0;
  std::uint8_t bootIndicator = 0;
  std::uint8_t recognizedPartition = 0;
  std::uint8_t reserved = 0;
  std::uint32_t hiddenSectors = 0;
  os::Guid partitionId;
};
static_assert(sizeof(PartitionInformationMbr) == 24);
static_assert(offsetof(PartitionInformationMbr, hiddenSectors) == 4);
static_assert(offsetof(PartitionInformationMbr, partitionId) == 8);

struct PartitionInformationGpt {
  os::Guid partitionType;
  os::Guid partitionId;
  std::uint64_t attributes = 0;
  char16_t name[36] = {};
};
static_assert(sizeof(PartitionInformationGpt) == 112);
static_assert(offsetof(PartitionInformationGpt, partitionId) == 16);
static_assert(offsetof(PartitionInformationGpt, attributes) == 32);
static_assert(offsetof(PartitionInformationGpt, name) == 40);

struct PartitionInformationEx {
  std::uint32_t partitionStyle = 0;
  std::int64_t startingOffset = 0;
  std::int64_t partitionLength = 0;
  std::uint32_t partitionNumber = 0;
  std::uint8_t rewritePartition = 0;
  std::uint8_t isServicePartition = 0;
  // The Mbr / Gpt union, read and written through the accessors below.
  alignas(8) std::uint8_t styleInfo[112] = {};

  PartitionInformationMbr mbr() const { return read<PartitionInformationMbr>(); }
  PartitionInformationGpt gpt() const { return read<PartitionInformationGpt>(); }
  void setMbr(const PartitionInformationMbr& info) { write(info); }
  void setGpt(const PartitionInformationGpt& info) { write(info); }

 private:
  template <class T>
  T read() const {
    T value;
    std::memcpy(&value, styleInfo, sizeof(T));
    return value;
  }
  template <class T>
  void write(const T& value) {
    std::memset(styleInfo, 0, sizeof(styleInfo));
    std::memcpy(styleInfo, &value, sizeof(T));
  }
};
static_assert(sizeof(PartitionInformationEx) == 144);
static_assert(offsetof(PartitionInformationEx, startingOffset) == 8);
static_assert(offsetof(PartitionInformationEx, partitionLength) == 16);
static_assert(offsetof(PartitionInformationEx, partitionNumber) == 24);
static_assert(offsetof(PartitionInformationEx, rewritePartition) == 28);
static_assert(offsetof(PartitionInformationEx, styleInfo) == 32);

struct DriveLayoutInformationMbr {
  std::uint32_t signature = 0;
  std::uint32_t checkSum = 0;
};
static_assert(sizeof(DriveLayoutInformationMbr) == 8);

struct DriveLayoutInformationGpt {
  os::Guid diskId;
  std::int64_t startingUsableOffset = 0;
  std::int64_t usableLength = 0;
  std::uint32_t maxPartitionCount = 0;
};
static_assert(sizeof(DriveLayoutInformationGpt) == 40);
static_assert(offsetof(DriveLayoutInformationGpt, startingUsableOffset) == 16);
static_assert(offsetof(DriveLayoutInformationGpt, maxPartitionCount) == 32);

// The fixed part of DRIVE_LAYOUT_INFORMATION_EX; the entries follow it.
struct DriveLayoutInformationExHeader {
  std::uint32_t partitionStyle = 0;
  std::uint32_t partitionCount = 0;
  // The Mbr / Gpt union.
  alignas(8) std::uint8_t styleInfo[40] = {};
};
static_assert(sizeof(DriveLayoutInformationExHeader) == 48);
static_assert(offsetof(DriveLayoutInformationExHeader, partitionCount) == 4);
static_assert(offsetof(DriveLayoutInformationExHeader, styleInfo) == 8);

inline constexpr std::size_t DriveLayoutEntriesOffset = sizeof(DriveLayoutInformationExHeader);
inline constexpr std::size_t DriveLayoutMaxEntries = 128;

}  // namespace pbaloader::layout
