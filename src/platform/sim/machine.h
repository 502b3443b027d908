// The simulated Windows machine: what the tool sees when it runs on Linux,
// in the tests, the demo and pbaloader-sim.
//
// A Machine is built from a JSON description (docs/simulated-machine.md). It
// is split into facilities, one per group of Windows services; each facility
// lives in its own files and parses its own keys of the description.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/console.h"
#include "platform/sim/diskstore.h"
#include "platform/sim/files.h"
#include "platform/sim/management.h"
#include "platform/sim/messages.h"
#include "platform/sim/setup.h"
#include "platform/sim/shell.h"
#include "platform/sim/storage.h"

namespace pbaloader::sim {

using Json = nlohmann::json;
using os::WString;

// One raw disk, \\.\PHYSICALDRIVE<number> unless the description names another path.
struct SimDisk {
  std::uint32_t number = 0;
  WString devicePath;  // how the management service and the tool name it
  std::uint64_t size = 0;
  std::uint32_t sectorSize = 512;
  std::uint32_t removalPolicy = 3;   // 1 fixed, 2 orderly, 3 surprise removal
  std::unique_ptr<DiskStore> store;  // the disk's bytes
  Json description;                  // the disk's whole entry, for the facilities
};

// What a device-namespace path (\\.\..., \\?\...) opens.
struct DeviceNode {
  enum class Kind { RawDisk, DiskInterface, Volume };
  Kind kind = Kind::RawDisk;
  int disk = -1;                // index into Machine::disks
  std::uint32_t partition = 0;  // Volume: the partition number it sits on
};

class Machine {
 public:
  // Builds the machine; relative host paths are taken from baseDir.
  static std::unique_ptr<Machine> fromJson(const Json& description,
                                           const std::filesystem::path& baseDir);
  static std::unique_ptr<Machine> fromFile(const std::filesystem::path& jsonFile);

  Machine();
  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  // Index of the disk with that number, or -1.
  int diskIndexByNumber(std::uint32_t number) const;
  // Registers a device-namespace path (compared without regard to ASCII case).
  void registerDevice(const WString& path, DeviceNode node);
  // The node a device-namespace path names, if any.
  const DeviceNode* findDevice(os::WStringView path) const;

  // --- Core state ------------------------------------------------------------
  Json description;
  std::filesystem::path baseDir;
  WString modulePath = u"C:\\Tools\\pbaloader.exe";
  std::map<char, std::filesystem::path> drives;  // upper-case letter -> host folder
  WString currentDirectory = u"C:\\";
  WString systemDirectory = u"C:\\Windows\\System32";
  // Ordinary paths are the host's own ("/home/x/PBA.pkg", relative ones from
  // currentDirectory) instead of drive-letter paths; device paths are only
  // what registerDevice registered. The machine of a real Linux host.
  bool posixPaths = false;
  std::vector<SimDisk> disks;
  std::map<WString, DeviceNode> devices;  // key: upper-cased path

  // Virtual steady clock: sleeping advances it at once.
  std::int64_t clockNs = 1'000'000'000;
  std::vector<std::int64_t> sleepsNs;  // every sleep the tool asked for, in order

  // --- Facilities ------------------------------------------------------------
  Console console;
  FileSystem files;
  MessageTable messages;
  StorageStack storage;
  Management management;
  DeviceSetup setup;
  Shell shell;
};

// The Platform implementation that runs on a Machine.
std::unique_ptr<os::Platform> makeSimPlatform(Machine& machine);

}  // namespace pbaloader::sim
