#include "app/entry.h"

#include <exception>
#include <string>

#include "app/cli.h"
#include "app/listing.h"
#include "app/loader.h"
#include "common/console.h"

namespace pbaloader::app {
namespace {

// Exit status of a run that an unexpected error ended; -1 stays the usage
// error's and 0 the completed operation's.
constexpr int UnexpectedErrorStatus = 1;

int reportUnexpected(const std::string& what) {
  try {
    // Starts on a fresh line: the error may cut a progress line short.
    print("\nError: {}\n", what.empty() ? std::string("unexpected failure") : what);
  } catch (...) {
    // Standard output itself failed; the exit status still tells.
  }
  return UnexpectedErrorStatus;
}

}  // namespace

int runPbaLoader(int argc, const char* const* argv) {
  try {
    PbaLoader loader;
    printBanner();
    loader.options = parseCommandLine(argc, argv);
    switch (chosenOperation(loader.options)) {
      case Operation::List:
        listDrives();
        break;
      case Operation::Load:
        loader.loadImage();
        break;
      case Operation::Clear:
        loader.clearImage();
        break;
      case Operation::Interactive:
        loader.runInteractive();
        break;
      case Operation::None:
        break;
    }
    return 0;
  } catch (const ProcessExit& exit) {
    return exit.status;
  } catch (const std::exception& e) {
    return reportUnexpected(e.what());
  } catch (...) {
    return reportUnexpected({});
  }
}

}  // namespace pbaloader::app
