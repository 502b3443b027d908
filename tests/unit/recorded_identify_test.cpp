// The identification on the recorded answers of qemu's emulated drives
// (tests/fixtures/emulated/*.json): what each bus answered, and what the tool
// makes of it, checked against the options qemu built the drive from.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "discovery/enumerate.h"
#include "unit/device_fixture.h"

namespace pbaloader {
namespace {

using testing::Bytes;

const std::filesystem::path RecordingFolder =
    std::filesystem::path(PBA_SOURCE_DIR) / "tests" / "fixtures" / "emulated";

std::vector<std::filesystem::path> recordings() {
  std::vector<std::filesystem::path> files;
  if (std::filesystem::is_directory(RecordingFolder))
    for (const auto& entry : std::filesystem::directory_iterator(RecordingFolder))
      if (entry.path().extension() == ".json") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

// The key=value options of the qemu -device arguments the drive was made with.
std::map<std::string, std::string> qemuOptions(const std::string& text) {
  std::map<std::string, std::string> options;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find(',', start), text.size());
    std::string item = text.substr(start, end - start);
    if (const auto blank = item.find_last_of(" \t", item.find('=')); blank != std::string::npos)
      item = item.substr(blank + 1);
    if (const auto eq = item.find('='); eq != std::string::npos)
      options[item.substr(0, eq)] = item.substr(eq + 1);
    start = end + 1;
  }
  return options;
}

Bytes hexBytes(const std::string& text) {
  Bytes bytes;
  std::istringstream in(text);
  std::string token;
  while (in >> token) bytes.push_back(static_cast<std::uint8_t>(std::stoul(token, nullptr, 16)));
  return bytes;
}

struct Recording {
  std::string name;
  sim::Json json;
  std::map<std::string, std::string> qemu;

