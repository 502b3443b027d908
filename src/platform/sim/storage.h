// The simulated storage stack: decodes pass-through and storage query control
// codes as Windows' storage drivers do and routes them to device models.
#pragma once

#include <cstdint>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <vector>

#include "platform/platform.h"

namespace pbaloader::sim {

class Machine;
struct OpenObject;
class DeviceModel;  // defined by the storage stack's own files

// One control code as it reached the stack, for tests to examine.
struct IoctlRecord {
  int disk = -1;
  std::uint32_t code = 0;
  std::vector<std::uint8_t> input;    // the input buffer as sent
  std::vector<std::uint8_t> dataOut;  // data the command carried to the device
  bool ok = false;
  std::uint32_t error = 0;
};

class StorageStack {
 public:
  explicit StorageStack(Machine& machine);
  ~StorageStack();
  void load(const nlohmann::json& description);
  // Handles the control codes of the storage stack; nullopt for codes it does not own.
  std::optional<os::Transfer> deviceIoControl(OpenObject& object, std::uint32_t code,
                                              const void* in, std::uint32_t inSize, void* out,
                                              std::uint32_t outSize);
  // The device model of a disk, null when the disk answers no commands.
  DeviceModel* model(int disk);
  // Puts another model (a real drive's) in the place of a disk's.
  void setModel(int disk, std::unique_ptr<DeviceModel> model);

  // Every control code the stack handled, in order.
  std::vector<IoctlRecord> log;

 private:
  os::Transfer dispatch(OpenObject& object, std::uint32_t code, const void* in,
                        std::uint32_t inSize, void* out, std::uint32_t outSize,
                        std::vector<std::uint8_t>& dataOut);
  os::Transfer ataPassThrough(DeviceModel& device, const void* in, std::uint32_t inSize, void* out,
                              std::uint32_t outSize, std::vector<std::uint8_t>& dataOut);
  os::Transfer scsiPassThrough(DeviceModel& device, const void* in, std::uint32_t inSize, void* out,
                               std::uint32_t outSize, std::vector<std::uint8_t>& dataOut);
  os::Transfer queryProperty(DeviceModel& device, const void* in, std::uint32_t inSize, void* out,
                             std::uint32_t outSize);
  os::Transfer protocolCommand(DeviceModel& device, const void* in, std::uint32_t inSize, void* out,
                               std::uint32_t outSize, std::vector<std::uint8_t>& dataOut);

  Machine& machine_;
  std::vector<std::unique_ptr<DeviceModel>> models_;  // by disk index
};

}  // namespace pbaloader::sim
