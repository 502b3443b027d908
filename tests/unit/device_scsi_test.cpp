// SCSI and NVMe pass-through: command blocks and records on the wire, the
// sense rules, the NVMe queries and the USB-to-NVMe bridge transport.
#include <gtest/gtest.h>

#include <array>

#include "unit/device_fixture.h"

namespace pbaloader {
namespace {

using testing::Bytes;
using testing::DeviceBench;
using Error = BaseDevice::Error;

const sim::Json Stick = {{"kind", "scsi"},
                         {"vendor", "Sim"},
                         {"product", "Flash Stick"},
                         {"revision", "1.00"},
                         {"serial", "STICK42"}};
const sim::Json Nvme = {
    {"kind", "nvme"}, {"model", "Sim NVMe SSD"}, {"serial", "NV0001"}, {"firmware", "2B0QEXM7"}};
const sim::Json Bridge = {{"kind", "nvme-bridge"}, {"vendor", "Bridge"},  {"product", "PCIe V1"},
                          {"revision", "0207"},    {"model", "Sim NVMe"}, {"serial", "BR0001"},
                          {"firmware", "FW1"}};

SCSIPacket inquiry(std::uint8_t* data) {
  SCSIPacket p;
  const std::uint8_t cdb[] = {0x12, 0, 0, 0, 0x80, 0};
  std::copy(std::begin(cdb), std::end(cdb), p.cdb);
  p.cdbLength = 6;
  p.data = data;
  p.dataLength = 128;
  p.direction = 1;
  return p;
}

sim::Json scripted(const sim::Json& base, const Bytes& cdb, const Bytes& sense) {
  sim::Json d = base;
  d["scsiAnswers"] = {{{"cdb", cdb}, {"status", 2}, {"sense", sense}, {"transfer", true}}};
  return d;
}

TEST(SendScsi, PutsTheRecordOnTheWireAndFixesTheScsiTransport) {
  DeviceBench bench(Stick);
  auto device = bench.open();
  std::array<std::uint8_t, 128> data{};
  SCSIRet ret;
  ASSERT_TRUE(device->sendSCSI(inquiry(data.data()), &ret));
  EXPECT_EQ(device->drive().transport, DriveInfo::TransportScsi);
  const auto sptd = testing::sptdOf(bench.log()[0]);
  EXPECT_EQ(sptd.length, 56);
  EXPECT_EQ(sptd.targetId, 1);
  EXPECT_EQ(sptd.cdbLength, 6);
  EXPECT_EQ(sptd.senseInfoLength, 32);
  EXPECT_EQ(sptd.senseInfoOffset, 60u);
  EXPECT_EQ(sptd.timeOutValue, 10u);
  EXPECT_EQ(sptd.dataIn, win::ScsiIoctlDataIn);
  EXPECT_EQ(sptd.dataTransferLength, 128u);
  EXPECT_EQ(testing::cdbOf(bench.log()[0]), (Bytes{0x12, 0, 0, 0, 0x80, 0}));
  EXPECT_EQ(ret.scsiStatus, 0u);
  EXPECT_EQ(ret.systemError, 0u);
  EXPECT_EQ(ret.transferred, 96u);  // the stick has 96 bytes of INQUIRY data
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&data[8]), 8), "Sim     ");
}

TEST(SendScsi, TransportDecidesWhetherAnythingIsSent) {
  DeviceBench bench(Stick);
  std::array<std::uint8_t, 128> data{};
  for (auto transport : {DriveInfo::TransportAta, DriveInfo::TransportManagement}) {
    auto device = bench.open(transport);
    device->setPower(true);  // leaves NotSupported behind
    EXPECT_FALSE(device->sendSCSI(inquiry(data.data()), nullptr));
    EXPECT_EQ(device->lastError(), Error::NotSupported);
    EXPECT_EQ(device->drive().transport, transport);
  }
  EXPECT_TRUE(bench.log().empty());

  // Unknown becomes SCSI before sending, even when the command fails.
  DeviceBench none(nullptr);
  auto device = none.open();
  EXPECT_FALSE(device->sendSCSI(inquiry(data.data()), nullptr));
  EXPECT_EQ(device->drive().transport, DriveInfo::TransportScsi);
}