  const sim::Json* scsi(const std::string& cdbPrefix) const {
    if (!json.contains("scsi")) return nullptr;
    for (const auto& e : json.at("scsi"))
      if (e.at("cdb").get<std::string>().starts_with(cdbPrefix)) return &e;
    return nullptr;
  }
  const sim::Json* nvme(int opcode, std::uint32_t cdw10) const {
    if (!json.contains("nvme")) return nullptr;
    for (const auto& e : json.at("nvme"))
      if (e.at("opcode") == opcode && e.at("cdw10") == cdw10) return &e;
    return nullptr;
  }
  Bytes data(const sim::Json* entry) const {
    return entry == nullptr ? Bytes{} : hexBytes(entry->value("data", std::string()));
  }
  std::string option(const std::string& key) const {
    auto it = qemu.find(key);
    return it == qemu.end() ? std::string() : it->second;
  }
};

Recording load(const std::filesystem::path& file) {
  Recording r;
  r.name = file.filename().string();
  std::ifstream in(file);
  r.json = sim::Json::parse(in);
  r.qemu = qemuOptions(r.json.value("qemu", std::string()));
  return r;
}

std::string text(const Bytes& data, std::size_t at, std::size_t count) {
  if (data.size() < at + count) return {};
  return trimText(std::string_view(reinterpret_cast<const char*>(data.data()) + at, count),
                  WhitespaceSet);
}

// The facts measured on each bus, read from the recording itself.
void expectRefusedAsInvalidOpcode(const Recording& r, const std::string& cdbPrefix) {
  SCOPED_TRACE(cdbPrefix);
  const sim::Json* e = r.scsi(cdbPrefix);
  ASSERT_NE(e, nullptr) << "not recorded";
  EXPECT_EQ(e->at("status"), 2);
  const Bytes sense = hexBytes(e->value("sense", std::string()));
  ASSERT_GE(sense.size(), 14u);
  const bool descriptor = (sense[0] & 0x7F) == 0x72;
  EXPECT_EQ(sense[descriptor ? 1 : 2] & 0x0F, 0x05);  // ILLEGAL REQUEST
  EXPECT_EQ(sense[descriptor ? 2 : 12], 0x20);        // INVALID COMMAND OPERATION CODE
}

const std::string AtaIdentify16 = "85 08 2e";
const std::string AtaIdentifyWithoutCheckCondition = "85 08 0e";
const std::string AtaIdentify12 = "a1 08 2e";
const std::string BridgeProbe = "a1 80";

struct Identified {
  bool result = false;
  std::int32_t identifiedTransport = DriveInfo::TransportUnknown;
  DriveInfo drive;  // as the enumeration records it
  bool listed = false;
  bool usable = false;
};

Identified identifyRecorded(const std::filesystem::path& file) {
  const sim::Json disk = {{"number", 1},
                          {"device", {{"kind", "recorded"}, {"recording", file.string()}}}};
  testing::SimMachine sim(sim::Json{{"disks", sim::Json::array({disk})}});
  Identified out;
  DriveInfo start;
  start.path = testing::DrivePath;
  SystemDevice device(start);
  out.result = device.identify();
  out.identifiedTransport = device.drive().transport;
  for (const DriveInfo& drive : enumerateDrives()) {
    if (drive.path != testing::DrivePath) continue;
    out.listed = true;
    out.drive = drive;
    if (out.result) {
      EXPECT_EQ(drive, device.drive()) << "the enumeration identifies as identify()";
    }
    out.usable = isUsableUsbDrive(drive);
  }
  return out;
}

TEST(RecordedIdentify, EveryEmulatedDriveIsIdentifiedAsItsBusAnswers) {
  const auto files = recordings();
  if (files.empty()) GTEST_SKIP() << "no recordings in " << RecordingFolder;
  for (const auto& file : files) {
    const Recording r = load(file);
    SCOPED_TRACE(r.name);
    const std::string bus = r.json.at("bus");
    const Identified id = identifyRecorded(file);
    ASSERT_TRUE(id.listed);
    // Only the SATA drive's rejected IDENTIFY leaves the drive unidentified.
    EXPECT_EQ(id.result, bus != "sata");
    const std::uint32_t blockSize = r.json.at("logicalBlockSize");
    EXPECT_EQ(id.drive.bytesPerSector, blockSize);
    EXPECT_EQ(id.drive.lastLba, r.json.at("sizeBytes").get<std::uint64_t>() / blockSize - 1);
    EXPECT_EQ(id.usable, bus == "usb");

    const Bytes inquiry = r.data(r.scsi("12 00 00 00 80 00"));
    const Bytes identify = r.data(r.scsi(AtaIdentifyWithoutCheckCondition));
    if (bus == "usb") {
      // qemu's USB storage knows no ATA and no bridge: the SCSI identity,
      // as the stick was configured.
      expectRefusedAsInvalidOpcode(r, AtaIdentify16);
      expectRefusedAsInvalidOpcode(r, AtaIdentify12);
      expectRefusedAsInvalidOpcode(r, BridgeProbe);
      EXPECT_EQ(id.drive.interfaceType, DriveInfo::InterfaceScsi);
      EXPECT_EQ(id.drive.transport, DriveInfo::TransportScsi);
      EXPECT_EQ(id.drive.model, text(inquiry, 16, 16));
      EXPECT_EQ(id.drive.model, r.option("product"));
      EXPECT_EQ(id.drive.serialNumber, r.option("serial"));
      EXPECT_EQ(id.drive.firmwareRevision, r.option("ver"));
    } else if (bus == "pata") {
      // Linux's translation answers IDENTIFY, but word 255 (the integrity
      // word) is 0: the checked IDENTIFY fails and the SCSI identity stands,
      // as the kernel reports it: vendor "ATA", the model's first 16 characters.
      ASSERT_EQ(identify.size(), 512u);
      EXPECT_EQ(identify[510], 0);
      EXPECT_EQ(identify[511], 0);
      EXPECT_EQ(id.drive.interfaceType, DriveInfo::InterfaceScsi);
      EXPECT_EQ(id.drive.transport, DriveInfo::TransportScsi);
      EXPECT_EQ(text(inquiry, 8, 8), "ATA");
      EXPECT_EQ(id.drive.model, trimText(r.option("model").substr(0, 16), BlankSet));
      EXPECT_EQ(id.drive.serialNumber, r.option("serial"));
      EXPECT_NE(r.option("ver").find(id.drive.firmwareRevision), std::string::npos);
    } else if (bus == "sata") {
      // The ATA control code delivers the same IDENTIFY without integrity
      // word: rejected, and the ATA path stays chosen, so no SCSI identity
      // either. The listing shows the management service's record, which
      // Windows fills from the same IDENTIFY.
      ASSERT_EQ(identify.size(), 512u);
      EXPECT_EQ(identify[510], 0);
      EXPECT_EQ(identify[511], 0);
      EXPECT_EQ(id.identifiedTransport, DriveInfo::TransportAta);
      EXPECT_EQ(id.drive.interfaceType, DriveInfo::InterfaceNone);
      EXPECT_EQ(id.drive.transport, DriveInfo::TransportManagement);
      EXPECT_EQ(id.drive.model, r.option("model"));
      EXPECT_EQ(id.drive.serialNumber, r.option("serial"));
      EXPECT_EQ(id.drive.firmwareRevision, r.option("ver"));
    } else if (bus == "nvme") {
      // Vendor 1B36h and 256 namespaces; the identity is Identify Controller's.
      const Bytes controller = r.data(r.nvme(6, 1));
      ASSERT_EQ(controller.size(), 4096u);
      EXPECT_EQ(controller[0] | controller[1] << 8, 0x1B36);
      EXPECT_EQ(
          controller[516] | controller[517] << 8 | controller[518] << 16 | controller[519] << 24,
          256);
      EXPECT_EQ(id.drive.interfaceType, DriveInfo::InterfaceNvme);
      EXPECT_EQ(id.drive.transport, DriveInfo::TransportScsi);
      EXPECT_EQ(id.drive.model, text(controller, 24, 40));
      EXPECT_EQ(id.drive.serialNumber, r.option("serial"));
      EXPECT_EQ(id.drive.firmwareRevision, text(controller, 64, 8));
    } else if (bus == "virtio-scsi") {
      EXPECT_EQ(id.drive.interfaceType, DriveInfo::InterfaceScsi);
      EXPECT_EQ(id.drive.transport, DriveInfo::TransportScsi);
      EXPECT_EQ(id.drive.model, text(inquiry, 16, 16));
      if (!r.option("serial").empty()) {
        EXPECT_EQ(id.drive.serialNumber, r.option("serial"));
      }
    } else {
      ADD_FAILURE() << "unknown bus " << bus;
    }
  }
}

}  // namespace
}  // namespace pbaloader
