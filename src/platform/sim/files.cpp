#include "platform/sim/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "platform/sim/machine.h"
#include "platform/winconst.h"

namespace pbaloader::sim {

// One host file opened through a handle.
struct HostFileState {
  int fd = -1;
  dev_t device = 0;
  ino_t inode = 0;
  ~HostFileState() {
    if (fd >= 0) ::close(fd);
  }
};

namespace {

// Access rights that take part in sharing, as the I/O manager sees them.
constexpr std::uint32_t RightRead = 1;
constexpr std::uint32_t RightWrite = 2;
constexpr std::uint32_t RightDelete = 4;

constexpr std::uint32_t GenericExecute = 0x20000000;
constexpr std::uint32_t GenericAll = 0x10000000;
constexpr std::uint32_t FileReadData = 0x1;
constexpr std::uint32_t FileWriteData = 0x2;
constexpr std::uint32_t FileAppendData = 0x4;
constexpr std::uint32_t FileExecute = 0x20;
constexpr std::uint32_t DeleteAccess = 0x10000;

std::uint32_t rightsOf(std::uint32_t access) {
  std::uint32_t r = 0;
  if (access & (win::GenericRead | GenericExecute | GenericAll | FileReadData | FileExecute))
    r |= RightRead;
  if (access & (win::GenericWrite | GenericAll | FileWriteData | FileAppendData)) r |= RightWrite;
  if (access & (GenericAll | DeleteAccess)) r |= RightDelete;
  return r;
}

// Whether a new open (access, share) can coexist with an existing one.
bool shareCompatible(std::uint32_t newAccess, std::uint32_t newShare, std::uint32_t oldAccess,
                     std::uint32_t oldShare) {
  const std::uint32_t n = rightsOf(newAccess);
  const std::uint32_t o = rightsOf(oldAccess);
  if (n == 0 || o == 0) return true;  // attribute-only opens never conflict
  auto allows = [](std::uint32_t share, std::uint32_t right) {
    if (right == RightRead) return (share & win::FileShareRead) != 0;
    if (right == RightWrite) return (share & win::FileShareWrite) != 0;
    return (share & win::FileShareDelete) != 0;
  };
  for (std::uint32_t right : {RightRead, RightWrite, RightDelete}) {
    if ((n & right) && !allows(oldShare, right)) return false;
    if ((o & right) && !allows(newShare, right)) return false;
  }
  return true;
}

char16_t upper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

os::WString upperAscii(os::WStringView text) {
  os::WString out(text);
  for (auto& c : out) c = upper(c);
  return out;
}

bool startsWith(os::WStringView text, os::WStringView prefix) {
  return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

bool isLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

bool hasDriveLetter(os::WStringView p) { return p.size() >= 2 && isLetter(p[0]) && p[1] == u':'; }

// The long form of a drive path ("\\?\C:\...") is an ordinary path; every
// other path under "\\.\" or "\\?\" names an object of the device namespace.
bool isDevicePath(os::WStringView p) {
  if (!startsWith(p, u"\\\\.\\") && !startsWith(p, u"\\\\?\\")) return false;
  const auto rest = p.substr(4);
  if (p[2] == u'?' && hasDriveLetter(rest) && (rest.size() == 2 || rest[2] == u'\\')) return false;
  return true;
}

bool equalsIgnoreCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto fa = static_cast<unsigned char>(a[i]);
    auto fb = static_cast<unsigned char>(b[i]);
    if (fa >= 'a' && fa <= 'z') fa -= 32;
    if (fb >= 'a' && fb <= 'z') fb -= 32;
    if (fa != fb) return false;
  }
  return true;
}

bool readOnlyMode(const struct stat& st) { return (st.st_mode & S_IWUSR) == 0; }

std::optional<std::uint64_t> optionalOffset(const nlohmann::json& j, const char* key) {
  if (!j.contains(key)) return std::nullopt;
  return j.at(key).get<std::uint64_t>();
}

// Shortens [offset, offset + count) so that it ends before limit.
std::uint32_t cutAt(std::optional<std::uint64_t> limit, std::uint64_t offset, std::uint32_t count) {
  if (!limit) return count;
  if (offset >= *limit) return 0;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(count, *limit - offset));
}

bool touches(std::optional<std::uint64_t> from, std::uint64_t offset, std::uint32_t count) {
  return from && count > 0 && offset + count > *from;
}