TEST(SendScsi, SenseDataDecidesTheResult) {
  struct Case {
    const char* name;
    Bytes sense;
    Error expected;
  };
  const Case cases[] = {
      {"recovered error", {0x70, 0x00, 0x01}, Error::Ok},
      {"no sense", {0x70, 0x00, 0x00}, Error::Ok},
      {"descriptor format recovered", {0x72, 0x01, 0x00, 0x1D}, Error::Ok},
      // Descriptor format keeps the key in byte 1; byte 2 is the ASC there.
      {"descriptor format illegal request", {0x72, 0x05, 0x00, 0x00}, Error::Failed},
      {"descriptor format hardware error", {0x72, 0x04, 0x01, 0x00}, Error::HardwareError},
      {"deferred descriptor format", {0x73, 0x01, 0x04, 0x00}, Error::Failed},
      {"hardware error", {0x70, 0x00, 0x04}, Error::HardwareError},
      {"illegal request", {0x70, 0x00, 0x05}, Error::Failed},
      {"deferred error", {0x71, 0x00, 0x01}, Error::Failed},
      {"sense with information", {0xF0, 0x00, 0x05}, Error::SenseWithInformation},
      {"sense with information, key 1", {0xF0, 0x00, 0x01}, Error::SenseWithInformation},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DeviceBench bench(scripted(Stick, {0x12}, c.sense));
    auto device = bench.open();
    std::array<std::uint8_t, 128> data{};
    SCSIRet ret;
    EXPECT_EQ(device->sendSCSI(inquiry(data.data()), &ret), c.expected == Error::Ok);
    EXPECT_EQ(device->lastError(), c.expected);
    EXPECT_EQ(ret.scsiStatus, 2u);
    EXPECT_EQ(ret.senseLength, c.sense.size());
    EXPECT_TRUE(std::equal(c.sense.begin(), c.sense.end(), ret.sense));
    // Only an accepted answer counts its data.
    EXPECT_EQ(ret.transferred, c.expected == Error::Ok ? 96u : 0u);
  }
}

TEST(SendScsi, FailedDeliveryKeepsTheSystemErrorAndThePreviousFields) {
  DeviceBench bench(scripted(Stick, {0x12}, {0x70, 0x00, 0x01}));
  auto device = bench.open();
  std::array<std::uint8_t, 128> data{};
  SCSIRet ret;
  ASSERT_TRUE(device->sendSCSI(inquiry(data.data()), &ret));
  ASSERT_EQ(ret.transferred, 96u);

  // The handle goes away behind the device's back: the call itself fails.
  bench.machine().files.closeHandle(device->handle());
  SCSIRet failed;
  EXPECT_FALSE(device->sendSCSI(inquiry(data.data()), &failed));
  EXPECT_EQ(device->lastError(), Error::Failed);
  EXPECT_EQ(failed.scsiStatus, 0xFFFFFFFFu);
  EXPECT_EQ(failed.systemError, win::ErrorInvalidHandle);
  EXPECT_EQ(failed.transferred, 96u);
  EXPECT_EQ(failed.senseLength, 3u);
  EXPECT_EQ(failed.sense[2], 0x01);
}

TEST(ScsiInquiry, TrimsTheFieldsAndFallsBackToTheVendorForAnEmptyProduct) {
  for (const auto& [product, expected] :
       {std::pair{"Flash Stick", "Flash Stick"}, std::pair{"", "Sim"}}) {
    sim::Json d = Stick;
    d["product"] = product;
    d["vendor"] = " Sim\t";
    DeviceBench bench(d);
    auto device = bench.open();
    ScsiIdentity id;
    ASSERT_TRUE(device->scsiInquiry(id));
    EXPECT_EQ(id.vendor, "Sim");
    EXPECT_EQ(id.product, expected);
    EXPECT_EQ(id.revision, "1.00");
  }
}

