// What the fuzz targets share: a reader over the fuzzer's bytes and a
// platform that forwards to an empty simulated machine, with hooks for the
// calls whose answers come from outside (a drive, a driver, the management
// service, the console).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "platform/sim/machine.h"

namespace pbaloader::fuzz {

// Fails the run on a broken invariant. Unlike assert it stays in every build.
#define PBA_FUZZ_CHECK(condition)                                              \
  do {                                                                         \
    if (!(condition)) ::pbaloader::fuzz::fail(#condition, __FILE__, __LINE__); \
  } while (0)
[[noreturn]] void fail(const char* condition, const char* file, int line);

// The fuzzer's bytes taken in order; past their end every read gives zeros.
class Bytes {
 public:
  Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool empty() const { return used_ >= size_; }
  std::size_t left() const { return empty() ? 0 : size_ - used_; }
  std::uint8_t u8() {
    std::uint8_t b = 0;
    copy(&b, 1);
    return b;
  }
  std::uint16_t u16() { return static_cast<std::uint16_t>(u8() | u8() << 8); }
  std::uint32_t u32() { return u16() | static_cast<std::uint32_t>(u16()) << 16; }
  // Fills count bytes at out, zeros past the end of the input.
  void copy(void* out, std::size_t count);
  // Up to count bytes as they stand (fewer at the end of the input).
  std::span<const std::uint8_t> take(std::size_t count);
  std::span<const std::uint8_t> rest() { return take(left()); }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t used_ = 0;
};

// Forwards every call to an empty simulated machine (no disks, no service
// objects, the machine's console with no input). Targets override the calls
// whose answers they feed from the fuzzer.
class FuzzPlatform : public os::Platform {
 public:
  FuzzPlatform();
  ~FuzzPlatform() override;

  sim::Machine& machine() { return *machine_; }

  bool stdoutIsConsole() override;
  os::Status writeConsoleW(os::WStringView text) override;
  os::Result<std::size_t> writeStdout(std::string_view bytes) override;
  void flushStdout() override;
  int readStdin() override;
  void unreadStdin(int byte) override;
  os::ModuleFileName getModuleFileNameW(std::uint32_t capacity) override;
  void exitProcess(int status) override;
  os::Result<int> multiByteToWideChar(std::uint32_t codePage, std::uint32_t flags,
                                      std::string_view in, std::span<char16_t> out) override;
  os::Result<int> wideCharToMultiByte(std::uint32_t codePage, std::uint32_t flags,
                                      os::WStringView in, std::span<char> out) override;
  os::Result<os::Handle> createFileW(os::WStringView path, std::uint32_t access,
                                     std::uint32_t share, std::uint32_t disposition,
                                     std::uint32_t flags) override;
  os::Result<os::Handle> createFileA(std::string_view path, std::uint32_t access,
                                     std::uint32_t share, std::uint32_t disposition,
                                     std::uint32_t flags) override;
  os::Transfer readFile(os::Handle handle, void* buffer, std::uint32_t size) override;
  os::Transfer writeFile(os::Handle handle, const void* buffer, std::uint32_t size) override;
  os::FilePointer setFilePointer(os::Handle handle, std::int32_t low, const std::int32_t* high,
                                 std::uint32_t method) override;
  os::Status closeHandle(os::Handle handle) override;
  os::Status deleteFileW(os::WStringView path) override;
  os::Transfer deviceIoControl(os::Handle handle, std::uint32_t code, const void* in,
                               std::uint32_t inSize, void* out, std::uint32_t outSize) override;
  os::Result<std::uint32_t> formatMessageA(std::uint32_t flags, std::uint32_t code,
                                           std::uint32_t language, char* buffer,
                                           std::uint32_t size) override;
  std::int32_t coInitializeEx(std::uint32_t mode) override;
  void coUninitialize() override;
  std::int32_t coInitializeSecurity(std::int32_t authnServices, std::uint32_t authnLevel,
                                    std::uint32_t impLevel, std::uint32_t capabilities) override;
  os::ComResult coCreateInstance(const os::Guid& clsid, std::uint32_t context,
                                 const os::Guid& iid) override;
  os::ComResult connectServer(os::ComRef locator, os::WStringView namespacePath) override;
  std::int32_t coSetProxyBlanket(os::ComRef proxy, std::uint32_t authn, std::uint32_t authz,
                                 std::uint32_t authnLevel, std::uint32_t impLevel,
                                 std::uint32_t capabilities) override;
  os::ComResult execQuery(os::ComRef services, os::WStringView language, os::WStringView query,
                          std::int32_t flags) override;
  os::NextResult enumNext(os::ComRef enumerator, std::int32_t timeout) override;
  std::int32_t objectGet(os::ComRef object, os::WStringView name, os::Variant& value) override;
  void release(os::ComRef object) override;
  os::Result<os::DevInfoSet> setupDiGetClassDevsW(const os::Guid& classGuid,
                                                  std::uint32_t flags) override;
  os::Status setupDiEnumDeviceInterfaces(os::DevInfoSet set, const os::Guid& classGuid,
                                         std::uint32_t index,
                                         os::DeviceInterfaceData& data) override;
  os::Status setupDiGetDeviceInterfaceDetailW(os::DevInfoSet set,
                                              const os::DeviceInterfaceData& data, void* detail,
                                              std::uint32_t detailSize, std::uint32_t* requiredSize,
                                              os::DevInfoData* devInfo) override;
  os::Status setupDiGetDeviceRegistryPropertyW(os::DevInfoSet set, const os::DevInfoData& devInfo,
                                               std::uint32_t property, void* buffer,
                                               std::uint32_t size,
                                               std::uint32_t* requiredSize) override;
  os::Status setupDiDestroyDeviceInfoList(os::DevInfoSet set) override;
  os::Status getVolumeNameForVolumeMountPointW(os::WStringView mountPoint, char16_t* buffer,
                                               std::uint32_t length) override;
  os::Status getVolumePathNamesForVolumeNameW(os::WStringView volumeName, char16_t* buffer,
                                              std::uint32_t length,
                                              std::uint32_t* returnLength) override;
  os::Result<os::WString> getCurrentDirectoryW() override;
  os::Result<os::WString> getSystemDirectoryW() override;
  os::Result<std::vector<os::DirEntry>> listDirectoryW(os::WStringView directory) override;
  int runSystemCommand(std::string_view commandLine) override;
  std::int64_t steadyNowNs() override;
  void sleepUntilNs(std::int64_t deadlineNs) override;

 private:
  std::unique_ptr<sim::Machine> machine_;
  std::unique_ptr<os::Platform> inner_;
};

// A drive whose every answer to a control code comes from the fuzzer: the
// call's outcome, then for the pass-through records the status, sense or
// registers and the data the driver hands back, for the buffered codes the
// byte count and the output bytes. It opens under any path.
class HostileDrivePlatform : public FuzzPlatform {
 public:
  static constexpr os::Handle DriveHandle = 0x4D0;

  explicit HostileDrivePlatform(Bytes& bytes) : bytes_(bytes) {}

  os::Result<os::Handle> createFileA(std::string_view path, std::uint32_t access,
                                     std::uint32_t share, std::uint32_t disposition,
                                     std::uint32_t flags) override;
  os::Result<os::Handle> createFileW(os::WStringView path, std::uint32_t access,
                                     std::uint32_t share, std::uint32_t disposition,
                                     std::uint32_t flags) override;
  os::Status closeHandle(os::Handle handle) override;
  os::Transfer deviceIoControl(os::Handle handle, std::uint32_t code, const void* in,
                               std::uint32_t inSize, void* out, std::uint32_t outSize) override;

  int openHandles() const { return open_; }

 protected:
  Bytes& bytes_;

 private:
  // The call's outcome: mostly success, else one of the error codes the tool
  // tells apart.
  os::Transfer outcome();
  int open_ = 0;
};

// The hostile drive, plus a volume manager and device setup services whose
// answers also come from the fuzzer: a few volume interfaces (each opening
// as the hostile drive), the volume names and the mount point lists.
class HostileStoragePlatform : public HostileDrivePlatform {
 public:
  using HostileDrivePlatform::HostileDrivePlatform;

  os::Result<os::DevInfoSet> setupDiGetClassDevsW(const os::Guid& classGuid,
                                                  std::uint32_t flags) override;
  os::Status setupDiEnumDeviceInterfaces(os::DevInfoSet set, const os::Guid& classGuid,
                                         std::uint32_t index,
                                         os::DeviceInterfaceData& data) override;
  os::Status setupDiGetDeviceInterfaceDetailW(os::DevInfoSet set,
                                              const os::DeviceInterfaceData& data, void* detail,
                                              std::uint32_t detailSize, std::uint32_t* requiredSize,
                                              os::DevInfoData* devInfo) override;
  os::Status setupDiDestroyDeviceInfoList(os::DevInfoSet set) override;
  os::Status getVolumeNameForVolumeMountPointW(os::WStringView mountPoint, char16_t* buffer,
                                               std::uint32_t length) override;
  os::Status getVolumePathNamesForVolumeNameW(os::WStringView volumeName, char16_t* buffer,
                                              std::uint32_t length,
                                              std::uint32_t* returnLength) override;

  int openSets() const { return sets_; }

 private:
  int sets_ = 0;
};

}  // namespace pbaloader::fuzz