// Counts the call; true once more than limit calls have been made.
bool pastLimit(std::optional<std::uint64_t> limit, std::uint64_t& calls) {
  ++calls;
  return limit && calls > *limit;
}

bool takeOne(std::uint32_t& counter) {
  if (counter == 0) return false;
  --counter;
  return true;
}

void flipBytes(const IoFaults* faults, std::uint64_t offset, void* buffer, std::uint32_t count) {
  if (faults == nullptr) return;
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  for (std::uint64_t at : faults->flipByteOnReadAt)
    if (at >= offset && at < offset + count) bytes[at - offset] ^= 0xFF;
}

bool isRawIo(const OpenObject& o) {
  return o.kind == OpenObject::Kind::RawDisk || o.kind == OpenObject::Kind::DiskInterface;
}

// Raw disks and their interface paths are one device; a volume is its own.
bool sameDeviceObject(const OpenObject& a, OpenObject::Kind kind, int disk,
                      std::uint32_t partition) {
  if (a.disk != disk || a.kind == OpenObject::Kind::HostFile) return false;
  const bool aVolume = a.kind == OpenObject::Kind::Volume;
  const bool bVolume = kind == OpenObject::Kind::Volume;
  if (aVolume != bVolume) return false;
  return !aVolume || a.partition == partition;
}

}  // namespace

std::uint32_t windowsErrorOfErrno(int error) {
  switch (error) {
    case 0:
      return win::ErrorSuccess;
    case ENOENT:
      return win::ErrorFileNotFound;
    case ENOTDIR:
      return win::ErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
      return win::ErrorAccessDenied;
    case EBUSY:
      return win::ErrorSharingViolation;
    case EEXIST:
      return win::ErrorFileExists;
    case EINVAL:
      return win::ErrorInvalidParameter;
    case ENOSPC:
      return 112;  // ERROR_DISK_FULL
    case EIO:
      return win::ErrorIoDevice;
    case ETIMEDOUT:
      return win::ErrorTimeout;
    case ENXIO:
    case ENODEV:
    case ENOMEDIUM:
      return win::ErrorDeviceNotConnected;  // a stick pulled out
    case ENOTTY:
      return win::ErrorInvalidFunction;  // a control code the device does not know
    case ENOMEM:
      return win::ErrorNotEnoughMemory;
    default:
      return win::ErrorGenFailure;
  }
}

IoFaults IoFaults::fromJson(const nlohmann::json& j) {
  IoFaults f;
  if (!j.is_object()) return f;
  f.failWritesFrom = optionalOffset(j, "failWritesFrom");
  f.failReadsFrom = optionalOffset(j, "failReadsFrom");
  f.shortWritesFrom = optionalOffset(j, "shortWritesFrom");
  f.shortReadsFrom = optionalOffset(j, "shortReadsFrom");
  if (j.contains("flipByteOnReadAt")) {
    const auto& v = j.at("flipByteOnReadAt");
    if (v.is_array())
      for (const auto& e : v) f.flipByteOnReadAt.push_back(e.get<std::uint64_t>());
    else
      f.flipByteOnReadAt.push_back(v.get<std::uint64_t>());
  }
  f.failWritesCount = j.value("failWritesCount", 0u);
  f.failReadsCount = j.value("failReadsCount", 0u);
  f.failSeeksCount = j.value("failSeeksCount", 0u);
  f.failOpensCount = j.value("failOpensCount", 0u);
  f.failWritesAfter = optionalOffset(j, "failWritesAfter");
  f.failSeeksAfter = optionalOffset(j, "failSeeksAfter");
  f.vanishAfterCalls = optionalOffset(j, "vanishAfterCalls");
  f.failSeeks = j.value("failSeeks", false);
  f.failOpens = j.value("failOpens", false);
  f.heldOpenShared = j.value("heldOpenShared", false);
  f.error = j.value("error", f.error);
  f.openError = j.value("openError", f.openError);
  return f;
}

FileSystem::FileSystem(Machine& machine) : machine_(machine) {}
FileSystem::~FileSystem() = default;

