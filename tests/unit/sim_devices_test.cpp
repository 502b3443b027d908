// The keys of a simulated disk's "device" object as a machine description
// writes them: the drive and the management service must read them alike.
#include <gtest/gtest.h>

#include "discovery/wmi.h"
#include "unit/device_fixture.h"

namespace pbaloader {
namespace {

using sim::Json;

struct Identity {
  std::string model, serial, firmware;
};

// What the drive says about itself through IDENTIFY DEVICE.
Identity driveSays() {
  DriveInfo start;
  start.path = testing::DrivePath;
  SystemDevice device(start);
  EXPECT_TRUE(device.identify());
  return {device.drive().model, device.drive().serialNumber, device.drive().firmwareRevision};
}

// What the drive's Win32_DiskDrive says ("null" for VT_NULL).
Identity serviceSays() {
  auto session = WmiSession::open(u"ROOT\\CIMV2");
  WmiQuery query(*session, u"SELECT * FROM Win32_DiskDrive");
  WmiObject* object = query.next(win::WbemInfinite);
  EXPECT_NE(object, nullptr);
  if (object == nullptr) return {};
  auto text = [&](const char16_t* name) { return object->getString(name).value_or("null"); };
  return {text(u"Model"), text(u"SerialNumber"), text(u"FirmwareRevision")};
}

TEST(SimDevice, EverySpellingOfTheIdentityReachesDriveAndService) {
  struct Case {
    const char* name;
    Json keys;
    Identity drive, service;
  };
  const Case cases[] = {
      {"canonical keys",
       {{"model", "M"}, {"serial", "S-1"}, {"firmware", "F1"}},
       {"M", "S-1", "F1"},
       {"M", "S-1", "F1"}},
      {"management spellings",
       {{"model", "M"}, {"serialNumber", "S-2"}, {"firmwareRevision", "F2"}},
       {"M", "S-2", "F2"},
       {"M", "S-2", "F2"}},
      {"both spellings: the canonical key wins",
       {{"serial", "S-3"},
        {"serialNumber", "other"},
        {"firmware", "F3"},
        {"firmwareRevision", "other"}},
       {"Simulated Disk", "S-3", "F3"},
       {"null", "S-3", "F3"}},
      {"none: the drive's defaults, nothing in the service",
       Json::object(),
       {"Simulated Disk", "SIM0000000001", "1.0"},
       {"null", "null", "null"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Json device = c.keys;
    device["kind"] = "ata";
    testing::SimMachine m(testing::oneDisk(device));
    const Identity drive = driveSays();
    EXPECT_EQ(drive.model, c.drive.model);
    EXPECT_EQ(drive.serial, c.drive.serial);
    EXPECT_EQ(drive.firmware, c.drive.firmware);
    const Identity service = serviceSays();
    EXPECT_EQ(service.model, c.service.model);
    EXPECT_EQ(service.serial, c.service.serial);
    EXPECT_EQ(service.firmware, c.service.firmware);
  }
}

TEST(SimDevice, IdentityTextsMustBeText) {
  EXPECT_THROW(testing::SimMachine(testing::oneDisk({{"kind", "ata"}, {"serial", 1234}})),
               std::exception);
  EXPECT_THROW(testing::SimMachine(testing::oneDisk({{"kind", "scsi"}, {"firmwareRevision", 1}})),
               std::exception);
}

TEST(SimDevice, SectorSizeIsAPowerOfTwoFrom512) {
  for (std::uint32_t size : {0u, 256u, 520u, 3072u}) {
    SCOPED_TRACE(size);
    EXPECT_THROW(testing::SimMachine(testing::oneDisk({{"kind", "ata"}}, 64ull << 20, size)),
                 std::runtime_error);
  }
  for (std::uint32_t size : {512u, 4096u}) {
    SCOPED_TRACE(size);
    testing::SimMachine m(testing::oneDisk({{"kind", "ata"}}, 64ull << 20, size));
    DriveInfo start;
    start.path = testing::DrivePath;
    SystemDevice device(start);
    ASSERT_TRUE(device.identify());
    EXPECT_EQ(device.drive().bytesPerSector, size);
  }
}

// USB storage names a drive from INQUIRY, as Windows does: a bridge answers
// for itself, so neither the model nor the firmware of the drive behind it
// reaches the management service.
TEST(SimDevice, UsbDrivesAreNamedFromInquiryInTheService) {
  const struct {
    const char* kind;
    Identity service;
  } cases[] = {
      {"scsi", {"USB Sim Stick USB Device", "S-1", "F1"}},
      {"sat", {"USB SATA Bridge USB Device", "S-1", "0100"}},
      {"nvme-bridge", {"USB NVMe Bridge USB Device", "S-1", "0100"}},
      {"ata", {"Sim Stick", "S-1", "F1"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    testing::SimMachine m(testing::oneDisk(
        {{"kind", c.kind}, {"model", "Sim Stick"}, {"serial", "S-1"}, {"firmware", "F1"}}));
    const Identity service = serviceSays();
    EXPECT_EQ(service.model, c.service.model);
    EXPECT_EQ(service.serial, c.service.serial);
    EXPECT_EQ(service.firmware, c.service.firmware);
  }
  // The INQUIRY fields as sent: cut to their widths, padding dropped.
  testing::SimMachine m(testing::oneDisk({{"kind", "scsi"},
                                          {"vendor", "LongVendorName"},
                                          {"product", "A Product Of Many Words"},
                                          {"revision", "1.2345"}}));
  const Identity service = serviceSays();
  EXPECT_EQ(service.model, "LongVend A Product Of Man USB Device");
  EXPECT_EQ(service.firmware, "1.23");
}

// A forgotten removal policy never makes a drive on its own controller usable.
TEST(SimDevice, RemovalPolicyDefaultsByKind) {
  const struct {
    Json device;
    std::uint32_t policy;
  } cases[] = {
      {{{"kind", "ata"}}, win::CmRemovalPolicyExpectNoRemoval},
      {{{"kind", "nvme"}}, win::CmRemovalPolicyExpectNoRemoval},
      {{{"kind", "sat"}}, win::CmRemovalPolicyExpectSurpriseRemoval},
      {{{"kind", "scsi"}}, win::CmRemovalPolicyExpectSurpriseRemoval},
      {{{"kind", "nvme-bridge"}}, win::CmRemovalPolicyExpectSurpriseRemoval},
      {Json::object(), win::CmRemovalPolicyExpectSurpriseRemoval},
      {Json(), win::CmRemovalPolicyExpectSurpriseRemoval},  // no device at all
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.device.dump());
    Json description = testing::oneDisk(c.device);
    description["disks"][0].erase("removalPolicy");
    testing::SimMachine m(description);
    EXPECT_EQ(m->disks[0].removalPolicy, c.policy);
  }
  Json kept = testing::oneDisk({{"kind", "ata"}});
  kept["disks"][0]["removalPolicy"] = 3;
  testing::SimMachine m(kept);
  EXPECT_EQ(m->disks[0].removalPolicy, 3u) << "a policy that is given wins";
}

}  // namespace
}  // namespace pbaloader
