// Construction from the description, scripted faults and the SCSI block
// commands that every kind answers (itself or through its translation layer).
#include "platform/sim/devices/device_model.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "platform/sim/devices/recorded_device.h"
#include "platform/sim/machine.h"
#include "platform/winconst.h"

namespace pbaloader::sim {
namespace {

DeviceModel::Kind kindOf(const std::string& name) {
  if (name == "ata") return DeviceModel::Kind::Ata;
  if (name == "sat") return DeviceModel::Kind::Sat;
  if (name == "scsi") return DeviceModel::Kind::Scsi;
  if (name == "nvme") return DeviceModel::Kind::Nvme;
  if (name == "nvme-bridge") return DeviceModel::Kind::NvmeBridge;
  if (name == "recorded") return DeviceModel::Kind::Scsi;  // until the recording names its bus
  throw std::runtime_error("unknown device kind \"" + name + "\"");
}

std::vector<std::uint8_t> bytesOf(const nlohmann::json& array) {
  std::vector<std::uint8_t> bytes;
  for (const auto& b : array) bytes.push_back(b.get<std::uint8_t>());
  return bytes;
}

void putPadded(std::uint8_t* out, std::size_t width, const std::string& text) {
  std::memset(out, ' ', width);
  std::memcpy(out, text.data(), std::min(width, text.size()));
}

void putBe(std::uint8_t* out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i)
    out[i] = static_cast<std::uint8_t>(value >> (8 * (bytes - 1 - i)));
}

std::uint64_t be(const std::uint8_t* in, int bytes) {
  std::uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value = (value << 8) | in[i];
  return value;
}

ScsiOutcome checkCondition(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq = 0) {
  return {2, fixedSense(key, asc, ascq), 0};
}

ScsiOutcome good(std::uint32_t transferred) { return {0, {}, transferred}; }

constexpr std::uint8_t IllegalRequest = 0x05;
constexpr std::uint8_t InvalidOpcode = 0x20;
constexpr std::uint8_t InvalidFieldInCdb = 0x24;
constexpr std::uint8_t LbaOutOfRange = 0x21;

}  // namespace

std::optional<std::string> identityText(const nlohmann::json& device, const std::string& key) {
  std::string alias;
  if (key == "serial") alias = "serialNumber";
  if (key == "firmware") alias = "firmwareRevision";
  for (const std::string& name : {key, alias}) {
    if (name.empty() || !device.is_object() || !device.contains(name)) continue;
    const auto& value = device.at(name);
    if (!value.is_string()) throw std::runtime_error("device." + name + " must be text");
    return value.get<std::string>();
  }
  return std::nullopt;
}

std::vector<std::uint8_t> fixedSense(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
  std::vector<std::uint8_t> sense(18, 0);
  sense[0] = 0x70;
  sense[2] = key;
  sense[7] = 10;  // additional sense length
  sense[12] = asc;
  sense[13] = ascq;
  return sense;
}

std::string deviceKind(const nlohmann::json& device) {
  return device.is_object() ? device.value("kind", std::string("scsi")) : std::string("scsi");
}

std::vector<std::uint8_t> invalidFieldSense(std::uint16_t cdbByte) {
  auto sense = fixedSense(IllegalRequest, InvalidFieldInCdb);
  sense[15] = 0xC0;  // SKSV, the error is in the command block
  sense[16] = static_cast<std::uint8_t>(cdbByte >> 8);
  sense[17] = static_cast<std::uint8_t>(cdbByte);
  return sense;
}