void FileSystem::load(const nlohmann::json& description) {
  for (std::size_t i = 0; i < machine_.disks.size(); ++i) {
    const auto& d = machine_.disks[i].description;
    diskFaults_[static_cast<int>(i)] =
        d.contains("faults") ? IoFaults::fromJson(d.at("faults")) : IoFaults{};
  }
  if (description.contains("fileFaults")) {
    for (const auto& [path, faults] : description.at("fileFaults").items()) {
      // Keys are UTF-8 like every text of the description.
      os::WString wide(static_cast<std::size_t>(
                           machine_.console.multiByteToWideChar(win::CpUtf8, 0, path, {}).value),
                       u'\0');
      machine_.console.multiByteToWideChar(win::CpUtf8, 0, path, wide);
      fileFaults(wide) = IoFaults::fromJson(faults);
    }
  }
}

IoFaults& FileSystem::diskFaults(int disk) { return diskFaults_[disk]; }
IoLog& FileSystem::diskLog(int disk) { return diskLogs_[disk]; }
IoFaults& FileSystem::fileFaults(os::WStringView windowsPath) {
  return fileFaults_[upperAscii(absolutePath(windowsPath))];
}

bool FileSystem::isDevice(os::WStringView path) const {
  if (machine_.posixPaths) return machine_.findDevice(path) != nullptr;
  return isDevicePath(path);
}

os::WString FileSystem::posixAbsolutePath(os::WStringView input) const {
  // A drive-letter path names nothing on this machine and is kept as it is.
  if (isDevice(input) || hasDriveLetter(input) || startsWith(input, u"\\\\"))
    return os::WString(input);
  std::filesystem::path p(hostText(input));
  if (p.is_relative()) p = std::filesystem::path(hostText(machine_.currentDirectory)) / p;
  std::string text = p.lexically_normal().string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return std::filesystem::path(text).u16string();
}

os::WString FileSystem::absolutePath(os::WStringView input) const {
  if (machine_.posixPaths) return posixAbsolutePath(input);
  os::WString p(input);
  std::replace(p.begin(), p.end(), u'/', u'\\');
  if (isDevicePath(p)) return p;
  if (startsWith(p, u"\\\\?\\"))
    p = p.substr(4);  // the long form of a drive path
  else if (startsWith(p, u"\\\\"))
    return p;  // a network path: no drive of this machine

  const os::WString& cwd = machine_.currentDirectory;
  const char16_t cwdDrive = cwd.empty() ? u'C' : upper(cwd[0]);
  char16_t drive = cwdDrive;
  os::WString joined;
  if (hasDriveLetter(p)) {
    drive = upper(p[0]);
    const os::WString rest = p.substr(2);
    if (!rest.empty() && rest[0] == u'\\')
      joined = rest;
    else if (drive == cwdDrive)
      joined = (cwd.size() > 2 ? cwd.substr(2) : os::WString()) + u"\\" + rest;
    else
      joined = u"\\" + rest;
  } else if (!p.empty() && p[0] == u'\\') {
    joined = p;
  } else {
    joined = (cwd.size() > 2 ? cwd.substr(2) : os::WString()) + u"\\" + p;
  }

  std::vector<os::WString> parts;
  std::size_t start = 0;
  while (start <= joined.size()) {
    std::size_t end = joined.find(u'\\', start);
    if (end == os::WString::npos) end = joined.size();
    os::WString part = joined.substr(start, end - start);
    if (part == u"..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != u".") {
      parts.push_back(std::move(part));
    }
    start = end + 1;
  }
  os::WString out{drive, u':'};
  if (parts.empty()) return out + u"\\";
  for (const auto& part : parts) out += u"\\" + part;
  return out;
}

// Host names are UTF-8, converted as the machine's own WideCharToMultiByte does.
std::string FileSystem::hostText(os::WStringView text) const {
  std::string out(static_cast<std::size_t>(
                      machine_.console.wideCharToMultiByte(win::CpUtf8, 0, text, {}).value),
                  '\0');
  machine_.console.wideCharToMultiByte(win::CpUtf8, 0, text, out);
  return out;
}

