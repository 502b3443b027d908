// IDENTIFY DEVICE data from a drive: the text fields, the sector size and
// count, and the integrity check of the identification.
#include <array>

#include "common/text.h"
#include "device/device.h"
#include "fuzz/support/checks.h"
#include "fuzz/support/hostile_drive.h"

using namespace pbaloader;

namespace {

void checkAtaString(const std::uint8_t* data, unsigned firstWord, unsigned count) {
  const std::string text = ataString(data, firstWord, count);
  fuzz::checkField(text, count, " \t\n\r");
  // Only printable ASCII survives; everything else shows as '?' or a blank.
  for (char c : text) PBA_FUZZ_CHECK(c >= 0x20 && c <= 0x7E);
  const unsigned first = data[2 * firstWord] | data[2 * firstWord + 1] << 8;
  if (first == 0 || first == 0xFFFF) PBA_FUZZ_CHECK(text.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
  fuzz::Bytes bytes(input, size);
  std::array<std::uint8_t, 512> identify{};
  bytes.copy(identify.data(), identify.size());

  checkAtaString(identify.data(), 10, 20);
  checkAtaString(identify.data(), 27, 40);
  checkAtaString(identify.data(), 23, 8);
  const std::uint32_t sectorSize = ataSectorSize(identify.data());
  const bool largeSectors = (identify[213] & 0xC0) == 0x40 && (identify[213] & 0x10) != 0;
  if (!largeSectors) PBA_FUZZ_CHECK(sectorSize == 512);
  ataSectorCount(identify.data());

  // The same data through the pass-through path, with the verification on.
  fuzz::onHostileDrive(bytes, DriveInfo::TransportUnknown, [](SystemDevice& device) {
    std::array<std::uint8_t, 512> answer{};
    if (!device.ataIdentify(answer.data(), true)) return;
    PBA_FUZZ_CHECK(answer[510] == 0xA5);
    std::uint8_t sum = 0;
    for (std::uint8_t b : answer) sum = static_cast<std::uint8_t>(sum + b);
    PBA_FUZZ_CHECK(sum == 0);
    PBA_FUZZ_CHECK(device.drive().transport == DriveInfo::TransportAta ||
                   device.drive().transport == DriveInfo::TransportScsi);
  });
  return 0;
}
