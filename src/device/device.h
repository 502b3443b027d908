// The device layer: single ATA, SCSI and NVMe commands sent to one physical
// drive through the storage control codes, each outcome kept as an Error.
// Device commands never print and never throw; only a failed open throws.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "discovery/drive_info.h"
#include "platform/platform.h"

namespace pbaloader {

// One ATA command. Registers are stored as pairs: the current byte, then its
// extended (previous) byte.
struct ATAPacket {
  std::uint8_t features = 0;
  std::uint8_t featuresExt = 0;
  std::uint8_t sectorCount = 0;
  std::uint8_t sectorCountExt = 0;
  std::uint8_t lbaLow = 0;
  std::uint8_t lbaLowExt = 0;
  std::uint8_t lbaMid = 0;
  std::uint8_t lbaMidExt = 0;
  std::uint8_t lbaHigh = 0;
  std::uint8_t lbaHighExt = 0;
  std::uint8_t device = 0;
  std::uint8_t command = 0;
  void* data = nullptr;
  std::uint32_t dataLength = 0;
  std::uint32_t direction = 0;  // 0 none, 1 from the device, 2 to the device
  bool useDma = false;
  bool useFpdma = false;
  bool lba48 = false;
  bool skipStatusCheck = false;
  // Where ATA PASS-THROUGH(16) finds the transfer length: 0 none, 1 FEATURES,
  // 3 the transport's own; 2 and anything else COUNT.
  std::uint8_t lengthField = 0;
};

// The output registers, 11 bytes.
struct ATARetReg {
  std::uint8_t error = 0;
  std::uint8_t sectorCount = 0;
  std::uint8_t sectorCountExt = 0;
  std::uint8_t lbaLow = 0;
  std::uint8_t lbaLowExt = 0;
  std::uint8_t lbaMid = 0;
  std::uint8_t lbaMidExt = 0;
  std::uint8_t lbaHigh = 0;
  std::uint8_t lbaHighExt = 0;
  std::uint8_t device = 0;
  std::uint8_t status = 0;
};
static_assert(sizeof(ATARetReg) == 11);

struct SCSIPacket {
  std::uint8_t cdb[16] = {};
  std::uint8_t cdbLength = 0;
  void* data = nullptr;
  std::uint32_t dataLength = 0;
  std::uint32_t direction = 0;  // 0 none, 1 from the device, 2 to the device
};

struct SCSIRet {
  std::uint8_t sense[32] = {};
  std::uint32_t senseLength = 0;
  std::uint32_t transferred = 0;
  std::uint32_t scsiStatus = 0xFFFFFFFF;  // not delivered
  std::uint32_t systemError = 0;
};

struct NVMePacket {
  std::uint8_t opcode = 0;
  std::uint32_t nsid = 0;
  std::uint32_t cdw2 = 0;
  std::uint32_t cdw3 = 0;
  std::uint32_t cdw10 = 0;
  std::uint32_t cdw11 = 0;
  std::uint32_t cdw12 = 0;
  std::uint32_t cdw13 = 0;
  std::uint32_t cdw14 = 0;
  std::uint32_t cdw15 = 0;
  void* data = nullptr;
  void* metadata = nullptr;
  std::uint32_t dataLength = 0;
  std::uint32_t direction = 0;
  bool adminCommand = false;
  bool adapterRequest = false;
};

// What the SCSI identification commands report.
struct ScsiIdentity {
  std::uint64_t lastLba = 0;
  std::uint32_t blockLength = 0;
  std::string product;
  std::string serialNumber;
  std::string revision;
  std::string vendor;
};

class BaseDevice {
 public:
  enum class Error : int {
    Ok = 0,
    Failed = 1,
    Timeout = 2,
    Busy = 3,
    AccessDenied = 5,
    InvalidRequest = 6,
    OutOfMemory = 9,
    NotSupported = 10,
    NoDevice = 13,
    AtaError = 14,
    SenseWithInformation = 15,
    HardwareError = 16,
  };

  // Virtual operations in slot order.
  virtual ~BaseDevice();
  virtual std::unique_ptr<BaseDevice> clone() = 0;
  virtual bool sendATA(const ATAPacket& packet, ATARetReg* registers) = 0;
  virtual bool sendSCSI(const SCSIPacket& packet, SCSIRet* result) = 0;
  virtual bool sendNvme(const NVMePacket& packet) = 0;
  virtual void noOperation() = 0;
  virtual void setFlag(bool value) = 0;
  virtual std::pair<std::string, std::string> identity() = 0;
  virtual bool sendCommand(const void* request) = 0;
  virtual bool setPower(bool on) = 0;
  virtual bool powerCycle(std::uint32_t timeoutMs) = 0;
  virtual bool reserved1() = 0;
  virtual bool reserved2() = 0;
  virtual bool reserved3() = 0;
  virtual bool isReady() = 0;
  virtual std::uint32_t limitValue() = 0;
  virtual bool waitReady(std::uint32_t timeoutMs) = 0;
  virtual std::uint32_t timeoutMs() = 0;
  virtual void setTimeoutMs(std::uint32_t value) = 0;

