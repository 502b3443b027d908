// The ATA side: IDENTIFY DEVICE data, ATA command execution, and the SCSI to
// ATA translation of ATA PASS-THROUGH(12)/(16) in a bridge or the SATA driver.
#include <algorithm>
#include <cstring>

#include "platform/sim/devices/device_model.h"
#include "platform/sim/devices/recorded_device.h"
#include "platform/sim/machine.h"

namespace pbaloader::sim {
namespace {

void putWord(std::vector<std::uint8_t>& data, unsigned index, std::uint16_t value) {
  data[2 * index] = static_cast<std::uint8_t>(value);
  data[2 * index + 1] = static_cast<std::uint8_t>(value >> 8);
}

void putWords(std::vector<std::uint8_t>& data, unsigned first, unsigned count,
              std::uint64_t value) {
  for (unsigned i = 0; i < count; ++i)
    putWord(data, first + i, static_cast<std::uint16_t>(value >> (16 * i)));
}

// ATA strings: space-padded, the two characters of every word swapped.
void putAtaString(std::vector<std::uint8_t>& data, unsigned firstWord, unsigned count,
                  const std::string& text) {
  for (unsigned i = 0; i < count; ++i) {
    const char c = i < text.size() ? text[i] : ' ';
    data[2 * firstWord + (i ^ 1u)] = static_cast<std::uint8_t>(c);
  }
}

constexpr std::uint8_t StatusOk = 0x50;       // DRDY, DSC
constexpr std::uint8_t StatusAborted = 0x51;  // DRDY, DSC, ERR
constexpr std::uint8_t ErrorAbort = 0x04;

}  // namespace

std::vector<std::uint8_t> DeviceModel::ataIdentifyData() const {
  std::vector<std::uint8_t> data(512, 0);
  const std::uint64_t count = sectorCount();
  putWord(data, 0, 0x0040);
  putAtaString(data, 10, 20, serial_);
  putAtaString(data, 23, 8, firmware_);
  putAtaString(data, 27, 40, model_);
  putWord(data, 47, 0x8010);
  putWord(data, 49, 0x0F00);  // LBA and DMA
  putWord(data, 53, 0x0006);
  putWords(data, 60, 2, std::min<std::uint64_t>(count, 0x0FFFFFFF));
  putWord(data, 80, 0x01F0);  // ATA8-ACS and later
  putWord(data, 82, 0x746B);
  putWord(data, 83, 0x7D09);  // 48-bit addressing
  putWord(data, 84, 0x6163);
  putWord(data, 85, 0x7469);
  putWord(data, 86, 0xBC01);
  putWord(data, 87, 0x6163);
  putWords(data, 100, 4, count);
  if (sectorSize() != 512) {
    putWord(data, 106, 0x5000);  // logical sector longer than 256 words
    putWords(data, 117, 2, sectorSize() / 2);
  } else {
    putWord(data, 106, 0x4000);
  }
  putWord(data, 217, 0x0001);  // non-rotating
  for (const auto& [index, value] : identifyWords_)
    if (index < 255) putWord(data, index, value);
  data[510] = 0xA5;
  std::uint8_t sum = 0;
  for (int i = 0; i < 511; ++i) sum = static_cast<std::uint8_t>(sum + data[i]);
  data[511] = static_cast<std::uint8_t>(-sum);
  if (badIntegrity_ == "signature") {
    data[510] = 0x00;
  } else if (badIntegrity_ == "checksum") {
    data[511] = static_cast<std::uint8_t>(data[511] + 1);
  }
  return data;
}

std::uint32_t DeviceModel::executeAta(AtaTaskFile& tf, std::uint8_t* data, std::uint32_t length,
                                      int direction) {
  if (recorded_)
    if (auto moved = recorded_->ata(tf, data, length, direction)) return *moved;
  const std::uint8_t command = tf.current[6];
  std::uint8_t status = StatusOk;
  std::uint8_t error = 0;
  std::uint32_t moved = 0;
  auto& disk = machine_.disks[disk_];

  const auto lba = [&]() -> std::uint64_t {
    std::uint64_t value =
        tf.current[2] | std::uint64_t{tf.current[3]} << 8 | std::uint64_t{tf.current[4]} << 16;
    if (tf.lba48)
      value |= std::uint64_t{tf.previous[2]} << 24 | std::uint64_t{tf.previous[3]} << 32 |
               std::uint64_t{tf.previous[4]} << 40;
    else
      value |= std::uint64_t{tf.current[5] & 0x0Fu} << 24;
    return value;
  };
  const auto blocks = [&]() -> std::uint64_t {
    std::uint64_t value = tf.current[1] | (tf.lba48 ? std::uint64_t{tf.previous[1]} << 8 : 0);
    if (value == 0) value = tf.lba48 ? 65536 : 256;
    return value;
  };

  switch (command) {
    case 0xEC:  // IDENTIFY DEVICE
      if (direction != 1) {
        status = StatusAborted;
        error = ErrorAbort;
        break;
      }
      moved = std::min<std::uint32_t>(length, 512);
      std::memcpy(data, ataIdentifyData().data(), moved);
      break;
    case 0xE5:  // CHECK POWER MODE: active
      tf.current[1] = 0xFF;
      break;
    case 0xE7:  // FLUSH CACHE
    case 0xEA:  // FLUSH CACHE EXT
      break;
    case 0x20:
    case 0x24:
    case 0x25:
    case 0xC8:  // READ SECTORS (EXT), READ DMA (EXT)
    case 0x30:
    case 0x34:
    case 0x35:
    case 0xCA: {  // WRITE SECTORS (EXT), WRITE DMA (EXT)
      const bool write = command == 0x30 || command == 0x34 || command == 0x35 || command == 0xCA;
      const std::uint64_t first = lba(), count = blocks();
      if (first + count > sectorCount() || direction != (write ? 2 : 1)) {
        status = StatusAborted;
        error = 0x10;  // IDNF
        break;
      }
      moved = static_cast<std::uint32_t>(std::min<std::uint64_t>(count * sectorSize(), length));
      const bool done = write ? disk.store->write(first * sectorSize(), data, moved)
                              : disk.store->read(first * sectorSize(), data, moved);
      if (!done) {
        status = StatusAborted;
        error = 0x40;  // UNC
        moved = 0;
      }
      break;
    }
    default:
      status = StatusAborted;
      error = ErrorAbort;
      break;
  }
  if (ataStatus_) {
    status = *ataStatus_;
    error = ataError_;
    // A drive that reports an error or is not ready moved no data.
    if ((status & 0x01) != 0 || (status & 0xE0) == 0) moved = 0;
  }
  tf.current[0] = error;
  tf.current[6] = status;
  return moved;
}

ScsiOutcome DeviceModel::ataPassThrough(const std::uint8_t* cdb, std::uint8_t cdbLength,
                                        std::uint8_t* data, std::uint32_t length, int direction) {
  AtaTaskFile tf;
  const bool sixteen = cdb[0] == 0x85;
  if ((sixteen && cdbLength < 16) || (!sixteen && cdbLength < 12))
    return {2, fixedSense(5, 0x24), 0};
  const std::uint8_t protocol = (cdb[1] >> 1) & 0x0F;
  tf.lba48 = sixteen && (cdb[1] & 0x01) != 0;
  const bool checkCondition = (cdb[2] & 0x20) != 0;
  const bool fromDevice = (cdb[2] & 0x08) != 0;     // T_DIR
  const bool inBlocks = (cdb[2] & 0x04) != 0;       // BYT_BLOK
  const bool logicalBlocks = (cdb[2] & 0x10) != 0;  // T_TYPE
  const std::uint8_t lengthField = cdb[2] & 0x03;   // T_LENGTH
  if (sixteen) {
    tf.previous[0] = cdb[3];
    tf.current[0] = cdb[4];
    tf.previous[1] = cdb[5];
    tf.current[1] = cdb[6];
    tf.previous[2] = cdb[7];
    tf.current[2] = cdb[8];
    tf.previous[3] = cdb[9];
    tf.current[3] = cdb[10];
    tf.previous[4] = cdb[11];
    tf.current[4] = cdb[12];
    tf.current[5] = cdb[13];
    tf.current[6] = cdb[14];
  } else {
    tf.current[0] = cdb[3];
    tf.current[1] = cdb[4];
    tf.current[2] = cdb[5];
    tf.current[3] = cdb[6];
    tf.current[4] = cdb[7];
    tf.current[5] = cdb[8];
    tf.current[6] = cdb[9];
  }
  // Protocols 4/5 are PIO in/out, 6 DMA, 12 FPDMA, 3 non-data; any other
  // (a reset, or a vendor command block read as this one) is refused the way
  // Linux's translation refuses it, pointing at byte 1.
  const bool dataProtocol = protocol == 4 || protocol == 5 || protocol == 6 || protocol == 12;
  if (protocol != 3 && !dataProtocol) return {2, invalidFieldSense(1), 0};
  // The direction bit and the data phase the host set up must agree, and a
  // data command must say where its length is.
  if (dataProtocol && (direction != (fromDevice ? 1 : 2) || lengthField == 0))
    return {2, invalidFieldSense(2), 0};

  // The length the command block gives: in FEATURES or COUNT, counted in
  // bytes, 512-byte blocks or logical sectors; T_LENGTH 3 takes the host's.
  std::uint32_t ataLength = 0;
  if (dataProtocol) {
    const std::uint32_t field =
        lengthField == 1   ? tf.current[0] | (tf.lba48 ? tf.previous[0] << 8 : 0)
        : lengthField == 2 ? tf.current[1] | (tf.lba48 ? tf.previous[1] << 8 : 0)
                           : length;
    const std::uint32_t unit = lengthField == 3 || !inBlocks ? 1
                               : logicalBlocks               ? sectorSize()
                                                             : 512;
    ataLength =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(std::uint64_t{field} * unit, length));
  }

