// The Platform implementation that forwards every call of the seam to the
// facility of a Machine that owns it. The Linux host platform derives from it.
#pragma once

#include "platform/sim/machine.h"
#include "platform/winconst.h"

namespace pbaloader::sim {

class SimPlatform : public os::Platform {
 public:
  explicit SimPlatform(Machine& m) : m_(m) {}

  bool stdoutIsConsole() override { return m_.console.stdoutIsConsole(); }
  os::Status writeConsoleW(os::WStringView text) override { return m_.console.writeConsoleW(text); }
  os::Result<std::size_t> writeStdout(std::string_view bytes) override {
    return m_.console.writeStdout(bytes);
  }
  void flushStdout() override { m_.console.flushStdout(); }
  int readStdin() override { return m_.console.readStdin(); }
  void unreadStdin(int byte) override { m_.console.unreadStdin(byte); }
  os::ModuleFileName getModuleFileNameW(std::uint32_t capacity) override {
    return m_.console.getModuleFileNameW(capacity);
  }
  void exitProcess(int status) override { m_.console.exitProcess(status); }
  os::Result<int> multiByteToWideChar(std::uint32_t cp, std::uint32_t flags, std::string_view in,
                                      std::span<char16_t> out) override {
    return m_.console.multiByteToWideChar(cp, flags, in, out);
  }
  os::Result<int> wideCharToMultiByte(std::uint32_t cp, std::uint32_t flags, os::WStringView in,
                                      std::span<char> out) override {
    return m_.console.wideCharToMultiByte(cp, flags, in, out);
  }

  os::Result<os::Handle> createFileW(os::WStringView path, std::uint32_t access,
                                     std::uint32_t share, std::uint32_t disposition,
                                     std::uint32_t flags) override {
    return m_.files.createFileW(path, access, share, disposition, flags);
  }
  os::Result<os::Handle> createFileA(std::string_view path, std::uint32_t access,
                                     std::uint32_t share, std::uint32_t disposition,
                                     std::uint32_t flags) override {
    return m_.files.createFileA(path, access, share, disposition, flags);
  }
  os::Transfer readFile(os::Handle h, void* buffer, std::uint32_t size) override {
    return m_.files.readFile(h, buffer, size);
  }
  os::Transfer writeFile(os::Handle h, const void* buffer, std::uint32_t size) override {
    return m_.files.writeFile(h, buffer, size);
  }
  os::FilePointer setFilePointer(os::Handle h, std::int32_t low, const std::int32_t* high,
                                 std::uint32_t method) override {
    return m_.files.setFilePointer(h, low, high, method);
  }
  os::Status closeHandle(os::Handle h) override { return m_.files.closeHandle(h); }
  os::Status deleteFileW(os::WStringView path) override { return m_.files.deleteFileW(path); }

  os::Transfer deviceIoControl(os::Handle h, std::uint32_t code, const void* in,
                               std::uint32_t inSize, void* out, std::uint32_t outSize) override {
    OpenObject* object = m_.files.object(h);
    if (object == nullptr) return {false, 0, win::ErrorInvalidHandle};
    if (auto r = m_.storage.deviceIoControl(*object, code, in, inSize, out, outSize)) return *r;
    if (auto r = m_.setup.deviceIoControl(*object, code, in, inSize, out, outSize)) return *r;
    return {false, 0, win::ErrorInvalidFunction};
  }

  os::Result<std::uint32_t> formatMessageA(std::uint32_t flags, std::uint32_t code,
                                           std::uint32_t language, char* buffer,
                                           std::uint32_t size) override {
    return m_.messages.formatMessageA(flags, code, language, buffer, size);
  }

