// A drive that answers with what a real drive once answered: the recording
// of its SCSI and NVMe admin commands (tests/fixtures/emulated/*.json),
// taken through Linux's SG_IO and NVMe admin pass-through. The device model
// of the bus the drive sat on stands around it: it carries what the
// recording holds no answer for (media access, and the SCSI translation of
// Windows' NVMe driver, which Linux does not have).
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/devices/device_model.h"

namespace pbaloader::sim {

// Completes a disk entry whose device is of kind "recorded" with what the
// recording tells and the entry leaves out: size, sectorSize and
// removalPolicy (surprise removal for USB, fixed otherwise), and the identity
// Windows reports for the drive (device.model, serial and firmware, which the
// management service shows). Other entries stay as they are.
void completeRecordedDisk(nlohmann::json& diskEntry, const std::filesystem::path& baseDir);

class RecordedDrive {
 public:
  // device.recording: a path relative to baseDir, or the recording itself.
  // Throws std::runtime_error for a recording that cannot be used.
  static std::shared_ptr<const RecordedDrive> load(const nlohmann::json& device,
                                                   const std::filesystem::path& baseDir);

  const std::string& bus() const { return bus_; }
  std::uint64_t sizeBytes() const { return sizeBytes_; }
  std::uint32_t blockSize() const { return blockSize_; }
  // The model kind that carries the recording: which control codes the
  // storage stack lets through for this bus.
  DeviceModel::Kind standIn() const;
  // What Windows names the drive from, as a device object's keys: model,
  // serial number and firmware revision from IDENTIFY DEVICE on ATA buses,
  // from Identify Controller on NVMe; on SCSI buses the INQUIRY vendor,
  // product and revision, the unit serial number page, and the model
  // "<vendor> <product> SCSI Disk Device" (a USB drive's name is built by the
  // storage stack). Keys without an answer are left out.
  nlohmann::json windowsIdentity() const;

  // The recorded answer to a command block; nullopt when the stand-in model
  // answers (media access moves the disk's own bytes; on NVMe the driver's
  // translation). Unrecorded commands end as a drive ends an unsupported one.
  std::optional<ScsiOutcome> scsi(const std::uint8_t* cdb, std::uint8_t cdbLength,
                                  std::uint8_t* data, std::uint32_t length, int direction) const;
  // IDENTIFY DEVICE through the ATA control code, answered from the recorded
  // ATA PASS-THROUGH IDENTIFY; nullopt for other commands (the stand-in runs them).
  std::optional<std::uint32_t> ata(AtaTaskFile& taskFile, std::uint8_t* data, std::uint32_t length,
                                   int direction) const;
  // A recorded NVMe admin command; false for a refused or unrecorded one.
  bool nvmeAdmin(std::uint8_t opcode, std::uint32_t nsid, std::uint32_t cdw10, std::uint32_t cdw11,
                 std::uint8_t* data, std::uint32_t length, std::uint32_t& result) const;

 private:
  struct Scsi {
    std::vector<std::uint8_t> cdb;
    int direction = 0;  // 0 none, 1 in, 2 out
    std::uint32_t length = 0;
    int error = 0;
    std::uint8_t status = 0;
    std::uint16_t hostStatus = 0;
    std::uint16_t driverStatus = 0;
    std::int32_t resid = 0;
    std::vector<std::uint8_t> sense;
    std::vector<std::uint8_t> data;
  };
  struct Nvme {
    std::uint8_t opcode = 0;
    std::uint32_t nsid = 0;
    std::uint32_t cdw10 = 0;
    std::uint32_t cdw11 = 0;
    std::uint32_t length = 0;
    int error = 0;
    std::int64_t status = 0;
    std::uint32_t result = 0;
    std::vector<std::uint8_t> data;
  };

  explicit RecordedDrive(const nlohmann::json& recording);
  const Scsi* find(const std::uint8_t* cdb, std::uint8_t cdbLength, std::uint32_t length,
                   int direction) const;
  // The IDENTIFY DEVICE data the drive delivered with GOOD status, if any.
  const Scsi* identifyAnswer() const;
  const Nvme* controllerAnswer() const;

  std::string bus_;
  std::uint64_t sizeBytes_ = 0;
  std::uint32_t blockSize_ = 512;
  std::vector<Scsi> scsi_;
  std::vector<Nvme> nvme_;
};

}  // namespace pbaloader::sim
