#include "fuzz/support/fuzz_platform.h"

#include <algorithm>
#include <cstdio>

#include "platform/layout/device_interface_detail.h"
#include "platform/layout/pass_through.h"
#include "platform/winconst.h"

namespace pbaloader::fuzz {

void fail(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
  std::abort();
}

void Bytes::copy(void* out, std::size_t count) {
  const auto got = take(count);
  auto* bytes = static_cast<std::uint8_t*>(out);
  if (!got.empty()) std::memcpy(bytes, got.data(), got.size());
  std::memset(bytes + got.size(), 0, count - got.size());
}

std::span<const std::uint8_t> Bytes::take(std::size_t count) {
  const std::size_t n = std::min(count, left());
  std::span<const std::uint8_t> part(data_ + used_, n);
  used_ += n;
  return part;
}

FuzzPlatform::FuzzPlatform()
    : machine_(std::make_unique<sim::Machine>()), inner_(sim::makeSimPlatform(*machine_)) {
  // Never the host's standard input: a target that reads gets its own bytes.
  machine_->console.stdinText = std::string();
}
FuzzPlatform::~FuzzPlatform() = default;

bool FuzzPlatform::stdoutIsConsole() { return inner_->stdoutIsConsole(); }
os::Status FuzzPlatform::writeConsoleW(os::WStringView text) { return inner_->writeConsoleW(text); }
os::Result<std::size_t> FuzzPlatform::writeStdout(std::string_view bytes) {
  return inner_->writeStdout(bytes);
}
void FuzzPlatform::flushStdout() { inner_->flushStdout(); }
int FuzzPlatform::readStdin() { return inner_->readStdin(); }
void FuzzPlatform::unreadStdin(int byte) { inner_->unreadStdin(byte); }
os::ModuleFileName FuzzPlatform::getModuleFileNameW(std::uint32_t capacity) {
  return inner_->getModuleFileNameW(capacity);
}
void FuzzPlatform::exitProcess(int status) { inner_->exitProcess(status); }
os::Result<int> FuzzPlatform::multiByteToWideChar(std::uint32_t codePage, std::uint32_t flags,
                                                  std::string_view in, std::span<char16_t> out) {
  return inner_->multiByteToWideChar(codePage, flags, in, out);
}
os::Result<int> FuzzPlatform::wideCharToMultiByte(std::uint32_t codePage, std::uint32_t flags,
                                                  os::WStringView in, std::span<char> out) {
  return inner_->wideCharToMultiByte(codePage, flags, in, out);
}
os::Result<os::Handle> FuzzPlatform::createFileW(os::WStringView path, std::uint32_t access,
                                                 std::uint32_t share, std::uint32_t disposition,
                                                 std::uint32_t flags) {
  return inner_->createFileW(path, access, share, disposition, flags);
}
os::Result<os::Handle> FuzzPlatform::createFileA(std::string_view path, std::uint32_t access,
                                                 std::uint32_t share, std::uint32_t disposition,
                                                 std::uint32_t flags) {
  return inner_->createFileA(path, access, share, disposition, flags);
}
os::Transfer FuzzPlatform::readFile(os::Handle handle, void* buffer, std::uint32_t size) {
  return inner_->readFile(handle, buffer, size);
}
os::Transfer FuzzPlatform::writeFile(os::Handle handle, const void* buffer, std::uint32_t size) {
  return inner_->writeFile(handle, buffer, size);
}
os::FilePointer FuzzPlatform::setFilePointer(os::Handle handle, std::int32_t low,
                                             const std::int32_t* high, std::uint32_t method) {
  return inner_->setFilePointer(handle, low, high, method);
}
os::Status FuzzPlatform::closeHandle(os::Handle handle) { return inner_->closeHandle(handle); }
os::Status FuzzPlatform::deleteFileW(os::WStringView path) { return inner_->deleteFileW(path); }
os::Transfer FuzzPlatform::deviceIoControl(os::Handle handle, std::uint32_t code, const void* in,
                                           std::uint32_t inSize, void* out, std::uint32_t outSize) {
  return inner_->deviceIoControl(handle, code, in, inSize, out, outSize);
}
os::Result<std::uint32_t> FuzzPlatform::formatMessageA(std::uint32_t flags, std::uint32_t code,
                                                       std::uint32_t language, char* buffer,
                                                       std::uint32_t size) {
  return inner_->formatMessageA(flags, code, language, buffer, size);
}
std::int32_t FuzzPlatform::coInitializeEx(std::uint32_t mode) {
  return inner_->coInitializeEx(mode);
}
void FuzzPlatform::coUninitialize() { inner_->coUninitialize(); }
std::int32_t FuzzPlatform::coInitializeSecurity(std::int32_t authnServices,
                                                std::uint32_t authnLevel, std::uint32_t impLevel,
                                                std::uint32_t capabilities) {
  return inner_->coInitializeSecurity(authnServices, authnLevel, impLevel, capabilities);
}
os::ComResult FuzzPlatform::coCreateInstance(const os::Guid& clsid, std::uint32_t context,
                                             const os::Guid& iid) {
  return inner_->coCreateInstance(clsid, context, iid);
}
os::ComResult FuzzPlatform::connectServer(os::ComRef locator, os::WStringView namespacePath) {
  return inner_->connectServer(locator, namespacePath);
}
std::int32_t FuzzPlatform::coSetProxyBlanket(os::ComRef proxy, std::uint32_t authn,
                                             std::uint32_t authz, std::uint32_t authnLevel,
                                             std::uint32_t impLevel, std::uint32_t capabilities) {
  return inner_->coSetProxyBlanket(proxy, authn, authz, authnLevel, impLevel, capabilities);
}
os::ComResult FuzzPlatform::execQuery(os::ComRef services, os::WStringView language,
                                      os::WStringView query, std::int32_t flags) {
  return inner_->execQuery(services, language, query, flags);
}
os::NextResult FuzzPlatform::enumNext(os::ComRef enumerator, std::int32_t timeout) {
  return inner_->enumNext(enumerator, timeout);
}
std::int32_t FuzzPlatform::objectGet(os::ComRef object, os::WStringView name, os::Variant& value) {
  return inner_->objectGet(object, name, value);
}
void FuzzPlatform::release(os::ComRef object) { inner_->release(object); }
os::Result<os::DevInfoSet> FuzzPlatform::setupDiGetClassDevsW(const os::Guid& classGuid,
                                                              std::uint32_t flags) {
  return inner_->setupDiGetClassDevsW(classGuid, flags);
}
os::Status FuzzPlatform::setupDiEnumDeviceInterfaces(os::DevInfoSet set, const os::Guid& classGuid,
                                                     std::uint32_t index,
                                                     os::DeviceInterfaceData& data) {
  return inner_->setupDiEnumDeviceInterfaces(set, classGuid, index, data);
}
os::Status FuzzPlatform::setupDiGetDeviceInterfaceDetailW(os::DevInfoSet set,
                                                          const os::DeviceInterfaceData& data,
                                                          void* detail, std::uint32_t detailSize,
                                                          std::uint32_t* requiredSize,
                                                          os::DevInfoData* devInfo) {
  return inner_->setupDiGetDeviceInterfaceDetailW(set, data, detail, detailSize, requiredSize,
                                                  devInfo);
}
os::Status FuzzPlatform::setupDiGetDeviceRegistryPropertyW(os::DevInfoSet set,
                                                           const os::DevInfoData& devInfo,
                                                           std::uint32_t property, void* buffer,
                                                           std::uint32_t size,
                                                           std::uint32_t* requiredSize) {
  return inner_->setupDiGetDeviceRegistryPropertyW(set, devInfo, property, buffer, size,
                                                   requiredSize);
}
os::Status FuzzPlatform::setupDiDestroyDeviceInfoList(os::DevInfoSet set) {
  return inner_->setupDiDestroyDeviceInfoList(set);
}
os::Status FuzzPlatform::getVolumeNameForVolumeMountPointW(os::WStringView mountPoint,
                                                           char16_t* buffer, std::uint32_t length) {
  return inner_->getVolumeNameForVolumeMountPointW(mountPoint, buffer, length);
}
os::Status FuzzPlatform::getVolumePathNamesForVolumeNameW(os::WStringView volumeName,
                                                          char16_t* buffer, std::uint32_t length,
                                                          std::uint32_t* returnLength) {
  return inner_->getVolumePathNamesForVolumeNameW(volumeName, buffer, length, returnLength);
}
os::Result<os::WString> FuzzPlatform::getCurrentDirectoryW() {
  return inner_->getCurrentDirectoryW();
}
os::Result<os::WString> FuzzPlatform::getSystemDirectoryW() {
  return inner_->getSystemDirectoryW();
}
os::Result<std::vector<os::DirEntry>> FuzzPlatform::listDirectoryW(os::WStringView directory) {
  return inner_->listDirectoryW(directory);
}
int FuzzPlatform::runSystemCommand(std::string_view commandLine) {
  return inner_->runSystemCommand(commandLine);
}
std::int64_t FuzzPlatform::steadyNowNs() { return inner_->steadyNowNs(); }
void FuzzPlatform::sleepUntilNs(std::int64_t deadlineNs) { inner_->sleepUntilNs(deadlineNs); }

// --- HostileDrivePlatform -----------------------------------------------------

namespace {

// Data a driver hands back: a prefix from offset 0, then a few patches
// (offset, length, bytes) anywhere in the area, each clipped to it.
void fillFrom(Bytes& bytes, std::uint8_t* area, std::uint32_t size) {
  const std::uint16_t prefix = bytes.u16();
  const std::size_t n = std::min<std::size_t>(prefix, size);
  if (area != nullptr)
    bytes.copy(area, n);
  else
    bytes.take(n);
  const unsigned patches = bytes.u8() % 9;
  for (unsigned i = 0; i < patches; ++i) {
    const std::uint32_t at = size == 0 ? 0 : bytes.u16() % size;
    const std::size_t length = std::min<std::size_t>(bytes.u8(), size - at);
    if (area != nullptr)
      bytes.copy(area + at, length);
    else
      bytes.take(length);
  }
}

}  // namespace

os::Result<os::Handle> HostileDrivePlatform::createFileA(std::string_view, std::uint32_t,
                                                         std::uint32_t, std::uint32_t,
                                                         std::uint32_t) {
  ++open_;
  return {DriveHandle, 0};
}

os::Result<os::Handle> HostileDrivePlatform::createFileW(os::WStringView, std::uint32_t,
                                                         std::uint32_t, std::uint32_t,
                                                         std::uint32_t) {
  ++open_;
  return {DriveHandle, 0};
}

os::Status HostileDrivePlatform::closeHandle(os::Handle handle) {
  if (handle != DriveHandle) return FuzzPlatform::closeHandle(handle);
  PBA_FUZZ_CHECK(open_ > 0);
  --open_;
  return {true, 0};
}

os::Transfer HostileDrivePlatform::outcome() {
  static constexpr std::uint32_t errors[] = {
      win::ErrorInvalidFunction, win::ErrorNotSupported, win::ErrorDevNotExist,
      win::ErrorIoDevice,        win::ErrorSemTimeout,   win::ErrorBusy,
      win::ErrorAccessDenied,    win::ErrorMoreData,     win::ErrorInsufficientBuffer};
  const std::uint8_t pick = bytes_.u8();
  // An exhausted input fails every further call, so every loop of retries ends.
  if (bytes_.empty() && pick == 0) return {false, 0, win::ErrorDevNotExist};
  if (pick < 0xE0) return {true, 0, 0};
  return {false, 0, errors[pick % std::size(errors)]};
}

os::Transfer HostileDrivePlatform::deviceIoControl(os::Handle handle, std::uint32_t code,
                                                   const void* in, std::uint32_t inSize, void* out,
                                                   std::uint32_t outSize) {
  if (handle != DriveHandle)
    return FuzzPlatform::deviceIoControl(handle, code, in, inSize, out, outSize);
  os::Transfer result = outcome();
  if (!result.ok) return result;
  auto* area = static_cast<std::uint8_t*>(out);
  if (code == win::IoctlScsiPassThroughDirect && outSize >= sizeof(layout::ScsiPassThroughDirect)) {
    auto* record = static_cast<layout::ScsiPassThroughDirectWithSense*>(out);
    auto& sptd = record->sptd;
    const std::uint32_t asked = sptd.dataTransferLength;
    auto* data = reinterpret_cast<std::uint8_t*>(static_cast<std::uintptr_t>(sptd.dataBuffer));
    // The driver writes only into the data buffer it was given, and only for data-in.
    fillFrom(bytes_, sptd.dataIn == win::ScsiIoctlDataIn ? data : nullptr, asked);
    sptd.scsiStatus = bytes_.u8();
    // A reported length past the buffer is what a faulty driver may say.
    sptd.dataTransferLength = bytes_.u8() < 0xF0 ? std::min(bytes_.u32(), asked) : bytes_.u32();
    const std::uint32_t senseRoom =
        sptd.senseInfoOffset <= outSize ? outSize - sptd.senseInfoOffset : 0;
    const std::uint8_t sense =
        std::min<std::uint32_t>({bytes_.u8(), sptd.senseInfoLength, senseRoom});
    bytes_.copy(area + sptd.senseInfoOffset, sense);
    sptd.senseInfoLength = sense;
    result.count = outSize;
    return result;
  }
  if (code == win::IoctlAtaPassThroughDirect && outSize >= sizeof(layout::AtaPassThroughDirect)) {
    auto* apt = static_cast<layout::AtaPassThroughDirect*>(out);
    auto* data = reinterpret_cast<std::uint8_t*>(static_cast<std::uintptr_t>(apt->dataBuffer));
    fillFrom(bytes_, (apt->ataFlags & win::AtaFlagsDataIn) ? data : nullptr,
             apt->dataTransferLength);
    bytes_.copy(apt->currentTaskFile, 8);
    bytes_.copy(apt->previousTaskFile, 8);
    result.count = outSize;
    return result;
  }
  // Buffered codes: the output bytes and the count the driver reports, never
  // more than the buffer (the I/O manager copies no more).
  fillFrom(bytes_, area, outSize);
  const std::uint32_t count = bytes_.u32();
  result.count = outSize == 0 ? 0 : count % (outSize + 1);
  return result;
}

// --- HostileStoragePlatform ---------------------------------------------------

namespace {

constexpr os::DevInfoSet VolumeSet = 0x5E7;
constexpr std::u16string_view InterfacePath = u"\\\\?\\storage#volume#fuzz";

}  // namespace

os::Result<os::DevInfoSet> HostileStoragePlatform::setupDiGetClassDevsW(const os::Guid&,
                                                                        std::uint32_t) {
  ++sets_;
  return {VolumeSet, 0};
}

os::Status HostileStoragePlatform::setupDiEnumDeviceInterfaces(os::DevInfoSet set, const os::Guid&,
                                                               std::uint32_t index,
                                                               os::DeviceInterfaceData&) {
  PBA_FUZZ_CHECK(set == VolumeSet);
  if (index < 3 && bytes_.u8() < 0xC0) return {true, 0};
  return {false, win::ErrorNoMoreItems};
}

os::Status HostileStoragePlatform::setupDiGetDeviceInterfaceDetailW(
    os::DevInfoSet set, const os::DeviceInterfaceData&, void* detail, std::uint32_t detailSize,
    std::uint32_t* requiredSize, os::DevInfoData*) {
  PBA_FUZZ_CHECK(set == VolumeSet);
  const std::uint32_t needed = static_cast<std::uint32_t>(
      layout::DevicePathOffset + (InterfacePath.size() + 1) * sizeof(char16_t));
  if (requiredSize != nullptr) *requiredSize = needed;
  if (detail == nullptr || detailSize < needed) return {false, win::ErrorInsufficientBuffer};
  std::memcpy(static_cast<std::uint8_t*>(detail) + layout::DevicePathOffset, InterfacePath.data(),
              (InterfacePath.size() + 1) * sizeof(char16_t));
  return {true, 0};
}

os::Status HostileStoragePlatform::setupDiDestroyDeviceInfoList(os::DevInfoSet set) {
  PBA_FUZZ_CHECK(set == VolumeSet && sets_ > 0);
  --sets_;
  return {true, 0};
}

os::Status HostileStoragePlatform::getVolumeNameForVolumeMountPointW(os::WStringView,
                                                                     char16_t* buffer,
                                                                     std::uint32_t length) {
  if (bytes_.u8() >= 0xE0) return {false, win::ErrorInvalidParameter};
  // Any units the volume manager cares to write, terminated or not.
  const std::size_t units = std::min<std::size_t>(bytes_.u8(), length);
  bytes_.copy(buffer, units * sizeof(char16_t));
  return {true, 0};
}

os::Status HostileStoragePlatform::getVolumePathNamesForVolumeNameW(os::WStringView,
                                                                    char16_t* buffer,
                                                                    std::uint32_t length,
                                                                    std::uint32_t* returnLength) {
  const std::uint8_t pick = bytes_.u8();
  const std::uint32_t reported = bytes_.u8();
  if (returnLength != nullptr) *returnLength = reported;
  if (pick >= 0xF0) return {false, win::ErrorInvalidParameter};
  if (reported > length) return {false, win::ErrorMoreData};
  // The list holds reported units; what they say is the fuzzer's.
  if (buffer != nullptr) bytes_.copy(buffer, std::size_t{reported} * sizeof(char16_t));
  return {true, 0};
}

}  // namespace pbaloader::fuzz
