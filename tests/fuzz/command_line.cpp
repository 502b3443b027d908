// The command line: arguments split at null bytes of the input.
#include <string>
#include <vector>

#include "app/cli.h"
#include "fuzz/support/fuzz_platform.h"

using namespace pbaloader;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
  std::vector<std::string> args(1);
  for (std::size_t i = 0; i < size && args.size() <= 64; ++i) {
    if (input[i] == 0)
      args.emplace_back();
    else
      args.back().push_back(static_cast<char>(input[i]));
  }
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  const auto named = [&](std::string_view flag) {
    for (const auto& a : args)
      if (a == flag) return true;
    return false;
  };

  fuzz::FuzzPlatform platform;
  os::ScopedPlatform scoped(platform);
  try {
    const LoaderOptions options = parseCommandLine(static_cast<int>(argv.size()), argv.data());
    // A line that parses runs exactly one operation, and a named one.
    const Operation chosen = chosenOperation(options);
    PBA_FUZZ_CHECK(chosen != Operation::None);
    PBA_FUZZ_CHECK(!(options.listMode && !options.driveName.empty()));
    if (options.listMode) PBA_FUZZ_CHECK(named("-l"));
    if (options.loadMode) PBA_FUZZ_CHECK(named("-load"));
    if (options.clearMode) PBA_FUZZ_CHECK(named("-clear"));
    if (options.interactiveMode) PBA_FUZZ_CHECK(named("-i"));
    if (!options.driveName.empty()) PBA_FUZZ_CHECK(named("-d"));
    if (chosen == Operation::Load || chosen == Operation::Clear)
      PBA_FUZZ_CHECK(!options.driveName.empty() || options.interactiveMode);
  } catch (const ProcessExit& exit) {
    PBA_FUZZ_CHECK(exit.status == -1);
    PBA_FUZZ_CHECK(platform.machine().console.output.find("Usage") != std::string::npos);
  }
  return 0;
}
