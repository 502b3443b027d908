// ATA pass-through: the records and command blocks put on the wire, the path
// selection and its stickiness, status decoding and the IDENTIFY integrity check.
#include <gtest/gtest.h>

#include <array>

#include "unit/device_fixture.h"

namespace pbaloader {
namespace {

using testing::Bytes;
using testing::DeviceBench;
using Error = BaseDevice::Error;

const sim::Json Sata = {{"kind", "ata"}, {"model", "Sim SATA SSD"}, {"serial", "ATA123"}};
const sim::Json UsbSata = {{"kind", "sat"}, {"model", "Sim SATA SSD"}, {"serial", "SAT123"}};
const sim::Json UsbStick = {{"kind", "scsi"}, {"model", "Stick"}};

TEST(SendAta, DirectPathPutsTheTaskFileFlagsAndTimeoutOnTheWire) {
  DeviceBench bench(Sata);
  auto device = bench.open();
  alignas(4) std::array<std::uint8_t, 512> data{};
  ATAPacket p;
  p.features = 0x11;
  p.featuresExt = 0x91;
  p.sectorCount = 1;
  p.sectorCountExt = 0x92;
  p.lbaLow = 0x22;
  p.lbaLowExt = 0x93;
  p.lbaMid = 0x33;
  p.lbaMidExt = 0x94;
  p.lbaHigh = 0x44;
  p.lbaHighExt = 0x95;
  p.device = 0xE0;
  p.command = 0xEC;
  p.data = data.data();
  p.dataLength = 512;
  p.direction = 1;
  p.lba48 = true;
  p.useDma = true;
  device->setTimeoutMs(2001);
  ATARetReg regs;
  EXPECT_TRUE(device->sendATA(p, &regs));

  ASSERT_EQ(bench.codes(), std::vector<std::uint32_t>{win::IoctlAtaPassThroughDirect});
  const auto apt = testing::aptOf(bench.log()[0]);
  EXPECT_EQ(apt.length, 48);
  EXPECT_EQ(apt.ataFlags, win::AtaFlagsDataIn | win::AtaFlags48BitCommand | win::AtaFlagsUseDma);
  EXPECT_EQ(apt.timeOutValue, 3u);  // whole seconds, rounded up
  EXPECT_EQ(apt.dataTransferLength, 512u);
  EXPECT_EQ(apt.dataBuffer, reinterpret_cast<std::uintptr_t>(data.data()));  // aligned: in place
  EXPECT_EQ(Bytes(apt.currentTaskFile, apt.currentTaskFile + 8),
            (Bytes{0x11, 0x01, 0x22, 0x33, 0x44, 0xE0, 0xEC, 0x00}));
  EXPECT_EQ(Bytes(apt.previousTaskFile, apt.previousTaskFile + 8),
            (Bytes{0x91, 0x92, 0x93, 0x94, 0x95, 0xE0, 0xEC, 0x00}));
  EXPECT_EQ(regs.status, 0x50);
  EXPECT_EQ(data[510], 0xA5);
  EXPECT_EQ(device->drive().transport, DriveInfo::TransportAta);
}

TEST(SendAta, DataOutAndNoDataSetTheirOwnFlags) {
  DeviceBench bench(Sata);
  auto device = bench.open(DriveInfo::TransportAta);
  alignas(4) std::array<std::uint8_t, 512> data{};
  data.fill(0x5A);
  ATAPacket write;
  write.sectorCount = 1;
  write.device = 0xE0;
  write.command = 0x30;  // WRITE SECTORS at LBA 0
  write.data = data.data();
  write.dataLength = 512;
  write.direction = 2;
  EXPECT_TRUE(device->sendATA(write, nullptr));
  ATAPacket flush;
  flush.command = 0xE7;
  EXPECT_TRUE(device->sendATA(flush, nullptr));

  const auto out = testing::aptOf(bench.log()[0]);
  EXPECT_EQ(out.ataFlags, win::AtaFlagsDataOut);
  EXPECT_EQ(bench.log()[0].dataOut, Bytes(512, 0x5A));
  const auto none = testing::aptOf(bench.log()[1]);
  EXPECT_EQ(none.ataFlags, 0);
  EXPECT_EQ(none.dataTransferLength, 0u);
  EXPECT_EQ(none.dataBuffer, 0u);
  std::uint8_t first = 0;
  bench.machine().disks[0].store->read(0, &first, 1);
  EXPECT_EQ(first, 0x5A);
}

TEST(SendAta, IdentifyOverScsiUsesTheExactCommandBlock) {
  DeviceBench bench(UsbSata);
  auto device = bench.open();
  std::array<std::uint8_t, 512> data{};
  ASSERT_TRUE(device->ataIdentify(data.data(), true));

  // The direct path first, refused by the USB stack, then the SCSI path.
  ASSERT_EQ(bench.codes(), (std::vector<std::uint32_t>{win::IoctlAtaPassThroughDirect,
                                                       win::IoctlScsiPassThroughDirect}));
  EXPECT_EQ(bench.log()[0].error, win::ErrorInvalidFunction);
  const auto sptd = testing::sptdOf(bench.log()[1]);
  EXPECT_EQ(testing::cdbOf(bench.log()[1]),
            (Bytes{0x85, 0x08, 0x2E, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                   0xE0, 0xEC, 0x00}));
  EXPECT_EQ(sptd.length, 56);
  EXPECT_EQ(sptd.targetId, 0);
  EXPECT_EQ(sptd.senseInfoLength, 32);
  EXPECT_EQ(sptd.senseInfoOffset, 60u);
  EXPECT_EQ(sptd.dataIn, win::ScsiIoctlDataIn);
  EXPECT_EQ(sptd.dataTransferLength, 512u);
  EXPECT_EQ(sptd.timeOutValue, 10u);
  EXPECT_EQ(device->drive().transport, DriveInfo::TransportScsi);

  // Sticky: the next command goes straight to the SCSI path.
  bench.log().clear();
  ASSERT_TRUE(device->ataIdentify(data.data(), true));
  EXPECT_EQ(bench.codes(), std::vector<std::uint32_t>{win::IoctlScsiPassThroughDirect});
}

TEST(SendAta, CommandBlockBitsFollowProtocolDirectionAndLengthField) {
  struct Case {
    const char* name;
    std::uint32_t direction;
    bool dma, fpdma, lba48, skip;
    std::uint8_t lengthField;
    std::uint8_t byte1, byte2;
  };
  const Case cases[] = {
      {"PIO in, COUNT", 1, false, false, false, false, 2, 0x08, 0x2E},
      {"PIO out, FEATURES", 2, false, false, false, false, 1, 0x0A, 0x25},
      {"DMA in 48-bit, transport length", 1, true, false, true, false, 3, 0x0D, 0x2B},
      {"FPDMA out, no length", 2, false, true, false, false, 0, 0x18, 0x20},
      {"non-data without status", 0, false, false, false, true, 2, 0x06, 0x00},
      {"non-data, length field ignored", 0, false, false, false, false, 1, 0x06, 0x20},
      {"odd length field counts as COUNT", 1, false, false, false, true, 7, 0x08, 0x0E},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DeviceBench bench(UsbStick);  // rejects ATA PASS-THROUGH; only the bytes matter
    auto device = bench.open(DriveInfo::TransportScsi);
    alignas(4) std::array<std::uint8_t, 512> data{};
    ATAPacket p;
    p.command = 0x25;
    p.data = c.direction ? data.data() : nullptr;
    p.dataLength = c.direction ? 512 : 0;
    p.direction = c.direction;
    p.useDma = c.dma;
    p.useFpdma = c.fpdma;
    p.lba48 = c.lba48;
    p.skipStatusCheck = c.skip;
    p.lengthField = c.lengthField;
    device->sendATA(p, nullptr);
    ASSERT_EQ(bench.log().size(), 1u);
    const auto cdb = testing::cdbOf(bench.log()[0]);
    EXPECT_EQ(cdb[1], c.byte1);
    EXPECT_EQ(cdb[2], c.byte2);
    const auto sptd = testing::sptdOf(bench.log()[0]);
    EXPECT_EQ(sptd.dataIn, c.direction == 1   ? win::ScsiIoctlDataIn
                           : c.direction == 2 ? win::ScsiIoctlDataOut
                                              : win::ScsiIoctlDataUnspecified);
  }
}

TEST(SendAta, FixedTransportIsNeverChangedByAFailure) {
  // The ATA path is remembered: a failure does not try the SCSI path.
  sim::Json broken = Sata;
  broken["ioctlFailures"] = {{{"code", win::IoctlAtaPassThroughDirect}, {"error", 1117}}};
  DeviceBench bench(broken);
  auto device = bench.open(DriveInfo::TransportAta);
  EXPECT_FALSE(device->ataIdentify(nullptr, false));
  EXPECT_EQ(device->lastError(), Error::Failed);
  EXPECT_EQ(bench.codes(), std::vector<std::uint32_t>{win::IoctlAtaPassThroughDirect});
  EXPECT_EQ(device->drive().transport, DriveInfo::TransportAta);
}

TEST(SendAta, NoPathCarriesTheCommandGivesNotSupportedAndKeepsUnknown) {
  DeviceBench bench(UsbStick);
  auto device = bench.open();
  EXPECT_FALSE(device->ataIdentify(nullptr, false));
  EXPECT_EQ(device->lastError(), Error::NotSupported);
  EXPECT_EQ(device->drive().transport, DriveInfo::TransportUnknown);
  EXPECT_EQ(bench.log().size(), 2u);
  // Both paths are tried again next time.
  EXPECT_FALSE(device->ataIdentify(nullptr, false));
  EXPECT_EQ(bench.log().size(), 4u);
}

TEST(SendAta, ManagementRecordSendsNothing) {
  DeviceBench bench(Sata);
  auto device = bench.open(DriveInfo::TransportManagement);
  EXPECT_FALSE(device->ataIdentify(nullptr, false));
  EXPECT_EQ(device->lastError(), Error::NotSupported);
  EXPECT_TRUE(bench.log().empty());
}

TEST(SendAta, ReturnedStatusDecodesOnBothPaths) {
  struct Case {
    int status;
    Error expected;
  };
  const Case cases[] = {{0x51, Error::AtaError}, {0x00, Error::Busy}, {0x50, Error::Ok},
                        {0xD0, Error::Ok},       {0x80, Error::Ok},   {0x41, Error::AtaError},
                        {0x01, Error::Busy},     {0xC1, Error::Busy}};
  for (const auto& [kind, transport] :
       {std::pair{"ata", DriveInfo::TransportAta}, std::pair{"sat", DriveInfo::TransportScsi}}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(kind) + " status " + std::to_string(c.status));
      DeviceBench bench({{"kind", kind}, {"ataStatus", c.status}, {"ataError", 0x04}});
      auto device = bench.open(transport);
      ATAPacket p;
      p.command = 0xE7;
      ATARetReg regs;
      EXPECT_EQ(device->sendATA(p, &regs), c.expected == Error::Ok);
      EXPECT_EQ(device->lastError(), c.expected);
      EXPECT_EQ(regs.status, c.status);
      EXPECT_EQ(regs.error, 0x04);
    }
  }
}

