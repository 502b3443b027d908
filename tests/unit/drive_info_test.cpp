#include "discovery/drive_info.h"

#include <gtest/gtest.h>

namespace pbaloader {
namespace {

TEST(DriveInfo, DefaultIsEmptyWith512ByteSectors) {
  const DriveInfo d;
  EXPECT_EQ(d.path, "");
  EXPECT_EQ(d.model, "");
  EXPECT_EQ(d.serialNumber, "");
  EXPECT_EQ(d.firmwareRevision, "");
  EXPECT_EQ(d.bridgeRevision, "");
  EXPECT_EQ(d.bytesPerSector, 512u);
  EXPECT_EQ(d.lastLba, 0u);
  EXPECT_EQ(d.transport, DriveInfo::TransportUnknown);
  EXPECT_EQ(d.interfaceType, 0);
  EXPECT_EQ(d.nvmeBehindBridge, 0);
  EXPECT_FALSE(d.usbPcieBridge);
}

TEST(DriveInfo, CopyKeepsEveryFieldAndIsIndependent) {
  DriveInfo original{
      "\\\\.\\PHYSICALDRIVE2",  "Model", "S1", "F1", "B1", 4096, 1234567, DriveInfo::TransportScsi,
      DriveInfo::InterfaceNvme, 1,       true};
  DriveInfo copy = original;
  EXPECT_EQ(copy, original);
  EXPECT_EQ(copy.transport, 3);
  EXPECT_EQ(copy.interfaceType, 3);
  copy.model = "Other";
  copy.transport = DriveInfo::TransportAta;
  EXPECT_EQ(original.model, "Model");
  EXPECT_EQ(original.transport, DriveInfo::TransportScsi);
  EXPECT_NE(copy, original);
}

}  // namespace
}  // namespace pbaloader
