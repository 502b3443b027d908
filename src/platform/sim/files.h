// Files, raw drives, handles and paths of the simulated machine.
//
// Ordinary paths on a mapped drive letter are real host files. Device paths
// (\\.\..., \\?\... other than \\?\C:\...) open what Machine::registerDevice
// registered. Raw disks behave as Windows raw disk I/O does: offsets and
// lengths must be whole sectors (error 87), a read that starts at or past the
// end succeeds with 0 bytes, one that crosses the end is cut short there, and
// a write that does not fit inside the disk fails with error 27 and writes
// nothing.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace pbaloader::sim {

class Machine;
struct HostFileState;

// The Windows error code a failed host call stands for (ENOENT 2, ENOTDIR 3,
// EACCES/EPERM/EISDIR/EROFS 5, EBUSY 32, EEXIST 80, EINVAL 87, ENOSPC 112,
// EIO 1117, ENXIO/ENODEV/ENOMEDIUM 1167, ETIMEDOUT 1460, ENOTTY 1, ENOMEM 8,
// anything else 31).
std::uint32_t windowsErrorOfErrno(int error);

// Failures injected into one disk (its "faults" object) or one ordinary file
// (an entry of the machine's "fileFaults"). Offsets are absolute byte offsets.
struct IoFaults {
  std::optional<std::uint64_t> failWritesFrom;   // a write touching this byte or later fails
  std::optional<std::uint64_t> failReadsFrom;    // a read touching this byte or later fails
  std::optional<std::uint64_t> shortWritesFrom;  // a write stops here and reports fewer bytes
  std::optional<std::uint64_t> shortReadsFrom;   // a read stops here and reports fewer bytes
  std::vector<std::uint64_t> flipByteOnReadAt;   // these bytes read back inverted
  std::uint32_t failWritesCount = 0;             // the next N write calls fail
  std::uint32_t failReadsCount = 0;              // the next N read calls fail
  std::uint32_t failSeeksCount = 0;              // the next N SetFilePointer calls fail
  std::uint32_t failOpensCount = 0;              // the next N opens fail with openError
  std::optional<std::uint64_t> failWritesAfter;  // write calls after the first N fail
  std::optional<std::uint64_t> failSeeksAfter;   // SetFilePointer calls after the first N fail
  bool failSeeks = false;                        // every SetFilePointer fails
  bool failOpens = false;                        // every open fails with openError
  bool heldOpenShared = false;   // another process holds it open, sharing read and write
  std::uint64_t writeCalls = 0;  // write calls seen, for failWritesAfter
  std::uint64_t seekCalls = 0;   // SetFilePointer calls seen, for failSeeksAfter
  // (disks) The drive is pulled for good once this many read, write and
  // control-code calls on its handles have gone through.
  std::optional<std::uint64_t> vanishAfterCalls;
  std::uint64_t driveCalls = 0;  // read, write and control-code calls seen
  // Presence: a handle opened before the last removal (epoch) names nothing
  // any more; gone: the drive did not come back, so opens find nothing.
  std::uint32_t epoch = 0;
  bool gone = false;
  std::uint32_t error = 1117;    // error of injected I/O and seek failures (ERROR_IO_DEVICE)
  std::uint32_t openError = 32;  // error of injected open failures (ERROR_SHARING_VIOLATION)

  static IoFaults fromJson(const nlohmann::json& faults);
};

// What the tool did to one disk or file, for tests to inspect.
struct IoRecord {
  std::uint64_t offset = 0;
  std::uint32_t size = 0;   // asked for
  std::uint32_t count = 0;  // reported
  bool ok = false;
};
struct IoLog {
  std::vector<IoRecord> writes;
  std::uint64_t readCalls = 0;
  std::uint64_t seekCalls = 0;
  std::uint64_t bytesWritten = 0;
  std::uint64_t bytesRead = 0;
};

// One CreateFileW/CreateFileA call.
struct OpenRecord {
  os::WString path;
  std::uint32_t access = 0;
  std::uint32_t share = 0;
  std::uint32_t disposition = 0;
  bool ok = false;
  std::uint32_t error = 0;
};

