// The "recorded" device kind: how a recording's answers reach the device
// layer. The recordings here are small and made up for the mechanism; the
// identification on real recordings is in recorded_identify_test.cpp.

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>

#include "discovery/wmi.h"
#include "unit/device_fixture.h"

namespace pbaloader {
namespace {

using testing::Bytes;

std::string hex(const Bytes& bytes) {
  std::string out;
  for (std::uint8_t b : bytes) out += fmt::format("{}{:02x}", out.empty() ? "" : " ", b);
  return out;
}

Bytes withText(Bytes bytes, std::size_t at, const std::string& text) {
  std::copy(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
  return bytes;
}

const Bytes InquiryCdb = {0x12, 0, 0, 0, 0x80, 0};
const Bytes AtaIdentifyCdb = {0x85, 0x08, 0x2E, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0xE0, 0xEC, 0};
const Bytes ReadCapacity16Cdb = {0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x20, 0, 0};
const Bytes ReadCapacity10Cdb = {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes BlockLimitsCdb = {0x12, 1, 0xB0, 0, 64, 0};
const Bytes Read16Cdb = {0x88, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0};
const Bytes IllegalOpcodeSense = {0x70, 0, 5, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0, 0, 0, 0, 0};

sim::Json scsiEntry(const Bytes& cdb, std::uint32_t length, const sim::Json& rest) {
  sim::Json e = {{"cdb", hex(cdb)}, {"direction", "in"}, {"length", length},  {"errno", 0},
                 {"status", 0},     {"hostStatus", 0},   {"driverStatus", 0}, {"sense", ""},
                 {"resid", 0},      {"data", ""}};
  for (const auto& [key, value] : rest.items()) e[key] = value;
  return e;
}

Bytes inquiryData() {
  Bytes data(36, 0x20);
  data[0] = 0x00;
  data[1] = 0x80;
  data[2] = 0x06;
  data[3] = 0x02;
  data[4] = 31;
  data[5] = data[6] = data[7] = 0;
  data = withText(data, 8, "RECVEND");
  data = withText(data, 16, "Recorded Stick");
  return withText(data, 32, "0.91");
}

// A USB stick that answered INQUIRY, refused ATA PASS-THROUGH, failed READ
// CAPACITY(16) in the kernel and lost READ CAPACITY(10) in the adapter.
sim::Json stickRecording() {
  return {{"drive", "test-stick"},
          {"bus", "usb"},
          {"sizeBytes", 4 << 20},
          {"logicalBlockSize", 512},
          {"scsi",
           {scsiEntry(InquiryCdb, 128, {{"resid", 92}, {"data", hex(inquiryData())}}),
            scsiEntry(AtaIdentifyCdb, 512,
                      {{"status", 2},
                       {"driverStatus", 8},
                       {"sense", hex(IllegalOpcodeSense)},
                       {"resid", 512}}),
            scsiEntry(ReadCapacity16Cdb, 32, {{"errno", EIO}}),
            scsiEntry(ReadCapacity10Cdb, 32, {{"hostStatus", 7}}),
            scsiEntry(BlockLimitsCdb, 64, {{"errno", ENOTTY}})}}};
}

// IDENTIFY DEVICE data with a model and a valid integrity word.
Bytes identifyData(const std::string& model) {
  Bytes data(512, 0);
  data[0] = 0x40;
  const auto putText = [&](std::size_t word, std::size_t count, const std::string& text) {
    for (std::size_t i = 0; i < count; ++i)
      data[2 * word + (i ^ 1u)] = static_cast<std::uint8_t>(i < text.size() ? text[i] : ' ');
  };
  putText(10, 20, "REC-SERIAL");
  putText(23, 8, "REC1.0");
  putText(27, 40, model);
  data[2 * 49 + 1] = 0x02;  // LBA
  data[2 * 60] = 0x00;
  data[2 * 60 + 1] = 0x20;  // 8192 sectors
  data[510] = 0xA5;
  std::uint8_t sum = 0;
  for (int i = 0; i < 511; ++i) sum = static_cast<std::uint8_t>(sum + data[i]);
  data[511] = static_cast<std::uint8_t>(-sum);
  return data;
}

sim::Json recordedDisk(const sim::Json& recording, const sim::Json& extra = sim::Json::object()) {
  sim::Json disk = {{"number", 1}, {"device", {{"kind", "recorded"}, {"recording", recording}}}};
  for (const auto& [key, value] : extra.items()) disk[key] = value;
  return {{"disks", sim::Json::array({disk})}};
}

SystemDevice openDrive() {
  DriveInfo drive;
  drive.path = testing::DrivePath;
  return SystemDevice(drive);
}

SCSIRet sendIn(SystemDevice& device, const Bytes& cdb, std::uint32_t length, Bytes& data) {
  SCSIPacket packet;
  std::copy(cdb.begin(), cdb.end(), packet.cdb);
  packet.cdbLength = static_cast<std::uint8_t>(cdb.size());
  data.assign(length, 0xCC);
  packet.data = data.data();
  packet.dataLength = length;
  packet.direction = 1;
  SCSIRet ret;
  device.sendSCSI(packet, &ret);
  return ret;
}

TEST(RecordedDevice, ScsiCommandsAnswerAsRecordedByExactCommandBlockAndLength) {
  testing::SimMachine sim(recordedDisk(stickRecording()));
  auto device = openDrive();
  Bytes data;

  auto ret = sendIn(device, InquiryCdb, 128, data);
  EXPECT_EQ(ret.scsiStatus, 0u);
  EXPECT_EQ(ret.transferred, 36u);
  EXPECT_EQ(Bytes(data.begin(), data.begin() + 36), inquiryData());

  // Refused with its recorded sense.
  ret = sendIn(device, AtaIdentifyCdb, 512, data);
  EXPECT_EQ(ret.scsiStatus, 2u);
  EXPECT_EQ(Bytes(ret.sense, ret.sense + IllegalOpcodeSense.size()), IllegalOpcodeSense);
  EXPECT_EQ(ret.senseLength, IllegalOpcodeSense.size());

  // Another allocation length, another page, an unknown opcode: never
  // recorded, so refused as an unsupported command.
  for (const auto& [cdb, length] :
       {std::pair{InquiryCdb, 96u}, std::pair{Bytes{0x12, 1, 0x83, 1, 0, 0}, 256u},
        std::pair{Bytes{0xA1, 0x80, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0}, 512u}}) {
    SCOPED_TRACE(hex(cdb));
    ret = sendIn(device, cdb, length, data);
    EXPECT_EQ(ret.scsiStatus, 2u);
    EXPECT_EQ(ret.sense[2], 0x05);
    EXPECT_EQ(ret.sense[12], 0x20);
  }

  // The kernel's EIO and a command the adapter lost fail the control code itself.
  ret = sendIn(device, ReadCapacity16Cdb, 32, data);
  EXPECT_EQ(ret.systemError, win::ErrorIoDevice);
  EXPECT_EQ(ret.scsiStatus, 0xFFFFFFFFu);
  ret = sendIn(device, ReadCapacity10Cdb, 32, data);
  EXPECT_EQ(ret.systemError, win::ErrorIoDevice);
  // A control code the kernel's driver did not know.
  ret = sendIn(device, BlockLimitsCdb, 64, data);
  EXPECT_EQ(ret.systemError, win::ErrorInvalidFunction);
}

TEST(RecordedDevice, MediaAccessMovesTheDiskBytesUnlessTheDriveRefusedIt) {
  sim::Json recording = stickRecording();
  recording["scsi"].push_back(scsiEntry(Read16Cdb, 512, {{"data", hex(Bytes(512, 0))}}));
  testing::SimMachine sim(recordedDisk(recording));
  const Bytes written = withText(Bytes(512, 0x5A), 0, "written after the recording");
  ASSERT_TRUE(sim->disks[0].store->write(0, written.data(), 512));
  auto device = openDrive();
  Bytes data(512);
  ASSERT_TRUE(device.readSectors(data.data(), 0, 1));
  EXPECT_EQ(data, written);
  // Not recorded at all: still a media access.
  ASSERT_TRUE(device.readSectors(data.data(), 7, 1));

  recording["scsi"].back()["status"] = 2;
  recording["scsi"].back()["sense"] = hex(IllegalOpcodeSense);
  testing::SimMachine refusing(recordedDisk(recording));
  auto refused = openDrive();
  EXPECT_FALSE(refused.readSectors(data.data(), 0, 1));
}

// Model, SerialNumber and FirmwareRevision of the management service's record.
std::vector<std::optional<std::string>> managementIdentity() {
  auto session = WmiSession::open(u"ROOT\\CIMV2");
  WmiQuery query(*session, u"SELECT * FROM Win32_DiskDrive");
  WmiObject* object = query.next(win::WbemInfinite);
  if (object == nullptr) return {};
  return {object->getString(u"Model"), object->getString(u"SerialNumber"),
          object->getString(u"FirmwareRevision")};
}

TEST(RecordedDevice, DiskTakesGeometryRemovalPolicyAndWindowsNamesFromTheRecording) {
  sim::Json sata = stickRecording();
  sata["bus"] = "sata";
  sata["sizeBytes"] = 8 << 20;
  sata["logicalBlockSize"] = 4096;
  const Bytes plainIdentify = {0x85, 0x08, 0x0E, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0xE0, 0xEC, 0};
  sata["scsi"].push_back(
      scsiEntry(plainIdentify, 512, {{"data", hex(identifyData("Recorded SATA Disk"))}}));
  {
    testing::SimMachine sim(recordedDisk(stickRecording()));
    EXPECT_EQ(sim->disks[0].size, 4u << 20);
    EXPECT_EQ(sim->disks[0].sectorSize, 512u);
    EXPECT_EQ(sim->disks[0].removalPolicy, 3u);
    // No unit serial number page was recorded.
    EXPECT_EQ(managementIdentity(),
              (std::vector<std::optional<std::string>>{"RECVEND Recorded Stick USB Device",
                                                       std::nullopt, "0.91"}));
  }
  {
    testing::SimMachine sim(recordedDisk(sata));
    EXPECT_EQ(sim->disks[0].size, 8u << 20);
    EXPECT_EQ(sim->disks[0].sectorSize, 4096u);
    EXPECT_EQ(sim->disks[0].removalPolicy, 1u);
    EXPECT_EQ(managementIdentity(), (std::vector<std::optional<std::string>>{
                                        "Recorded SATA Disk", "REC-SERIAL", "REC1.0"}));
  }
  {
    sim::Json disks = recordedDisk(sata, {{"size", 1 << 20}, {"removalPolicy", 2}});
    disks["disks"][0]["device"]["model"] = "Named In The Description";
    testing::SimMachine sim(disks);
    EXPECT_EQ(sim->disks[0].size, 1u << 20);
    EXPECT_EQ(sim->disks[0].removalPolicy, 2u);
    EXPECT_EQ(managementIdentity()[0], "Named In The Description");
  }
}

TEST(RecordedDevice, RecordingIsReadFromAFileBesideTheDescription) {
  testing::TempFolder folder;
  std::ofstream(folder.path() / "stick.json") << stickRecording().dump();
  const sim::Json description = recordedDisk("stick.json");
  auto machine = sim::Machine::fromJson(description, folder.path());
  auto platform = sim::makeSimPlatform(*machine);
  os::ScopedPlatform installed(*platform);
  auto device = openDrive();
  ScsiIdentity identity;
  ASSERT_TRUE(device.scsiInquiry(identity));
  EXPECT_EQ(identity.vendor, "RECVEND");
  EXPECT_EQ(identity.product, "Recorded Stick");
  EXPECT_EQ(identity.revision, "0.91");
}

TEST(RecordedDevice, UnusableRecordingsAreRefusedWhenTheMachineIsBuilt) {
  sim::Json unknownBus = stickRecording();
  unknownBus["bus"] = "firewire";
  sim::Json badHex = stickRecording();
  badHex["scsi"][0]["data"] = "00 0g";
  sim::Json oddHex = stickRecording();
  oddHex["scsi"][0]["cdb"] = "12 0";
  sim::Json noSize = stickRecording();
  noSize.erase("sizeBytes");
  sim::Json badDirection = stickRecording();
  badDirection["scsi"][0]["direction"] = "both";
  for (const sim::Json& disks :
       {recordedDisk(unknownBus), recordedDisk(badHex), recordedDisk(oddHex), recordedDisk(noSize),
        recordedDisk(badDirection), recordedDisk("missing.json")}) {
    SCOPED_TRACE(disks.dump().substr(0, 200));
    EXPECT_THROW(sim::Machine::fromJson(disks, "/nonexistent"), std::runtime_error);
  }
}

TEST(RecordedDevice, OnlyASataDriveAnswersTheAtaControlCodeFromItsRecordedIdentify) {
  const Bytes plainIdentify = {0x85, 0x08, 0x0E, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0xE0, 0xEC, 0};
  for (const char* bus : {"sata", "usb", "pata", "virtio-scsi"}) {
    SCOPED_TRACE(bus);
    sim::Json recording = stickRecording();
    recording["bus"] = bus;
    recording["scsi"].push_back(
        scsiEntry(plainIdentify, 512, {{"data", hex(identifyData("Recorded SATA Disk"))}}));
    testing::SimMachine sim(recordedDisk(recording));
    auto device = openDrive();
    Bytes data(512, 0);
    ATAPacket packet;
    packet.sectorCount = 1;
    packet.device = 0xE0;
    packet.command = 0xEC;
    packet.data = data.data();
    packet.dataLength = 512;
    packet.direction = 1;
    ATARetReg registers;
    const auto error = device.sendAtaDirect(packet, registers);
    if (std::string(bus) == "sata") {
      EXPECT_EQ(error, BaseDevice::Error::Ok);
      EXPECT_EQ(data, identifyData("Recorded SATA Disk"));
      EXPECT_EQ(ataString(data.data(), 27, 20), "Recorded SATA Disk");
      EXPECT_EQ(registers.status, 0x50);
    } else {
      EXPECT_EQ(error, BaseDevice::Error::InvalidRequest);  // ERROR_INVALID_FUNCTION
    }
  }
}

TEST(RecordedDevice, NvmeAdminCommandsAnswerAsRecordedAndTheDriverTranslatesScsi) {
  Bytes controller(4096, 0);
  controller[0] = 0x36;
  controller[1] = 0x1B;
  controller = withText(controller, 4, "REC-NVME-SERIAL     ");
  controller = withText(controller, 24, "Recorded NVMe Controller Model         ");
  controller = withText(controller, 64, "7.2.0   ");
  controller[517] = 1;  // 256 namespaces
  const sim::Json recording = {{"drive", "test-nvme"},
                               {"bus", "nvme"},
                               {"sizeBytes", 16 << 20},
                               {"logicalBlockSize", 512},
                               {"scsi", {scsiEntry(InquiryCdb, 128, {{"errno", ENOTTY}})}},
                               {"nvme",
                                {{{"opcode", 6},
                                  {"nsid", 0},
                                  {"cdw10", 1},
                                  {"cdw11", 0},
                                  {"length", 4096},
                                  {"errno", 0},
                                  {"status", 0},
                                  {"result", 0},
                                  {"data", hex(controller)}},
                                 {{"opcode", 10},
                                  {"nsid", 0},
                                  {"cdw10", 7},
                                  {"cdw11", 0},
                                  {"length", 0},
                                  {"errno", 0},
                                  {"status", 0},
                                  {"result", 0x003F003F},
                                  {"data", ""}},
                                 {{"opcode", 10},
                                  {"nsid", 0},
                                  {"cdw10", 4},
                                  {"cdw11", 0},
                                  {"length", 0},
                                  {"errno", 0},
                                  {"status", 2},
                                  {"result", 0},
                                  {"data", ""}}}}};
  testing::SimMachine sim(recordedDisk(recording));
  auto device = openDrive();

  Bytes data(4096, 0);
  NVMePacket identify;
  identify.opcode = 0x06;
  identify.cdw10 = 1;
  identify.data = data.data();
  identify.dataLength = 4096;
  ASSERT_TRUE(device.sendNvme(identify));
  EXPECT_EQ(data, controller);

  std::uint8_t fixed[4] = {};
  NVMePacket features;
  features.opcode = 0x0A;
  features.cdw10 = 7;
  features.data = fixed;
  features.dataLength = 4;
  ASSERT_TRUE(device.sendNvme(features));
  EXPECT_EQ(fixed[0], 0x3F);
  EXPECT_EQ(fixed[2], 0x3F);
  features.cdw10 = 4;  // refused by the drive
  EXPECT_FALSE(device.sendNvme(features));
  features.cdw10 = 5;  // never recorded
  EXPECT_FALSE(device.sendNvme(features));

  // Linux had no SCSI translation for the namespace; Windows' driver has.
  ScsiIdentity scsi;
  ASSERT_TRUE(device.scsiIdentify(scsi));
  EXPECT_EQ(scsi.vendor, "NVMe");
  EXPECT_EQ(scsi.product, "Recorded NVMe Co");
  EXPECT_EQ(scsi.serialNumber, "REC-NVME-SERIAL");
  EXPECT_EQ(scsi.lastLba, (16u << 20) / 512 - 1);
}

}  // namespace
}  // namespace pbaloader
