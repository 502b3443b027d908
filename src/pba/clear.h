// Clearing a drive and the disk cleaning that precedes a load or a clear.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pbaloader {

// Bytes zeroed by a clear, from drive offset 0: the load region and 8 KiB more.
inline constexpr std::uint32_t ClearRegionSize = 0x10002000;
// Largest single write of zeroDriveRange.
inline constexpr std::uint32_t ZeroRangeChunk = 0x20000;
// Zeroed by the cleaning once the partitioning utility has run.
inline constexpr std::uint32_t CleanedHeadSize = 8192;
// The partitioning utility's script, in the working directory.
inline constexpr std::u16string_view CleanScriptName = u"s.txt";

// The DeviceNumber that IOCTL_STORAGE_GET_DEVICE_NUMBER reports for a device
// path, when the device answers with the whole record.
std::optional<std::uint32_t> queryDiskNumber(const std::string& path);

// The script that selects the disk and removes its partitioning.
std::string cleanScriptText(std::uint32_t diskNumber);
// The command line that runs the script with the partitioning utility named by
// its full path under the system directory; nullopt when that directory cannot
// be named safely on a command line.
std::optional<std::string> cleanCommandLine(std::string_view systemDirectory);

}  // namespace pbaloader