TEST(ScsiIdentify, ReadsSerialPageAndCapacityWithTheExactCommandBlocks) {
  DeviceBench bench(Stick, 64ull << 20, 512);
  auto device = bench.open();
  ScsiIdentity id;
  ASSERT_TRUE(device->scsiIdentify(id));
  EXPECT_EQ(id.serialNumber, "STICK42");
  EXPECT_EQ(id.lastLba, (64ull << 20) / 512 - 1);
  EXPECT_EQ(id.blockLength, 512u);
  ASSERT_EQ(bench.log().size(), 3u);
  EXPECT_EQ(testing::cdbOf(bench.log()[1]), (Bytes{0x12, 0x01, 0x80, 0x01, 0x00, 0x00}));
  EXPECT_EQ(testing::sptdOf(bench.log()[1]).dataTransferLength, 256u);
  EXPECT_EQ(testing::cdbOf(bench.log()[2]),
            (Bytes{0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x20, 0, 0}));
}

TEST(ScsiIdentify, FallsBackToReadCapacity10AndIgnoresAShortSerialPage) {
  sim::Json d = Stick;
  d["readCapacity16"] = false;
  d["unitSerial"] = "1234";  // a page length of 4 carries no serial number
  DeviceBench bench(d, 8ull << 20, 4096);
  auto device = bench.open();
  ScsiIdentity id;
  ASSERT_TRUE(device->scsiIdentify(id));
  EXPECT_EQ(id.serialNumber, "");
  EXPECT_EQ(id.lastLba, (8ull << 20) / 4096 - 1);
  EXPECT_EQ(id.blockLength, 4096u);
  ASSERT_EQ(bench.log().size(), 4u);
  EXPECT_EQ(testing::cdbOf(bench.log()[3]), (Bytes{0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(testing::sptdOf(bench.log()[3]).dataTransferLength, 32u);
}

TEST(ScsiIdentify, FailsWhenNeitherCapacityCommandAnswers) {
  sim::Json d = Stick;
  d["readCapacity16"] = false;
  d["scsiAnswers"] = {{{"cdb", {0x25}}, {"sense", {0x70, 0, 0x05}}}};
  DeviceBench bench(d);
  auto device = bench.open();
  ScsiIdentity id;
  EXPECT_FALSE(device->scsiIdentify(id));
}

// A refusal in descriptor format, or an answer too short to hold the
// fields, is no capacity: READ CAPACITY(10) is asked instead.
TEST(ScsiIdentify, RefusedOrShortReadCapacity16FallsBackToReadCapacity10) {
  const struct {
    const char* name;
    sim::Json answer;
  } cases[] = {
      {"illegal request in descriptor format",
       {{"cdb", {0x9E}}, {"sense", {0x72, 0x05, 0x20, 0x00}}}},
      {"good with no data", {{"cdb", {0x9E}}, {"status", 0}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Json d = Stick;
    d["scsiAnswers"] = {c.answer};
    DeviceBench bench(d, 8ull << 20, 4096);
    auto device = bench.open();
    ScsiIdentity id;
    ASSERT_TRUE(device->scsiIdentify(id));
    EXPECT_EQ(id.blockLength, 4096u);
    EXPECT_EQ(id.lastLba, (8ull << 20) / 4096 - 1);
    ASSERT_EQ(bench.log().size(), 4u);
    EXPECT_EQ(testing::cdbOf(bench.log()[3])[0], 0x25);
  }
  sim::Json none = Stick;
  none["scsiAnswers"] = {{{"cdb", {0x9E}}, {"status", 0}}, {{"cdb", {0x25}}, {"status", 0}}};
  DeviceBench bench(none);
  auto device = bench.open();
  ScsiIdentity id;
  EXPECT_FALSE(device->scsiIdentify(id));
}

TEST(ReadSectors, SendsRead16WithBigEndianFieldsAndGetsTheDiskBytes) {
  DeviceBench bench(Stick);
  const std::array<std::uint8_t, 4> pattern = {0xDE, 0xAD, 0xBE, 0xEF};
  bench.machine().disks[0].store->write(0x0102 * 512, pattern.data(), pattern.size());
  auto device = bench.open();
  alignas(4) std::array<std::uint8_t, 1024> buffer{};
  ASSERT_TRUE(device->readSectors(buffer.data(), 0x0102, 2));
  EXPECT_EQ(testing::cdbOf(bench.log()[0]),
            (Bytes{0x88, 0x00, 0, 0, 0, 0, 0, 0, 0x01, 0x02, 0, 0, 0, 2, 0, 0}));
  EXPECT_EQ(testing::sptdOf(bench.log()[0]).dataTransferLength, 1024u);
  EXPECT_TRUE(std::equal(pattern.begin(), pattern.end(), buffer.begin()));
}

// The transfer is whole logical blocks of the drive's own size; a buffer
// that is not is refused, as real drives do.
TEST(ReadSectors, MovesWholeBlocksOfTheDrivesSectorSize) {
  DeviceBench bench(Stick, 8ull << 20, 4096);
  auto device = bench.open();
  alignas(4) std::array<std::uint8_t, 4096> buffer{};
  EXPECT_FALSE(device->readSectors(buffer.data(), 0, 1)) << "sector size not known yet: 512";
  ASSERT_TRUE(device->identify());
  EXPECT_EQ(device->drive().bytesPerSector, 4096u);
  bench.log().clear();
  EXPECT_TRUE(device->readSectors(buffer.data(), 0, 1));
  EXPECT_EQ(testing::sptdOf(bench.log()[0]).dataTransferLength, 4096u);
}

TEST(SendNvme, IdentifyQueryAsksForTheControllerAndCopiesItsData) {
  DeviceBench bench(Nvme);
  auto device = bench.open();
  std::array<std::uint8_t, 4096> data{};
  NVMePacket p;
  p.opcode = 0x06;
  p.cdw10 = 0;  // the query always asks for the controller
  p.data = data.data();
  p.dataLength = 4096;
  ASSERT_TRUE(device->sendNvme(p));
  EXPECT_EQ(nvmeModel(data.data()), "Sim NVMe SSD");
  EXPECT_EQ(nvmeSerial(data.data()), "NV0001");
  EXPECT_EQ(nvmeFirmware(data.data()), "2B0QEXM7");

  const auto& r = bench.log()[0];
  EXPECT_EQ(r.code, win::IoctlStorageQueryProperty);
  ASSERT_EQ(r.input.size(), 4144u);
  layout::NvmeQueryBuffer q;
  std::memcpy(&q, r.input.data(), sizeof(q));
  EXPECT_EQ(q.query.propertyId, win::StorageAdapterProtocolSpecificProperty);
  EXPECT_EQ(q.query.queryType, 0u);
  EXPECT_EQ(q.protocolSpecific.protocolType, win::ProtocolTypeNvme);
  EXPECT_EQ(q.protocolSpecific.dataType, win::NvmeDataTypeIdentify);
  EXPECT_EQ(q.protocolSpecific.protocolDataRequestValue, 1u);
  EXPECT_EQ(q.protocolSpecific.protocolDataRequestSubValue, 0u);
  EXPECT_EQ(q.protocolSpecific.protocolDataOffset, 40u);
  EXPECT_EQ(q.protocolSpecific.protocolDataLength, 4096u);
}

TEST(SendNvme, ImplausibleIdentifyAnswersFailAndLeaveTheDataAlone) {
  struct Case {
    const char* name;
    sim::Json overrides;
    Error expected;
  };
  const Case cases[] = {
      {"zero vendor id", {{"vendorId", 0}}, Error::Failed},
      {"zero namespaces", {{"namespaces", 0}}, Error::Failed},
      {"descriptor version 47", {{"descriptorVersion", 47}}, Error::Failed},
      {"descriptor size 40", {{"descriptorSize", 40}}, Error::Failed},
      {"success without an answer", {{"emptyQueryAnswer", true}}, Error::Failed},
      {"data said to lie beyond the buffer", {{"returnedDataOffset", 100}}, Error::Failed},
      {"not an NVMe drive", {{"kind", "scsi"}}, Error::NotSupported},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Json d = Nvme;
    d.update(c.overrides);
    DeviceBench bench(d);
    auto device = bench.open();
    std::array<std::uint8_t, 4096> data;
    data.fill(0xEE);
    NVMePacket p;
    p.opcode = 0x06;
    p.data = data.data();
    p.dataLength = 4096;
    EXPECT_FALSE(device->sendNvme(p));
    EXPECT_EQ(device->lastError(), c.expected);
    EXPECT_EQ(data[0], 0xEE);
  }
}

TEST(SendNvme, FeatureQueryCopiesTheFixedReturnData) {
  sim::Json d = Nvme;
  d["features"] = {{"7", 0x001F001E}};
  DeviceBench bench(d);
  auto device = bench.open();
  std::array<std::uint8_t, 4> data{};
  NVMePacket p;
  p.opcode = 0x0A;
  p.cdw10 = 0x107;  // only the low byte names the feature
  p.data = data.data();
  p.dataLength = 2;
  ASSERT_TRUE(device->sendNvme(p));
  EXPECT_EQ(data, (std::array<std::uint8_t, 4>{0x1E, 0x00, 0, 0}));
  layout::NvmeQueryBuffer q;
  std::memcpy(&q, bench.log()[0].input.data(), sizeof(q));
  EXPECT_EQ(q.query.propertyId, win::StorageDeviceProtocolSpecificProperty);
  EXPECT_EQ(q.protocolSpecific.dataType, win::NvmeDataTypeFeature);
  EXPECT_EQ(q.protocolSpecific.protocolDataRequestValue, 7u);
  EXPECT_EQ(q.protocolSpecific.protocolDataOffset, 0u);
  EXPECT_EQ(q.protocolSpecific.protocolDataLength, 0u);
}

TEST(SendNvme, LogPageQueryCarriesAllDwordsAndCopiesThePage) {
  DeviceBench bench(Nvme);
  auto device = bench.open();
  std::array<std::uint8_t, 512> data{};
  NVMePacket p;
  p.opcode = 0x02;
  p.cdw10 = 0x007F0002;  // SMART / health, number of dwords in the upper half
  p.cdw12 = 0x11;
  p.cdw13 = 0x22;
  p.data = data.data();
  p.dataLength = 512;
  ASSERT_TRUE(device->sendNvme(p));
  EXPECT_EQ(data[1] | data[2] << 8, 310);  // composite temperature
  layout::NvmeQueryBuffer q;
  std::memcpy(&q, bench.log()[0].input.data(), sizeof(q));
  EXPECT_EQ(q.protocolSpecific.dataType, win::NvmeDataTypeLogPage);
  EXPECT_EQ(q.protocolSpecific.protocolDataRequestValue, 0x007F0002u);
  EXPECT_EQ(q.protocolSpecific.protocolDataRequestSubValue, 0x11u);
  EXPECT_EQ(q.protocolSpecific.protocolDataRequestSubValue2, 0x22u);
  EXPECT_EQ(q.protocolSpecific.protocolDataLength, 512u);
}

TEST(SendNvme, OtherOpcodesGoThroughTheProtocolCommand) {
  struct Case {
    const char* name;
    std::uint8_t opcode;
    std::uint32_t protocolStatus;
    Error expected;
  };
  const Case cases[] = {
      {"vendor command", 0xC1, 1, Error::Ok},
      {"drive reports an error", 0xC1, 2, Error::Failed},
      {"blocked by the driver", 0x09, 1, Error::InvalidRequest},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Json d = Nvme;
    d["protocolStatus"] = c.protocolStatus;
    DeviceBench bench(d);
    auto device = bench.open();
    std::array<std::uint8_t, 16> data{};
    NVMePacket p;
    p.opcode = c.opcode;
    p.nsid = 1;
    p.cdw10 = 0xA;
    p.cdw15 = 0xF;
    p.data = data.data();
    p.dataLength = 16;
    p.direction = 1;
    p.adminCommand = true;
    p.adapterRequest = true;
    EXPECT_EQ(device->sendNvme(p), c.expected == Error::Ok);
    EXPECT_EQ(device->lastError(), c.expected);

    const auto& r = bench.log()[0];
    EXPECT_EQ(r.code, win::IoctlStorageProtocolCommand);
    ASSERT_EQ(r.input.size(), 4304u);
    layout::StorageProtocolCommand cmd;
    std::memcpy(static_cast<void*>(&cmd), r.input.data(), 80);
    EXPECT_EQ(cmd.version, 1u);
    EXPECT_EQ(cmd.length, 84u);
    EXPECT_EQ(cmd.protocolType, win::ProtocolTypeNvme);
    EXPECT_EQ(cmd.flags, win::StorageProtocolCommandFlagAdapterRequest);
    EXPECT_EQ(cmd.commandLength, 64u);
    EXPECT_EQ(cmd.errorInfoLength, 64u);
    EXPECT_EQ(cmd.errorInfoOffset, 144u);
    EXPECT_EQ(cmd.timeOutValue, 10u);
    EXPECT_EQ(cmd.dataFromDeviceTransferLength, 16u);
    EXPECT_EQ(cmd.dataFromDeviceBufferOffset, 208u);
    EXPECT_EQ(cmd.dataToDeviceTransferLength, 0u);
    EXPECT_EQ(cmd.commandSpecific, win::StorageProtocolSpecificNvmeAdminCommand);
    EXPECT_EQ(r.input[80], c.opcode);
    EXPECT_EQ(r.input[80 + 40], 0xA);  // dword 10
    EXPECT_EQ(r.input[80 + 60], 0xF);  // dword 15
  }
}

TEST(BridgeNvme, SendsTheCommandBlockThenTheDataCommand) {
  DeviceBench bench(Bridge);
  auto device = bench.open(DriveInfo::TransportScsi);
  std::array<std::uint8_t, 4096> data;
  data.fill(0xEE);
  ASSERT_TRUE(device->bridgeIdentifyController(data.data()));
  EXPECT_EQ(nvmeModel(data.data()), "Sim NVMe");

  ASSERT_EQ(bench.log().size(), 2u);
  EXPECT_EQ(testing::cdbOf(bench.log()[0]),
            (Bytes{0xA1, 0x80, 0x00, 0x00, 0x02, 0x00, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(testing::sptdOf(bench.log()[0]).dataIn, win::ScsiIoctlDataOut);
  const Bytes& block = bench.log()[0].dataOut;
  ASSERT_EQ(block.size(), 512u);
  EXPECT_EQ(Bytes(block.begin(), block.begin() + 4), (Bytes{'N', 'V', 'M', 'E'}));
  EXPECT_EQ(block[8], 0x06);
  std::uint64_t address = 0;
  for (int i = 0; i < 8; ++i) address |= std::uint64_t{block[32 + i]} << (8 * i);
  EXPECT_EQ(address, reinterpret_cast<std::uintptr_t>(data.data()));
  EXPECT_EQ(block[44] | block[45] << 8, 4096);
  EXPECT_EQ(block[48], 1);  // dword 10: Identify Controller
  EXPECT_TRUE(std::all_of(block.begin() + 72, block.end(), [](auto b) { return b == 0; }));
  EXPECT_EQ(testing::cdbOf(bench.log()[1]),
            (Bytes{0xA1, 0x82, 0x00, 0x00, 0x10, 0x00, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(testing::sptdOf(bench.log()[1]).dataTransferLength, 4096u);
}

TEST(BridgeNvme, HardwareErrorReadsSectorZeroAndTriesOnceMore) {
  for (int failures : {1, 2}) {
    SCOPED_TRACE(failures);
    sim::Json d = Bridge;
    d["hardwareErrorFirst"] = failures;
    DeviceBench bench(d);
    auto device = bench.open(DriveInfo::TransportScsi);
    std::array<std::uint8_t, 4096> data{};
    EXPECT_EQ(device->bridgeIdentifyController(data.data()), failures == 1);
    std::vector<std::uint8_t> opcodes;
    for (auto& r : bench.log()) opcodes.push_back(testing::cdbOf(r)[0]);
    if (failures == 1)
      EXPECT_EQ(opcodes, (Bytes{0xA1, 0xA1, 0x88, 0xA1, 0xA1}));
    else
      EXPECT_EQ(opcodes, (Bytes{0xA1, 0xA1, 0x88, 0xA1, 0xA1, 0x88}));
    EXPECT_EQ(testing::cdbOf(bench.log()[2]),
              (Bytes{0x88, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}));
  }
}

TEST(BridgeNvme, OtherFailuresEndTheProbe) {
  DeviceBench stick(Stick);  // a plain stick rejects the vendor command
  auto device = stick.open(DriveInfo::TransportScsi);
  std::array<std::uint8_t, 4096> data{};
  EXPECT_FALSE(device->bridgeIdentifyController(data.data()));
  EXPECT_EQ(device->lastError(), Error::Failed);
  EXPECT_EQ(stick.log().size(), 1u);

  DeviceBench bridge(Bridge);  // runs only on the SCSI transport
  auto unknown = bridge.open();
  EXPECT_FALSE(unknown->bridgeIdentifyController(data.data()));
  EXPECT_TRUE(bridge.log().empty());
}

// The bridge probe reaching a USB-to-SATA bridge is read as ATA
// PASS-THROUGH(12) with an invalid protocol and refused as a SAT layer does.
TEST(BridgeNvme, SataBridgeRefusesTheProbeAsAnInvalidField) {
  DeviceBench bench({{"kind", "sat"}, {"model", "Sim SATA SSD"}});
  auto device = bench.open(DriveInfo::TransportScsi);
  std::array<std::uint8_t, 4096> data{};
  EXPECT_FALSE(device->bridgeIdentifyController(data.data()));
  EXPECT_EQ(device->lastError(), Error::Failed);
  ASSERT_EQ(bench.log().size(), 1u) << "the data command is never sent";
  const auto& sense = device->lastScsiResult().sense;
  EXPECT_EQ(Bytes(sense, sense + 18),
            (Bytes{0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x00, 0, 0xC0, 0x00, 0x01}));
}

TEST(BridgeNvme, VerdictCountsTextFieldsAndNamespaces) {
  struct Case {
    const char* name;
    sim::Json overrides;
    bool verdict;
  };
  const Case cases[] = {
      {"all present", sim::Json::object(), true},
      {"no namespaces", {{"namespaces", 0}}, true},
      {"model and serial only", {{"namespaces", 0}, {"firmware", ""}}, false},
      {"model and namespaces", {{"serial", "  "}, {"firmware", ""}}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Json d = Bridge;
    d.update(c.overrides);
    DeviceBench bench(d);
    auto device = bench.open(DriveInfo::TransportScsi);
    std::array<std::uint8_t, 4096> data{};
    EXPECT_EQ(device->bridgeIdentifyController(data.data()), c.verdict);
  }
}

TEST(NvmeText, FieldsAreCutAtNulAndTrimmedOfBlanks) {
  std::array<std::uint8_t, 4096> data{};
  auto put = [&](std::size_t at, std::string_view text) {
    std::copy(text.begin(), text.end(), data.begin() + at);
  };
  put(4, "  SER 1  \0 garbage   ");
  put(24, "Model X                                 ");
  put(64, "\t1.0    ");
  EXPECT_EQ(nvmeSerial(data.data()), "SER 1");
  EXPECT_EQ(nvmeModel(data.data()), "Model X");
  EXPECT_EQ(nvmeFirmware(data.data()), "\t1.0");  // only blanks are trimmed
}

}  // namespace
}  // namespace pbaloader
