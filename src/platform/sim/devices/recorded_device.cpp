// Replay of a recorded drive. The recordings were taken on Linux; the
// simulated machine is Windows, so each answer is handed over as Windows'
// storage drivers would deliver it from the same drive.
#include "platform/sim/devices/recorded_device.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "common/text.h"
#include "platform/sim/files.h"
#include "platform/winconst.h"

namespace pbaloader::sim {
namespace {

using Json = nlohmann::json;

std::vector<std::uint8_t> hexBytes(const std::string& text, const std::string& what) {
  std::vector<std::uint8_t> bytes;
  std::string digits;
  for (char c : text) {
    if (std::isspace(static_cast<unsigned char>(c))) continue;
    if (!std::isxdigit(static_cast<unsigned char>(c)))
      throw std::runtime_error(what + ": not hexadecimal bytes");
    digits += c;
    if (digits.size() == 2) {
      bytes.push_back(static_cast<std::uint8_t>(std::stoul(digits, nullptr, 16)));
      digits.clear();
    }
  }
  if (!digits.empty()) throw std::runtime_error(what + ": odd number of hex digits");
  return bytes;
}

std::vector<std::uint8_t> hexField(const Json& entry, const char* key, const std::string& what) {
  if (!entry.contains(key) || entry.at(key).is_null()) return {};
  return hexBytes(entry.at(key).get<std::string>(), what + "." + key);
}

int directionOf(const std::string& name) {
  if (name == "in") return 1;
  if (name == "out") return 2;
  if (name == "none") return 0;
  throw std::runtime_error("recorded direction \"" + name + "\" is not in, out or none");
}

Json readRecording(const Json& device, const std::filesystem::path& baseDir) {
  if (!device.contains("recording")) throw std::runtime_error("device.recording is missing");
  const Json& recording = device.at("recording");
  if (recording.is_object()) return recording;
  std::filesystem::path file = recording.get<std::string>();
  if (file.is_relative()) file = baseDir / file;
  std::ifstream in(file);
  if (!in) throw std::runtime_error("cannot read recording " + file.string());
  try {
    return Json::parse(in);
  } catch (const Json::exception& e) {
    throw std::runtime_error("recording " + file.string() + ": " + e.what());
  }
}

bool isRecorded(const Json& device) {
  return device.is_object() && device.value("kind", std::string()) == "recorded";
}

bool isMediaAccess(std::uint8_t opcode) {
  return opcode == 0x28 || opcode == 0x2A || opcode == 0x88 || opcode == 0x8A;
}

// ATA PASS-THROUGH(16) or (12) carrying IDENTIFY DEVICE.
bool isIdentifyPassThrough(const std::vector<std::uint8_t>& cdb) {
  return (cdb.size() >= 16 && cdb[0] == 0x85 && cdb[14] == 0xEC) ||
         (cdb.size() >= 12 && cdb[0] == 0xA1 && cdb[9] == 0xEC);
}

// A text field of an answer, blanks and nulls trimmed; "" when the answer is short.
std::string fieldText(const std::vector<std::uint8_t>& data, std::size_t at, std::size_t count) {
  if (data.size() < at + count) return {};
  std::string text(reinterpret_cast<const char*>(data.data()) + at, count);
  std::replace(text.begin(), text.end(), '\0', ' ');
  return trimText(text, BlankSet);
}

// An IDENTIFY DEVICE string: two characters a word, the first in the high byte.
std::string ataText(const std::vector<std::uint8_t>& data, std::size_t firstWord,
                    std::size_t count) {
  std::vector<std::uint8_t> swapped(count);
  for (std::size_t i = 0; i < count && 2 * firstWord + i < data.size(); ++i)
    swapped[i ^ 1u] = data[2 * firstWord + i];
  return fieldText(swapped, 0, count);
}

constexpr std::uint8_t StatusOk = 0x50;  // DRDY, DSC
constexpr std::uint8_t CheckCondition = 2;

}  // namespace

void completeRecordedDisk(Json& entry, const std::filesystem::path& baseDir) {
  if (!entry.is_object() || !isRecorded(entry.value("device", Json()))) return;
  const auto drive = RecordedDrive::load(entry.at("device"), baseDir);
  if (!entry.contains("size")) entry["size"] = drive->sizeBytes();
  if (!entry.contains("sectorSize")) entry["sectorSize"] = drive->blockSize();
  if (!entry.contains("removalPolicy"))
    entry["removalPolicy"] = drive->bus() == "usb" ? win::CmRemovalPolicyExpectSurpriseRemoval
                                                   : win::CmRemovalPolicyExpectNoRemoval;
  const Json identity = drive->windowsIdentity();
  Json& device = entry["device"];
  for (auto it = identity.begin(); it != identity.end(); ++it)
    if (!device.contains(it.key())) device[it.key()] = it.value();
}

std::shared_ptr<const RecordedDrive> RecordedDrive::load(const Json& device,
                                                         const std::filesystem::path& baseDir) {
  return std::shared_ptr<const RecordedDrive>(new RecordedDrive(readRecording(device, baseDir)));
}

RecordedDrive::RecordedDrive(const Json& r) {
  const std::string name = r.value("drive", std::string("recording"));
  try {
    bus_ = r.at("bus").get<std::string>();
    sizeBytes_ = r.at("sizeBytes").get<std::uint64_t>();
    blockSize_ = r.at("logicalBlockSize").get<std::uint32_t>();
    for (const auto& e : r.value("scsi", Json::array())) {
      Scsi s;
      s.cdb = hexBytes(e.at("cdb").get<std::string>(), name + ".scsi.cdb");
      s.direction = directionOf(e.value("direction", std::string("none")));
      s.length = e.value("length", 0u);
      s.error = e.value("errno", 0);
      s.status = e.value("status", std::uint8_t{0});
      s.hostStatus = e.value("hostStatus", std::uint16_t{0});
      s.driverStatus = e.value("driverStatus", std::uint16_t{0});
      s.resid = e.value("resid", 0);
      s.sense = hexField(e, "sense", name + ".scsi");
      s.data = hexField(e, "data", name + ".scsi");
      scsi_.push_back(std::move(s));
    }
    for (const auto& e : r.value("nvme", Json::array())) {
      Nvme n;
      n.opcode = e.at("opcode").get<std::uint8_t>();
      n.nsid = e.value("nsid", 0u);
      n.cdw10 = e.value("cdw10", 0u);
      n.cdw11 = e.value("cdw11", 0u);
      n.length = e.value("length", 0u);
      n.error = e.value("errno", 0);
      n.status = e.value("status", std::int64_t{0});
      n.result = e.value("result", 0u);
      n.data = hexField(e, "data", name + ".nvme");
      nvme_.push_back(std::move(n));
    }
  } catch (const Json::exception& e) {
    throw std::runtime_error(name + ": " + e.what());
  }
  standIn();  // an unknown bus fails here, at load time
}

DeviceModel::Kind RecordedDrive::standIn() const {
  // Only a SATA drive on its own controller carries the ATA control code;
  // USB storage, the IDE disk's translation layer as recorded and the NVMe
  // driver refuse it.
  if (bus_ == "sata") return DeviceModel::Kind::Ata;
  if (bus_ == "nvme") return DeviceModel::Kind::Nvme;
  if (bus_ == "usb" || bus_ == "pata" || bus_ == "virtio-scsi") return DeviceModel::Kind::Scsi;
  throw std::runtime_error("recorded bus \"" + bus_ + "\" is unknown");
}

Json RecordedDrive::windowsIdentity() const {
  Json identity = Json::object();
  const auto put = [&](const char* key, const std::string& text) {
    if (!text.empty()) identity[key] = text;
  };
  if (bus_ == "sata" || bus_ == "pata") {
    if (const Scsi* s = identifyAnswer()) {
      put("model", ataText(s->data, 27, 40));
      put("serial", ataText(s->data, 10, 20));
      put("firmware", ataText(s->data, 23, 8));
    }
  } else if (bus_ == "nvme") {
    if (const Nvme* n = controllerAnswer()) {
      put("model", fieldText(n->data, 24, 40));
      put("serial", fieldText(n->data, 4, 20));
      put("firmware", fieldText(n->data, 64, 8));
    }
  } else {
    const Scsi* inquiry = nullptr;
    const Scsi* serial = nullptr;
    for (const Scsi& s : scsi_) {
      if (s.error != 0 || s.status != 0 || s.cdb.size() != 6 || s.cdb[0] != 0x12) continue;
      if ((s.cdb[1] & 1) == 0) inquiry = &s;
      if ((s.cdb[1] & 1) != 0 && s.cdb[2] == 0x80 && s.data.size() > 4) serial = &s;
    }
    if (inquiry != nullptr) {
      // The INQUIRY fields the storage stack names the drive from (a USB
      // drive's name is built there, from the same fields).
      put("vendor", fieldText(inquiry->data, 8, 8));
      put("product", fieldText(inquiry->data, 16, 16));
      put("revision", fieldText(inquiry->data, 32, 4));
      if (bus_ != "usb")
        put("model", fieldText(inquiry->data, 8, 8) + " " + fieldText(inquiry->data, 16, 16) +
                         " SCSI Disk Device");
      put("firmware", fieldText(inquiry->data, 32, 4));
    }
    if (serial != nullptr) put("serial", fieldText(serial->data, 4, serial->data[3]));
  }
  return identity;
}

const RecordedDrive::Scsi* RecordedDrive::identifyAnswer() const {
  for (const Scsi& s : scsi_)
    if (isIdentifyPassThrough(s.cdb) && s.error == 0 && s.hostStatus == 0 && s.status == 0 &&
        s.data.size() >= 512)
      return &s;
  return nullptr;
}

const RecordedDrive::Nvme* RecordedDrive::controllerAnswer() const {
  for (const Nvme& n : nvme_)
    if (n.opcode == 0x06 && (n.cdw10 & 0xFF) == 1 && n.error == 0 && n.status == 0 &&
        n.data.size() >= 4096)
      return &n;
  return nullptr;
}

const RecordedDrive::Scsi* RecordedDrive::find(const std::uint8_t* cdb, std::uint8_t cdbLength,
                                               std::uint32_t length, int direction) const {
  for (const Scsi& s : scsi_)
    if (s.cdb.size() == cdbLength && std::equal(s.cdb.begin(), s.cdb.end(), cdb) &&
        s.length == length && s.direction == direction)
      return &s;
  return nullptr;
}

std::optional<ScsiOutcome> RecordedDrive::scsi(const std::uint8_t* cdb, std::uint8_t cdbLength,
                                               std::uint8_t* data, std::uint32_t length,
                                               int direction) const {
  const Scsi* s = find(cdb, cdbLength, length, direction);
  // Linux has no SCSI translation for NVMe namespaces (SG_IO fails there);
  // Windows' NVMe driver has one, which the stand-in model plays.
  if (bus_ == "nvme" && (s == nullptr || s->error != 0)) return std::nullopt;
  if (s == nullptr) {
    if (isMediaAccess(cdb[0])) return std::nullopt;
    return ScsiOutcome{CheckCondition, fixedSense(0x05, 0x20),
                       0};  // INVALID COMMAND OPERATION CODE
  }
  ScsiOutcome outcome;
  if (s->error != 0) {
    outcome.ioctlError = windowsErrorOfErrno(s->error);
    return outcome;
  }
  // The adapter lost the command (no SCSI status to report); DRIVER_SENSE
  // (08h) merely says sense data came with it.
  if (s->hostStatus != 0 || (s->driverStatus & ~0x08) != 0) {
    outcome.ioctlError = win::ErrorIoDevice;
    return outcome;
  }
  // A media access the drive accepted moves the disk's bytes as they are now.
  if (isMediaAccess(cdb[0]) && s->status == 0) return std::nullopt;
  outcome.status = s->status;
  outcome.sense = s->sense;
  if (direction == 1) {
    const auto n = std::min<std::uint32_t>(length, static_cast<std::uint32_t>(s->data.size()));
    if (n > 0) std::memcpy(data, s->data.data(), n);
    outcome.transferred = n;
  } else if (direction == 2) {
    outcome.transferred = static_cast<std::uint32_t>(
        std::clamp<std::int64_t>(std::int64_t{length} - s->resid, 0, length));
  }
  return outcome;
}

std::optional<std::uint32_t> RecordedDrive::ata(AtaTaskFile& tf, std::uint8_t* data,
                                                std::uint32_t length, int direction) const {
  if (tf.current[6] != 0xEC) return std::nullopt;
  const Scsi* answer = identifyAnswer();
  if (answer == nullptr || direction != 1) {
    tf.current[0] = 0x04;  // ABRT
    tf.current[6] = StatusOk | 0x01;
    return 0;
  }
  const auto moved = std::min<std::uint32_t>(length, 512);
  std::memcpy(data, answer->data.data(), moved);
  const auto& sense = answer->sense;
  // The registers the drive returned, where the translation layer reported them.
  if (sense.size() >= 22 && sense[0] == 0x72 && sense[8] == 0x09 && sense[9] == 0x0C) {
    tf.current[0] = sense[11];
    tf.current[1] = sense[13];
    tf.current[2] = sense[15];
    tf.current[3] = sense[17];
    tf.current[4] = sense[19];
    tf.current[5] = sense[20];
    tf.current[6] = sense[21];
  } else {
    tf.current[0] = 0;
    tf.current[6] = StatusOk;
  }
  return moved;
}

bool RecordedDrive::nvmeAdmin(std::uint8_t opcode, std::uint32_t nsid, std::uint32_t cdw10,
                              std::uint32_t cdw11, std::uint8_t* data, std::uint32_t length,
                              std::uint32_t& result) const {
  result = 0;
  // Only Identify Namespace names a namespace; the rest is controller-wide,
  // whichever namespace id the driver fills in.
  const bool perNamespace = opcode == 0x06 && (cdw10 & 0xFF) == 0;
  for (const Nvme& n : nvme_) {
    if (n.opcode != opcode || n.cdw10 != cdw10 || n.cdw11 != cdw11 ||
        (perNamespace && n.nsid != nsid))
      continue;
    if (n.error != 0 || n.status != 0) return false;
    if (data != nullptr && length > 0) {
      std::memset(data, 0, length);
      std::memcpy(data, n.data.data(), std::min<std::size_t>(length, n.data.size()));
    }
    result = n.result;
    return true;
  }
  return false;
}

}  // namespace pbaloader::sim
