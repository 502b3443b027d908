// The Platform implementation that forwards every call of the seam to the
// facility of a Machine that owns it. The Linux host platform derives from it.
//
// Every member is counted here, and fails here when the description's
// "failCall" names that call, the way the real call fails: before it reaches
// the facility, so a failed call changes nothing.
#pragma once

#include <optional>

#include "platform/sim/machine.h"
#include "platform/winconst.h"

namespace pbaloader::sim {

class SimPlatform : public os::Platform {
 public:
  explicit SimPlatform(Machine& m) : m_(m) {}

  // GetConsoleMode failing reads as "not a console".
  bool stdoutIsConsole() override {
    if (fails("stdoutIsConsole")) return false;
    return m_.console.stdoutIsConsole();
  }
  os::Status writeConsoleW(os::WStringView text) override {
    if (auto e = fails("writeConsoleW")) return {false, *e};
    return m_.console.writeConsoleW(text);
  }
  os::Result<std::size_t> writeStdout(std::string_view bytes) override {
    if (auto e = fails("writeStdout")) return {0, *e};
    return m_.console.writeStdout(bytes);
  }
  void flushStdout() override {
    fails("flushStdout");
    m_.console.flushStdout();
  }
  int readStdin() override {
    if (fails("readStdin")) return -1;
    return m_.console.readStdin();
  }
  void unreadStdin(int byte) override {
    fails("unreadStdin");
    m_.console.unreadStdin(byte);
  }
  os::ModuleFileName getModuleFileNameW(std::uint32_t capacity) override {
    if (auto e = fails("getModuleFileNameW")) return {{}, 0, *e};
    return m_.console.getModuleFileNameW(capacity);
  }
  void exitProcess(int status) override {
    fails("exitProcess");
    m_.console.exitProcess(status);
  }
  os::Result<int> multiByteToWideChar(std::uint32_t cp, std::uint32_t flags, std::string_view in,
                                      std::span<char16_t> out) override {
    if (auto e = fails("multiByteToWideChar")) return {0, *e};
    return m_.console.multiByteToWideChar(cp, flags, in, out);
  }
  os::Result<int> wideCharToMultiByte(std::uint32_t cp, std::uint32_t flags, os::WStringView in,
                                      std::span<char> out) override {
    if (auto e = fails("wideCharToMultiByte")) return {0, *e};
    return m_.console.wideCharToMultiByte(cp, flags, in, out);
  }

  os::Result<os::Handle> createFileW(os::WStringView path, std::uint32_t access,
                                     std::uint32_t share, std::uint32_t disposition,
                                     std::uint32_t flags) override {
    if (auto e = fails("createFileW")) return {os::InvalidHandle, *e};
    return m_.files.createFileW(path, access, share, disposition, flags);
  }
  os::Result<os::Handle> createFileA(std::string_view path, std::uint32_t access,
                                     std::uint32_t share, std::uint32_t disposition,
                                     std::uint32_t flags) override {
    if (auto e = fails("createFileA")) return {os::InvalidHandle, *e};
    return m_.files.createFileA(path, access, share, disposition, flags);
  }
  os::Transfer readFile(os::Handle h, void* buffer, std::uint32_t size) override {
    if (auto e = fails("readFile")) return {false, 0, *e};
    return m_.files.readFile(h, buffer, size);
  }
  os::Transfer writeFile(os::Handle h, const void* buffer, std::uint32_t size) override {
    if (auto e = fails("writeFile")) return {false, 0, *e};
    return m_.files.writeFile(h, buffer, size);
  }
  os::FilePointer setFilePointer(os::Handle h, std::int32_t low, const std::int32_t* high,
                                 std::uint32_t method) override {
    if (auto e = fails("setFilePointer")) return {win::InvalidSetFilePointer, high ? *high : 0, *e};
    return m_.files.setFilePointer(h, low, high, method);
  }
  // A CloseHandle that fails on a valid handle has still closed it: the
  // handle is released and the error reported.
  os::Status closeHandle(os::Handle h) override {
    const auto e = fails("closeHandle");
    const os::Status closed = m_.files.closeHandle(h);
    if (e && closed.ok) return {false, *e};
    return closed;
  }
  os::Status deleteFileW(os::WStringView path) override {
    if (auto e = fails("deleteFileW")) return {false, *e};
    return m_.files.deleteFileW(path);
  }

