// A simulated drive that answers pass-through commands as real hardware does:
// a SATA drive, a USB-to-SATA bridge, a USB stick, a native NVMe drive or a
// USB-to-NVMe bridge, built from a disk's "device" object.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace pbaloader::sim {

class Machine;
class RecordedDrive;

// What a SCSI command ended with.
struct ScsiOutcome {
  std::uint8_t status = 0;          // 0 GOOD, 2 CHECK CONDITION
  std::vector<std::uint8_t> sense;  // auto sense for CHECK CONDITION
  std::uint32_t transferred = 0;
  std::uint32_t ioctlError = 0;  // the control code itself fails: no SCSI status at all
};

// One ATA command: the task file registers in and out.
struct AtaTaskFile {
  std::uint8_t current[8] =
      {};  // features/error, count, lba low, mid, high, device, command/status
  std::uint8_t previous[8] = {};  // the extended bytes of a 48-bit command
  bool lba48 = false;
};

class DeviceModel {
 public:
  enum class Kind { Ata, Sat, Scsi, Nvme, NvmeBridge };

  DeviceModel(Machine& machine, int disk, const nlohmann::json& device);
  virtual ~DeviceModel() = default;

  Kind kind() const { return kind_; }
  bool isNvme() const { return kind_ == Kind::Nvme; }
  // Attached through USB storage (a stick or a bridge).
  bool usb() const;
  // What INQUIRY reports (the bridge for itself, the stick for itself, the
  // driver's translation for a drive on its own controller), each field cut
  // to its width and without its padding, as Windows reads it.
  std::string inquiryVendor() const;
  std::string inquiryProduct() const;
  std::string inquiryRevision() const;

  // The error code the next control code fails with before it reaches the
  // drive (a vanished device, a scripted failure); 0 when it goes through.
  virtual std::uint32_t interceptIoctl(std::uint32_t code);
  // Error of IOCTL_ATA_PASS_THROUGH(_DIRECT): 0 when the stack carries it.
  std::uint32_t ataIoctlError() const { return ataIoctlError_; }

  // ATA command on the drive itself; data holds length bytes in the
  // command's direction (1 from the device, 2 to it). Returns bytes moved.
  virtual std::uint32_t executeAta(AtaTaskFile& taskFile, std::uint8_t* data, std::uint32_t length,
                                   int direction);
  // SCSI command as the drive's SCSI side (or its translation layer) sees it.
  virtual ScsiOutcome executeScsi(const std::uint8_t* cdb, std::uint8_t cdbLength,
                                  std::uint8_t* data, std::uint32_t length, int direction);

  // NVMe admin command on a native or bridged NVMe drive; the completion's
  // dword 0 in result. False when the drive rejects the command.
  virtual bool executeNvmeAdmin(std::uint8_t opcode, std::uint32_t nsid, std::uint32_t cdw10,
                                std::uint32_t cdw11, std::uint8_t* data, std::uint32_t length,
                                std::uint32_t& result);

  // Scripted answers of the NVMe query path.
  std::uint32_t descriptorVersion() const { return descriptorVersion_; }
  std::uint32_t descriptorSize() const { return descriptorSize_; }
  std::uint32_t protocolStatus() const { return protocolStatus_; }
  // The query succeeds but hands back no bytes (as some filter drivers do).
  bool emptyQueryAnswer() const { return emptyQueryAnswer_; }
  // A ProtocolDataOffset to report instead of the true one (a faulty driver).
  std::optional<std::uint32_t> returnedDataOffset() const { return returnedDataOffset_; }

  std::vector<std::uint8_t> ataIdentifyData() const;
  std::vector<std::uint8_t> nvmeIdentifyController() const;

 private:
  struct ScriptedScsi {
    std::vector<std::uint8_t> cdbPrefix;
    std::uint8_t status = 2;
    std::vector<std::uint8_t> sense;
    bool transfer = false;
    int times = -1;  // -1: every time
  };
  struct ScriptedIoctl {
    std::uint32_t code = 0;
    std::uint32_t error = 0;
    int times = -1;
  };

  // The drive's own answer, without scripted replacements.
  ScsiOutcome route(const std::uint8_t* cdb, std::uint8_t cdbLength, std::uint8_t* data,
                    std::uint32_t length, int direction);
  ScsiOutcome scsiCommon(const std::uint8_t* cdb, std::uint8_t* data, std::uint32_t length,
                         int direction);
  ScsiOutcome ataPassThrough(const std::uint8_t* cdb, std::uint8_t cdbLength, std::uint8_t* data,
                             std::uint32_t length, int direction);
  ScsiOutcome bridgeCommand(const std::uint8_t* cdb, std::uint8_t* data, std::uint32_t length,
                            int direction);
  std::uint64_t sectorCount() const;
  std::uint32_t sectorSize() const;

  Machine& machine_;
  int disk_;
  Kind kind_ = Kind::Scsi;
  std::string model_, serial_, firmware_, vendor_, product_, revision_, unitSerial_;
  bool readCapacity16_ = true;
  // Sense of ATA PASS-THROUGH results: descriptor format (D_SENSE 1) or fixed.
  bool descriptorSense_ = true;
  std::optional<std::uint8_t> ataStatus_;
  std::uint8_t ataError_ = 0;
  std::string badIntegrity_;
  std::map<unsigned, std::uint16_t> identifyWords_;
  std::uint32_t ataIoctlError_ = 0;
  std::uint16_t vendorId_ = 0x1D79;
  std::uint32_t namespaces_ = 1;
  std::uint32_t descriptorVersion_ = 48;
  std::uint32_t descriptorSize_ = 48;
  std::uint32_t protocolStatus_ = 1;
  bool emptyQueryAnswer_ = false;
  std::optional<std::uint32_t> returnedDataOffset_;
  std::map<std::uint32_t, std::uint32_t> features_;
  int hardwareErrorFirst_ = 0;
  int vanishFor_ = 0;
  std::vector<ScriptedScsi> scsiAnswers_;
  std::vector<ScriptedIoctl> ioctlFailures_;
  std::optional<std::vector<std::uint8_t>> pendingBridgeCommand_;
  std::shared_ptr<const RecordedDrive> recorded_;  // kind "recorded": the drive's answers
};

// The kind a "device" object names; "scsi" when it names none.
std::string deviceKind(const nlohmann::json& device);

// An identity text of a description's "device" object under its canonical key
// ("model", "serial", "firmware"); "serialNumber" and "firmwareRevision" are
// read when the canonical key is missing. Absent when neither is there, so
// that the drive and the management service agree on every spelling.
std::optional<std::string> identityText(const nlohmann::json& device, const std::string& key);

// Fixed-format sense data (70h) with a sense key and additional sense code.
std::vector<std::uint8_t> fixedSense(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq = 0);
// ILLEGAL REQUEST, INVALID FIELD IN CDB, fixed format, with the sense-key
// specific field pointer naming the command block's byte.
std::vector<std::uint8_t> invalidFieldSense(std::uint16_t cdbByte);

}  // namespace pbaloader::sim
