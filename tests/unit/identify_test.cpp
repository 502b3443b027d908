// Drive identification: what each kind of drive ends up with, and the
// decoding of IDENTIFY DEVICE fields.
#include <gtest/gtest.h>

#include <array>

#include "unit/device_fixture.h"

namespace pbaloader {
namespace {

using testing::DeviceBench;

struct Identified {
  bool result = false;
  DriveInfo drive;
  std::vector<std::uint32_t> codes;
  std::vector<os::WString> queries;
};

Identified identifyDrive(const sim::Json& device, const sim::Json& management = nullptr,
                         std::uint64_t size = 64ull << 20, std::uint32_t sectorSize = 512) {
  sim::Json description = testing::oneDisk(device, size, sectorSize);
  if (!management.is_null()) description["disks"][0]["management"] = management;
  testing::SimMachine sim(description);
  DriveInfo start;
  start.path = testing::DrivePath;
  SystemDevice dev(start);
  Identified out;
  out.result = dev.identify();
  out.drive = dev.drive();
  for (const auto& r : sim->storage.log) out.codes.push_back(r.code);
  out.queries = sim->management.state().queries;
  return out;
}

int countOf(const std::vector<std::uint32_t>& codes, std::uint32_t code) {
  return static_cast<int>(std::count(codes.begin(), codes.end(), code));
}

TEST(Identify, SataDriveAnswersIdentifyDirectly) {
  const auto id = identifyDrive({{"kind", "ata"},
                                 {"model", "Sim SATA SSD 480GB"},
                                 {"serial", "  1234ABCD"},
                                 {"firmware", "SBFK61D1"}},
                                nullptr, 1ull << 30, 4096);
  ASSERT_TRUE(id.result);
  EXPECT_EQ(id.drive.interfaceType, DriveInfo::InterfaceAta);
  EXPECT_EQ(id.drive.transport, DriveInfo::TransportAta);
  EXPECT_EQ(id.drive.model, "Sim SATA SSD 480GB");
  EXPECT_EQ(id.drive.serialNumber, "1234ABCD");
  EXPECT_EQ(id.drive.firmwareRevision, "SBFK61D1");
  EXPECT_EQ(id.drive.bytesPerSector, 4096u);
  EXPECT_EQ(id.drive.lastLba, (1ull << 30) / 4096 - 1);
  // Through the ATA control code no INQUIRY is sent at all.
  EXPECT_EQ(id.codes, std::vector<std::uint32_t>{win::IoctlAtaPassThroughDirect});
  EXPECT_TRUE(id.queries.empty());
}

TEST(Identify, TranslatedIdentifyKeepsAtaUnlessTheBridgeIsQuorin) {
  struct Case {
    const char* vendor;
    std::int32_t interfaceType;
  };
  for (const auto& c :
       {Case{"Generic", DriveInfo::InterfaceAta}, Case{"Quorin", DriveInfo::InterfaceScsi},
        Case{"QUORIN", DriveInfo::InterfaceAta}}) {
    SCOPED_TRACE(c.vendor);
    const auto id = identifyDrive({{"kind", "sat"},
                                   {"vendor", c.vendor},
                                   {"model", "Sim Portable SSD"},
                                   {"serial", "SAT77"}});
    ASSERT_TRUE(id.result);
    EXPECT_EQ(id.drive.interfaceType, c.interfaceType);
    EXPECT_EQ(id.drive.transport, DriveInfo::TransportScsi);
    EXPECT_EQ(id.drive.model, "Sim Portable SSD");
    EXPECT_EQ(id.drive.serialNumber, "SAT77");
    EXPECT_EQ(id.drive.lastLba, (64ull << 20) / 512 - 1);
    EXPECT_EQ(countOf(id.codes, win::IoctlScsiPassThroughDirect), 2);  // IDENTIFY, INQUIRY
  }
}

// A bridge with D_SENSE 0 returns the ATA registers in fixed-format sense,
// which the ATA path does not read: the drive is known by what the bridge
// says of itself through SCSI, not by its own IDENTIFY strings.
TEST(Identify, BridgeWithFixedFormatSenseIsKnownThroughScsi) {
  const auto id = identifyDrive({{"kind", "sat"},
                                 {"descriptorSense", false},
                                 {"model", "Sim Portable SSD"},
                                 {"serial", "SAT77"},
                                 {"firmware", "FW9"}});
  ASSERT_TRUE(id.result);
  EXPECT_EQ(id.drive.interfaceType, DriveInfo::InterfaceScsi);
  EXPECT_EQ(id.drive.transport, DriveInfo::TransportScsi);
  EXPECT_EQ(id.drive.model, "SATA Bridge");
  EXPECT_EQ(id.drive.serialNumber, "SAT77");  // the unit serial page
  EXPECT_EQ(id.drive.firmwareRevision, "0100");
  EXPECT_EQ(id.drive.lastLba, (64ull << 20) / 512 - 1);
}

TEST(Identify, FailedIntegrityFallsThroughToScsi) {
  const auto id = identifyDrive({{"kind", "sat"},
                                 {"badIntegrity", "checksum"},
                                 {"product", "Bridge SATA"},
                                 {"revision", "0100"},
                                 {"serial", "SER12345"}});
  ASSERT_TRUE(id.result);
  EXPECT_EQ(id.drive.interfaceType, DriveInfo::InterfaceScsi);
  EXPECT_EQ(id.drive.model, "Bridge SATA");
  EXPECT_EQ(id.drive.serialNumber, "SER12345");
  EXPECT_EQ(id.drive.firmwareRevision, "0100");
}

TEST(Identify, NvmeBehindABridgeUsesIdentifyControllerAndReadCapacity) {
  struct Case {
    const char* vendor;
    const char* product;
    bool pcieBridge;
  };
  for (const auto& c : {Case{"Bridge", "PCIe V2 Bridge", true}, Case{"Bridge", "PCIe M1", false},
                        Case{"BRIDGE", "PCIe M1 NVMe", true}, Case{"BRIDGE", "PCIe V", false},
                        Case{"Bridge", "PCIe", false}}) {
    SCOPED_TRACE(std::string(c.vendor) + "/" + c.product);
    const auto id = identifyDrive({{"kind", "nvme-bridge"},
                                   {"vendor", c.vendor},
                                   {"product", c.product},
                                   {"revision", "0207"},
                                   {"model", "Sim NVMe 1TB"},
                                   {"serial", "NVB0001"},
                                   {"firmware", "3B2QGXA7"}},
                                  nullptr, 256ull << 20, 512);
    ASSERT_TRUE(id.result);
    EXPECT_EQ(id.drive.interfaceType, DriveInfo::InterfaceNvme);
    EXPECT_EQ(id.drive.nvmeBehindBridge, 1);
    EXPECT_EQ(id.drive.bridgeRevision, "0207");
    EXPECT_EQ(id.drive.usbPcieBridge, c.pcieBridge);
    EXPECT_EQ(id.drive.model, "Sim NVMe 1TB");
    EXPECT_EQ(id.drive.serialNumber, "NVB0001");
    EXPECT_EQ(id.drive.firmwareRevision, "3B2QGXA7");
    EXPECT_EQ(id.drive.bytesPerSector, 512u);
    EXPECT_EQ(id.drive.lastLba, (256ull << 20) / 512 - 1);
    EXPECT_EQ(countOf(id.codes, win::IoctlStorageQueryProperty), 0);
    EXPECT_TRUE(id.queries.empty());
  }
}

TEST(Identify, BridgedNvmeWithoutSerialAsksTheManagementService) {
  const auto id = identifyDrive(
      {{"kind", "nvme-bridge"}, {"model", "Sim NVMe"}, {"serial", ""}, {"firmware", "FW1"}},
      {{"SerialNumber", "WMI-SERIAL "}});
  ASSERT_TRUE(id.result);
  EXPECT_EQ(id.drive.nvmeBehindBridge, 1);
  EXPECT_EQ(id.drive.serialNumber, "WMI-SERIAL");
  ASSERT_EQ(id.queries.size(), 1u);
  EXPECT_EQ(id.queries[0],
            u"SELECT Model,SerialNumber FROM Win32_DiskDrive WHERE "
            u"DeviceID='\\\\\\\\.\\\\PHYSICALDRIVE1'");
}

TEST(Identify, NativeNvmeAnswersTheIdentifyQuery) {
  const auto id = identifyDrive({{"kind", "nvme"},
                                 {"model", "Sim NVMe 2TB"},
                                 {"serial", "NVN0002"},
                                 {"firmware", "4B2QJXD7"}},
                                nullptr, 128ull << 20, 4096);
  ASSERT_TRUE(id.result);
  EXPECT_EQ(id.drive.interfaceType, DriveInfo::InterfaceNvme);
  EXPECT_EQ(id.drive.nvmeBehindBridge, 0);
  EXPECT_EQ(id.drive.model, "Sim NVMe 2TB");
  EXPECT_EQ(id.drive.serialNumber, "NVN0002");
  EXPECT_EQ(id.drive.firmwareRevision, "4B2QJXD7");
  EXPECT_EQ(id.drive.bytesPerSector, 4096u);
  EXPECT_EQ(id.drive.lastLba, (128ull << 20) / 4096 - 1);
  EXPECT_EQ(id.drive.transport, DriveInfo::TransportScsi);
  EXPECT_EQ(countOf(id.codes, win::IoctlStorageQueryProperty), 1);
  EXPECT_TRUE(id.queries.empty());
}

TEST(Identify, ScsiOnlyDriveTakesInquiryAndTheLongerManagementFirmware) {
  struct Case {
    const char* name;
    sim::Json management;
    const char* firmware;
  };
  const Case cases[] = {
      {"longer firmware wins", {{"FirmwareRevision", "1.00A"}}, "1.00A"},
      {"same length keeps INQUIRY", {{"FirmwareRevision", "2.0"}}, "1.0"},
      {"no firmware property", {{"absent", {"FirmwareRevision"}}}, "1.0"},
      {"drive not listed", {{"listed", false}}, "1.0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto id = identifyDrive({{"kind", "scsi"},
                                   {"vendor", "SimCorp"},
                                   {"product", "Flash Stick"},
                                   {"revision", "1.0"},
                                   {"serial", "STK000123"}},
                                  c.management);
    ASSERT_TRUE(id.result);
    EXPECT_EQ(id.drive.interfaceType, DriveInfo::InterfaceScsi);
    EXPECT_EQ(id.drive.model, "Flash Stick");
    EXPECT_EQ(id.drive.serialNumber, "STK000123");
    EXPECT_EQ(id.drive.firmwareRevision, c.firmware);
    EXPECT_EQ(id.drive.transport, DriveInfo::TransportScsi);
    ASSERT_EQ(id.queries.size(), 1u);
    EXPECT_EQ(id.queries[0],
              u"SELECT FirmwareRevision FROM Win32_DiskDrive WHERE "
              u"DeviceID='\\\\\\\\.\\\\PHYSICALDRIVE1'");
  }
}

TEST(Identify, ShortSerialPageTakesTheManagementSerialNumber) {
  const auto withService =
      identifyDrive({{"kind", "scsi"}, {"product", "Stick"}, {"unitSerial", "1234"}},
                    {{"SerialNumber", "0401abcdef"}, {"Model", "Not used"}});
  ASSERT_TRUE(withService.result);
  EXPECT_EQ(withService.drive.serialNumber, "0401abcdef");
  EXPECT_EQ(withService.drive.model, "Stick");  // only empty fields are filled

  const auto withoutService = identifyDrive(
      {{"kind", "scsi"}, {"product", "Stick"}, {"unitSerial", ""}}, {{"absent", {"SerialNumber"}}});
  ASSERT_TRUE(withoutService.result);
  EXPECT_EQ(withoutService.drive.serialNumber, "");
}

TEST(Identify, DriveThatAnswersNothingIsLeftAlone) {
  const auto id = identifyDrive(nullptr);
  EXPECT_FALSE(id.result);
  EXPECT_EQ(id.drive.interfaceType, DriveInfo::InterfaceNone);
  EXPECT_EQ(id.drive.model, "");
  EXPECT_EQ(id.drive.serialNumber, "");
  EXPECT_EQ(id.drive.firmwareRevision, "");
  EXPECT_EQ(id.drive.bytesPerSector, 512u);
  EXPECT_EQ(id.drive.lastLba, 0u);
  EXPECT_TRUE(id.queries.empty());
}

// IDENTIFY DEVICE data with chosen words.
struct IdentifyData {
  std::array<std::uint8_t, 512> bytes{};
  IdentifyData& word(unsigned index, std::uint16_t value) {
    bytes[2 * index] = static_cast<std::uint8_t>(value);
    bytes[2 * index + 1] = static_cast<std::uint8_t>(value >> 8);
    return *this;
  }
  IdentifyData& text(unsigned firstWord, std::string_view s) {
    for (std::size_t i = 0; i < s.size(); ++i)
      bytes[2 * firstWord + (i ^ 1)] = static_cast<std::uint8_t>(s[i]);
    return *this;
  }
};

TEST(AtaString, SwapsBytePairsReplacesOddBytesAndTrims) {
  EXPECT_EQ(ataString(IdentifyData().text(10, "  1234ABCD          ").bytes.data(), 10, 20),
            "1234ABCD");
  EXPECT_EQ(ataString(IdentifyData().word(10, 0xFFFF).text(11, "XY").bytes.data(), 10, 20), "");
  EXPECT_EQ(ataString(IdentifyData().word(10, 0).text(11, "XY").bytes.data(), 10, 20), "");
  EXPECT_EQ(ataString(IdentifyData()
                          .text(27,
                                "AB\x01"
                                "C\x7F"
                                "D")
                          .bytes.data(),
                      27, 6),
            "AB?C?D");
  EXPECT_EQ(ataString(IdentifyData().text(27, "A\tB").bytes.data(), 27, 4), "A?B");
  // A 0 byte is a blank and is trimmed away.
  EXPECT_EQ(ataString(IdentifyData().text(23, "AB").bytes.data(), 23, 8), "AB");
}

TEST(AtaSectorSize, LogicalSectorSizeNeedsAModernMajorVersion) {
  struct Case {
    std::uint16_t major, sizes;
    std::uint32_t words, expected;
  };
  const Case cases[] = {
      {0x01F0, 0x5000, 2048, 4096}, {0x01F0, 0x4000, 2048, 512}, {0x01F0, 0x1000, 2048, 512},
      {0x01F0, 0x7000, 2048, 4096}, {0x01F0, 0x9000, 2048, 512}, {0x0070, 0x5000, 2048, 512},
      {0xFFFF, 0x5000, 2048, 512},  {0x0080, 0x5000, 260, 520},
  };
  for (const auto& c : cases) {
    IdentifyData d;
    d.word(80, c.major).word(106, c.sizes).word(117, c.words & 0xFFFF).word(118, c.words >> 16);
    EXPECT_EQ(ataSectorSize(d.bytes.data()), c.expected) << std::hex << c.major << " " << c.sizes;
  }
}

TEST(AtaSectorCount, ExtendedThen48BitThen28BitCounts) {
  IdentifyData d;
  d.word(60, 0x5678).word(61, 0x0123);
  d.word(100, 0x1111).word(101, 0x2222).word(102, 0x0003);
  d.word(230, 0x4444).word(231, 0x5555).word(232, 0x0006);
  EXPECT_EQ(ataSectorCount(d.bytes.data()), 0u);  // no capability bits
  d.word(49, 0x0200);
  EXPECT_EQ(ataSectorCount(d.bytes.data()), 0x01235678u);
  d.word(83, 0x0400);
  EXPECT_EQ(ataSectorCount(d.bytes.data()), 0x000322221111u);
  d.word(69, 0x0008);
  EXPECT_EQ(ataSectorCount(d.bytes.data()), 0x000655554444u);
}

TEST(Identify, ExtendedCountOfZeroGivesTheLargestLastLba) {
  const auto id = identifyDrive({{"kind", "ata"}, {"identifyWords", {{"69", 8}}}});
  ASSERT_TRUE(id.result);
  EXPECT_EQ(id.drive.lastLba, 0xFFFFFFFFFFFFFFFFull);
}

TEST(ManagementKey, UpperCasesAndDoublesBackslashes) {
  EXPECT_EQ(managementKey("\\\\.\\PhysicalDrive1"), "\\\\\\\\.\\\\PHYSICALDRIVE1");
  EXPECT_EQ(managementKey("abc"), "ABC");
  EXPECT_EQ(managementKey(""), "");
}

}  // namespace
}  // namespace pbaloader
