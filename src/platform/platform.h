// The one seam between the tool and the operating system.
//
// Every member forwards one Windows call (or one C run-time call) in our own
// types and hands back the system error code that the call left, instead of
// leaving it in thread-global state. Decisions (retries, buffer layouts,
// decoding, the order of calls) are made above this seam, so that they run
// unchanged against the simulated machine and against the real system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pbaloader::os {

using WString = std::u16string;
using WStringView = std::u16string_view;

// A kernel object handle (file, raw disk, device interface). Opaque above the seam.
using Handle = std::uintptr_t;
inline constexpr Handle InvalidHandle = ~Handle{0};

// A COM interface pointer (locator, services, enumerator, class object). 0 is null.
using ComRef = std::uintptr_t;

// A device information set of the device setup services.
using DevInfoSet = std::uintptr_t;
inline constexpr DevInfoSet InvalidDevInfoSet = ~DevInfoSet{0};

struct Guid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::uint8_t data4[8] = {};
  friend bool operator==(const Guid&, const Guid&) = default;
};
static_assert(sizeof(Guid) == 16);

// Outcome of a call that succeeds or fails; error is the system error code
// that the call left (0 after a success unless the call documents otherwise).
struct Status {
  bool ok = false;
  std::uint32_t error = 0;
};

// A value together with the system error code of the call that produced it.
template <class T>
struct Result {
  T value{};
  std::uint32_t error = 0;
};

// ReadFile, WriteFile and DeviceIoControl: success, the byte count the call
// reported, and the error code.
struct Transfer {
  bool ok = false;
  std::uint32_t count = 0;
  std::uint32_t error = 0;
};

// SetFilePointer: the returned low 32 bits (0xFFFFFFFF on failure), the high
// 32 bits written back through the high-part pointer, and the error code.
struct FilePointer {
  std::uint32_t low = 0;
  std::int32_t high = 0;
  std::uint32_t error = 0;
};

// GetModuleFileNameW: the buffer's contents up to the returned length, the
// returned length itself, and the error code.
struct ModuleFileName {
  WString text;
  std::uint32_t returned = 0;
  std::uint32_t error = 0;
};

// One entry of a directory listing (FindFirstFileW / FindNextFileW).
struct DirEntry {
  WString name;               // last path component as listed
  bool directory = false;     // FILE_ATTRIBUTE_DIRECTORY
  bool reparsePoint = false;  // FILE_ATTRIBUTE_REPARSE_POINT: symbolic link or junction
};

// Result of a COM call that yields an interface.
struct ComResult {
  std::int32_t hr = 0;
  ComRef object = 0;
};

// IEnumWbemClassObject::Next with one object asked for.
struct NextResult {
  std::int32_t hr = 0;
  ComRef object = 0;
  std::uint32_t returned = 0;
};

// Our own VARIANT: carries exactly what the management-service layer examines.
struct Variant {
  std::uint16_t type = 0;          // VARTYPE (VT_EMPTY 0, VT_NULL 1, VT_I4 3, VT_BSTR 8, ...)
  bool nullText = false;           // VT_BSTR holding a null BSTR
  WString text;                    // VT_BSTR text up to its terminating null
  std::uint64_t integer = 0;       // VT_I4/VT_UI4 in the low 32 bits, VT_I8/VT_UI8 whole
  std::uint32_t dimensions = 0;    // VT_ARRAY: number of dimensions of the SAFEARRAY
  std::uint32_t elementCount = 0;  // VT_ARRAY: element count of the first dimension
  bool accessFailed = false;       // VT_ARRAY: SafeArrayAccessData failed
  std::vector<WString> elements;   // VT_ARRAY|VT_BSTR: texts (a null element as empty)
};

// SP_DEVICE_INTERFACE_DATA as laid out on 64-bit Windows (32 bytes).
struct DeviceInterfaceData {
  std::uint32_t cbSize = 0;
  Guid interfaceClassGuid;
  std::uint32_t flags = 0;
  std::uint64_t reserved = 0;
};
static_assert(sizeof(DeviceInterfaceData) == 32);

// SP_DEVINFO_DATA as laid out on 64-bit Windows (32 bytes).
struct DevInfoData {
  std::uint32_t cbSize = 0;
  Guid classGuid;
  std::uint32_t devInst = 0;
  std::uint64_t reserved = 0;
};
static_assert(sizeof(DevInfoData) == 32);

class Platform {
 public:
  virtual ~Platform() = default;

