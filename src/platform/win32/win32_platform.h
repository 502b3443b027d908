// The real Windows implementation of the seam: thin forwarding only. Each
// group of members is defined in the file named beside it.
#pragma once

#include "platform/platform.h"

namespace pbaloader::win32 {

using namespace pbaloader::os;

class Win32Platform final : public os::Platform {
 public:
  // --- Console and process (console.cpp) ---------------------------------
  // Whether standard output is a console (GetConsoleMode on the standard
  // output handle succeeds).
  bool stdoutIsConsole() override;
  // WriteConsoleW of the whole text to the standard output handle; ok only
  // when every unit was written.
  Status writeConsoleW(WStringView text) override;
  // fwrite(bytes, 1, size, stdout): the number of bytes written.
  Result<std::size_t> writeStdout(std::string_view bytes) override;
  // fflush(stdout).
  void flushStdout() override;
  // getc(stdin): a byte 0..255, or -1 at the end of input.
  int readStdin() override;
  // ungetc(byte, stdin): the next readStdin returns byte again.
  void unreadStdin(int byte) override;
  // GetModuleFileNameW(no module, buffer of capacity units, capacity).
  ModuleFileName getModuleFileNameW(std::uint32_t capacity) override;
  // Ends the process with the status (ExitProcess on Windows).
  void exitProcess(int status) override;

  // --- Text conversion (console.cpp) -------------------------------------
  // MultiByteToWideChar(codePage, flags, in, in.size(), out, out.size()); an
  // empty out asks for the length. value is the call's return value.
  Result<int> multiByteToWideChar(std::uint32_t codePage, std::uint32_t flags, std::string_view in,
                                  std::span<char16_t> out) override;
  // WideCharToMultiByte(codePage, flags, in, in.size(), out, out.size(), no
  // default character, no used-default flag).
  Result<int> wideCharToMultiByte(std::uint32_t codePage, std::uint32_t flags, WStringView in,
                                  std::span<char> out) override;

  // --- Files and raw drives (files.cpp) ----------------------------------
  // CreateFileW(path, access, share, no security attributes, disposition,
  // flagsAndAttributes, no template). value is InvalidHandle on failure.
  Result<Handle> createFileW(WStringView path, std::uint32_t access, std::uint32_t share,
                             std::uint32_t disposition, std::uint32_t flagsAndAttributes) override;
  // CreateFileA with the same arguments (the path in the ANSI code page).
  Result<Handle> createFileA(std::string_view path, std::uint32_t access, std::uint32_t share,
                             std::uint32_t disposition, std::uint32_t flagsAndAttributes) override;
  // ReadFile(handle, buffer, size, &count, no overlapped).
  Transfer readFile(Handle handle, void* buffer, std::uint32_t size) override;
  // WriteFile(handle, buffer, size, &count, no overlapped).
  Transfer writeFile(Handle handle, const void* buffer, std::uint32_t size) override;
  // SetFilePointer(handle, low, &high or null, method).
  FilePointer setFilePointer(Handle handle, std::int32_t low, const std::int32_t* high,
                             std::uint32_t method) override;
  // CloseHandle.
  Status closeHandle(Handle handle) override;
  // DeleteFileW.
  Status deleteFileW(WStringView path) override;

  // --- Device control (device.cpp) --------------------------------------
  // DeviceIoControl(handle, code, in, inSize, out, outSize, &bytesReturned,
  // no overlapped). in and out may be the same buffer. count is bytes returned.
  Transfer deviceIoControl(Handle handle, std::uint32_t code, const void* in, std::uint32_t inSize,
                           void* out, std::uint32_t outSize) override;

  // --- Message tables (device.cpp) --------------------------------------
  // FormatMessageA(flags, no source, code, language, buffer, size, no
  // arguments): value is the number of characters stored (0 on failure).
  Result<std::uint32_t> formatMessageA(std::uint32_t flags, std::uint32_t code,
                                       std::uint32_t language, char* buffer,
                                       std::uint32_t size) override;

