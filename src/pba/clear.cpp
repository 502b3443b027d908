#include "pba/clear.h"

#include <algorithm>
#include <vector>

#include "app/loader.h"
#include "common/console.h"
#include "common/text.h"
#include "discovery/wmi.h"
#include "pba/transfer.h"
#include "platform/layout/storage_device_number.h"
#include "platform/platform.h"
#include "platform/winconst.h"

namespace pbaloader {
namespace {

constexpr std::uint32_t ReadWrite = win::GenericRead | win::GenericWrite;
constexpr std::uint32_t ShareReadWrite = win::FileShareRead | win::FileShareWrite;
constexpr int ClearWriteTries = 3;
constexpr std::uint32_t ClearRetryPauseMs = 1000;

FileHandle openShared(const std::string& path, std::uint32_t access) {
  return FileHandle(os::current()
                        .createFileW(toWide(path), access, ShareReadWrite, win::OpenExisting,
                                     win::FileAttributeNormal)
                        .value);
}

bool seekTo(os::Handle handle, std::uint64_t offset) {
  const auto low = static_cast<std::int32_t>(offset & 0xFFFFFFFFu);
  const auto high = static_cast<std::int32_t>(offset >> 32);
  return os::current().setFilePointer(handle, low, &high, win::FileBegin).low !=
         win::InvalidSetFilePointer;
}

// A write that reports fewer bytes than asked has not done its job: counting
// it as done would report a region as cleared that was not.
bool writeWhole(os::Handle handle, const void* data, std::uint32_t size) {
  const auto written = os::current().writeFile(handle, data, size);
  return written.ok && written.count == size;
}

// Characters that the command interpreter would act on, or that cannot be
// quoted, make the directory unusable on a command line.
bool safeOnCommandLine(std::string_view text) {
  for (unsigned char c : text)
    if (c < 0x20 || c == '"' || c == '%' || c == '&' || c == '|' || c == '<' || c == '>' ||
        c == '^')
      return false;
  return true;
}

bool endsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// A Windows disk path carries its number (\\.\PHYSICALDRIVE3). A Linux device
// node (/dev/sdb, /dev/mmcblk0) does not, and a digit at its end is no disk
// number: there the management service's drive of that index must be the node.
bool pathNamesDisk(const std::string& path, std::uint32_t number) {
  if (!path.starts_with('/')) return endsWith(path, fmt::format("{}", number));
  auto session = WmiSession::open(u"ROOT\\CIMV2");
  WmiQuery query(*session, u"SELECT * FROM Win32_DiskDrive");
  while (WmiObject* object = query.next(win::WbemInfinite)) {
    const auto index = object->getInt32(u"Index");
    if (!index || static_cast<std::uint32_t>(*index) != number) continue;
    return object->getString(u"DeviceID") == path;
  }
  return false;
}

// Writes the script through the handle it was created with, then reopens it
// for reading only (the utility must be able to open it too) and keeps it
// open; true when what the utility will read is exactly text.
bool writeAndHoldScript(FileHandle& script, const std::string& text) {
  auto& os = os::current();
  if (!writeWhole(script.get(), text.data(), static_cast<std::uint32_t>(text.size()))) return false;
  script.close();
  script = FileHandle(os.createFileW(CleanScriptName, win::GenericRead, win::FileShareRead,
                                     win::OpenExisting, win::FileAttributeNormal)
                          .value);
  if (!script.valid()) return false;
  std::string readBack(text.size() + 1, '\0');
  const auto got =
      os.readFile(script.get(), readBack.data(), static_cast<std::uint32_t>(readBack.size()));
  return got.ok && got.count == text.size() && readBack.compare(0, text.size(), text) == 0;
}

}  // namespace

std::optional<std::uint32_t> queryDiskNumber(const std::string& path) {
  FileHandle device = openShared(path, win::GenericRead);
  if (!device.valid()) return std::nullopt;
  layout::StorageDeviceNumber number{};
  const auto reply = os::current().deviceIoControl(device.get(), win::IoctlStorageGetDeviceNumber,
                                                   nullptr, 0, &number, sizeof number);
  if (!reply.ok || reply.count != sizeof number) return std::nullopt;
  return number.deviceNumber;
}

std::string cleanScriptText(std::uint32_t diskNumber) {
  return fmt::format("select disk {}\nclean\n", diskNumber);
}

std::optional<std::string> cleanCommandLine(std::string_view systemDirectory) {
  // Only an absolute directory ("X:\..."): a bare "diskpart" would be looked
  // up in the working directory first, and this process runs elevated.
  const bool absolute = systemDirectory.size() >= 3 && systemDirectory[1] == ':' &&
                        (systemDirectory[2] == '\\' || systemDirectory[2] == '/');
  if (!absolute || !safeOnCommandLine(systemDirectory)) return std::nullopt;
  std::string utility(systemDirectory);
  if (utility.back() != '\\' && utility.back() != '/') utility.push_back('\\');
  utility += "diskpart.exe";
  if (utility.find(' ') != std::string::npos) utility = "\"" + utility + "\"";
  return fmt::format("{} /s s.txt >NUL 2>NUL", utility);
}

Cleaning PbaLoader::cleanDisk() {
  auto& os = os::current();
  const auto systemDirectory = os.getSystemDirectoryW();
  if (systemDirectory.value.empty()) return Cleaning::Skipped;
  const auto commandLine = cleanCommandLine(toUtf8(systemDirectory.value));
  if (!commandLine) return Cleaning::Skipped;

  // The script lives in the working directory, where other processes of the
  // user may write. It is created new, never over a file that is there (that
  // one is the user's, perhaps the very image), nobody else may write to it
  // while it is written, and it is held open against writers and renames
  // while the utility reads it.
  const auto created = os.createFileW(CleanScriptName, ReadWrite, win::FileShareRead,
                                      win::CreateNew, win::FileAttributeNormal);
  if (created.value == os::InvalidHandle)
    return created.error == win::ErrorFileExists ? Cleaning::ScriptInTheWay : Cleaning::Skipped;
  FileHandle script(created.value);
  const auto number = queryDiskNumber(selectedDrive.path);
  const bool ran = number && pathNamesDisk(selectedDrive.path, *number) &&
                   writeAndHoldScript(script, cleanScriptText(*number));
  if (ran) os.runSystemCommand(*commandLine);
  script.close();
  if (ran) zeroDriveRange(0, CleanedHeadSize);
  // Whatever happened, the script this run created does not stay behind.
  os.deleteFileW(CleanScriptName);
  return ran ? Cleaning::Done : Cleaning::Skipped;
}

bool PbaLoader::prepareDrive() {
  if (cleanDisk() != Cleaning::ScriptInTheWay) return true;
  print(
      "\nA file named s.txt is in the working directory; it was left alone and nothing was "
      "written\n");
  return false;
}

bool PbaLoader::zeroDriveRange(std::uint64_t offset, std::uint64_t length) {
  FileHandle drive = openShared(selectedDrive.path, ReadWrite);
  if (!drive.valid()) return false;
  if (!seekTo(drive.get(), offset)) return false;
  const std::vector<std::uint8_t> zeros(ZeroRangeChunk, 0);
  while (length != 0) {
    const auto size = static_cast<std::uint32_t>(std::min<std::uint64_t>(length, ZeroRangeChunk));
    if (!writeWhole(drive.get(), zeros.data(), size)) return false;
    length -= size;
  }
  return true;
}

void PbaLoader::clearImage() {
  print("\nClearing PBA data\n");
  if (!selectConfirmedDrive() || !prepareDrive()) return;

  FileHandle drive = openShared(selectedDrive.path, ReadWrite);
  if (!drive.valid()) {
    print("\nFailed to open output\n");
    return;
  }
  const std::vector<std::uint8_t> zeros(ChunkSize, 0);
  if (!seekTo(drive.get(), 0)) {
    print("\nFailed to clear PBA data\n");
    return;
  }
  std::uint32_t remaining = ClearRegionSize;
  std::uint32_t done = 0;
  ProgressLine progress("Clearing PBA data: ");
  for (;;) {
    const std::uint32_t size = std::min<std::uint32_t>(remaining, ChunkSize);
    bool written = false;
    for (int attempt = 0; attempt < ClearWriteTries; ++attempt) {
      const auto w = os::current().writeFile(drive.get(), zeros.data(), size);
      // A write that took fewer bytes has moved the position: trying again
      // would zero past the region, and counting it done would report zeros
      // that are not there.
      if (w.ok && w.count != size) break;
      written = w.ok;
      if (written) break;
      pause(ClearRetryPauseMs);
    }
    if (!written) {
      print("\nWrite failed\n");
      break;
    }
    done += size;
    remaining -= size;
    progress.update(
        static_cast<int>(static_cast<float>(done) / static_cast<float>(ClearRegionSize) * 100.0f));
    if (remaining == 0) {
      print("\nPBA data cleared\n");
      break;
    }
  }
}

}  // namespace pbaloader