TEST(SendAta, DecodeAtaResultSkipsTheCheckWhenAsked) {
  ATAPacket p;
  ATARetReg regs;
  regs.status = 0x51;
  EXPECT_EQ(decodeAtaResult(p, regs), Error::AtaError);
  p.skipStatusCheck = true;
  EXPECT_EQ(decodeAtaResult(p, regs), Error::Ok);
}

TEST(SendAta, ScsiAnswerWithoutDescriptorSucceedsWithoutRegisters) {
  // A bridge that ignores CK_COND and answers GOOD.
  sim::Json quiet = UsbSata;
  quiet["scsiAnswers"] = {{{"cdb", {0x85}}, {"status", 0}, {"transfer", true}}};
  DeviceBench bench(quiet);
  auto device = bench.open(DriveInfo::TransportScsi);
  std::array<std::uint8_t, 512> data{};
  ATARetReg regs;
  regs.status = 0x77;
  ATAPacket p;
  p.sectorCount = 1;
  p.device = 0xE0;
  p.command = 0xEC;
  p.data = data.data();
  p.dataLength = 512;
  p.direction = 1;
  p.lengthField = 2;
  EXPECT_TRUE(device->sendATA(p, &regs));
  EXPECT_EQ(regs.status, 0x00);  // nothing was returned to fill in
  EXPECT_EQ(data[510], 0xA5);    // the data still arrived
}

