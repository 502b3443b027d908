// A drive's SCSI identification: INQUIRY, the unit serial number page and
// READ CAPACITY (16, then 10), every answer from the fuzzer.
#include "common/text.h"
#include "device/device.h"
#include "fuzz/support/checks.h"
#include "fuzz/support/hostile_drive.h"

using namespace pbaloader;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
  fuzz::Bytes bytes(input, size);
  fuzz::onHostileDrive(bytes, DriveInfo::TransportUnknown, [](SystemDevice& device) {
    ScsiIdentity identity;
    const bool identified = device.scsiIdentify(identity);
    fuzz::checkField(identity.vendor, 8, WhitespaceSet);
    fuzz::checkField(identity.product, 16, WhitespaceSet);
    fuzz::checkField(identity.revision, 4, WhitespaceSet);
    fuzz::checkField(identity.serialNumber, 252, WhitespaceSet);
    // A product left empty by the drive is its vendor.
    if (identity.product.empty()) PBA_FUZZ_CHECK(identity.vendor.empty());
    if (!identified) PBA_FUZZ_CHECK(identity.lastLba == 0 && identity.blockLength == 0);
    // Commands went out as SCSI, and only as SCSI.
    PBA_FUZZ_CHECK(device.drive().transport == DriveInfo::TransportScsi);
  });
  return 0;
}