// One open handle.
struct OpenObject {
  enum class Kind { HostFile, RawDisk, DiskInterface, Volume };
  Kind kind = Kind::HostFile;
  int disk = -1;                // index into Machine::disks (all kinds but HostFile)
  std::uint32_t partition = 0;  // Volume
  std::uint32_t access = 0;
  std::uint32_t share = 0;
  std::uint32_t flags = 0;
  std::uint64_t position = 0;
  os::WString path;                     // as opened
  std::filesystem::path hostPath;       // HostFile
  std::shared_ptr<HostFileState> host;  // HostFile: owned by files.cpp
  IoFaults* faults = nullptr;           // the disk's or the file's faults, if any
  std::uint32_t epoch = 0;              // the disk's IoFaults::epoch when opened
  IoLog* log = nullptr;                 // the disk's or the file's record
};

class FileSystem {
 public:
  explicit FileSystem(Machine& machine);
  ~FileSystem();
  void load(const nlohmann::json& description);

  os::Result<os::Handle> createFileW(os::WStringView path, std::uint32_t access,
                                     std::uint32_t share, std::uint32_t disposition,
                                     std::uint32_t flagsAndAttributes);
  os::Result<os::Handle> createFileA(std::string_view path, std::uint32_t access,
                                     std::uint32_t share, std::uint32_t disposition,
                                     std::uint32_t flagsAndAttributes);
  os::Transfer readFile(os::Handle handle, void* buffer, std::uint32_t size);
  os::Transfer writeFile(os::Handle handle, const void* buffer, std::uint32_t size);
  os::FilePointer setFilePointer(os::Handle handle, std::int32_t low, const std::int32_t* high,
                                 std::uint32_t method);
  os::Status closeHandle(os::Handle handle);
  os::Status deleteFileW(os::WStringView path);
  os::Result<os::WString> getCurrentDirectoryW();
  os::Result<os::WString> getSystemDirectoryW();

  // The open object behind a handle, or null.
  OpenObject* object(os::Handle handle);
  // The host path a Windows path names (absolute, or relative to the current
  // directory), when it lies on a mapped drive. Components are matched
  // without regard to ASCII case against what exists.
  std::optional<std::filesystem::path> hostPathOf(os::WStringView windowsPath) const;
  // The absolute Windows form of a path (relative ones joined to the current
  // directory, "/" as "\", "." and ".." resolved).
  os::WString absolutePath(os::WStringView windowsPath) const;
  // A call that reaches a disk through this handle (read, write, control
  // code): the error it fails with when the drive went away; counts it
  // towards the disk's vanishAfterCalls.
  std::optional<std::uint32_t> deviceCall(OpenObject& object);
  // The drive is pulled: every handle open on it now fails its calls with 55
  // from here on. It comes back at once (re-enumerated, new opens reach it),
  // or, forGood, never (opens fail with 2).
  void vanish(int disk, bool forGood);
  // Number of handles open now.
  std::size_t openHandleCount() const;

  // Faults and record of a disk (by index into Machine::disks).
  IoFaults& diskFaults(int disk);
  IoLog& diskLog(int disk);
  // Faults of an ordinary file, by Windows path (created when missing).
  IoFaults& fileFaults(os::WStringView windowsPath);
  // Every open attempt, in order.
  std::vector<OpenRecord> opens;

 private:
  Machine& machine_;
  std::map<os::Handle, OpenObject> handles_;
  os::Handle nextHandle_ = 0x100;
  std::map<int, IoFaults> diskFaults_;
  std::map<int, IoLog> diskLogs_;
  std::map<os::WString, IoFaults> fileFaults_;  // key: upper-cased absolute path
  std::map<os::WString, IoLog> fileLogs_;
  std::string hostText(os::WStringView text) const;
  bool isDevice(os::WStringView path) const;
  os::WString posixAbsolutePath(os::WStringView path) const;
  friend struct FileSystemAccess;
};

}  // namespace pbaloader::sim