  std::int32_t coInitializeEx(std::uint32_t mode) override {
    return m_.management.coInitializeEx(mode);
  }
  void coUninitialize() override { m_.management.coUninitialize(); }
  std::int32_t coInitializeSecurity(std::int32_t services, std::uint32_t level, std::uint32_t imp,
                                    std::uint32_t caps) override {
    return m_.management.coInitializeSecurity(services, level, imp, caps);
  }
  os::ComResult coCreateInstance(const os::Guid& clsid, std::uint32_t context,
                                 const os::Guid& iid) override {
    return m_.management.coCreateInstance(clsid, context, iid);
  }
  os::ComResult connectServer(os::ComRef locator, os::WStringView ns) override {
    return m_.management.connectServer(locator, ns);
  }
  std::int32_t coSetProxyBlanket(os::ComRef proxy, std::uint32_t authn, std::uint32_t authz,
                                 std::uint32_t level, std::uint32_t imp,
                                 std::uint32_t caps) override {
    return m_.management.coSetProxyBlanket(proxy, authn, authz, level, imp, caps);
  }
  os::ComResult execQuery(os::ComRef services, os::WStringView language, os::WStringView query,
                          std::int32_t flags) override {
    return m_.management.execQuery(services, language, query, flags);
  }
  os::NextResult enumNext(os::ComRef enumerator, std::int32_t timeout) override {
    return m_.management.enumNext(enumerator, timeout);
  }
  std::int32_t objectGet(os::ComRef object, os::WStringView name, os::Variant& value) override {
    return m_.management.objectGet(object, name, value);
  }
  void release(os::ComRef object) override { m_.management.release(object); }

  os::Result<os::DevInfoSet> setupDiGetClassDevsW(const os::Guid& guid,
                                                  std::uint32_t flags) override {
    return m_.setup.setupDiGetClassDevsW(guid, flags);
  }
  os::Status setupDiEnumDeviceInterfaces(os::DevInfoSet set, const os::Guid& guid,
                                         std::uint32_t index,
                                         os::DeviceInterfaceData& data) override {
    return m_.setup.setupDiEnumDeviceInterfaces(set, guid, index, data);
  }
  os::Status setupDiGetDeviceInterfaceDetailW(os::DevInfoSet set,
                                              const os::DeviceInterfaceData& data, void* detail,
                                              std::uint32_t size, std::uint32_t* required,
                                              os::DevInfoData* devInfo) override {
    return m_.setup.setupDiGetDeviceInterfaceDetailW(set, data, detail, size, required, devInfo);
  }
  os::Status setupDiGetDeviceRegistryPropertyW(os::DevInfoSet set, const os::DevInfoData& devInfo,
                                               std::uint32_t property, void* buffer,
                                               std::uint32_t size,
                                               std::uint32_t* required) override {
    return m_.setup.setupDiGetDeviceRegistryPropertyW(set, devInfo, property, buffer, size,
                                                      required);
  }
  os::Status setupDiDestroyDeviceInfoList(os::DevInfoSet set) override {
    return m_.setup.setupDiDestroyDeviceInfoList(set);
  }
  os::Status getVolumeNameForVolumeMountPointW(os::WStringView mountPoint, char16_t* buffer,
                                               std::uint32_t length) override {
    return m_.setup.getVolumeNameForVolumeMountPointW(mountPoint, buffer, length);
  }
  os::Status getVolumePathNamesForVolumeNameW(os::WStringView name, char16_t* buffer,
                                              std::uint32_t length,
                                              std::uint32_t* returned) override {
    return m_.setup.getVolumePathNamesForVolumeNameW(name, buffer, length, returned);
  }

  os::Result<os::WString> getCurrentDirectoryW() override {
    return m_.files.getCurrentDirectoryW();
  }
  os::Result<os::WString> getSystemDirectoryW() override { return m_.files.getSystemDirectoryW(); }
  os::Result<std::vector<os::DirEntry>> listDirectoryW(os::WStringView directory) override {
    return m_.shell.listDirectoryW(directory);
  }
  int runSystemCommand(std::string_view commandLine) override {
    return m_.shell.runSystemCommand(commandLine);
  }

  std::int64_t steadyNowNs() override { return m_.clockNs; }
  void sleepUntilNs(std::int64_t deadline) override {
    m_.sleepsNs.push_back(deadline > m_.clockNs ? deadline - m_.clockNs : 0);
    if (deadline > m_.clockNs) m_.clockNs = deadline;
  }

 protected:
  Machine& m_;
};

}  // namespace pbaloader::sim
