// Files, raw drives, handles and paths of the simulated machine.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace pbaloader::sim {

class Machine;
struct HostFileState;

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
  // directory), when it lies on a mapped drive.
  std::optional<std::filesystem::path> hostPathOf(os::WStringView windowsPath) const;
  // The absolute Windows form of a path (relative ones joined to the current directory).
  os::WString absolutePath(os::WStringView windowsPath) const;
  // Number of handles open now.
  std::size_t openHandleCount() const;

 private:
  Machine& machine_;
  std::map<os::Handle, OpenObject> handles_;
  os::Handle nextHandle_ = 0x100;
  friend struct FileSystemAccess;
};

}  // namespace pbaloader::sim
