// The mount point list of a volume: its one drive letter, or none.
#include <vector>

#include "discovery/partitions.h"
#include "fuzz/support/fuzz_platform.h"

using namespace pbaloader;

namespace {

// Records what the volume manager handed back last, to judge the answer by.
class RecordingPlatform : public fuzz::HostileStoragePlatform {
 public:
  using HostileStoragePlatform::HostileStoragePlatform;
  os::Status getVolumePathNamesForVolumeNameW(os::WStringView name, char16_t* buffer,
                                              std::uint32_t length,
                                              std::uint32_t* returnLength) override {
    const auto status = HostileStoragePlatform::getVolumePathNamesForVolumeNameW(
        name, buffer, length, returnLength);
    if (buffer != nullptr && status.ok) list.assign(buffer, buffer + *returnLength);
    return status;
  }
  std::vector<char16_t> list;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
  fuzz::Bytes bytes(input, size);
  RecordingPlatform platform(bytes);
  os::ScopedPlatform scoped(platform);
  const char16_t letter = driveLetterOfVolume(u"{0b6c2a51-0000-4000-8000-000000000001}");
  if (letter != 0) {
    // Exactly one path, "X:\", and the list's two terminating nulls.
    PBA_FUZZ_CHECK(platform.list.size() == 5);
    PBA_FUZZ_CHECK(platform.list[0] == letter && platform.list[1] == u':' &&
                   platform.list[2] == u'\\' && platform.list[3] == 0);
  }
  return 0;
}