  os::Transfer deviceIoControl(os::Handle h, std::uint32_t code, const void* in,
                               std::uint32_t inSize, void* out, std::uint32_t outSize) override {
    if (auto e = fails("deviceIoControl")) return {false, 0, *e};
    OpenObject* object = m_.files.object(h);
    if (object == nullptr) return {false, 0, win::ErrorInvalidHandle};
    if (auto e = m_.files.deviceCall(*object)) return {false, 0, *e};
    if (auto r = m_.storage.deviceIoControl(*object, code, in, inSize, out, outSize)) return *r;
    if (auto r = m_.setup.deviceIoControl(*object, code, in, inSize, out, outSize)) return *r;
    return {false, 0, win::ErrorInvalidFunction};
  }

  os::Result<std::uint32_t> formatMessageA(std::uint32_t flags, std::uint32_t code,
                                           std::uint32_t language, char* buffer,
                                           std::uint32_t size) override {
    if (auto e = fails("formatMessageA")) return {0, *e};
    return m_.messages.formatMessageA(flags, code, language, buffer, size);
  }

  std::int32_t coInitializeEx(std::uint32_t mode) override {
    if (auto e = fails("coInitializeEx")) return hresult(*e);
    return m_.management.coInitializeEx(mode);
  }
  void coUninitialize() override {
    fails("coUninitialize");
    m_.management.coUninitialize();
  }
  std::int32_t coInitializeSecurity(std::int32_t services, std::uint32_t level, std::uint32_t imp,
                                    std::uint32_t caps) override {
    if (auto e = fails("coInitializeSecurity")) return hresult(*e);
    return m_.management.coInitializeSecurity(services, level, imp, caps);
  }
  os::ComResult coCreateInstance(const os::Guid& clsid, std::uint32_t context,
                                 const os::Guid& iid) override {
    if (auto e = fails("coCreateInstance")) return {hresult(*e), 0};
    return m_.management.coCreateInstance(clsid, context, iid);
  }
  os::ComResult connectServer(os::ComRef locator, os::WStringView ns) override {
    if (auto e = fails("connectServer")) return {hresult(*e), 0};
    return m_.management.connectServer(locator, ns);
  }
  std::int32_t coSetProxyBlanket(os::ComRef proxy, std::uint32_t authn, std::uint32_t authz,
                                 std::uint32_t level, std::uint32_t imp,
                                 std::uint32_t caps) override {
    if (auto e = fails("coSetProxyBlanket")) return hresult(*e);
    return m_.management.coSetProxyBlanket(proxy, authn, authz, level, imp, caps);
  }
  os::ComResult execQuery(os::ComRef services, os::WStringView language, os::WStringView query,
                          std::int32_t flags) override {
    if (auto e = fails("execQuery")) return {hresult(*e), 0};
    return m_.management.execQuery(services, language, query, flags);
  }
  os::NextResult enumNext(os::ComRef enumerator, std::int32_t timeout) override {
    if (auto e = fails("enumNext")) return {hresult(*e), 0, 0};
    return m_.management.enumNext(enumerator, timeout);
  }
  std::int32_t objectGet(os::ComRef object, os::WStringView name, os::Variant& value) override {
    if (auto e = fails("objectGet")) return hresult(*e);
    return m_.management.objectGet(object, name, value);
  }
  void release(os::ComRef object) override {
    fails("release");
    m_.management.release(object);
  }