TEST(SendAta, RegistersOf48BitCommandsComeFromTheDescriptor) {
  DeviceBench bench(UsbSata);
  auto device = bench.open(DriveInfo::TransportScsi);
  ATAPacket p;
  p.command = 0xE5;  // CHECK POWER MODE: the drive answers in COUNT
  p.lba48 = true;
  p.sectorCountExt = 0x12;
  p.lbaLowExt = 0x34;
  ATARetReg regs;
  ASSERT_TRUE(device->sendATA(p, &regs));
  EXPECT_EQ(regs.sectorCount, 0xFF);
  EXPECT_EQ(regs.sectorCountExt, 0x12);
  EXPECT_EQ(regs.lbaLowExt, 0x34);
  EXPECT_EQ(regs.status, 0x50);
}

// One ATA PASS-THROUGH(16) straight through sendSCSI, so that the answer on
// the wire can be read whatever the tool makes of it.
SCSIRet rawPassThrough(SystemDevice& device, std::uint8_t byte1, std::uint8_t byte2,
                       std::uint8_t count, std::uint8_t command, std::uint32_t length) {
  alignas(4) std::array<std::uint8_t, 1024> data{};
  SCSIPacket p;
  const std::uint8_t cdb[16] = {0x85, byte1, byte2, 0, 0, 0,    count,  0,
                                0,    0,     0,     0, 0, 0xE0, command};
  std::copy(std::begin(cdb), std::end(cdb), p.cdb);
  p.cdbLength = 16;
  p.data = length != 0 ? data.data() : nullptr;
  p.dataLength = length;
  p.direction = length != 0 ? 1 : 0;
  SCSIRet ret;
  device.sendSCSI(p, &ret);
  return ret;
}