  // --- Console and process -------------------------------------------------
  // Whether standard output is a console (GetConsoleMode on the standard
  // output handle succeeds).
  virtual bool stdoutIsConsole() = 0;
  // WriteConsoleW of the whole text to the standard output handle; ok only
  // when every unit was written.
  virtual Status writeConsoleW(WStringView text) = 0;
  // fwrite(bytes, 1, size, stdout): the number of bytes written.
  virtual Result<std::size_t> writeStdout(std::string_view bytes) = 0;
  // fflush(stdout).
  virtual void flushStdout() = 0;
  // getc(stdin): a byte 0..255, or -1 at the end of input.
  virtual int readStdin() = 0;
  // ungetc(byte, stdin): the next readStdin returns byte again.
  virtual void unreadStdin(int byte) = 0;
  // GetModuleFileNameW(no module, buffer of capacity units, capacity).
  virtual ModuleFileName getModuleFileNameW(std::uint32_t capacity) = 0;
  // Ends the process with the status (ExitProcess on Windows).
  virtual void exitProcess(int status) = 0;

  // --- Text conversion -----------------------------------------------------
  // MultiByteToWideChar(codePage, flags, in, in.size(), out, out.size()); an
  // empty out asks for the length. value is the call's return value.
  virtual Result<int> multiByteToWideChar(std::uint32_t codePage, std::uint32_t flags,
                                          std::string_view in, std::span<char16_t> out) = 0;
  // WideCharToMultiByte(codePage, flags, in, in.size(), out, out.size(), no
  // default character, no used-default flag).
  virtual Result<int> wideCharToMultiByte(std::uint32_t codePage, std::uint32_t flags,
                                          WStringView in, std::span<char> out) = 0;

  // --- Files and raw drives ------------------------------------------------
  // CreateFileW(path, access, share, no security attributes, disposition,
  // flagsAndAttributes, no template). value is InvalidHandle on failure.
  virtual Result<Handle> createFileW(WStringView path, std::uint32_t access, std::uint32_t share,
                                     std::uint32_t disposition,
                                     std::uint32_t flagsAndAttributes) = 0;
  // CreateFileA with the same arguments (the path in the ANSI code page).
  virtual Result<Handle> createFileA(std::string_view path, std::uint32_t access,
                                     std::uint32_t share, std::uint32_t disposition,
                                     std::uint32_t flagsAndAttributes) = 0;
  // ReadFile(handle, buffer, size, &count, no overlapped).
  virtual Transfer readFile(Handle handle, void* buffer, std::uint32_t size) = 0;
  // WriteFile(handle, buffer, size, &count, no overlapped).
  virtual Transfer writeFile(Handle handle, const void* buffer, std::uint32_t size) = 0;
  // SetFilePointer(handle, low, &high or null, method).
  virtual FilePointer setFilePointer(Handle handle, std::int32_t low, const std::int32_t* high,
                                     std::uint32_t method) = 0;
  // CloseHandle.
  virtual Status closeHandle(Handle handle) = 0;
  // DeleteFileW.
  virtual Status deleteFileW(WStringView path) = 0;

  // --- Device control ------------------------------------------------------
  // DeviceIoControl(handle, code, in, inSize, out, outSize, &bytesReturned,
  // no overlapped). in and out may be the same buffer. count is bytes returned.
  virtual Transfer deviceIoControl(Handle handle, std::uint32_t code, const void* in,
                                   std::uint32_t inSize, void* out, std::uint32_t outSize) = 0;

  // --- Message tables ------------------------------------------------------
  // FormatMessageA(flags, no source, code, language, buffer, size, no
  // arguments): value is the number of characters stored (0 on failure).
  virtual Result<std::uint32_t> formatMessageA(std::uint32_t flags, std::uint32_t code,
                                               std::uint32_t language, char* buffer,
                                               std::uint32_t size) = 0;

