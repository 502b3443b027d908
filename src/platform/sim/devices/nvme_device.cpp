// The NVMe side: Identify data, the admin commands a drive answers, and the
// USB-to-NVMe bridge that carries them inside two vendor SCSI commands.
#include <algorithm>
#include <cstring>

#include "platform/sim/devices/device_model.h"
#include "platform/sim/devices/recorded_device.h"
#include "platform/sim/machine.h"

namespace pbaloader::sim {
namespace {

void putLe(std::uint8_t* out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t le32(const std::uint8_t* in) {
  return in[0] | in[1] << 8 | in[2] << 16 | static_cast<std::uint32_t>(in[3]) << 24;
}

void putText(std::uint8_t* out, std::size_t width, const std::string& text) {
  std::memset(out, ' ', width);
  std::memcpy(out, text.data(), std::min(width, text.size()));
}

}  // namespace

std::vector<std::uint8_t> DeviceModel::nvmeIdentifyController() const {
  std::vector<std::uint8_t> data(4096, 0);
  putLe(&data[0], vendorId_, 2);
  putLe(&data[2], vendorId_, 2);
  putText(&data[4], 20, serial_);
  putText(&data[24], 40, model_);
  putText(&data[64], 8, firmware_);
  data[77] = 5;                       // MDTS
  putLe(&data[80], 0x00010400, 4);    // version 1.4
  data[512] = 0x66;                   // SQES
  data[513] = 0x44;                   // CQES
  putLe(&data[516], namespaces_, 4);  // NN
  return data;
}

bool DeviceModel::executeNvmeAdmin(std::uint8_t opcode, std::uint32_t nsid, std::uint32_t cdw10,
                                   std::uint32_t cdw11, std::uint8_t* data, std::uint32_t length,
                                   std::uint32_t& result) {
  if (recorded_) return recorded_->nvmeAdmin(opcode, nsid, cdw10, cdw11, data, length, result);
  (void)cdw11;
  result = 0;
  std::vector<std::uint8_t> answer;
  switch (opcode) {
    case 0x06:  // Identify
      if ((cdw10 & 0xFF) == 1) {
        answer = nvmeIdentifyController();
      } else if ((cdw10 & 0xFF) == 0) {
        if (nsid == 0 || nsid > namespaces_) return false;
        answer.assign(4096, 0);
        putLe(&answer[0], sectorCount(), 8);   // NSZE
        putLe(&answer[8], sectorCount(), 8);   // NCAP
        putLe(&answer[16], sectorCount(), 8);  // NUSE
        unsigned shift = 0;
        while ((1u << shift) < sectorSize()) ++shift;
        answer[130] = static_cast<std::uint8_t>(shift);  // LBA format 0: LBADS
      } else {
        return false;
      }
      break;
    case 0x02: {  // Get Log Page: the pages a drive keeps, zero-filled here
      const std::uint32_t page = cdw10 & 0xFF;
      if (page != 0x01 && page != 0x02 && page != 0x03) return false;
      answer.assign(4096, 0);
      if (page == 0x02) putLe(&answer[1], 310, 2);  // composite temperature, Kelvin
      break;
    }
    case 0x0A: {  // Get Features
      auto it = features_.find(cdw10 & 0xFF);
      result = it == features_.end() ? 0 : it->second;
      return true;
    }
    default:
      return false;
  }
  if (data != nullptr)
    std::memcpy(data, answer.data(), std::min<std::size_t>(length, answer.size()));
  return true;
}

ScsiOutcome DeviceModel::bridgeCommand(const std::uint8_t* cdb, std::uint8_t* data,
                                       std::uint32_t length, int direction) {
  const std::uint32_t blockLength = cdb[3] | cdb[4] << 8 | cdb[5] << 16;
  if (cdb[1] == 0x80) {  // the NVMe command block, host to bridge
    if (direction != 2 || blockLength != 512 || length < 512 || std::memcmp(data, "NVME", 4) != 0)
      return {2, fixedSense(0x05, 0x24), 0};
    pendingBridgeCommand_.emplace(data, data + 512);
    return {0, {}, 512};
  }
  if (cdb[1] != 0x82) return {2, fixedSense(0x05, 0x24), 0};
  // The data phase of the command sent before.
  if (!pendingBridgeCommand_) return {2, fixedSense(0x05, 0x2C), 0};  // command sequence error
  if (hardwareErrorFirst_ > 0) {
    --hardwareErrorFirst_;
    pendingBridgeCommand_.reset();
    return {2, fixedSense(0x04, 0x44), 0};  // HARDWARE ERROR, internal target failure
  }
  const std::vector<std::uint8_t> block = std::move(*pendingBridgeCommand_);
  pendingBridgeCommand_.reset();
  if (direction != 1 || blockLength != length) return {2, fixedSense(0x05, 0x24), 0};
  const std::uint8_t opcode = block[8];
  const std::uint32_t nsid = le32(&block[12]);
  const std::uint32_t carried = std::min(le32(&block[44]), length);
  std::uint32_t result = 0;
  if (!executeNvmeAdmin(opcode, nsid, le32(&block[48]), le32(&block[52]), data, carried, result))
    return {2, fixedSense(0x05, 0x24), 0};
  return {0, {}, carried};
}

}  // namespace pbaloader::sim
