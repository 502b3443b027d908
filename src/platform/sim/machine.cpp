#include "platform/sim/machine.h"

#include <fstream>
#include <stdexcept>

#include "platform/sim/devices/device_model.h"
#include "platform/sim/devices/recorded_device.h"
#include "platform/winconst.h"

namespace pbaloader::sim {
namespace {

WString upperAscii(os::WStringView text) {
  WString out(text);
  for (auto& c : out)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  return out;
}

WString widen(const std::string& text) { return utf8ToUtf16(text); }

}  // namespace

Machine::Machine()
    : console(*this),
      files(*this),
      messages(*this),
      storage(*this),
      management(*this),
      setup(*this),
      shell(*this) {}

Machine::~Machine() = default;

int Machine::diskIndexByNumber(std::uint32_t number) const {
  for (std::size_t i = 0; i < disks.size(); ++i)
    if (disks[i].number == number) return static_cast<int>(i);
  return -1;
}

void Machine::registerDevice(const WString& path, DeviceNode node) {
  devices[upperAscii(path)] = node;
}

const DeviceNode* Machine::findDevice(os::WStringView path) const {
  auto it = devices.find(upperAscii(path));
  return it == devices.end() ? nullptr : &it->second;
}

std::unique_ptr<Machine> Machine::fromJson(const Json& d, const std::filesystem::path& base) {
  auto m = std::make_unique<Machine>();
  m->description = d;
  m->baseDir = base;
  if (d.contains("module")) m->modulePath = widen(d.at("module").get<std::string>());
  if (d.contains("drives")) {
    for (auto& [letter, folder] : d.at("drives").items()) {
      if (letter.size() != 2 || letter[1] != ':' ||
          !std::isalpha(static_cast<unsigned char>(letter[0])))
        throw std::runtime_error("drive letter must look like \"C:\": " + letter);
      std::filesystem::path host = folder.get<std::string>();
      if (host.is_relative()) host = base / host;
      m->drives[static_cast<char>(std::toupper(static_cast<unsigned char>(letter[0])))] = host;
    }
  }
  if (d.contains("currentDirectory"))
    m->currentDirectory = widen(d.at("currentDirectory").get<std::string>());
  m->posixPaths = d.value("paths", std::string("windows")) == "posix";
  if (d.contains("systemDirectory"))
    m->systemDirectory = widen(d.at("systemDirectory").get<std::string>());
  if (d.contains("disks")) {
    for (Json entry : d.at("disks")) {
      completeRecordedDisk(entry, base);  // a recorded drive brings its geometry and identity
      SimDisk disk;
      disk.number = entry.value("number", static_cast<std::uint32_t>(m->disks.size()));
      disk.size = entry.value("size", std::uint64_t{64} << 20);
      disk.sectorSize = entry.value("sectorSize", 512u);
      // A drive on its own controller is fixed, a USB one may go at any time:
      // a forgotten key never makes an internal disk usable.
      const std::string kind = deviceKind(entry.value("device", Json::object()));
      disk.removalPolicy =
          entry.value("removalPolicy", kind == "ata" || kind == "nvme"
                                           ? win::CmRemovalPolicyExpectNoRemoval
                                           : win::CmRemovalPolicyExpectSurpriseRemoval);
      disk.description = entry;
      disk.devicePath = entry.contains("devicePath")
                            ? widen(entry.at("devicePath").get<std::string>())
                            : u"\\\\.\\PHYSICALDRIVE" + widen(std::to_string(disk.number));
      if (entry.contains("backing")) {
        std::filesystem::path backing = entry.at("backing").get<std::string>();
        if (backing.is_relative()) backing = base / backing;
        disk.store = DiskStore::file(backing, disk.size);
      } else {
        disk.store = DiskStore::memory(disk.size);
      }
      if (m->diskIndexByNumber(disk.number) >= 0)
        throw std::runtime_error("two disks with number " + std::to_string(disk.number));
      m->disks.push_back(std::move(disk));
      const auto index = static_cast<int>(m->disks.size() - 1);
      m->registerDevice(m->disks.back().devicePath,
                        DeviceNode{DeviceNode::Kind::RawDisk, index, 0});
    }
  }
  m->console.load(d);
  m->files.load(d);
  m->messages.load(d);
  m->storage.load(d);
  m->management.load(d);
  m->setup.load(d);
  m->shell.load(d);
  return m;
}

std::unique_ptr<Machine> Machine::fromFile(const std::filesystem::path& jsonFile) {
  std::ifstream in(jsonFile);
  if (!in) throw std::runtime_error("cannot read machine description " + jsonFile.string());
  Json d = Json::parse(in);
  return fromJson(d, jsonFile.parent_path());
}

}  // namespace pbaloader::sim
