#include "platform/sim/machine.h"

#include <algorithm>
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

// Every member of os::Platform, by the name it has there.
constexpr const char* SeamMembers[] = {"stdoutIsConsole",
                                       "writeConsoleW",
                                       "writeStdout",
                                       "flushStdout",
                                       "readStdin",
                                       "unreadStdin",
                                       "getModuleFileNameW",
                                       "exitProcess",
                                       "multiByteToWideChar",
                                       "wideCharToMultiByte",
                                       "createFileW",
                                       "createFileA",
                                       "readFile",
                                       "writeFile",
                                       "setFilePointer",
                                       "closeHandle",
                                       "deleteFileW",
                                       "deviceIoControl",
                                       "formatMessageA",
                                       "coInitializeEx",
                                       "coUninitialize",
                                       "coInitializeSecurity",
                                       "coCreateInstance",
                                       "connectServer",
                                       "coSetProxyBlanket",
                                       "execQuery",
                                       "enumNext",
                                       "objectGet",
                                       "release",
                                       "setupDiGetClassDevsW",
                                       "setupDiEnumDeviceInterfaces",
                                       "setupDiGetDeviceInterfaceDetailW",
                                       "setupDiGetDeviceRegistryPropertyW",
                                       "setupDiDestroyDeviceInfoList",
                                       "getVolumeNameForVolumeMountPointW",
                                       "getVolumePathNamesForVolumeNameW",
                                       "getCurrentDirectoryW",
                                       "getSystemDirectoryW",
                                       "listDirectoryW",
                                       "runSystemCommand",
                                       "steadyNowNs",
                                       "sleepUntilNs"};

// Members whose Windows calls cannot fail (or report nothing): counted only.
constexpr std::string_view Unfailing[] = {"flushStdout",    "unreadStdin", "exitProcess",
                                          "coUninitialize", "release",     "steadyNowNs",
                                          "sleepUntilNs"};

// An error code or HRESULT: a number, or text such as "0x80041001".
std::uint32_t errorValue(const Json& value) {
  if (value.is_string())
    return static_cast<std::uint32_t>(std::stoul(value.get<std::string>(), nullptr, 0));
  if (value.is_number_integer() && value.get<std::int64_t>() < 0)
    return static_cast<std::uint32_t>(value.get<std::int32_t>());
  return value.get<std::uint32_t>();
}

}  // namespace

void CallTable::load(const Json& d) {
  for (const char* member : SeamMembers) counts_[member] = 0;
  if (!d.contains("failCall")) return;
  for (const auto& entry : d.at("failCall")) {
    const std::string member = entry.at("call").get<std::string>();
    if (!counts_.contains(member)) throw std::runtime_error("failCall: no member " + member);
    if (std::find(std::begin(Unfailing), std::end(Unfailing), member) != std::end(Unfailing))
      throw std::runtime_error("failCall: " + member + " cannot fail");
    const auto n = entry.at("n").get<std::uint64_t>();
    if (n == 0) throw std::runtime_error("failCall: calls are counted from 1");
    failures_[{member, n}] = errorValue(entry.at("error"));
  }
}

std::optional<std::uint32_t> CallTable::take(const char* member) {
  const std::uint64_t n = ++counts_[member];
  if (failures_.empty()) return std::nullopt;
  auto it = failures_.find({member, n});
  if (it == failures_.end()) return std::nullopt;
  return it->second;
}

Json Machine::callLog(int exitStatus) {
  Json log;
  log["calls"] = calls.counts();
  log["exitStatus"] = exitStatus;
  log["openHandles"] = files.openHandleCount();
  log["openDeviceInfoSets"] = setup.state().openSets;
  const ComState& com = management.state();
  log["comInitializations"] = com.initCount - com.baselineInitCount;
  log["liveComReferences"] = management.liveReferences();
  log["badComReleases"] = com.badReleases;
  // Read, write and control-code calls that reached each disk (by number).
  Json diskCalls = Json::object();
  for (std::size_t i = 0; i < disks.size(); ++i)
    diskCalls[std::to_string(disks[i].number)] = files.diskFaults(static_cast<int>(i)).driveCalls;
  log["diskCalls"] = diskCalls;
  std::int64_t slept = 0;
  for (auto ns : sleepsNs) slept += ns;
  log["sleptNs"] = slept;
  log["virtualClockNs"] = clockNs;
  return log;
}

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
  m->calls.load(d);
  if (d.contains("callLog")) {
    std::filesystem::path log = d.at("callLog").get<std::string>();
    m->callLogPath = log.is_relative() ? base / log : log;
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