  // --- COM and the management service (com.cpp) -------------------------
  std::int32_t coInitializeEx(std::uint32_t mode) override;
  void coUninitialize() override;
  // CoInitializeSecurity(null, authnServices, null, null, authnLevel,
  // impLevel, null, capabilities, null).
  std::int32_t coInitializeSecurity(std::int32_t authnServices, std::uint32_t authnLevel,
                                    std::uint32_t impLevel, std::uint32_t capabilities) override;
  // CoCreateInstance(clsid, no outer object, context, iid).
  ComResult coCreateInstance(const Guid& clsid, std::uint32_t context, const Guid& iid) override;
  // IWbemLocator::ConnectServer(namespace, no user, no password, no locale,
  // flags 0, no authority, no context).
  ComResult connectServer(ComRef locator, WStringView namespacePath) override;
  // CoSetProxyBlanket(proxy, authn, authz, no principal, authnLevel, impLevel,
  // no identity, capabilities).
  std::int32_t coSetProxyBlanket(ComRef proxy, std::uint32_t authn, std::uint32_t authz,
                                 std::uint32_t authnLevel, std::uint32_t impLevel,
                                 std::uint32_t capabilities) override;
  // IWbemServices::ExecQuery(language, query, flags, no context).
  ComResult execQuery(ComRef services, WStringView language, WStringView query,
                      std::int32_t flags) override;
  // IEnumWbemClassObject::Next(timeout, 1 object).
  NextResult enumNext(ComRef enumerator, std::int32_t timeout) override;
  // IWbemClassObject::Get(name, 0, value, no type, no flavour), the VARIANT
  // converted into our own and cleared again.
  std::int32_t objectGet(ComRef object, WStringView name, Variant& value) override;
  // IUnknown::Release.
  void release(ComRef object) override;

  // --- Device setup services and the volume manager (setup.cpp) ---------
  // SetupDiGetClassDevsW(classGuid, no enumerator, no window, flags).
  Result<DevInfoSet> setupDiGetClassDevsW(const Guid& classGuid, std::uint32_t flags) override;
  // SetupDiEnumDeviceInterfaces(set, no device data, classGuid, index, data);
  // the caller sets data.cbSize.
  Status setupDiEnumDeviceInterfaces(DevInfoSet set, const Guid& classGuid, std::uint32_t index,
                                     DeviceInterfaceData& data) override;
  // SetupDiGetDeviceInterfaceDetailW(set, data, detail, detailSize,
  // requiredSize or null, devInfo or null). detail is the caller's
  // SP_DEVICE_INTERFACE_DETAIL_DATA_W buffer (cbSize at offset 0 set by the
  // caller, DevicePath from offset 4).
  Status setupDiGetDeviceInterfaceDetailW(DevInfoSet set, const DeviceInterfaceData& data,
                                          void* detail, std::uint32_t detailSize,
                                          std::uint32_t* requiredSize,
                                          DevInfoData* devInfo) override;
  // SetupDiGetDeviceRegistryPropertyW(set, devInfo, property, no type, buffer,
  // size, requiredSize or null).
  Status setupDiGetDeviceRegistryPropertyW(DevInfoSet set, const DevInfoData& devInfo,
                                           std::uint32_t property, void* buffer, std::uint32_t size,
                                           std::uint32_t* requiredSize) override;
  Status setupDiDestroyDeviceInfoList(DevInfoSet set) override;
  // GetVolumeNameForVolumeMountPointW(mountPoint, buffer, length).
  Status getVolumeNameForVolumeMountPointW(WStringView mountPoint, char16_t* buffer,
                                           std::uint32_t length) override;
  // GetVolumePathNamesForVolumeNameW(volumeName, buffer, length, &returnLength).
  Status getVolumePathNamesForVolumeNameW(WStringView volumeName, char16_t* buffer,
                                          std::uint32_t length,
                                          std::uint32_t* returnLength) override;

  // --- Process environment and the file system (process.cpp) -----------
  // GetCurrentDirectoryW.
  Result<WString> getCurrentDirectoryW() override;
  // GetSystemDirectoryW.
  Result<WString> getSystemDirectoryW() override;
  // FindFirstFileW(directory + "\\*") / FindNextFileW / FindClose: every
  // entry, "." and ".." included, in the order the system lists them.
  Result<std::vector<DirEntry>> listDirectoryW(WStringView directory) override;
  // The run-time library's system(): runs the command line through the
  // command interpreter and waits; the interpreter's exit status.
  int runSystemCommand(std::string_view commandLine) override;

  // --- Clock (files.cpp) -------------------------------------------------
  // The steady (monotonic) clock in nanoseconds.
  std::int64_t steadyNowNs() override;
  // Sleeps until the steady clock reaches the deadline.
  void sleepUntilNs(std::int64_t deadlineNs) override;
};

// The process's platform, installed by main.
Win32Platform& instance();

}  // namespace pbaloader::win32
