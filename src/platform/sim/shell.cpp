// PLACEHOLDER: to be written by the operations owner.
#include "platform/sim/machine.h"
#include "platform/winconst.h"

namespace pbaloader::sim {
void Shell::load(const nlohmann::json&) {}
int Shell::runSystemCommand(std::string_view commandLine) {
  commandLines.emplace_back(commandLine);
  return 1;
}
os::Result<std::vector<os::DirEntry>> Shell::listDirectoryW(os::WStringView) {
  return {{}, win::ErrorCallNotImplemented};
}
}  // namespace pbaloader::sim
