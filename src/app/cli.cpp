#include "app/cli.h"

#include <string_view>

#include "common/console.h"
#include "common/text.h"
#include "platform/platform.h"

namespace pbaloader {
namespace {

constexpr std::string_view Rule = "-----------------------------------------------------------";
static_assert(Rule.size() == 59);

// GetModuleFileNameW's buffer; it bounds the path the usage text can show.
constexpr std::uint32_t ModuleNameCapacity = 300;

}  // namespace

void printBanner() {
  print(
      "\n"
      "{0}\n"
      "{1} PBA Loader {2}\n"
      "{0}\n"
      "Copyright (c) Quorin. All rights reserved.\n"
      "This software is provided \"as is\", without warranty of any\n"
      "kind. You use it at your own risk: Quorin is not liable for\n"
      "any loss of data or damage that results from its use.\n"
      "Unauthorised copying or distribution is prohibited.\n"
      "{0}\n"
      "WARNING! This utility will destroy the data on the selected\n"
      "USB drive. DO NOT USE IT IF YOU ARE UNSURE HOW IT WORKS\n"
      "{0}\n",
      Rule, "Quorin", "v3.1.0");
}

LoaderOptions parseCommandLine(int argc, const char* const* argv) {
  if (argc <= 0 || argv == nullptr) failUsage();
  LoaderOptions options;
  bool operationNamed = false;
  const auto argument = [&](int i) { return std::string_view(argv[i] ? argv[i] : ""); };
  for (int i = 0; i < argc; ++i) {
    const std::string_view arg = argument(i);
    if (arg == "-l") {
      if (!options.driveName.empty()) failUsage();
      options.listMode = true;
      operationNamed = true;
    } else if (arg == "-d") {
      if (options.listMode || i + 1 >= argc) failUsage();
      options.driveName = argument(++i);
    } else if (arg == "-i") {
      options.interactiveMode = true;
      operationNamed = true;
    } else if (arg == "-load") {
      if (i + 1 >= argc) failUsage();
      options.loadMode = true;
      options.imagePath = argument(++i);
      operationNamed = true;
    } else if (arg == "-clear") {
      options.clearMode = true;
      operationNamed = true;
    }
  }
  if (!operationNamed ||
      !(options.interactiveMode || !options.driveName.empty() || options.listMode))
    failUsage();
  return options;
}

Operation chosenOperation(const LoaderOptions& options) {
  if (options.listMode) return Operation::List;
  if (options.loadMode) return Operation::Load;
  if (options.clearMode) return Operation::Clear;
  if (options.interactiveMode) return Operation::Interactive;
  return Operation::None;
}

void failUsage() {
  writeStream(usageText() + "\n");
  flushStream();
  endProcess(-1);
}

namespace {

std::string modulePath() {
  const os::ModuleFileName module = os::current().getModuleFileNameW(ModuleNameCapacity);
  os::WStringView path(module.text);
  path = path.substr(0, module.returned);
  // A truncated path ends in the buffer's terminating null; it is no part of the name.
  return toUtf8(path.substr(0, path.find(u'\0')));
}

std::string fileNameOf(const std::string& path) {
  const auto slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string usageText() {
  const std::string module = modulePath();
  return fmt::format(
      "{0}\n"
      "Usage\n"
      "{0}\n"
      "INTERACTIVE MODE: -i         # menu driven mode\n"
      "Configurable parameters:\n"
      "-l                           # print a list of usable USB drives\n"
      "-d <\"drive model\" or path> # drive model name or path\n"
      "-load <path to PBA file> # initialize the pba setup drive\n"
      "-clear                       # clear the PBA setup drive\n"
      "Example: {1} -d {2} -load PBA.pkg\n"
      "{0}",
      Rule, fileNameOf(module),
      // A program started from a Linux path runs on Linux, where drives are device nodes.
      module.starts_with('/') ? "/dev/sdX" : "\\\\.\\PHYSICALDRIVEX");
}

std::string programFileName() { return fileNameOf(modulePath()); }

}  // namespace pbaloader
