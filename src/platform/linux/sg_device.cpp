#include "platform/linux/sg_device.h"

#include <fcntl.h>
#include <linux/nvme_ioctl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>
#include <vector>

#include "platform/winconst.h"

namespace pbaloader::host {
namespace {

constexpr unsigned TimeoutMs = 30'000;

std::uint8_t senseKey(const std::vector<std::uint8_t>& sense) {
  if (sense.size() < 3) return 0;
  return (sense[0] & 0x7F) >= 0x72 ? sense[1] & 0x0F : sense[2] & 0x0F;
}

class SgDevice final : public sim::DeviceModel {
 public:
  SgDevice(sim::Machine& machine, int disk, const nlohmann::json& device, const std::string& node)
      : DeviceModel(machine, disk, device) {
    fd_ = ::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    int version = 0;
    sg_ = fd_ >= 0 && ::ioctl(fd_, SG_GET_VERSION_NUM, &version) == 0 && version >= 30000;
  }
  ~SgDevice() override {
    if (fd_ >= 0) ::close(fd_);
  }

  std::uint32_t interceptIoctl(std::uint32_t code) override {
    if (fd_ < 0) return win::ErrorDeviceNotConnected;
    // A disk without a SCSI layer (virtio-blk, MMC) carries no SCSI commands.
    // NVMe namespaces are the exception: Windows' NVMe driver translates SCSI
    // itself, so the NVMe model's translation answers it here too.
    if (!sg_ && !isNvme() &&
        (code == win::IoctlScsiPassThroughDirect || code == win::IoctlAtaPassThroughDirect))
      return win::ErrorInvalidFunction;
    return 0;
  }

  sim::ScsiOutcome executeScsi(const std::uint8_t* cdb, std::uint8_t cdbLength, std::uint8_t* data,
                               std::uint32_t length, int direction) override {
    if (changesMedium(cdb, cdbLength)) return {2, sim::fixedSense(0x05, 0x20), 0};
    if (!sg_ && isNvme()) return DeviceModel::executeScsi(cdb, cdbLength, data, length, direction);
    return sgIo(cdb, cdbLength, data, length, direction);
  }

  // The task file goes out as ATA PASS-THROUGH(16). Data commands are sent
  // without the check-condition bit: some SATA hosts abort a PIO data-in
  // command that carries it (qemu's AHCI answers ABORTED COMMAND, status 58h,
  // no data). Their result registers then come from the sense data when the
  // drive reports an error, and are the good status (50h) otherwise.
  std::uint32_t executeAta(sim::AtaTaskFile& tf, std::uint8_t* data, std::uint32_t length,
                           int direction) override {
    if (ataCommandChangesMedium(tf.current[6])) return abortAta(tf);
    std::uint8_t cdb[16] = {0x85};
    const bool dma = tf.current[6] == 0xC8 || tf.current[6] == 0x25;
    const std::uint8_t protocol = direction == 0 ? 3 : dma ? 6 : direction == 1 ? 4 : 5;
    cdb[1] = static_cast<std::uint8_t>(protocol << 1 | (tf.lba48 ? 1 : 0));
    // T_LENGTH in the sector count, in blocks; T_DIR from the direction.
    cdb[2] = direction == 0 ? 0x20 : static_cast<std::uint8_t>((direction == 1 ? 0x08 : 0) | 0x06);
    cdb[3] = tf.previous[0];
    cdb[4] = tf.current[0];
    cdb[5] = tf.previous[1];
    cdb[6] = tf.current[1];
    cdb[7] = tf.previous[2];
    cdb[8] = tf.current[2];
    cdb[9] = tf.previous[3];
    cdb[10] = tf.current[3];
    cdb[11] = tf.previous[4];
    cdb[12] = tf.current[4];
    cdb[13] = tf.current[5];
    cdb[14] = tf.current[6];
    const sim::ScsiOutcome r = sgIo(cdb, 16, data, length, direction);
    if (r.status == 0) {
      tf.current[0] = 0;
      tf.current[6] = 0x50;
      return r.transferred;
    }
    // The ATA Status Return descriptor of descriptor-format sense.
    const auto& s = r.sense;
    if (s.size() >= 22 && (s[0] & 0x7F) == 0x72 && s[8] == 0x09) {
      tf.current[0] = s[11];
      tf.current[1] = s[13];
      tf.current[2] = s[15];
      tf.current[3] = s[17];
      tf.current[4] = s[19];
      tf.current[5] = s[20];
      tf.current[6] = s[21];
      if (tf.lba48) {
        tf.previous[1] = s[12];
        tf.previous[2] = s[14];
        tf.previous[3] = s[16];
        tf.previous[4] = s[18];
      }
      // RECOVERED ERROR with the registers is how a command with the check-condition bit succeeds.
      return senseKey(s) == 0x01 ? r.transferred : 0;
    }
    abortAta(tf);
    return 0;
  }

