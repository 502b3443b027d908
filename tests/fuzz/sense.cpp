// The outcome of a SCSI pass-through: status, sense data and the reported
// transfer length, for a plain data-in command and for an ATA command carried
// in ATA PASS-THROUGH(16), with data buffers at every alignment.
#include <vector>

#include "device/device.h"
#include "fuzz/support/hostile_drive.h"

using namespace pbaloader;

namespace {

using Error = BaseDevice::Error;

constexpr std::uint8_t Canary = 0xC5;
constexpr std::size_t Guard = 16;

bool isDeviceError(Error e) {
  switch (e) {
    case Error::Ok:
    case Error::Failed:
    case Error::Timeout:
    case Error::Busy:
    case Error::AccessDenied:
    case Error::InvalidRequest:
    case Error::OutOfMemory:
    case Error::NotSupported:
    case Error::NoDevice:
    case Error::AtaError:
    case Error::SenseWithInformation:
    case Error::HardwareError:
      return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
  fuzz::Bytes bytes(input, size);
  const std::uint8_t mode = bytes.u8();
  const std::uint32_t length = bytes.u16() % 4097;
  const std::size_t misalign = mode >> 1 & 3;
  // Guard bytes on both sides of the caller's buffer must survive any answer.
  std::vector<std::uint8_t> area(misalign + length + 2 * Guard, Canary);
  std::uint8_t* data = area.data() + Guard + misalign;

  fuzz::onHostileDrive(bytes, DriveInfo::TransportScsi, [&](SystemDevice& device) {
    if (mode & 1) {
      ATAPacket packet;
      packet.command = 0xEC;
      packet.data = data;
      packet.dataLength = length;
      packet.direction = 1;
      packet.lengthField = mode >> 3 & 3;
      ATARetReg registers;
      const Error e = device.sendAtaThroughScsi(packet, registers);
      PBA_FUZZ_CHECK(isDeviceError(e));
    } else {
      SCSIPacket packet;
      packet.cdb[0] = 0x28;
      packet.cdbLength = 10;
      packet.data = data;
      packet.dataLength = length;
      packet.direction = 1;
      const Error e = device.sendScsiDirect(packet);
      PBA_FUZZ_CHECK(isDeviceError(e));
      const SCSIRet& result = device.lastScsiResult();
      PBA_FUZZ_CHECK(result.senseLength <= sizeof(result.sense));
      if (e == Error::Ok) {
        PBA_FUZZ_CHECK(result.systemError == 0);
        PBA_FUZZ_CHECK(result.scsiStatus == 0 || result.scsiStatus == 2);
      }
      if (result.scsiStatus == 0xFFFFFFFF) PBA_FUZZ_CHECK(e != Error::Ok);
    }
  });
  for (std::size_t i = 0; i < Guard + misalign; ++i) PBA_FUZZ_CHECK(area[i] == Canary);
  for (std::size_t i = 0; i < Guard; ++i) PBA_FUZZ_CHECK(area[area.size() - 1 - i] == Canary);
  return 0;
}
