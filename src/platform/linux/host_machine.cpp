#include "platform/linux/host_machine.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "platform/linux/block_store.h"
#include "platform/linux/sg_device.h"

namespace pbaloader::host {
namespace {

using Json = nlohmann::json;

std::string deviceKind(const HostDisk& d) {
  if (d.bus == Bus::Usb) return "sat";  // Windows' USB storage driver refuses ATA pass-through
  if (d.bus == Bus::Nvme) return "nvme";
  if (d.usesLibata) return "ata";
  return "scsi";
}

// A partition's MBR type as "0xNN"; one that cannot be read counts as data.
unsigned mbrType(const std::string& text) {
  char* end = nullptr;
  const unsigned long type = std::strtoul(text.c_str(), &end, 16);
  return text.empty() || *end != '\0' || type > 0xFF ? 0x0C : static_cast<unsigned>(type);
}

bool isExtended(unsigned type) { return type == 0x05 || type == 0x0F || type == 0x85; }

// Only well-formed GUIDs are passed on; the machine makes up the others.
bool isGuid(const std::string& text) {
  return std::count_if(text.begin(), text.end(),
                       [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }) == 32;
}

Json describePartitions(const HostDisk& d) {
  Json out = {{"style", d.partitionStyle}};
  if (d.partitionStyle == "none") return out;
  const bool gpt = d.partitionStyle == "gpt";
  if (gpt && isGuid(d.gptDiskId)) out["diskId"] = d.gptDiskId;
  if (!gpt) out["signature"] = d.mbrSignature;
  Json entries = Json::array();
  for (const HostPartition& p : d.partitions) {
    Json e = {{"start", p.start}, {"length", p.length}};
    if (gpt) {
      if (isGuid(p.type)) e["type"] = p.type;
      if (isGuid(p.uuid)) e["id"] = p.uuid;
      e["name"] = p.name;
      e["number"] = p.number;
    } else {
      const unsigned type = mbrType(p.type);
      e["type"] = type;
      if (!isExtended(type)) e["number"] = p.number;
    }
    // A partition without a file system carries no volume.
    if (p.fsType.empty()) e["noVolume"] = true;
    entries.push_back(std::move(e));
  }
  out["entries"] = std::move(entries);
  return out;
}

}  // namespace

bool isRemovableDisk(const HostDisk& disk) {
  return (disk.bus == Bus::Usb || disk.removable) && !disk.holdsRoot;
}

Json describeHost(const std::vector<HostDisk>& disks, const HostSetup& setup) {
  Json machine = {{"paths", "posix"},
                  {"currentDirectory", setup.currentDirectory},
                  {"module", setup.modulePath}};
  Json list = Json::array();
  for (std::size_t i = 0; i < disks.size(); ++i) {
    const HostDisk& d = disks[i];
    Json device = {{"kind", deviceKind(d)}};
    // What the management service reports when the drive answers no command.
    std::string model = d.model;
    if (d.bus == Bus::Usb && !d.vendor.empty()) model = d.vendor + " " + d.model;
    if (!model.empty()) device["model"] = model;
    const std::string serial = d.serial.empty() ? d.usbSerial : d.serial;
    if (!serial.empty()) device["serial"] = serial;
    const std::string firmware = d.firmware.empty() ? d.revision : d.firmware;
    if (!firmware.empty()) device["firmware"] = firmware;
    // The kernel's vendor, model and revision of a USB disk are its INQUIRY
    // fields, which the management service builds the drive's Model from.
    if (d.bus == Bus::Usb) {
      device["vendor"] = d.vendor;
      device["product"] = d.model;
      device["revision"] = d.revision;
    }
    list.push_back({{"number", i},
                    {"devicePath", d.node},
                    {"size", d.size},
                    {"sectorSize", d.logicalSectorSize},
                    {"removalPolicy", isRemovableDisk(d) ? 3 : 1},
                    {"device", std::move(device)},
                    {"partitions", describePartitions(d)}});
  }
  machine["disks"] = std::move(list);
  return machine;
}

std::unique_ptr<sim::Machine> buildHostMachine(const std::vector<HostDisk>& disks,
                                               const HostSetup& setup) {
  const Json description = describeHost(disks, setup);
  auto machine = sim::Machine::fromJson(description, setup.currentDirectory);
  for (std::size_t i = 0; i < disks.size(); ++i) {
    const HostDisk& d = disks[i];
    BlockStoreOptions store;
    store.node = d.node;
    store.size = d.size;
    store.sectorSize = d.logicalSectorSize;
    store.writable = !d.holdsRoot;
    for (const HostPartition& p : d.partitions) store.partitionNodes.push_back(p.node);
    store.mountInfo = setup.mountInfo;
    machine->disks[i].store = openBlockStore(store);
    machine->storage.setModel(
        static_cast<int>(i),
        makeSgDevice(*machine, static_cast<int>(i), description["disks"][i]["device"], d.node));
  }
  machine->console.echoToHost = true;
  return machine;
}

}  // namespace pbaloader::host
