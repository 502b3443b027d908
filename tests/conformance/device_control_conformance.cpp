// DeviceIoControl with the pass-through codes on a handle that is not a disk.
#include "conformance/env.h"
#include "platform/layout/pass_through.h"
#include "platform/winconst.h"

namespace pbaloader::conformance {
namespace {

class DeviceControl : public ConformanceTest {};

TEST_F(DeviceControl, StorageCodesOnAnOrdinaryFileFailWithAnErrorCode) {
  const os::WString folder = env().makeFolder();
  const os::WString file = env().makeFile(folder, u"plain.bin", "data");
  const auto opened = platform().createFileW(file, win::GenericRead | win::GenericWrite, 0,
                                             win::OpenExisting, win::FileAttributeNormal);
  ASSERT_NE(opened.value, os::InvalidHandle) << opened.error;
  layout::ScsiPassThroughDirectWithSense buffer{};
  buffer.sptd.length = sizeof(buffer.sptd);
  buffer.sptd.cdbLength = 6;
  buffer.sptd.dataIn = win::ScsiIoctlDataUnspecified;
  buffer.sptd.timeOutValue = 10;
  for (std::uint32_t code : {win::IoctlScsiPassThroughDirect, win::IoctlAtaPassThroughDirect}) {
    const auto r = platform().deviceIoControl(opened.value, code, &buffer, sizeof(buffer), &buffer,
                                              sizeof(buffer));
    EXPECT_FALSE(r.ok) << code;
    EXPECT_EQ(r.count, 0u);
    // The code itself differs between systems (1 here, 50 under Wine); what
    // matters is a failure that names a reason.
    EXPECT_NE(r.error, 0u) << code;
  }
  platform().closeHandle(opened.value);
}

}  // namespace
}  // namespace pbaloader::conformance
