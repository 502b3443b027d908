// A simulated machine with one disk whose "device" object the test gives,
// and readers for what the device layer put on the wire.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "device/device.h"
#include "platform/layout/pass_through.h"
#include "platform/layout/storage_query.h"
#include "platform/winconst.h"
#include "support/sim_fixture.h"

namespace pbaloader::testing {

inline sim::Json oneDisk(const sim::Json& device, std::uint64_t size = 64ull << 20,
                         std::uint32_t sectorSize = 512) {
  sim::Json disk = {{"number", 1}, {"size", size}, {"sectorSize", sectorSize}};
  if (!device.is_null()) disk["device"] = device;
  return {{"disks", sim::Json::array({disk})}};
}

inline constexpr const char* DrivePath = "\\\\.\\PHYSICALDRIVE1";

class DeviceBench {
 public:
  explicit DeviceBench(const sim::Json& device, std::uint64_t size = 64ull << 20,
                       std::uint32_t sectorSize = 512)
      : sim_(oneDisk(device, size, sectorSize)) {}

  std::unique_ptr<SystemDevice> open(std::int32_t transport = DriveInfo::TransportUnknown) {
    DriveInfo drive;
    drive.path = DrivePath;
    drive.transport = transport;
    return std::make_unique<SystemDevice>(drive);
  }
  sim::Machine& machine() { return sim_.machine(); }
  std::vector<sim::IoctlRecord>& log() { return sim_->storage.log; }
  // Control codes in the order they reached the stack.
  std::vector<std::uint32_t> codes() {
    std::vector<std::uint32_t> out;
    for (auto& r : log()) out.push_back(r.code);
    return out;
  }

 private:
  SimMachine sim_;
};

inline layout::AtaPassThroughDirect aptOf(const sim::IoctlRecord& r) {
  layout::AtaPassThroughDirect apt;
  EXPECT_GE(r.input.size(), sizeof(apt));
  std::memcpy(&apt, r.input.data(), std::min(sizeof(apt), r.input.size()));
  return apt;
}

inline layout::ScsiPassThroughDirect sptdOf(const sim::IoctlRecord& r) {
  layout::ScsiPassThroughDirect sptd;
  EXPECT_GE(r.input.size(), sizeof(sptd));
  std::memcpy(&sptd, r.input.data(), std::min(sizeof(sptd), r.input.size()));
  return sptd;
}

inline std::vector<std::uint8_t> cdbOf(const sim::IoctlRecord& r) {
  const auto sptd = sptdOf(r);
  return {sptd.cdb, sptd.cdb + sptd.cdbLength};
}

using Bytes = std::vector<std::uint8_t>;

}  // namespace pbaloader::testing
