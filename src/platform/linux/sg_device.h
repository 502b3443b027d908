// A real drive behind the simulated storage stack: the stack checks the
// Windows pass-through records as Windows' drivers do, and this model hands
// the commands to the Linux drive (SG_IO, ATA PASS-THROUGH(16) through SG_IO,
// the NVMe admin pass-through).
#pragma once

#include <cstdint>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <string>

#include "platform/sim/devices/device_model.h"

namespace pbaloader::host {

// device: the disk's "device" object ("kind" sat, ata, nvme or scsi, and the
// identity the management service reports). The node is opened read-only.
std::unique_ptr<sim::DeviceModel> makeSgDevice(sim::Machine& machine, int disk,
                                               const nlohmann::json& device,
                                               const std::string& node);

// Whether the model would refuse a command block before it reaches the
// drive: commands that write or erase the medium are never passed on.
bool changesMedium(const std::uint8_t* cdb, std::uint8_t length);
bool ataCommandChangesMedium(std::uint8_t command);

}  // namespace pbaloader::host
