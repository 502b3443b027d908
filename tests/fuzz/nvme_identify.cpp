// NVMe answers through the storage driver: Identify Controller, a log page
// and a feature through the property query, an admin command through the
// protocol command, and the text fields of the Identify data.
#include <array>
#include <vector>

#include "common/text.h"
#include "device/device.h"
#include "fuzz/support/checks.h"
#include "fuzz/support/hostile_drive.h"

using namespace pbaloader;

namespace {

constexpr std::uint8_t Canary = 0x5C;
constexpr std::size_t Guard = 16;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
  fuzz::Bytes bytes(input, size);
  const std::uint8_t mode = bytes.u8();
  static constexpr std::uint8_t opcodes[] = {0x06, 0x02, 0x0A, 0x06};
  const std::uint8_t opcode = opcodes[mode & 3];
  const bool protocolCommand = (mode & 4) != 0;
  const std::uint32_t length = opcode == 0x06 && !(mode & 8) ? 4096 : bytes.u16() % 8193;
  std::vector<std::uint8_t> area(length + 2 * Guard, Canary);
  std::uint8_t* data = area.data() + Guard;

  fuzz::onHostileDrive(bytes, DriveInfo::TransportUnknown, [&](SystemDevice& device) {
    NVMePacket packet;
    packet.opcode = protocolCommand ? static_cast<std::uint8_t>(opcode | 0x80) : opcode;
    packet.cdw10 = 1;
    packet.data = data;
    packet.dataLength = length;
    packet.direction = 1;
    packet.adminCommand = true;
    if (device.sendNvme(packet) && length >= 4096) {
      fuzz::checkField(nvmeSerial(data), 20, BlankSet);
      fuzz::checkField(nvmeModel(data), 40, BlankSet);
      fuzz::checkField(nvmeFirmware(data), 8, BlankSet);
    }
  });
  for (std::size_t i = 0; i < Guard; ++i) {
    PBA_FUZZ_CHECK(area[i] == Canary);
    PBA_FUZZ_CHECK(area[area.size() - 1 - i] == Canary);
  }
  return 0;
}