  // --- COM and the management service ---------------------------------------
  virtual std::int32_t coInitializeEx(std::uint32_t mode) = 0;
  virtual void coUninitialize() = 0;
  // CoInitializeSecurity(null, authnServices, null, null, authnLevel,
  // impLevel, null, capabilities, null).
  virtual std::int32_t coInitializeSecurity(std::int32_t authnServices, std::uint32_t authnLevel,
                                            std::uint32_t impLevel, std::uint32_t capabilities) = 0;
  // CoCreateInstance(clsid, no outer object, context, iid).
  virtual ComResult coCreateInstance(const Guid& clsid, std::uint32_t context, const Guid& iid) = 0;
  // IWbemLocator::ConnectServer(namespace, no user, no password, no locale,
  // flags 0, no authority, no context).
  virtual ComResult connectServer(ComRef locator, WStringView namespacePath) = 0;
  // CoSetProxyBlanket(proxy, authn, authz, no principal, authnLevel, impLevel,
  // no identity, capabilities).
  virtual std::int32_t coSetProxyBlanket(ComRef proxy, std::uint32_t authn, std::uint32_t authz,
                                         std::uint32_t authnLevel, std::uint32_t impLevel,
                                         std::uint32_t capabilities) = 0;
  // IWbemServices::ExecQuery(language, query, flags, no context).
  virtual ComResult execQuery(ComRef services, WStringView language, WStringView query,
                              std::int32_t flags) = 0;
  // IEnumWbemClassObject::Next(timeout, 1 object).
  virtual NextResult enumNext(ComRef enumerator, std::int32_t timeout) = 0;
  // IWbemClassObject::Get(name, 0, value, no type, no flavour), the VARIANT
  // converted into our own and cleared again.
  virtual std::int32_t objectGet(ComRef object, WStringView name, Variant& value) = 0;
  // IUnknown::Release.
  virtual void release(ComRef object) = 0;

  // --- Device setup services and the volume manager -------------------------
  // SetupDiGetClassDevsW(classGuid, no enumerator, no window, flags).
  virtual Result<DevInfoSet> setupDiGetClassDevsW(const Guid& classGuid, std::uint32_t flags) = 0;
  // SetupDiEnumDeviceInterfaces(set, no device data, classGuid, index, data);
  // the caller sets data.cbSize.
  virtual Status setupDiEnumDeviceInterfaces(DevInfoSet set, const Guid& classGuid,
                                             std::uint32_t index, DeviceInterfaceData& data) = 0;
  // SetupDiGetDeviceInterfaceDetailW(set, data, detail, detailSize,
  // requiredSize or null, devInfo or null). detail is the caller's
  // SP_DEVICE_INTERFACE_DETAIL_DATA_W buffer (cbSize at offset 0 set by the
  // caller, DevicePath from offset 4).
  virtual Status setupDiGetDeviceInterfaceDetailW(DevInfoSet set, const DeviceInterfaceData& data,
                                                  void* detail, std::uint32_t detailSize,
                                                  std::uint32_t* requiredSize,
                                                  DevInfoData* devInfo) = 0;
  // SetupDiGetDeviceRegistryPropertyW(set, devInfo, property, no type, buffer,
  // size, requiredSize or null).
  virtual Status setupDiGetDeviceRegistryPropertyW(DevInfoSet set, const DevInfoData& devInfo,
                                                   std::uint32_t property, void* buffer,
                                                   std::uint32_t size,
                                                   std::uint32_t* requiredSize) = 0;
  virtual Status setupDiDestroyDeviceInfoList(DevInfoSet set) = 0;
  // GetVolumeNameForVolumeMountPointW(mountPoint, buffer, length).
  virtual Status getVolumeNameForVolumeMountPointW(WStringView mountPoint, char16_t* buffer,
                                                   std::uint32_t length) = 0;
  // GetVolumePathNamesForVolumeNameW(volumeName, buffer, length, &returnLength).
  virtual Status getVolumePathNamesForVolumeNameW(WStringView volumeName, char16_t* buffer,
                                                  std::uint32_t length,
                                                  std::uint32_t* returnLength) = 0;

  // --- Process environment and the file system ------------------------------
  // GetCurrentDirectoryW.
  virtual Result<WString> getCurrentDirectoryW() = 0;
  // GetSystemDirectoryW.
  virtual Result<WString> getSystemDirectoryW() = 0;
  // FindFirstFileW(directory + "\\*") / FindNextFileW / FindClose: every
  // entry, "." and ".." included, in the order the system lists them.
  virtual Result<std::vector<DirEntry>> listDirectoryW(WStringView directory) = 0;
  // The run-time library's system(): runs the command line through the
  // command interpreter and waits; the interpreter's exit status.
  virtual int runSystemCommand(std::string_view commandLine) = 0;

  // --- Clock ----------------------------------------------------------------
  // The steady (monotonic) clock in nanoseconds.
  virtual std::int64_t steadyNowNs() = 0;
  // Sleeps until the steady clock reaches the deadline.
  virtual void sleepUntilNs(std::int64_t deadlineNs) = 0;
};

// The platform that the tool's code talks to. Set once by main, or for the
// duration of a test by ScopedPlatform.
Platform& current();

class ScopedPlatform {
 public:
  explicit ScopedPlatform(Platform& platform);
  ~ScopedPlatform();
  ScopedPlatform(const ScopedPlatform&) = delete;
  ScopedPlatform& operator=(const ScopedPlatform&) = delete;

 private:
  Platform* previous_;
};

}  // namespace pbaloader::os