  Error lastError() const { return lastError_; }
  const SCSIRet& lastScsiResult() const { return lastScsiResult_; }
  bool flag() const { return flag_; }

 protected:
  BaseDevice() = default;
  BaseDevice(const BaseDevice&) = delete;
  BaseDevice& operator=(const BaseDevice&) = delete;

  bool flag_ = false;
  Error lastError_ = Error::Ok;
  SCSIRet lastScsiResult_;
};

// Windows error code to device result.
BaseDevice::Error mapSystemError(std::uint32_t code);
// STATUS and ERROR of a returned ATA command to a device result.
BaseDevice::Error decodeAtaResult(const ATAPacket& packet, const ATARetReg& registers);

// Text fields of IDENTIFY DEVICE data (512 bytes).
std::string ataString(const std::uint8_t* identifyData, unsigned firstWord, unsigned count);
std::uint32_t ataSectorSize(const std::uint8_t* identifyData);
std::uint64_t ataSectorCount(const std::uint8_t* identifyData);
// Text fields of NVMe Identify Controller data (4096 bytes).
std::string nvmeSerial(const std::uint8_t* identifyController);
std::string nvmeModel(const std::uint8_t* identifyController);
std::string nvmeFirmware(const std::uint8_t* identifyController);
// The device path as it goes into a management-service query.
std::string managementKey(const std::string& path);

// The one implementation: a drive opened by its device path.
class SystemDevice final : public BaseDevice {
 public:
  // Opens drive.path; throws std::runtime_error when it cannot be opened.
  explicit SystemDevice(const DriveInfo& drive);
  ~SystemDevice() override;

  std::unique_ptr<BaseDevice> clone() override;
  bool sendATA(const ATAPacket& packet, ATARetReg* registers) override;
  bool sendSCSI(const SCSIPacket& packet, SCSIRet* result) override;
  bool sendNvme(const NVMePacket& packet) override;
  void noOperation() override;
  void setFlag(bool value) override;
  std::pair<std::string, std::string> identity() override;
  bool sendCommand(const void* request) override;
  bool setPower(bool on) override;
  bool powerCycle(std::uint32_t timeoutMs) override;
  bool reserved1() override;
  bool reserved2() override;
  bool reserved3() override;
  bool isReady() override;
  std::uint32_t limitValue() override;
  bool waitReady(std::uint32_t timeoutMs) override;
  std::uint32_t timeoutMs() override;
  void setTimeoutMs(std::uint32_t value) override;

  // Asks the drive to describe itself and writes the answers into drive();
  // true when the drive's own ATA or SCSI answers filled the record.
  bool identify();

  const DriveInfo& drive() const { return drive_; }
  os::Handle handle() const { return handle_; }
  bool ownsHandle() const { return ownsHandle_; }

  // --- Building blocks, public so that tests can drive each one ------------
  // CreateFileA on drive().path; keeps the open's error code for checkOpened.
  os::Handle openPath();
  // Throws the open failure when handle() is invalid.
  void checkOpened();
  // One delivery, repeated once after reopening the path when the device vanished.
  Error runCommand(const std::function<Error()>& attempt);

  Error sendAtaDirect(const ATAPacket& packet, ATARetReg& registers);
  Error sendAtaThroughScsi(const ATAPacket& packet, ATARetReg& registers);
  bool ataIdentify(std::uint8_t* buffer, bool verify);

  Error sendScsiDirect(const SCSIPacket& packet);
  Error sendNvmeDirect(const NVMePacket& packet);
  bool sendNvmeThroughBridge(const NVMePacket& packet);
  bool bridgeIdentifyController(std::uint8_t* buffer);
  bool scsiInquiry(ScsiIdentity& identity);
  bool scsiIdentify(ScsiIdentity& identity);
  // READ(16) of blocks logical blocks of sectorSize() bytes each.
  bool readSectors(void* buffer, std::uint64_t lba, std::uint32_t blocks);
  // The drive's logical sector size when it reported a plausible one
  // (a power of two from 512 to 64 KiB), else 512.
  std::uint32_t sectorSize() const;

  bool probeBridgeNvme(std::uint8_t* buffer, const ScsiIdentity& identity);
  std::optional<std::string> queryFirmwareRevision();
  bool queryModelAndSerial();

 private:
  os::Handle handle_ = os::InvalidHandle;
  std::uint32_t timeoutMs_ = 10000;
  DriveInfo drive_;
  bool ownsHandle_ = false;
  std::uint32_t openError_ = 0;
};

}  // namespace pbaloader