DeviceModel::DeviceModel(Machine& machine, int disk, const nlohmann::json& d)
    : machine_(machine), disk_(disk), kind_(kindOf(deviceKind(d))) {
  if (deviceKind(d) == "recorded") {
    recorded_ = RecordedDrive::load(d, machine.baseDir);
    kind_ = recorded_->standIn();
  }
  model_ = identityText(d, "model").value_or("Simulated Disk");
  serial_ = identityText(d, "serial").value_or("SIM0000000001");
  firmware_ = identityText(d, "firmware").value_or("1.0");
  const bool bridge = kind_ == Kind::Sat || kind_ == Kind::NvmeBridge;
  // Who answers INQUIRY: the bridge for itself, the driver's translation otherwise.
  std::string vendor = "USB", product = model_.substr(0, 16), revision = firmware_.substr(0, 4);
  if (kind_ == Kind::Ata) vendor = "ATA";
  if (kind_ == Kind::Nvme) vendor = "NVMe";
  // A bridge reports its own product and revision, never the drive's firmware.
  if (bridge) {
    product = kind_ == Kind::Sat ? "SATA Bridge" : "NVMe Bridge";
    revision = "0100";
  }
  vendor_ = d.value("vendor", vendor);
  product_ = d.value("product", product);
  revision_ = d.value("revision", revision);
  unitSerial_ = d.value("unitSerial", serial_);
  readCapacity16_ = d.value("readCapacity16", true);
  descriptorSense_ = d.value("descriptorSense", true);
  if (d.contains("ataStatus")) ataStatus_ = d.at("ataStatus").get<std::uint8_t>();
  ataError_ = d.value("ataError", std::uint8_t{0});
  badIntegrity_ = d.value("badIntegrity", std::string());
  if (d.contains("identifyWords"))
    for (const auto& [index, value] : d.at("identifyWords").items())
      identifyWords_[static_cast<unsigned>(std::stoul(index))] = value.get<std::uint16_t>();
  // USB storage and the NVMe driver do not carry the ATA control code.
  ataIoctlError_ = d.value("ataIoctlError", kind_ == Kind::Ata ? 0u : win::ErrorInvalidFunction);
  vendorId_ = d.value("vendorId", vendorId_);
  namespaces_ = d.value("namespaces", namespaces_);
  descriptorVersion_ = d.value("descriptorVersion", descriptorVersion_);
  descriptorSize_ = d.value("descriptorSize", descriptorSize_);
  protocolStatus_ = d.value("protocolStatus", protocolStatus_);
  emptyQueryAnswer_ = d.value("emptyQueryAnswer", false);
  if (d.contains("returnedDataOffset"))
    returnedDataOffset_ = d.at("returnedDataOffset").get<std::uint32_t>();
  if (d.contains("features"))
    for (const auto& [fid, value] : d.at("features").items())
      features_[static_cast<std::uint32_t>(std::stoul(fid, nullptr, 0))] =
          value.get<std::uint32_t>();
  hardwareErrorFirst_ = d.value("hardwareErrorFirst", 0);
  vanishFor_ = d.value("vanishFor", 0);
  if (d.contains("scsiAnswers")) {
    for (const auto& a : d.at("scsiAnswers")) {
      ScriptedScsi s;
      s.cdbPrefix = bytesOf(a.at("cdb"));
      s.status = a.value("status", std::uint8_t{2});
      if (a.contains("sense")) s.sense = bytesOf(a.at("sense"));
      s.transfer = a.value("transfer", false);
      s.times = a.value("times", -1);
      scsiAnswers_.push_back(std::move(s));
    }
  }
  if (d.contains("ioctlFailures")) {
    for (const auto& f : d.at("ioctlFailures"))
      ioctlFailures_.push_back({f.at("code").get<std::uint32_t>(),
                                f.at("error").get<std::uint32_t>(), f.value("times", -1)});
  }
}

std::uint32_t DeviceModel::interceptIoctl(std::uint32_t code) {
  if (vanishFor_ > 0) {
    // Unplugged and re-enumerated: the handles open now stay dead, a new
    // open reaches the drive again.
    --vanishFor_;
    machine_.files.vanish(disk_, false);
    return win::ErrorDevNotExist;
  }
  for (auto& f : ioctlFailures_) {
    if (f.code != code || f.times == 0) continue;
    if (f.times > 0) --f.times;
    return f.error;
  }
  return 0;
}

namespace {

std::string paddedField(const std::string& text, std::size_t width) {
  std::string field = text.substr(0, std::min(width, text.size()));
  while (!field.empty() && field.back() == ' ') field.pop_back();
  return field;
}

}  // namespace

std::string DeviceModel::inquiryVendor() const { return paddedField(vendor_, 8); }
std::string DeviceModel::inquiryProduct() const { return paddedField(product_, 16); }
std::string DeviceModel::inquiryRevision() const { return paddedField(revision_, 4); }

std::uint64_t DeviceModel::sectorCount() const {
  const auto& disk = machine_.disks[disk_];
  return disk.size / disk.sectorSize;
}

std::uint32_t DeviceModel::sectorSize() const { return machine_.disks[disk_].sectorSize; }

bool DeviceModel::usb() const {
  if (recorded_) return recorded_->bus() == "usb";
  return kind_ == Kind::Sat || kind_ == Kind::Scsi || kind_ == Kind::NvmeBridge;
}

ScsiOutcome DeviceModel::executeScsi(const std::uint8_t* cdb, std::uint8_t cdbLength,
                                     std::uint8_t* data, std::uint32_t length, int direction) {
  for (auto& s : scsiAnswers_) {
    if (s.times == 0 || s.cdbPrefix.size() > cdbLength ||
        !std::equal(s.cdbPrefix.begin(), s.cdbPrefix.end(), cdb))
      continue;
    if (s.times > 0) --s.times;
    ScsiOutcome scripted{s.status, s.sense, 0};
    if (s.transfer)
      scripted.transferred = route(cdb, cdbLength, data, length, direction).transferred;
    return scripted;
  }
  return route(cdb, cdbLength, data, length, direction);
}