std::optional<std::filesystem::path> FileSystem::hostPathOf(os::WStringView windowsPath) const {
  const os::WString abs = absolutePath(windowsPath);
  if (machine_.posixPaths) {
    if (abs.empty() || abs[0] != u'/') return std::nullopt;
    return std::filesystem::path(hostText(abs));
  }
  if (!hasDriveLetter(abs)) return std::nullopt;
  auto drive = machine_.drives.find(static_cast<char>(upper(abs[0])));
  if (drive == machine_.drives.end()) return std::nullopt;
  std::filesystem::path host = drive->second;
  bool matching = true;  // below a component that does not exist nothing can
  std::size_t start = 3;
  while (start < abs.size()) {
    std::size_t end = abs.find(u'\\', start);
    if (end == os::WString::npos) end = abs.size();
    const std::string part = hostText(abs.substr(start, end - start));
    std::filesystem::path next = host / part;
    std::error_code ec;
    if (matching && !std::filesystem::exists(std::filesystem::symlink_status(next, ec))) {
      matching = false;
      for (const auto& entry : std::filesystem::directory_iterator(host, ec)) {
        if (equalsIgnoreCase(entry.path().filename().string(), part)) {
          next = entry.path();
          matching = true;
          break;
        }
      }
    }
    host = next;
    start = end + 1;
  }
  return host;
}

os::Result<os::Handle> FileSystem::createFileW(os::WStringView path, std::uint32_t access,
                                               std::uint32_t share, std::uint32_t disposition,
                                               std::uint32_t flagsAndAttributes) {
  path = path.substr(0, path.find(u'\0'));  // the API sees a terminated string
  OpenObject object;
  object.access = access;
  object.share = share;
  object.flags = flagsAndAttributes;
  object.path = os::WString(path);
  std::uint32_t error = 0;

  auto conflicts = [&](auto&& same) {
    for (const auto& [h, other] : handles_)
      if (same(other) && !shareCompatible(access, share, other.access, other.share)) return true;
    return false;
  };

  if (path.empty()) {
    error = win::ErrorPathNotFound;
  } else if (isDevice(path)) {
    const DeviceNode* node = machine_.findDevice(path);
    if (node == nullptr || diskFaults_[node->disk].gone) {
      error = win::ErrorFileNotFound;
    } else if (disposition != win::OpenExisting && disposition != win::OpenAlways) {
      error = win::ErrorInvalidParameter;
    } else {
      object.kind = node->kind == DeviceNode::Kind::RawDisk ? OpenObject::Kind::RawDisk
                    : node->kind == DeviceNode::Kind::DiskInterface
                        ? OpenObject::Kind::DiskInterface
                        : OpenObject::Kind::Volume;
      object.disk = node->disk;
      object.partition = node->partition;
      IoFaults& faults = diskFaults_[node->disk];
      object.faults = &faults;
      object.epoch = faults.epoch;
      object.log = &diskLogs_[node->disk];
      const bool held = faults.heldOpenShared && object.kind != OpenObject::Kind::Volume;
      if (faults.failOpens || takeOne(faults.failOpensCount)) {
        error = faults.openError;
      } else if ((held && !shareCompatible(access, share, win::GenericRead | win::GenericWrite,
                                           win::FileShareRead | win::FileShareWrite)) ||
                 conflicts([&](const OpenObject& o) {
                   return sameDeviceObject(o, object.kind, object.disk, object.partition);
                 })) {
        error = win::ErrorSharingViolation;
      } else if (object.kind != OpenObject::Kind::Volume) {
        error = machine_.disks.at(static_cast<std::size_t>(node->disk)).store->claim(access, share);
      }
    }
  } else {
    auto host = hostPathOf(path);
    struct stat st {};
    struct stat parentSt {};
    if (!host || ::stat(host->parent_path().c_str(), &parentSt) != 0 ||
        !S_ISDIR(parentSt.st_mode)) {
      error = win::ErrorPathNotFound;
    } else {
      object.hostPath = *host;
      const bool exists = ::stat(host->c_str(), &st) == 0;
      const bool wantsWrite = (rightsOf(access) & RightWrite) != 0;
      auto faultIt = fileFaults_.find(upperAscii(absolutePath(path)));
      if (faultIt != fileFaults_.end()) object.faults = &faultIt->second;
      object.log = &fileLogs_[upperAscii(absolutePath(path))];
      bool create = false;
      bool truncate = false;
      if (exists && S_ISDIR(st.st_mode)) {
        error = win::ErrorAccessDenied;
      } else {
        switch (disposition) {
          case win::CreateNew:
            if (exists) error = win::ErrorFileExists;
            create = !exists;
            break;
          case win::CreateAlways:
            create = !exists;
            truncate = exists;
            break;
          case win::OpenExisting:
            if (!exists) error = win::ErrorFileNotFound;
            break;
          case win::OpenAlways:
            create = !exists;
            break;
          case win::TruncateExisting:
            if (!exists)
              error = win::ErrorFileNotFound;
            else if (!wantsWrite)
              error = win::ErrorInvalidParameter;
            truncate = exists;
            break;
          default:
            error = win::ErrorInvalidParameter;
        }
      }
      if (error == 0 && exists && (wantsWrite || truncate) && readOnlyMode(st))
        error = win::ErrorAccessDenied;
      if (error == 0 && create && readOnlyMode(parentSt)) error = win::ErrorAccessDenied;
      if (error == 0 && object.faults != nullptr &&
          (object.faults->failOpens || takeOne(object.faults->failOpensCount)))
        error = object.faults->openError;
      if (error == 0 && exists && conflicts([&](const OpenObject& o) {
            return o.host && o.host->device == st.st_dev && o.host->inode == st.st_ino;
          }))
        error = win::ErrorSharingViolation;
      if (error == 0) {
        auto state = std::make_shared<HostFileState>();
        int flags = O_CLOEXEC | (create ? O_CREAT | O_EXCL : 0) | (truncate ? O_TRUNC : 0);
        // The descriptor can always write when the file allows it; the
        // handle's own access decides what the tool may do with it.
        const bool hostWritable = create || !readOnlyMode(st);
        flags |= hostWritable ? O_RDWR : O_RDONLY;
        state->fd = ::open(host->c_str(), flags, 0666);
        if (state->fd < 0) {
          error = windowsErrorOfErrno(errno);
        } else {
          if (create && (flagsAndAttributes & win::FileAttributeReadonly))
            ::fchmod(state->fd, 0444);
          struct stat opened {};
          ::fstat(state->fd, &opened);
          state->device = opened.st_dev;
          state->inode = opened.st_ino;
          object.host = std::move(state);
          // Success, but the file was there already.
          if (exists && (disposition == win::CreateAlways || disposition == win::OpenAlways))
            error = win::ErrorAlreadyExists;
        }
      }
      if (!object.host && error == 0) error = win::ErrorGenFailure;
    }
  }

  const bool ok =
      object.kind != OpenObject::Kind::HostFile
          ? error == 0
          : static_cast<bool>(object.host) && (error == 0 || error == win::ErrorAlreadyExists);
  opens.push_back(OpenRecord{object.path, access, share, disposition, ok, error});
  if (!ok) return {os::InvalidHandle, error};
  const os::Handle handle = nextHandle_;
  nextHandle_ += 4;
  handles_.emplace(handle, std::move(object));
  return {handle, error};
}

