// Disk enumeration and the judgement of usable USB drives on the simulated
// machine: identification first, the management service as fallback.
#include "discovery/enumerate.h"

#include <gtest/gtest.h>

#include "platform/winconst.h"
#include "support/sim_fixture.h"
#include "unit/discovery_fixture.h"

namespace pbaloader {
namespace {

using sim::Json;
using testing::expectTidy;
using testing::OneDrive;
using testing::SimMachine;

constexpr std::uint64_t MiB = 1 << 20;

Json disk(std::uint32_t number, const Json& extra = Json::object()) {
  Json d = {{"number", number}, {"size", 64 * MiB}};
  if (!extra.is_null()) d.update(extra);
  return d;
}

TEST(EnumerateDrives, EveryKindOfDriveEndsWithWhatIdentificationFound) {
  // The management service names every drive differently from the drive itself,
  // so each field shows where it came from.
  const Json wmi = {
      {"Model", "WMI Model"}, {"SerialNumber", "WMI-SN"}, {"FirmwareRevision", "WMI-FW-LONG"}};
  SimMachine m(Json{
      {"disks",
       {disk(0, {{"size", 1024 * MiB},
                 {"removalPolicy", 1},
                 {"management",
                  {{"Model", "  Internal  Disk  "},
                   {"SerialNumber", " IN-1 "},
                   {"FirmwareRevision", " FW "}}}}),
        disk(1,
             {{"sectorSize", 4096},
              {"device",
               {{"kind", "ata"}, {"model", "Sim SATA"}, {"serial", "ATA-1"}, {"firmware", "A1"}}},
              {"management", wmi}}),
        disk(2, {{"device",
                  {{"kind", "sat"},
                   {"model", "Sim Bridged SATA"},
                   {"serial", "SAT-1"},
                   {"firmware", "S1"}}},
                 {"management", wmi}}),
        disk(3, {{"device",
                  {{"kind", "scsi"},
                   {"product", "Flash Stick"},
                   {"revision", "1.0"},
                   {"serial", "STK-1"}}},
                 {"management", wmi}}),
        disk(4,
             {{"device",
               {{"kind", "nvme"}, {"model", "Sim NVMe"}, {"serial", "NVN-1"}, {"firmware", "N1"}}},
              {"management", wmi}}),
        disk(5, {{"device",
                  {{"kind", "nvme-bridge"},
                   {"vendor", "Bridge"},
                   {"product", "PCIe V2 Bridge"},
                   {"revision", "0207"},
                   {"model", "Sim NVMe Bridged"},
                   {"serial", "NVB-1"},
                   {"firmware", "B1"}}},
                 {"management", wmi}})}}});

  const auto drives = enumerateDrives();
  ASSERT_EQ(drives.size(), 6u);
  const std::uint64_t lastLba64 = 64 * MiB / 512 - 1;

  struct Expected {
    const char* model;
    const char* serial;
    const char* firmware;
    std::int32_t interfaceType;
    std::int32_t transport;
    std::uint32_t bytesPerSector;
    std::uint64_t lastLba;
    std::int32_t nvmeBehindBridge;
    bool usbPcieBridge;
  };
  const Expected expected[] = {
      {"Internal  Disk", "IN-1", " FW ", DriveInfo::InterfaceNone, DriveInfo::TransportManagement,
       512, 1024 * MiB / 512 - 1, 0, false},
      {"Sim SATA", "ATA-1", "A1", DriveInfo::InterfaceAta, DriveInfo::TransportAta, 4096,
       64 * MiB / 4096 - 1, 0, false},
      {"Sim Bridged SATA", "SAT-1", "S1", DriveInfo::InterfaceAta, DriveInfo::TransportScsi, 512,
       lastLba64, 0, false},
      {"Flash Stick", "STK-1", "WMI-FW-LONG", DriveInfo::InterfaceScsi, DriveInfo::TransportScsi,
       512, lastLba64, 0, false},
      {"Sim NVMe", "NVN-1", "N1", DriveInfo::InterfaceNvme, DriveInfo::TransportScsi, 512,
       lastLba64, 0, false},
      {"Sim NVMe Bridged", "NVB-1", "B1", DriveInfo::InterfaceNvme, DriveInfo::TransportScsi, 512,
       lastLba64, 1, true},
  };
  for (std::size_t i = 0; i < drives.size(); ++i) {
    SCOPED_TRACE(i);
    const DriveInfo& d = drives[i];
    const Expected& e = expected[i];
    EXPECT_EQ(d.path, "\\\\.\\PHYSICALDRIVE" + std::to_string(i));
    EXPECT_EQ(d.model, e.model);
    EXPECT_EQ(d.serialNumber, e.serial);
    EXPECT_EQ(d.firmwareRevision, e.firmware);
    EXPECT_EQ(d.interfaceType, e.interfaceType);
    EXPECT_EQ(d.transport, e.transport);
    EXPECT_EQ(d.bytesPerSector, e.bytesPerSector);
    EXPECT_EQ(d.lastLba, e.lastLba);
    EXPECT_EQ(d.nvmeBehindBridge, e.nvmeBehindBridge);
    EXPECT_EQ(d.usbPcieBridge, e.usbPcieBridge);
  }
  EXPECT_EQ(drives[5].bridgeRevision, "0207");
  EXPECT_EQ(drives[0].bridgeRevision, "");
  expectTidy(m);
}

TEST(EnumerateDrives, DrivesWithoutUsablePathOrServiceAreLeftOut) {
  struct Case {
    const char* name;
    Json machine;
    std::vector<std::string> paths;
  };
  const Case cases[] = {
      {"no disks", Json::object(), {}},
      {"service unavailable", {{"wmi", {{"unavailable", true}}}, {"disks", {disk(0)}}}, {}},
      {"no DeviceID",
       {{"disks", {disk(0, {{"management", {{"absent", {"DeviceID"}}}}}), disk(1)}}},
       {"\\\\.\\PHYSICALDRIVE1"}},
      {"empty DeviceID",
       {{"disks", {disk(0, {{"management", {{"DeviceID", ""}}}}), disk(1)}}},
       {"\\\\.\\PHYSICALDRIVE1"}},
      {"null DeviceID", {{"disks", {disk(0, {{"management", {{"DeviceID", nullptr}}}})}}}, {}},
      {"path that does not exist",
       {{"disks", {disk(0)}},
        {"wmi", {{"diskDrives", {{{"DeviceID", "\\\\.\\PHYSICALDRIVE9"}, {"Model", "Ghost"}}}}}}},
       {"\\\\.\\PHYSICALDRIVE0"}},
      {"drive that cannot be opened",
       {{"disks", {disk(0, {{"faults", {{"failOpens", true}}}}), disk(1)}}},
       {"\\\\.\\PHYSICALDRIVE1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine m(c.machine);
    std::vector<std::string> paths;
    for (const auto& d : enumerateDrives()) paths.push_back(d.path);
    EXPECT_EQ(paths, c.paths);
    expectTidy(m);
  }
}

TEST(EnumerateDrives, SilentDriveIsDescribedByTheTrimmedServiceModel) {
  struct Case {
    std::string wmiModel;
    std::string model;
    bool usbPcieBridge;
  };
  const Case cases[] = {
      {"  Bridge PCIe V2 USB Device  ", "Bridge PCIe V2 USB Device", true},
      {"Bridge PCIe V", "Bridge PCIe V", true},
      {"Bridge PCIe ", "Bridge PCIe", false},
      {"bridge PCIe V2", "bridge PCIe V2", false},
      {"Generic  Flash\tDisk", "Generic  Flash\tDisk", false},
      {std::string("Stick\0 junk", 11), "Stick", false},
      {"     ", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.wmiModel);
    SimMachine m(Json{{"disks", {disk(1, {{"management", {{"Model", c.wmiModel}}}})}}});
    const auto drives = enumerateDrives();
    ASSERT_EQ(drives.size(), 1u);
    EXPECT_EQ(drives[0].model, c.model);
    EXPECT_EQ(drives[0].usbPcieBridge, c.usbPcieBridge);
    EXPECT_EQ(drives[0].transport, DriveInfo::TransportManagement);
  }
}

TEST(FillFromWmiObject, CapacityAndSectorSizeFromTheService) {
  constexpr auto Wrapped = ~std::uint64_t{0};
  struct Case {
    const char* name;
    Json management;
    std::uint32_t bytesPerSector;
    std::uint64_t lastLba;
  };
  const Case cases[] = {
      {"N sectors", {{"Size", "1048576"}, {"BytesPerSector", 512}}, 512, 2047},
      {"partial sector rounds down", {{"Size", "1049000"}, {"BytesPerSector", 512}}, 512, 2047},
      {"4K sectors", {{"Size", "1048576"}, {"BytesPerSector", 4096}}, 4096, 255},
      {"smaller than a sector", {{"Size", "100"}, {"BytesPerSector", 512}}, 512, Wrapped},
      {"size 0", {{"Size", "0"}}, 512, Wrapped},
      {"no Size", {{"absent", {"Size"}}}, 512, 77},
      {"Size null", {{"Size", nullptr}}, 512, 77},
      {"no BytesPerSector", {{"absent", {"BytesPerSector"}}, {"Size", "2048"}}, 512, 3},
      {"BytesPerSector 0", {{"BytesPerSector", 0}, {"Size", "2048"}}, 0, 77},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OneDrive d(c.management);
    ASSERT_NE(d.object, nullptr);
    DriveInfo drive;
    drive.model = "kept when absent";
    drive.lastLba = 77;
    fillFromWmiObject(drive, *d.object);
    EXPECT_EQ(drive.bytesPerSector, c.bytesPerSector);
    EXPECT_EQ(drive.lastLba, c.lastLba);
    EXPECT_EQ(drive.transport, DriveInfo::TransportManagement);
    EXPECT_EQ(drive.model, "kept when absent") << "the disk names no model: null";
  }
}

TEST(FillFromWmiObject, TextsAreTakenAsTheServiceGivesThem) {
  OneDrive d(Json{{"Model", " M "}, {"SerialNumber", ""}, {"absent", {"FirmwareRevision"}}});
  ASSERT_NE(d.object, nullptr);
  DriveInfo drive;
  drive.serialNumber = "replaced by the empty text";
  drive.firmwareRevision = "kept";
  fillFromWmiObject(drive, *d.object);
  EXPECT_EQ(drive.model, " M ");
  EXPECT_EQ(drive.serialNumber, "");
  EXPECT_EQ(drive.firmwareRevision, "kept");
}

TEST(IsUsableUsbDrive, DecidedByTheRemovalPolicyOfTheMatchingInterface) {
  struct Case {
    const char* name;
    Json judged;  // disk 1; disk 0 is a fixed disk listed before it
    Json machine;
    bool usable;
  };
  const Case cases[] = {
      {"expect no removal", {{"removalPolicy", 1}}, {}, false},
      {"expect orderly removal", {{"removalPolicy", 2}}, {}, true},
      {"expect surprise removal", {{"removalPolicy", 3}}, {}, true},
      {"policy unreadable", {{"interface", {{"removalPolicy", "unreadable"}}}}, {}, false},
      {"no disk interface", {{"interface", {{"listed", false}}}}, {}, false},
      {"device number unreadable", {{"faults", {{"deviceNumber", true}}}}, {}, false},
      {"cannot be opened", {{"faults", {{"failOpens", true}}}}, {}, false},
      {"no disk interface set", {}, {{"setup", {{"unavailable", {"disk"}}}}}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Json d = c.machine.is_null() ? Json::object() : c.machine;
    d["disks"] = {disk(0, {{"removalPolicy", 1}}), disk(1, c.judged)};
    SimMachine m(d);
    DriveInfo drive;
    drive.path = "\\\\.\\PHYSICALDRIVE1";
    EXPECT_EQ(isUsableUsbDrive(drive), c.usable);
    expectTidy(m);
  }
}

TEST(IsUsableUsbDrive, PathThatIsNoDriveIsNotUsable) {
  SimMachine m(Json{{"disks", {disk(0)}}});
  DriveInfo drive;
  drive.path = "\\\\.\\PHYSICALDRIVE4";
  EXPECT_FALSE(isUsableUsbDrive(drive));
  drive.path = "";
  EXPECT_FALSE(isUsableUsbDrive(drive));
  expectTidy(m);
}

}  // namespace
}  // namespace pbaloader