ScsiOutcome DeviceModel::route(const std::uint8_t* cdb, std::uint8_t cdbLength, std::uint8_t* data,
                               std::uint32_t length, int direction) {
  if (recorded_)
    if (auto answer = recorded_->scsi(cdb, cdbLength, data, length, direction)) return *answer;
  if (cdb[0] == 0x85 || cdb[0] == 0xA1) {
    if (kind_ == Kind::NvmeBridge && cdb[0] == 0xA1)
      return bridgeCommand(cdb, data, length, direction);
    if (kind_ == Kind::Ata || kind_ == Kind::Sat)
      return ataPassThrough(cdb, cdbLength, data, length, direction);
    return checkCondition(IllegalRequest, InvalidOpcode);
  }
  return scsiCommon(cdb, data, length, direction);
}

ScsiOutcome DeviceModel::scsiCommon(const std::uint8_t* cdb, std::uint8_t* data,
                                    std::uint32_t length, int direction) {
  auto& disk = machine_.disks[disk_];
  const auto give = [&](const std::vector<std::uint8_t>& answer, std::uint32_t allocation) {
    const auto n = std::min<std::uint32_t>(
        {static_cast<std::uint32_t>(answer.size()), allocation, direction == 1 ? length : 0});
    if (n > 0) std::memcpy(data, answer.data(), n);
    return good(n);
  };
  switch (cdb[0]) {
    case 0x00:  // TEST UNIT READY
      return good(0);
    case 0x03:  // REQUEST SENSE
      return give(fixedSense(0, 0), cdb[4]);
    case 0x12: {  // INQUIRY
      const std::uint32_t allocation = static_cast<std::uint32_t>(be(cdb + 3, 2));
      if ((cdb[1] & 0x01) == 0) {
        if (cdb[2] != 0) return checkCondition(IllegalRequest, InvalidFieldInCdb);
        std::vector<std::uint8_t> inquiry(96, 0);
        inquiry[1] = usb() ? 0x80 : 0x00;  // removable medium
        inquiry[2] = 0x06;
        inquiry[3] = 0x02;
        inquiry[4] = 96 - 5;
        putPadded(&inquiry[8], 8, vendor_);
        putPadded(&inquiry[16], 16, product_);
        putPadded(&inquiry[32], 4, revision_);
        return give(inquiry, allocation);
      }
      if (cdb[2] == 0x00) return give({0x00, 0x00, 0x00, 0x02, 0x00, 0x80}, allocation);
      if (cdb[2] == 0x80) {
        const std::size_t serialLength = std::min<std::size_t>(unitSerial_.size(), 251);
        std::vector<std::uint8_t> page(4 + serialLength, 0);
        page[1] = 0x80;
        page[3] = static_cast<std::uint8_t>(serialLength);
        std::memcpy(page.data() + 4, unitSerial_.data(), serialLength);
        return give(page, allocation);
      }
      return checkCondition(IllegalRequest, InvalidFieldInCdb);
    }
    case 0x25: {  // READ CAPACITY(10)
      std::vector<std::uint8_t> capacity(8, 0);
      putBe(&capacity[0], std::min<std::uint64_t>(sectorCount() - 1, 0xFFFFFFFF), 4);
      putBe(&capacity[4], sectorSize(), 4);
      return give(capacity, 8);
    }
    case 0x9E: {  // SERVICE ACTION IN: READ CAPACITY(16)
      if ((cdb[1] & 0x1F) != 0x10 || !readCapacity16_)
        return checkCondition(IllegalRequest, InvalidOpcode);
      std::vector<std::uint8_t> capacity(32, 0);
      putBe(&capacity[0], sectorCount() - 1, 8);
      putBe(&capacity[8], sectorSize(), 4);
      return give(capacity, static_cast<std::uint32_t>(be(cdb + 10, 4)));
    }
    case 0x28:
    case 0x88:
    case 0x2A:
    case 0x8A: {  // READ / WRITE (10) and (16)
      const bool sixteen = cdb[0] == 0x88 || cdb[0] == 0x8A;
      const bool write = cdb[0] == 0x2A || cdb[0] == 0x8A;
      const std::uint64_t lba = sixteen ? be(cdb + 2, 8) : be(cdb + 2, 4);
      const std::uint64_t blocks = sixteen ? be(cdb + 10, 4) : be(cdb + 7, 2);
      if (lba + blocks > sectorCount()) return checkCondition(IllegalRequest, LbaOutOfRange);
      if (direction != (write ? 2 : 1) && blocks != 0)
        return checkCondition(IllegalRequest, InvalidFieldInCdb);
      // Blocks move whole: a buffer that is not whole logical blocks, or too
      // small for the blocks asked, ends the command without data.
      if (blocks != 0 && (length % sectorSize() != 0 || blocks * sectorSize() > length))
        return checkCondition(IllegalRequest, InvalidFieldInCdb);
      const auto bytes = static_cast<std::uint32_t>(blocks * sectorSize());
      const bool done = write ? disk.store->write(lba * sectorSize(), data, bytes)
                              : disk.store->read(lba * sectorSize(), data, bytes);
      if (!done) return checkCondition(0x03, 0x11);  // MEDIUM ERROR, unrecovered read error
      return good(bytes);
    }
    default:
      return checkCondition(IllegalRequest, InvalidOpcode);
  }
}

}  // namespace pbaloader::sim