os::Result<os::Handle> FileSystem::createFileA(std::string_view path, std::uint32_t access,
                                               std::uint32_t share, std::uint32_t disposition,
                                               std::uint32_t flagsAndAttributes) {
  // The ANSI code page of the simulated machine maps each byte to the same
  // code point (Latin-1).
  os::WString wide;
  for (char c : path) wide.push_back(static_cast<unsigned char>(c));
  return createFileW(wide, access, share, disposition, flagsAndAttributes);
}

os::Transfer FileSystem::readFile(os::Handle handle, void* buffer, std::uint32_t size) {
  OpenObject* o = object(handle);
  if (o == nullptr) return {false, 0, win::ErrorInvalidHandle};
  if (o->log) ++o->log->readCalls;
  if ((o->access & (win::GenericRead | GenericAll | FileReadData)) == 0)
    return {false, 0, win::ErrorAccessDenied};
  if (auto gone = deviceCall(*o)) return {false, 0, *gone};
  if (o->kind == OpenObject::Kind::Volume) return {false, 0, win::ErrorInvalidFunction};

  std::uint32_t count = size;
  if (isRawIo(*o)) {
    const SimDisk& disk = machine_.disks.at(static_cast<std::size_t>(o->disk));
    if (o->position % disk.sectorSize != 0 || size % disk.sectorSize != 0)
      return {false, 0, win::ErrorInvalidParameter};
    count =
        o->position >= disk.size
            ? 0
            : static_cast<std::uint32_t>(std::min<std::uint64_t>(size, disk.size - o->position));
  }
  if (IoFaults* f = o->faults) {
    if (takeOne(f->failReadsCount) || touches(f->failReadsFrom, o->position, count))
      return {false, 0, f->error};
    count = cutAt(f->shortReadsFrom, o->position, count);
  }

  if (isRawIo(*o)) {
    SimDisk& disk = machine_.disks.at(static_cast<std::size_t>(o->disk));
    if (count > 0 && !disk.store->read(o->position, buffer, count))
      return {false, 0, win::ErrorIoDevice};
  } else {
    std::uint32_t done = 0;
    auto* out = static_cast<std::uint8_t*>(buffer);
    while (done < count) {
      const ssize_t n =
          ::pread(o->host->fd, out + done, count - done, static_cast<off_t>(o->position + done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return {false, 0, windowsErrorOfErrno(errno)};
      if (n == 0) break;  // end of file: a short count, not an error
      done += static_cast<std::uint32_t>(n);
    }
    count = done;
  }
  flipBytes(o->faults, o->position, buffer, count);
  o->position += count;
  if (o->log) o->log->bytesRead += count;
  return {true, count, 0};
}

os::Transfer FileSystem::writeFile(os::Handle handle, const void* buffer, std::uint32_t size) {
  OpenObject* o = object(handle);
  if (o == nullptr) return {false, 0, win::ErrorInvalidHandle};
  const std::uint64_t at = o->position;
  auto finish = [&](os::Transfer t) {
    if (o->log) {
      o->log->writes.push_back(IoRecord{at, size, t.count, t.ok});
      o->log->bytesWritten += t.count;
    }
    if (t.ok) o->position += t.count;
    return t;
  };
  if ((rightsOf(o->access) & RightWrite) == 0) return finish({false, 0, win::ErrorAccessDenied});
  if (auto gone = deviceCall(*o)) return finish({false, 0, *gone});
  if (o->kind == OpenObject::Kind::Volume) return finish({false, 0, win::ErrorInvalidFunction});

  std::uint32_t count = size;
  if (isRawIo(*o)) {
    const SimDisk& disk = machine_.disks.at(static_cast<std::size_t>(o->disk));
    if (at % disk.sectorSize != 0 || size % disk.sectorSize != 0)
      return finish({false, 0, win::ErrorInvalidParameter});
    if (at > disk.size || size > disk.size - at)
      return finish({false, 0, win::ErrorSectorNotFound});
  }
  if (IoFaults* f = o->faults) {
    const bool worn = pastLimit(f->failWritesAfter, f->writeCalls);
    if (worn || takeOne(f->failWritesCount) || touches(f->failWritesFrom, at, size))
      return finish({false, 0, f->error});
    count = cutAt(f->shortWritesFrom, at, size);
  }

  if (isRawIo(*o)) {
    SimDisk& disk = machine_.disks.at(static_cast<std::size_t>(o->disk));
    if (count > 0 && !disk.store->write(at, buffer, count))
      return finish({false, 0, win::ErrorIoDevice});
  } else {
    std::uint32_t done = 0;
    const auto* in = static_cast<const std::uint8_t*>(buffer);
    while (done < count) {
      const ssize_t n =
          ::pwrite(o->host->fd, in + done, count - done, static_cast<off_t>(at + done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return finish({false, done, windowsErrorOfErrno(errno)});
      done += static_cast<std::uint32_t>(n);
    }
  }
  return finish({true, count, 0});
}

os::FilePointer FileSystem::setFilePointer(os::Handle handle, std::int32_t low,
                                           const std::int32_t* high, std::uint32_t method) {
  const std::int32_t highIn = high ? *high : 0;
  auto fail = [&](std::uint32_t error) {
    return os::FilePointer{win::InvalidSetFilePointer, highIn, error};
  };
  OpenObject* o = object(handle);
  if (o == nullptr) return fail(win::ErrorInvalidHandle);
  if (o->log) ++o->log->seekCalls;
  if (IoFaults* f = o->faults) {
    const bool worn = pastLimit(f->failSeeksAfter, f->seekCalls);
    if (worn || f->failSeeks || takeOne(f->failSeeksCount)) return fail(f->error);
  }

  std::int64_t base = 0;
  if (method == win::FileCurrent) {
    base = static_cast<std::int64_t>(o->position);
  } else if (method == win::FileEnd) {
    if (isRawIo(*o) || o->kind == OpenObject::Kind::Volume) {
      base = static_cast<std::int64_t>(machine_.disks.at(static_cast<std::size_t>(o->disk)).size);
    } else {
      struct stat st {};
      if (::fstat(o->host->fd, &st) != 0) return fail(win::ErrorGenFailure);
      base = st.st_size;
    }
  } else if (method != win::FileBegin) {
    return fail(win::ErrorInvalidParameter);
  }
  const std::int64_t distance =
      high ? static_cast<std::int64_t>(
                 (static_cast<std::uint64_t>(static_cast<std::uint32_t>(*high)) << 32) |
                 static_cast<std::uint32_t>(low))
           : static_cast<std::int64_t>(low);
  std::int64_t target = 0;
  if (__builtin_add_overflow(base, distance, &target)) return fail(win::ErrorInvalidParameter);
  if (target < 0) return fail(win::ErrorNegativeSeek);
  // Without a high part the caller could not tell where it stands.
  if (high == nullptr && target > 0xFFFFFFFFll) return fail(win::ErrorInvalidParameter);
  o->position = static_cast<std::uint64_t>(target);
  return os::FilePointer{static_cast<std::uint32_t>(o->position),
                         high ? static_cast<std::int32_t>(o->position >> 32) : 0, 0};
}

os::Status FileSystem::closeHandle(os::Handle handle) {
  auto it = handles_.find(handle);
  if (it == handles_.end()) return {false, win::ErrorInvalidHandle};
  if (isRawIo(it->second))
    machine_.disks.at(static_cast<std::size_t>(it->second.disk))
        .store->release(it->second.access, it->second.share);
  handles_.erase(it);
  return {true, 0};
}

os::Status FileSystem::deleteFileW(os::WStringView path) {
  path = path.substr(0, path.find(u'\0'));
  if (path.empty()) return {false, win::ErrorPathNotFound};
  if (isDevice(path))
    return {false, machine_.findDevice(path) ? win::ErrorAccessDenied : win::ErrorFileNotFound};
  auto host = hostPathOf(path);
  struct stat parentSt {};
  if (!host || ::stat(host->parent_path().c_str(), &parentSt) != 0 || !S_ISDIR(parentSt.st_mode))
    return {false, win::ErrorPathNotFound};
  struct stat st {};
  if (::stat(host->c_str(), &st) != 0) return {false, win::ErrorFileNotFound};
  if (S_ISDIR(st.st_mode) || readOnlyMode(st) || readOnlyMode(parentSt))
    return {false, win::ErrorAccessDenied};
  for (const auto& [h, o] : handles_)
    if (o.host && o.host->device == st.st_dev && o.host->inode == st.st_ino &&
        (o.share & win::FileShareDelete) == 0)
      return {false, win::ErrorSharingViolation};
  if (::unlink(host->c_str()) != 0) return {false, windowsErrorOfErrno(errno)};
  return {true, 0};
}

os::Result<os::WString> FileSystem::getCurrentDirectoryW() {
  return {machine_.currentDirectory, 0};
}

os::Result<os::WString> FileSystem::getSystemDirectoryW() { return {machine_.systemDirectory, 0}; }

OpenObject* FileSystem::object(os::Handle h) {
  auto it = handles_.find(h);
  return it == handles_.end() ? nullptr : &it->second;
}

std::size_t FileSystem::openHandleCount() const { return handles_.size(); }

std::optional<std::uint32_t> FileSystem::deviceCall(OpenObject& o) {
  if (o.kind == OpenObject::Kind::HostFile || o.faults == nullptr) return std::nullopt;
  IoFaults& f = *o.faults;
  if (!f.gone && pastLimit(f.vanishAfterCalls, f.driveCalls)) vanish(o.disk, true);
  // The class driver fails every request on a removed device with
  // STATUS_DEVICE_DOES_NOT_EXIST, which the caller sees as error 55.
  if (o.epoch != f.epoch) return win::ErrorDevNotExist;
  return std::nullopt;
}

void FileSystem::vanish(int disk, bool forGood) {
  IoFaults& f = diskFaults_[disk];
  ++f.epoch;
  if (forGood) f.gone = true;
}

}  // namespace pbaloader::sim
