// The simulated storage stack refuses malformed pass-through and query
// records with the errors Windows' drivers give.
#include <gtest/gtest.h>

#include <functional>

#include "unit/device_fixture.h"

namespace pbaloader {
namespace {

using testing::DeviceBench;

os::Handle openDrive(std::uint32_t access = win::GenericRead | win::GenericWrite) {
  return os::current()
      .createFileA(testing::DrivePath, access, win::FileShareRead | win::FileShareWrite,
                   win::OpenExisting, 0)
      .value;
}

alignas(8) std::uint8_t dataArea[520];

layout::AtaPassThroughDirect identifyRecord() {
  layout::AtaPassThroughDirect apt;
  apt.length = sizeof(apt);
  apt.ataFlags = win::AtaFlagsDataIn;
  apt.dataTransferLength = 512;
  apt.timeOutValue = 10;
  apt.dataBuffer = reinterpret_cast<std::uintptr_t>(dataArea);
  apt.currentTaskFile[6] = 0xEC;
  return apt;
}

layout::ScsiPassThroughDirectWithSense inquiryRecord() {
  layout::ScsiPassThroughDirectWithSense b;
  b.sptd.length = sizeof(b.sptd);
  b.sptd.cdbLength = 6;
  b.sptd.cdb[0] = 0x12;
  b.sptd.cdb[4] = 96;
  b.sptd.senseInfoLength = 32;
  b.sptd.senseInfoOffset = 60;
  b.sptd.dataIn = win::ScsiIoctlDataIn;
  b.sptd.dataTransferLength = 96;
  b.sptd.timeOutValue = 10;
  b.sptd.dataBuffer = reinterpret_cast<std::uintptr_t>(dataArea);
  return b;
}

TEST(StorageStack, MalformedAtaRecordsAreRefused) {
  struct Case {
    const char* name;
    std::function<void(layout::AtaPassThroughDirect&, std::uint32_t& in, std::uint32_t& out)> spoil;
    std::uint32_t error;
  };
  const Case cases[] = {
      {"well formed", [](auto&, auto&, auto&) {}, 0},
      {"Length of another revision", [](auto& a, auto&, auto&) { a.length = 40; }, 1306},
      {"short input", [](auto&, auto& in, auto&) { in = 40; }, 87},
      {"short output", [](auto&, auto&, auto& out) { out = 40; }, 122},
      {"both directions", [](auto& a, auto&, auto&) { a.ataFlags |= win::AtaFlagsDataOut; }, 87},
      {"misaligned data", [](auto& a, auto&, auto&) { a.dataBuffer += 2; }, 87},
      {"no data buffer", [](auto& a, auto&, auto&) { a.dataBuffer = 0; }, 87},
      {"no time-out", [](auto& a, auto&, auto&) { a.timeOutValue = 0; }, 87},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DeviceBench bench(sim::Json{{"kind", "ata"}});
    const os::Handle h = openDrive();
    auto apt = identifyRecord();
    std::uint32_t in = sizeof(apt), out = sizeof(apt);
    c.spoil(apt, in, out);
    const auto r =
        os::current().deviceIoControl(h, win::IoctlAtaPassThroughDirect, &apt, in, &apt, out);
    EXPECT_EQ(r.ok, c.error == 0);
    EXPECT_EQ(r.error, c.error);
    if (c.error == 0) {
      EXPECT_EQ(r.count, 48u);
      EXPECT_EQ(apt.currentTaskFile[6], 0x50);
      EXPECT_EQ(apt.dataTransferLength, 512u);
    }
    ASSERT_EQ(bench.log().size(), 1u);
    EXPECT_EQ(bench.log()[0].error, c.error);
  }
}

TEST(StorageStack, MalformedScsiRecordsAreRefused) {
  struct Case {
    const char* name;
    std::function<void(layout::ScsiPassThroughDirectWithSense&, std::uint32_t& out)> spoil;
    std::uint32_t error;
  };
  const Case cases[] = {
      {"well formed", [](auto&, auto&) {}, 0},
      {"Length of another revision", [](auto& b, auto&) { b.sptd.length = 44; }, 1306},
      {"CDB longer than 16", [](auto& b, auto&) { b.sptd.cdbLength = 17; }, 87},
      {"sense inside the record", [](auto& b, auto&) { b.sptd.senseInfoOffset = 40; }, 87},
      {"sense beyond the buffer", [](auto&, auto& out) { out = 80; }, 87},
      {"unknown direction", [](auto& b, auto&) { b.sptd.dataIn = 3; }, 87},
      {"no time-out", [](auto& b, auto&) { b.sptd.timeOutValue = 0; }, 87},
      {"too long a transfer", [](auto& b, auto&) { b.sptd.dataTransferLength = 0x20004; }, 87},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DeviceBench bench(sim::Json{{"kind", "scsi"}});
    const os::Handle h = openDrive();
    auto b = inquiryRecord();
    std::uint32_t out = sizeof(b);
    c.spoil(b, out);
    const auto r =
        os::current().deviceIoControl(h, win::IoctlScsiPassThroughDirect, &b, sizeof(b), &b, out);
    EXPECT_EQ(r.ok, c.error == 0);
    EXPECT_EQ(r.error, c.error);
    if (c.error == 0) {
      EXPECT_EQ(b.sptd.scsiStatus, 0);
      EXPECT_EQ(b.sptd.dataTransferLength, 96u);
      EXPECT_EQ(b.sptd.senseInfoLength, 0);
    }
  }
}

TEST(StorageStack, PassThroughNeedsReadWriteAccessAndADevice) {
  {
    DeviceBench bench(sim::Json{{"kind", "scsi"}});
    const os::Handle h = openDrive(win::GenericRead);
    auto b = inquiryRecord();
    const auto r = os::current().deviceIoControl(h, win::IoctlScsiPassThroughDirect, &b, sizeof(b),
                                                 &b, sizeof(b));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, win::ErrorAccessDenied);
  }
  DeviceBench bench(nullptr);
  const os::Handle h = openDrive();
  auto b = inquiryRecord();
  EXPECT_EQ(os::current()
                .deviceIoControl(h, win::IoctlScsiPassThroughDirect, &b, sizeof(b), &b, sizeof(b))
                .error,
            win::ErrorInvalidFunction);
  layout::NvmeQueryBuffer q;
  q.query.propertyId = win::StorageAdapterProtocolSpecificProperty;
  EXPECT_EQ(os::current()
                .deviceIoControl(h, win::IoctlStorageQueryProperty, &q, sizeof(q), &q, sizeof(q))
                .error,
            win::ErrorNotSupported);
}

TEST(StorageStack, MalformedNvmeQueriesAreRefused) {
  struct Case {
    const char* name;
    std::function<void(layout::NvmeQueryBuffer&, std::uint32_t& in, std::uint32_t& out)> spoil;
    std::uint32_t error;
  };
  const Case cases[] = {
      {"well formed", [](auto&, auto&, auto&) {}, 0},
      {"short query", [](auto&, auto& in, auto&) { in = 4; }, 87},
      {"no protocol data", [](auto&, auto& in, auto&) { in = 12; }, 87},
      {"unknown query type", [](auto& q, auto&, auto&) { q.query.queryType = 2; }, 87},
      {"other property", [](auto& q, auto&, auto&) { q.query.propertyId = 6; }, 50},
      {"other protocol", [](auto& q, auto&, auto&) { q.protocolSpecific.protocolType = 2; }, 50},
      {"identify shorter than 4096",
       [](auto& q, auto&, auto&) { q.protocolSpecific.protocolDataLength = 512; }, 87},
      {"data offset inside the request",
       [](auto& q, auto&, auto&) { q.protocolSpecific.protocolDataOffset = 8; }, 87},
      {"output too small for the data", [](auto&, auto&, auto& out) { out = 2048; }, 122},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DeviceBench bench({{"kind", "nvme"}, {"model", "Q"}});
    const os::Handle h = openDrive();
    layout::NvmeQueryBuffer q;
    q.query.propertyId = win::StorageAdapterProtocolSpecificProperty;
    q.protocolSpecific.protocolType = win::ProtocolTypeNvme;
    q.protocolSpecific.dataType = win::NvmeDataTypeIdentify;
    q.protocolSpecific.protocolDataRequestValue = 1;
    q.protocolSpecific.protocolDataOffset = 40;
    q.protocolSpecific.protocolDataLength = 4096;
    std::uint32_t in = sizeof(q), out = sizeof(q);
    c.spoil(q, in, out);
    const auto r =
        os::current().deviceIoControl(h, win::IoctlStorageQueryProperty, &q, in, &q, out);
    EXPECT_EQ(r.ok, c.error == 0);
    EXPECT_EQ(r.error, c.error);
    if (c.error == 0) {
      EXPECT_EQ(r.count, 4144u);
      layout::StorageProtocolDataDescriptor d;
      std::memcpy(static_cast<void*>(&d), &q, sizeof(d));
      EXPECT_EQ(d.version, 48u);
      EXPECT_EQ(d.size, 48u);
      EXPECT_EQ(q.data[24], 'Q');  // the model, from byte 24 of the controller data
    }
  }
}

}  // namespace
}  // namespace pbaloader
