// A drive layout from the disk driver: the header, the entries it says it
// filled, each partition's volume among the volume interfaces, the volume's
// name and its drive letter, every answer from the fuzzer.
#include <algorithm>

#include "discovery/partitions.h"
#include "fuzz/support/fuzz_platform.h"
#include "platform/winconst.h"

using namespace pbaloader;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
  fuzz::Bytes bytes(input, size);
  fuzz::HostileStoragePlatform platform(bytes);
  os::ScopedPlatform scoped(platform);
  std::vector<PartitionInfo> partitions;
  std::size_t entries = 0;
  {
    DiskHandle disk(u"\\\\.\\PHYSICALDRIVE6");
    partitions = listDiskPartitions(disk);
    if (disk.layoutValid()) {
      PBA_FUZZ_CHECK(disk.layoutBytes() <= disk.layout().size());
      layout::DriveLayoutInformationExHeader header;
      std::memcpy(&header, disk.layout().data(), sizeof(header));
      const std::size_t filled = disk.layoutBytes() < layout::DriveLayoutEntriesOffset
                                     ? 0
                                     : (disk.layoutBytes() - layout::DriveLayoutEntriesOffset) /
                                           sizeof(layout::PartitionInformationEx);
      entries = std::min<std::size_t>(header.partitionCount, filled);
    }
  }
  // Never more partitions than entries the driver both counted and filled.
  PBA_FUZZ_CHECK(partitions.size() <= entries);
  for (const PartitionInfo& p : partitions) {
    PBA_FUZZ_CHECK(p.style == 1 || p.style == 2);
    PBA_FUZZ_CHECK(!p.volumeGuid.empty());
    // A volume name keeps only its braced part (one without braces stays whole), in lower case.
    if (p.volumeGuid.find(u'{') != WString::npos) PBA_FUZZ_CHECK(p.volumeGuid.front() == u'{');
    for (char16_t c : p.volumeGuid) PBA_FUZZ_CHECK(c < u'A' || c > u'Z');
    if (p.style == 1) PBA_FUZZ_CHECK(p.partitionId.size() == 38 && p.partitionType.size() == 38);
    if (p.driveLetterChar == 0) {
      PBA_FUZZ_CHECK(p.driveLetter.empty());
    } else {
      PBA_FUZZ_CHECK(p.driveLetter.size() >= 2 && p.driveLetter.back() == ':');
    }
  }
  PBA_FUZZ_CHECK(platform.openHandles() == 0);
  PBA_FUZZ_CHECK(platform.openSets() == 0);
  return 0;
}
