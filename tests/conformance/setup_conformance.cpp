// Device setup services and the volume manager as discovery uses them: the
// interface walk, the two-call detail fetch and the volume name calls.
#include <cstring>
#include <vector>

#include "conformance/env.h"
#include "discovery/interface_walk.h"
#include "platform/layout/device_interface_detail.h"
#include "platform/winconst.h"

namespace pbaloader::conformance {
namespace {

class SetupConformance : public ConformanceTest {
 protected:
  // The first present disk interface, or else volume interface; false when
  // there is neither (set then stays invalid or empty).
  bool firstInterface(os::DevInfoSet& set, os::DeviceInterfaceData& data) {
    for (const os::Guid& guid : {GuidDevinterfaceDisk, GuidDevinterfaceVolume}) {
      const auto opened =
          platform().setupDiGetClassDevsW(guid, win::DigcfPresent | win::DigcfDeviceInterface);
      set = opened.value;
      if (set == os::InvalidDevInfoSet) continue;
      data = os::DeviceInterfaceData{};
      data.cbSize = sizeof(data);
      if (platform().setupDiEnumDeviceInterfaces(set, guid, 0, data).ok) return true;
      platform().setupDiDestroyDeviceInfoList(set);
      set = os::InvalidDevInfoSet;
    }
    return false;
  }
};

TEST_F(SetupConformance, DetailIsFetchedInTwoCallsWithTheFixedSize) {
  os::DevInfoSet set = os::InvalidDevInfoSet;
  os::DeviceInterfaceData data;
  if (!firstInterface(set, data)) {
    PBA_SKIP_UNDER_WINE("it lists no disk or volume interfaces");
    FAIL() << "no disk or volume interface";
  }
  std::uint32_t required = 0;
  const auto probe =
      platform().setupDiGetDeviceInterfaceDetailW(set, data, nullptr, 0, &required, nullptr);
  EXPECT_FALSE(probe.ok);
  EXPECT_EQ(probe.error, win::ErrorInsufficientBuffer);
  ASSERT_GT(required, layout::DeviceInterfaceDetailFixedSize);

  std::vector<std::uint8_t> buffer(required, 0);
  const std::uint32_t wrongSize = 6;  // the 32-bit layout's fixed part
  std::memcpy(buffer.data(), &wrongSize, sizeof(wrongSize));
  const auto wrong = platform().setupDiGetDeviceInterfaceDetailW(set, data, buffer.data(), required,
                                                                 nullptr, nullptr);
  EXPECT_FALSE(wrong.ok);
  EXPECT_EQ(wrong.error, win::ErrorInvalidUserBuffer);

  std::memcpy(buffer.data(), &layout::DeviceInterfaceDetailFixedSize, sizeof(std::uint32_t));
  os::DevInfoData device;
  device.cbSize = sizeof(device);
  const auto fetched = platform().setupDiGetDeviceInterfaceDetailW(set, data, buffer.data(),
                                                                   required, nullptr, &device);
  EXPECT_TRUE(fetched.ok) << fetched.error;
  char16_t first[4] = {};
  std::memcpy(first, buffer.data() + layout::DevicePathOffset, sizeof(first));
  EXPECT_EQ(os::WString(first, 4), u"\\\\?\\");
  EXPECT_NE(device.devInst, 0u);
  EXPECT_TRUE(platform().setupDiDestroyDeviceInfoList(set).ok);
}

TEST_F(SetupConformance, WalkEndsWithNoMoreItems) {
  const auto opened = platform().setupDiGetClassDevsW(
      GuidDevinterfaceVolume, win::DigcfPresent | win::DigcfDeviceInterface);
  ASSERT_NE(opened.value, os::InvalidDevInfoSet);
  os::DeviceInterfaceData data;
  data.cbSize = sizeof(data);
  os::Status step{true, 0};
  std::uint32_t index = 0;
  while ((step = platform().setupDiEnumDeviceInterfaces(opened.value, GuidDevinterfaceVolume, index,
                                                        data))
             .ok)
    ++index;
  EXPECT_EQ(step.error, win::ErrorNoMoreItems);
  EXPECT_TRUE(platform().setupDiDestroyDeviceInfoList(opened.value).ok);
}

TEST_F(SetupConformance, VolumeCallsRefuseNamesThatAreNoVolume) {
  char16_t buffer[50] = {};
  EXPECT_FALSE(
      platform().getVolumeNameForVolumeMountPointW(u"\\\\?\\NoSuchVolume\\", buffer, 50).ok);
  std::uint32_t length = 0;
  const auto paths = platform().getVolumePathNamesForVolumeNameW(
      u"\\\\?\\Volume{00000000-0000-0000-0000-000000000000}\\", nullptr, 0, &length);
  EXPECT_FALSE(paths.ok);
  EXPECT_NE(paths.error, win::ErrorMoreData);
}

}  // namespace
}  // namespace pbaloader::conformance
