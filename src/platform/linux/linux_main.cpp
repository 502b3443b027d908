// pbaloader on Linux: the tool on the real drives of the machine it runs on.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "app/entry.h"
#include "platform/linux/host_machine.h"
#include "platform/linux/host_platform.h"

namespace {

std::string executablePath(const char* argv0) {
  std::error_code ec;
  auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string(argv0) : self.string();
}

}  // namespace

int main(int argc, char** argv) {
  using namespace pbaloader;
  // Raw drives and their pass-through need root; without it nothing is opened.
  if (::geteuid() != 0) {
    std::fputs(host::NeedsRootLine, stdout);
    return 1;
  }
  int status = 1;
  try {
    host::HostSetup setup;
    setup.currentDirectory = std::filesystem::current_path().string();
    setup.modulePath = executablePath(argv[0]);
    auto machine = host::buildHostMachine(host::scanHostDisks(), setup);
    host::HostPlatform platform(*machine);
    os::ScopedPlatform installed(platform);
    status = app::runPbaLoader(argc, const_cast<const char**>(argv));
  } catch (const std::exception& e) {
    std::printf("Error: %s\n", e.what());
  }
  std::fflush(stdout);
  return status;
}