  os::Result<os::DevInfoSet> setupDiGetClassDevsW(const os::Guid& guid,
                                                  std::uint32_t flags) override {
    if (auto e = fails("setupDiGetClassDevsW")) return {os::InvalidDevInfoSet, *e};
    return m_.setup.setupDiGetClassDevsW(guid, flags);
  }
  os::Status setupDiEnumDeviceInterfaces(os::DevInfoSet set, const os::Guid& guid,
                                         std::uint32_t index,
                                         os::DeviceInterfaceData& data) override {
    if (auto e = fails("setupDiEnumDeviceInterfaces")) return {false, *e};
    return m_.setup.setupDiEnumDeviceInterfaces(set, guid, index, data);
  }
  os::Status setupDiGetDeviceInterfaceDetailW(os::DevInfoSet set,
                                              const os::DeviceInterfaceData& data, void* detail,
                                              std::uint32_t size, std::uint32_t* required,
                                              os::DevInfoData* devInfo) override {
    if (auto e = fails("setupDiGetDeviceInterfaceDetailW")) return {false, *e};
    return m_.setup.setupDiGetDeviceInterfaceDetailW(set, data, detail, size, required, devInfo);
  }
  os::Status setupDiGetDeviceRegistryPropertyW(os::DevInfoSet set, const os::DevInfoData& devInfo,
                                               std::uint32_t property, void* buffer,
                                               std::uint32_t size,
                                               std::uint32_t* required) override {
    if (auto e = fails("setupDiGetDeviceRegistryPropertyW")) return {false, *e};
    return m_.setup.setupDiGetDeviceRegistryPropertyW(set, devInfo, property, buffer, size,
                                                      required);
  }
  os::Status setupDiDestroyDeviceInfoList(os::DevInfoSet set) override {
    // Like CloseHandle: the set is gone even when the call reports a failure.
    const auto e = fails("setupDiDestroyDeviceInfoList");
    const os::Status destroyed = m_.setup.setupDiDestroyDeviceInfoList(set);
    if (e && destroyed.ok) return {false, *e};
    return destroyed;
  }
  os::Status getVolumeNameForVolumeMountPointW(os::WStringView mountPoint, char16_t* buffer,
                                               std::uint32_t length) override {
    if (auto e = fails("getVolumeNameForVolumeMountPointW")) return {false, *e};
    return m_.setup.getVolumeNameForVolumeMountPointW(mountPoint, buffer, length);
  }
  os::Status getVolumePathNamesForVolumeNameW(os::WStringView name, char16_t* buffer,
                                              std::uint32_t length,
                                              std::uint32_t* returned) override {
    if (auto e = fails("getVolumePathNamesForVolumeNameW")) return {false, *e};
    return m_.setup.getVolumePathNamesForVolumeNameW(name, buffer, length, returned);
  }

  os::Result<os::WString> getCurrentDirectoryW() override {
    if (auto e = fails("getCurrentDirectoryW")) return {{}, *e};
    return m_.files.getCurrentDirectoryW();
  }
  os::Result<os::WString> getSystemDirectoryW() override {
    if (auto e = fails("getSystemDirectoryW")) return {{}, *e};
    return m_.files.getSystemDirectoryW();
  }
  os::Result<std::vector<os::DirEntry>> listDirectoryW(os::WStringView directory) override {
    if (auto e = fails("listDirectoryW")) return {{}, *e};
    return m_.shell.listDirectoryW(directory);
  }
  int runSystemCommand(std::string_view commandLine) override {
    // system() could not start the command interpreter.
    if (fails("runSystemCommand")) return -1;
    return m_.shell.runSystemCommand(commandLine);
  }

  std::int64_t steadyNowNs() override {
    fails("steadyNowNs");
    return m_.clockNs;
  }
  void sleepUntilNs(std::int64_t deadline) override {
    fails("sleepUntilNs");
    m_.sleepsNs.push_back(deadline > m_.clockNs ? deadline - m_.clockNs : 0);
    if (deadline > m_.clockNs) m_.clockNs = deadline;
  }

 protected:
  // Counts the call; the error it must fail with, if the description says so.
  std::optional<std::uint32_t> fails(const char* member) { return m_.calls.take(member); }
  static std::int32_t hresult(std::uint32_t error) { return static_cast<std::int32_t>(error); }

  Machine& m_;
};

}  // namespace pbaloader::sim
