// The device object: open, open failure, reopen-once rule, error mapping and
// the operations a SystemDevice does not support.
#include <gtest/gtest.h>

#include "unit/device_fixture.h"

namespace pbaloader {
namespace {

using testing::DeviceBench;
using Error = BaseDevice::Error;

const sim::Json AtaDrive = {{"kind", "ata"}, {"model", "Sim SSD"}, {"serial", "S1"}};

TEST(SystemDevice, NewDeviceOpensThePathForReadAndWriteWithItsDefaults) {
  DeviceBench bench(AtaDrive);
  auto device = bench.open();
  EXPECT_NE(device->handle(), os::InvalidHandle);
  EXPECT_TRUE(device->ownsHandle());
  EXPECT_EQ(device->lastError(), Error::Ok);
  EXPECT_EQ(device->lastScsiResult().scsiStatus, 0xFFFFFFFFu);
  EXPECT_EQ(device->lastScsiResult().senseLength, 0u);
  EXPECT_EQ(device->timeoutMs(), 10000u);
  EXPECT_EQ(device->limitValue(), 65535u);
  EXPECT_FALSE(device->flag());
  device->setFlag(true);
  EXPECT_TRUE(device->flag());

  const auto& open = bench.machine().files.opens.back();
  EXPECT_EQ(open.access, win::GenericRead | win::GenericWrite);
  EXPECT_EQ(open.share, win::FileShareRead | win::FileShareWrite);
  EXPECT_EQ(open.disposition, win::OpenExisting);
  EXPECT_EQ(bench.machine().files.object(device->handle())->flags,
            win::FileFlagWriteThrough | win::FileFlagNoBuffering);
}

TEST(SystemDevice, DestroyingTheDeviceClosesItsHandle) {
  DeviceBench bench(AtaDrive);
  const auto before = bench.machine().files.openHandleCount();
  {
    auto device = bench.open();
    EXPECT_EQ(bench.machine().files.openHandleCount(), before + 1);
  }
  EXPECT_EQ(bench.machine().files.openHandleCount(), before);
}

TEST(SystemDevice, APathThatDoesNotExistThrowsWithTheSystemText) {
  DeviceBench bench(AtaDrive);
  DriveInfo drive;
  drive.path = "\\\\.\\PHYSICALDRIVE9";
  try {
    SystemDevice device(drive);
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(),
                 "Unable to open \"\\\\.\\PHYSICALDRIVE9\": The system cannot find the file "
                 "specified.");
  }
}

TEST(SystemDevice, CloneOpensTheSamePathAgainOrGivesNull) {
  DeviceBench bench(AtaDrive);
  auto device = bench.open();
  auto copy = device->clone();
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(static_cast<SystemDevice&>(*copy).handle(), device->handle());
  EXPECT_EQ(static_cast<SystemDevice&>(*copy).drive(), device->drive());

  bench.machine().devices.clear();  // the drive is gone
  EXPECT_EQ(device->clone(), nullptr);
}

TEST(SystemDevice, IdentityGivesModelAndSerialOfTheRecord) {
  DeviceBench bench(AtaDrive);
  auto device = bench.open();
  ASSERT_TRUE(device->identify());
  EXPECT_EQ(device->identity(), std::make_pair(std::string("Sim SSD"), std::string("S1")));
}

TEST(SystemDevice, RunCommandRepeatsOnceAfterReopeningWhenTheDeviceVanished) {
  struct Case {
    const char* name;
    std::vector<Error> answers;
    bool pathStays;
    int attempts;
    Error last;
  };
  const Case cases[] = {
      {"gone, reopened, answers", {Error::NoDevice, Error::Ok}, true, 2, Error::Ok},
      {"gone twice", {Error::NoDevice, Error::NoDevice}, true, 2, Error::NoDevice},
      {"gone and the reopen fails", {Error::NoDevice}, false, 1, Error::NoDevice},
      {"other errors are not repeated", {Error::Busy}, true, 1, Error::Busy},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DeviceBench bench(AtaDrive);
    auto device = bench.open();
    const auto firstHandle = device->handle();
    int attempts = 0;
    const auto result = device->runCommand([&] {
      const Error e = c.answers[attempts++];
      if (!c.pathStays) bench.machine().devices.clear();
      return e;
    });
    EXPECT_EQ(attempts, c.attempts);
    EXPECT_EQ(result, c.last);
    EXPECT_EQ(device->lastError(), c.last);
    if (c.answers[0] == Error::NoDevice && c.pathStays) {
      EXPECT_NE(device->handle(), firstHandle);
      // The stale handle is released, only the new one stays open.
      EXPECT_EQ(bench.machine().files.object(firstHandle), nullptr);
    }
  }
}

TEST(SystemDevice, AVanishedDriveGetsTheCommandAgainOnANewHandle) {
  for (int vanish : {1, 2}) {
    SCOPED_TRACE(vanish);
    sim::Json device = AtaDrive;
    device["vanishFor"] = vanish;
    DeviceBench bench(device);
    auto dev = bench.open(DriveInfo::TransportAta);
    std::uint8_t data[512];
    const bool ok = dev->ataIdentify(data, true);
    EXPECT_EQ(ok, vanish == 1);
    EXPECT_EQ(dev->lastError(), vanish == 1 ? Error::Ok : Error::NoDevice);
    EXPECT_EQ(bench.log().size(), 2u);  // once, and once more after the reopen
  }
}

TEST(SystemDevice, MapSystemErrorTable) {
  const std::pair<std::uint32_t, Error> rows[] = {
      {0, Error::Ok},           {1, Error::InvalidRequest}, {87, Error::InvalidRequest},
      {5, Error::AccessDenied}, {8, Error::OutOfMemory},    {50, Error::NotSupported},
      {55, Error::NoDevice},    {121, Error::Timeout},      {1460, Error::Timeout},
      {170, Error::Busy},       {2404, Error::Busy},        {1117, Error::Failed},
      {2, Error::Failed},       {31, Error::Failed},        {0xFFFFFFFF, Error::Failed},
  };
  for (const auto& [code, expected] : rows) EXPECT_EQ(mapSystemError(code), expected) << code;
}

TEST(SystemDevice, UnsupportedOperationsReportNotSupported) {
  DeviceBench bench(AtaDrive);
  auto device = bench.open();
  using Op = bool (SystemDevice::*)();
  for (Op op :
       {static_cast<Op>(&SystemDevice::reserved1), static_cast<Op>(&SystemDevice::reserved2),
        static_cast<Op>(&SystemDevice::reserved3), static_cast<Op>(&SystemDevice::isReady)}) {
    auto fresh = bench.open();
    EXPECT_FALSE(((*fresh).*op)());
    EXPECT_EQ(fresh->lastError(), Error::NotSupported);
  }
  EXPECT_FALSE(device->setPower(true));
  EXPECT_EQ(device->lastError(), Error::NotSupported);

  // sendCommand leaves lastError alone.
  auto fresh = bench.open();
  EXPECT_FALSE(fresh->sendCommand(nullptr));
  EXPECT_EQ(fresh->lastError(), Error::Ok);
  EXPECT_TRUE(bench.log().empty());
}

TEST(SystemDevice, WaitReadyAndPowerCycleFailAtOnceWithoutSleeping) {
  DeviceBench bench(AtaDrive);
  auto device = bench.open();
  EXPECT_FALSE(device->waitReady(0));
  EXPECT_EQ(device->lastError(), Error::NotSupported);
  EXPECT_FALSE(device->waitReady(5000));
  EXPECT_FALSE(device->powerCycle(5000));
  EXPECT_EQ(device->lastError(), Error::NotSupported);
  EXPECT_TRUE(bench.machine().sleepsNs.empty());
  device->setTimeoutMs(2500);
  EXPECT_EQ(device->timeoutMs(), 2500u);
}

}  // namespace
}  // namespace pbaloader