  const std::uint32_t moved = executeAta(tf, data, ataLength, dataProtocol ? direction : 0);
  const std::uint8_t status = tf.current[6];
  const bool failed = (status & 0x01) != 0 || (status & 0xE0) == 0;
  if (!checkCondition && !failed) return {0, {}, moved};

  const std::uint8_t key = failed ? 0x0B : 0x01;   // ABORTED COMMAND or RECOVERED ERROR
  const std::uint8_t ascq = failed ? 0x00 : 0x1D;  // ATA PASS THROUGH INFORMATION AVAILABLE
  if (!descriptorSense_) {
    // Fixed format (D_SENSE 0): the registers in the INFORMATION and
    // COMMAND-SPECIFIC INFORMATION fields, the upper bytes only flagged.
    std::vector<std::uint8_t> sense = fixedSense(key, 0x00, ascq);
    sense[3] = tf.current[0];
    sense[4] = status;
    sense[5] = tf.current[5];
    sense[6] = tf.current[1];
    const bool countUpper = tf.lba48 && tf.previous[1] != 0;
    const bool lbaUpper =
        tf.lba48 && (tf.previous[2] != 0 || tf.previous[3] != 0 || tf.previous[4] != 0);
    sense[8] = static_cast<std::uint8_t>((tf.lba48 ? 0x80 : 0) | (countUpper ? 0x40 : 0) |
                                         (lbaUpper ? 0x20 : 0));
    sense[9] = tf.current[2];
    sense[10] = tf.current[3];
    sense[11] = tf.current[4];
    return {2, sense, moved};
  }

  // Descriptor-format sense with the ATA Status Return descriptor.
  std::vector<std::uint8_t> sense(22, 0);
  sense[0] = 0x72;
  sense[1] = key;
  sense[2] = 0x00;
  sense[3] = ascq;
  sense[7] = 14;
  sense[8] = 0x09;
  sense[9] = 0x0C;
  sense[10] = tf.lba48 ? 0x01 : 0x00;
  sense[11] = tf.current[0];
  sense[12] = tf.previous[1];
  sense[13] = tf.current[1];
  sense[14] = tf.previous[2];
  sense[15] = tf.current[2];
  sense[16] = tf.previous[3];
  sense[17] = tf.current[3];
  sense[18] = tf.previous[4];
  sense[19] = tf.current[4];
  sense[20] = tf.current[5];
  sense[21] = status;
  return {2, sense, moved};
}

}  // namespace pbaloader::sim
