#include "app/interactive.h"

#include <fmt/format.h>

#include <algorithm>
#include <optional>
#include <system_error>

#include "app/listing.h"
#include "app/loader.h"
#include "common/console.h"
#include "common/text.h"
#include "discovery/error_text.h"
#include "platform/platform.h"

namespace pbaloader {
namespace {

constexpr std::string_view Rule = "-----------------------------------------------------------";

// Windows error codes as std::error_code, so that an escaping error carries
// the system's own text.
class WindowsErrorCategory final : public std::error_category {
 public:
  const char* name() const noexcept override { return "windows"; }
  std::string message(int code) const override {
    return systemErrorText(static_cast<std::uint32_t>(code));
  }
};

const std::error_category& windowsCategory() {
  static const WindowsErrorCategory category;
  return category;
}

[[noreturn]] void throwSearchError(std::uint32_t code, const std::string& what) {
  throw std::system_error(static_cast<int>(code), windowsCategory(), what);
}

// Linux paths start at "/" and are joined with it; Windows paths with "\\".
char16_t separatorOf(WStringView path) { return !path.empty() && path[0] == u'/' ? u'/' : u'\\'; }

WString joinPath(const WString& folder, const WString& below, char16_t separator) {
  if (below.empty()) return folder;
  WString out = folder;
  if (!out.empty() && out.back() != separator) out.push_back(separator);
  return out + below;
}

bool containsIgnoreAsciiCase(std::string_view text, std::string_view part) {
  if (part.size() > text.size()) return false;
  for (std::size_t i = 0; i + part.size() <= text.size(); ++i)
    if (equalsIgnoreAsciiCase(text.substr(i, part.size()), part)) return true;
  return false;
}

void cancel() { print("\nCanceled by user.\n"); }

// Reads words until exactly "YES" or "NO". The end of input is a refusal:
// it must never count as consent.
bool confirmed() {
  for (;;) {
    const auto word = readWord();
    if (!word || *word == "NO") return false;
    if (*word == "YES") return true;
  }
}

}  // namespace

bool isImageFileName(const std::string& name) {
  if (name.size() < 4) return false;
  const std::string_view tail = std::string_view(name).substr(name.size() - 4);
  return containsIgnoreAsciiCase(name, "pba_") && (tail == ".bin" || tail == ".pkg");
}

std::string imageDirectoryPrefix(const std::string& startDirectory) {
  const char separator = !startDirectory.empty() && startDirectory[0] == '/' ? '/' : '\\';
  if (!startDirectory.empty() && startDirectory.back() == separator) return startDirectory;
  return startDirectory + separator;
}

std::vector<std::string> findImageFiles() {
  auto& os = os::current();
  const auto cwd = os.getCurrentDirectoryW();
  if (cwd.value.empty()) throwSearchError(cwd.error, "cannot read the current directory");
  const WString& start = cwd.value;
  const char16_t separator = separatorOf(start);

  // Depth first without recursion: a folder's entries are visited in listed
  // order, and a sub-folder's entries right after the sub-folder itself.
  struct Level {
    WString relative;
    std::vector<os::DirEntry> entries;
    std::size_t next = 0;
  };
  auto list = [&](const WString& relative) {
    const WString folder = joinPath(start, relative, separator);
    auto listing = os.listDirectoryW(folder);
    if (listing.error != 0)
      throwSearchError(listing.error,
                       fmt::format("cannot read folder \"{}\" to find PBA files", toUtf8(folder)));
    return Level{relative, std::move(listing.value), 0};
  };

  std::vector<std::string> found;
  std::vector<Level> stack;
  stack.push_back(list({}));
  while (!stack.empty()) {
    Level& level = stack.back();
    if (level.next == level.entries.size()) {
      stack.pop_back();
      continue;
    }
    const os::DirEntry entry = level.entries[level.next++];
    if (entry.name == u"." || entry.name == u"..") continue;
    const WString relative = joinPath(level.relative, entry.name, separator);
    if (isImageFileName(toUtf8(entry.name)))
      found.push_back(toUtf8(joinPath(start, relative, separator)));
    // Links and junctions may lead anywhere, even back up: listed, not entered.
    if (entry.directory && !entry.reparsePoint) stack.push_back(list(relative));
  }
  std::reverse(found.begin(), found.end());
  return found;
}

std::int32_t askNumber(std::int32_t lowest, std::int32_t highest) {
  for (;;) {
    const NumberRead read = readNumber();
    if (read.kind == NumberRead::Kind::EndOfInput) return -1;
    if (read.kind == NumberRead::Kind::NotANumber) continue;
    if (read.value == -1) return -1;
    if (read.value >= lowest && read.value <= highest) return read.value;
  }
}

void PbaLoader::runInteractive() {
  const auto drives = usableUsbDrives();
  if (drives.empty()) {
    print("No usable USB drives found\n");
    return;
  }
  print("\n{}\n Available USB drives\n{}\n", Rule, Rule);
  for (std::size_t i = 0; i < drives.size(); ++i)
    print("{}) {}\n", i + 1, driveLineBody(drives[i]));
  print("{}\nSelect a drive (-1 to quit)\n", Rule);
  const auto driveNumber = askNumber(1, static_cast<std::int32_t>(drives.size()));
  if (driveNumber == -1) return cancel();
  const DriveInfo& drive = drives[static_cast<std::size_t>(driveNumber - 1)];
  options.driveName = drive.path;
  const std::string driveLabel = fmt::format("{} [S/N: {}]", drive.model, drive.serialNumber);

  print(
      "\n{}\n Select an operation (-1 to quit)\n{}\n"
      "1) Load (initialize the selected drive)\n"
      "2) Clear (clear the setup data from the selected drive)\n",
      Rule, Rule);
  const auto operation = askNumber(1, 2);
  if (operation == -1) return cancel();

  std::string description;
  if (operation == 1) {
    options.loadMode = true;
    const auto files = findImageFiles();
    if (files.empty()) {
      print(
          "No PBA files found. Be sure to maintain the original\n"
          "filename and place the file in the same directory as\n"
          "this utility.\n");
      return;
    }
    const std::string prefix =
        imageDirectoryPrefix(toUtf8(os::current().getCurrentDirectoryW().value));
    auto shown = [&](const std::string& full) {
      return full.compare(0, prefix.size(), prefix) == 0 ? full.substr(prefix.size()) : full;
    };
    print("\n{}\n Select a PBA file (-1 to quit)\n{}\n", Rule, Rule);
    for (std::size_t i = 0; i < files.size(); ++i) print("{}) {}\n", i + 1, shown(files[i]));
    const auto fileNumber = askNumber(1, static_cast<std::int32_t>(files.size()));
    if (fileNumber == -1) return cancel();
    options.imagePath = files[static_cast<std::size_t>(fileNumber - 1)];
    description = fmt::format("Load {} on {}", shown(options.imagePath), driveLabel);
  } else {
    options.clearMode = true;
    description = fmt::format("Clear {}", driveLabel);
  }

  print(
      "\n{}\n WARNING! This operation will destroy the data on the\n selected drive!\n{}\n"
      "Operation: {}\nEnter YES to continue or NO to cancel\n",
      Rule, Rule, description);
  if (!confirmed()) return cancel();
  confirmedDrive = drive;
  if (options.loadMode)
    loadImage();
  else if (options.clearMode)
    clearImage();
}

}  // namespace pbaloader
