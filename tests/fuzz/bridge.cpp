// The whole identification of a drive whose every answer comes from the
// fuzzer: ATA first, then SCSI with the USB-to-NVMe bridge probe and native
// NVMe, and the verdict on the bridge.
#include "common/text.h"
#include "device/device.h"
#include "fuzz/support/checks.h"
#include "fuzz/support/hostile_drive.h"

using namespace pbaloader;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
  fuzz::Bytes bytes(input, size);
  fuzz::onHostileDrive(bytes, DriveInfo::TransportUnknown, [](SystemDevice& device) {
    const bool identified = device.identify();
    const DriveInfo& found = device.drive();
    PBA_FUZZ_CHECK(found.path == "\\\\.\\PHYSICALDRIVE1");
    // Every text is trimmed; none is longer than the widest field it comes from.
    fuzz::checkField(found.model, 40, BlankSet);
    fuzz::checkField(found.serialNumber, 252, BlankSet);
    fuzz::checkField(found.firmwareRevision, 8, BlankSet);
    fuzz::checkField(found.bridgeRevision, 4, WhitespaceSet);
    if (!identified) PBA_FUZZ_CHECK(found.interfaceType == DriveInfo::InterfaceNone);
    if (found.usbPcieBridge) {
      PBA_FUZZ_CHECK(found.nvmeBehindBridge == 1);
      PBA_FUZZ_CHECK(found.interfaceType == DriveInfo::InterfaceNvme);
    }
    if (found.nvmeBehindBridge != 0) PBA_FUZZ_CHECK(found.transport == DriveInfo::TransportScsi);
  });
  return 0;
}