  bool executeNvmeAdmin(std::uint8_t opcode, std::uint32_t nsid, std::uint32_t cdw10,
                        std::uint32_t cdw11, std::uint8_t* data, std::uint32_t length,
                        std::uint32_t& result) override {
    // Identify, Get Log Page and Get Features only: they read.
    if ((opcode != 0x06 && opcode != 0x02 && opcode != 0x0A) || fd_ < 0) return false;
    nvme_admin_cmd cmd{};
    cmd.opcode = opcode;
    cmd.nsid = nsid;
    cmd.cdw10 = cdw10;
    cmd.cdw11 = cdw11;
    cmd.addr = reinterpret_cast<std::uintptr_t>(data);
    cmd.data_len = data != nullptr ? length : 0;
    cmd.timeout_ms = TimeoutMs;
    if (opcode == 0x02) {
      // The number of dwords, zero-based, above the log identifier.
      const std::uint32_t dwords = length / 4 - 1;
      cmd.cdw10 = (cdw10 & 0xFFFF) | (dwords & 0xFFFF) << 16;
      cmd.cdw11 = dwords >> 16;
    }
    if (::ioctl(fd_, NVME_IOCTL_ADMIN_CMD, &cmd) != 0) return false;
    result = cmd.result;
    return true;
  }

 private:
  static std::uint32_t abortAta(sim::AtaTaskFile& tf) {
    tf.current[0] = 0x04;  // ABRT
    tf.current[6] = 0x51;
    return 0;
  }

  sim::ScsiOutcome sgIo(const std::uint8_t* cdb, std::uint8_t cdbLength, std::uint8_t* data,
                        std::uint32_t length, int direction) {
    if (!sg_) return {2, sim::fixedSense(0x05, 0x20), 0};
    std::vector<std::uint8_t> command(cdb, cdb + cdbLength);
    std::uint8_t sense[64] = {};
    sg_io_hdr_t io{};
    io.interface_id = 'S';
    io.cmd_len = cdbLength;
    io.cmdp = command.data();
    io.dxfer_direction = direction == 1   ? SG_DXFER_FROM_DEV
                         : direction == 2 ? SG_DXFER_TO_DEV
                                          : SG_DXFER_NONE;
    io.dxferp = direction == 0 ? nullptr : data;
    io.dxfer_len = direction == 0 ? 0 : length;
    io.mx_sb_len = sizeof sense;
    io.sbp = sense;
    io.timeout = TimeoutMs;
    // The device or its transport failed the command: Windows' port driver
    // reports that as an aborted command to the caller of the pass-through.
    if (::ioctl(fd_, SG_IO, &io) != 0 || io.host_status != 0 ||
        ((io.driver_status & 0x0F) != 0 && io.sb_len_wr == 0))
      return {2, sim::fixedSense(0x0B, 0x00), 0};
    sim::ScsiOutcome out;
    out.status = io.status;
    if (io.sb_len_wr > 0) {
      out.sense.assign(sense, sense + io.sb_len_wr);
      if (out.status == 0) out.status = 2;
    }
    const auto resid = static_cast<std::uint32_t>(std::max(io.resid, 0));
    out.transferred = direction == 0 ? 0 : io.dxfer_len - std::min(resid, io.dxfer_len);
    return out;
  }

  int fd_ = -1;
  bool sg_ = false;
};

}  // namespace

bool ataCommandChangesMedium(std::uint8_t command) {
  switch (command) {
    case 0x30:
    case 0x31:
    case 0x34:
    case 0x35:
    case 0x36:
    case 0x38:
    case 0x39:  // writes
    case 0x3A:
    case 0x3B:
    case 0x3C:
    case 0x3D:
    case 0x3E:
    case 0x3F:
    case 0xC5:
    case 0xCA:
    case 0xCB:
    case 0xCC:
    case 0xCE:  // multiple and DMA writes
    case 0x61:
    case 0x06:
    case 0x07:  // queued write, trim
    case 0x92:
    case 0x93:  // download microcode
    case 0xB4:
    case 0xF3:
    case 0xF4:  // sanitize, security erase
    case 0xE8:
    case 0x50:  // write buffer, format track
      return true;
    default:
      return false;
  }
}

bool changesMedium(const std::uint8_t* cdb, std::uint8_t length) {
  if (length == 0) return false;
  switch (cdb[0]) {
    case 0x04:
    case 0x0A:
    case 0x2A:
    case 0xAA:
    case 0x8A:  // format, writes
    case 0x2E:
    case 0xAE:
    case 0x8E:  // write and verify
    case 0x41:
    case 0x93:
    case 0x42:
    case 0x89:  // write same, unmap, compare and write
    case 0x3B:
    case 0x48:
    case 0x15:
    case 0x55:  // write buffer, sanitize, mode select
      return true;
    case 0x85:
      return length >= 16 && ataCommandChangesMedium(cdb[14]);
    default:
      return false;
  }
}

std::unique_ptr<sim::DeviceModel> makeSgDevice(sim::Machine& machine, int disk,
                                               const nlohmann::json& device,
                                               const std::string& node) {
  return std::make_unique<SgDevice>(machine, disk, device, node);
}

}  // namespace pbaloader::host
