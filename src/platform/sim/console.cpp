// PLACEHOLDER: to be written by the console owner.
#include "platform/sim/machine.h"
#include "platform/winconst.h"

namespace pbaloader::sim {
void Console::load(const nlohmann::json&) {}
bool Console::stdoutIsConsole() { return isConsole; }
os::Status Console::writeConsoleW(os::WStringView) { return {false, win::ErrorCallNotImplemented}; }
os::Result<std::size_t> Console::writeStdout(std::string_view bytes) {
  output.append(bytes);
  return {bytes.size(), 0};
}
void Console::flushStdout() {}
int Console::readStdin() { return -1; }
os::ModuleFileName Console::getModuleFileNameW(std::uint32_t) {
  return {{}, 0, win::ErrorCallNotImplemented};
}
void Console::exitProcess(int status) { exitStatus = status; }
os::Result<int> Console::multiByteToWideChar(std::uint32_t, std::uint32_t, std::string_view,
                                             std::span<char16_t>) {
  return {0, win::ErrorCallNotImplemented};
}
os::Result<int> Console::wideCharToMultiByte(std::uint32_t, std::uint32_t, os::WStringView,
                                             std::span<char>) {
  return {0, win::ErrorCallNotImplemented};
}
}  // namespace pbaloader::sim