// A translation moves what T_LENGTH, BYT_BLOK and T_TYPE name, in the
// direction T_DIR names, not whatever buffer the host set up.
TEST(SatTranslation, HonoursTheLengthFieldsOfTheCommandBlock) {
  const struct {
    const char* name;
    std::uint8_t byte2;  // CK_COND off; T_DIR, BYT_BLOK, T_LENGTH
    std::uint32_t status, transferred;
  } cases[] = {
      {"one 512-byte block named in COUNT", 0x0E, 0, 512},
      {"one byte named in COUNT", 0x0A, 0, 1},
      {"length from the transport: what IDENTIFY has", 0x0B, 0, 512},
      {"data command without a length", 0x08, 2, 0},
      {"T_DIR says to the device", 0x06, 2, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DeviceBench bench(UsbSata);
    auto device = bench.open(DriveInfo::TransportScsi);
    const SCSIRet ret = rawPassThrough(*device, 0x08, c.byte2, 1, 0xEC, 1024);  // PIO in
    EXPECT_EQ(ret.scsiStatus, c.status);
    EXPECT_EQ(ret.transferred, c.transferred);
    if (c.status == 2) {
      EXPECT_EQ(ret.sense[2], 0x05);
      EXPECT_EQ(ret.sense[12], 0x24);
      EXPECT_EQ(ret.sense[15], 0xC0) << "field pointer into the command block";
      EXPECT_EQ(ret.sense[17], 2);
    }
  }
}

// A bridge with D_SENSE 0 returns the registers in fixed-format sense: ERROR,
// STATUS, DEVICE and COUNT in INFORMATION, the LBA in COMMAND-SPECIFIC
// INFORMATION, under RECOVERED ERROR and ATA PASS THROUGH INFORMATION AVAILABLE.
TEST(SatTranslation, FixedFormatSenseCarriesTheRegistersAndTheToolDoesNotDecodeIt) {
  sim::Json fixed = UsbSata;
  fixed["descriptorSense"] = false;
  DeviceBench bench(fixed);
  auto device = bench.open(DriveInfo::TransportScsi);
  // CHECK POWER MODE, non-data, 48-bit, CK_COND: the drive answers in COUNT.
  const SCSIRet ret = rawPassThrough(*device, 0x07, 0x20, 0, 0xE5, 0);
  EXPECT_EQ(ret.scsiStatus, 2u);
  EXPECT_EQ(Bytes(ret.sense, ret.sense + 18), (Bytes{0x70, 0, 0x01, 0x00, 0x50, 0xE0, 0xFF, 10,
                                                     0x80, 0, 0, 0, 0x00, 0x1D, 0, 0, 0, 0}));

  // The tool reads registers only from the descriptor format: such a bridge
  // does not carry ATA commands for it, so the drive is known through SCSI.
  ATAPacket p;
  p.command = 0xE5;
  ATARetReg regs;
  EXPECT_FALSE(device->sendATA(p, &regs));
  EXPECT_EQ(device->lastError(), Error::Failed);
  std::array<std::uint8_t, 512> data{};
  EXPECT_FALSE(device->ataIdentify(data.data(), true));
}

TEST(AtaIdentify, MisalignedBufferGoesThroughABounceBuffer) {
  for (const auto& [kind, transport] :
       {std::pair{"ata", DriveInfo::TransportAta}, std::pair{"sat", DriveInfo::TransportScsi}}) {
    SCOPED_TRACE(kind);
    DeviceBench bench({{"kind", kind}, {"model", "Bounce"}});
    auto device = bench.open(transport);
    alignas(4) std::array<std::uint8_t, 520> storage{};
    std::uint8_t* misaligned = storage.data() + 1;
    ASSERT_TRUE(device->ataIdentify(misaligned, true));
    EXPECT_EQ(misaligned[510], 0xA5);
    EXPECT_EQ(ataString(misaligned, 27, 40), "Bounce");
    EXPECT_EQ(storage[0], 0);  // nothing written before the caller's buffer
    EXPECT_EQ(storage[513], 0);
    const auto& r = bench.log()[0];
    const std::uint64_t address = r.code == win::IoctlAtaPassThroughDirect
                                      ? testing::aptOf(r).dataBuffer
                                      : testing::sptdOf(r).dataBuffer;
    EXPECT_EQ(address % 4, 0u);
    EXPECT_NE(address, reinterpret_cast<std::uintptr_t>(misaligned));
  }
}

TEST(AtaIdentify, IntegrityWordIsVerified) {
  struct Case {
    const char* badIntegrity;
    bool verified;
  };
  for (const auto& c : {Case{"", true}, Case{"signature", false}, Case{"checksum", false}}) {
    SCOPED_TRACE(c.badIntegrity);
    DeviceBench bench({{"kind", "ata"}, {"badIntegrity", c.badIntegrity}});
    auto device = bench.open();
    std::array<std::uint8_t, 512> data{};
    EXPECT_EQ(device->ataIdentify(data.data(), true), c.verified);
    EXPECT_TRUE(device->ataIdentify(data.data(), false));  // the command itself succeeded
    EXPECT_EQ(device->lastError(), Error::Ok);
  }
}

}  // namespace
}  // namespace pbaloader
