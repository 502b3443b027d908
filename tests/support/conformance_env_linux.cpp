// The conformance environment of the Linux host build: the host machine (no
// disks) whose ordinary paths are the host's own, in a private folder.
#include <atomic>
#include <fstream>

#include "conformance/env.h"
#include "platform/linux/host_machine.h"
#include "platform/linux/host_platform.h"
#include "support/sim_fixture.h"

namespace pbaloader::conformance {
namespace {

class LinuxHostEnv final : public Env {
 public:
  LinuxHostEnv() {
    root_ = std::make_unique<testing::TempFolder>();
    host::HostSetup setup;
    setup.currentDirectory = root_->path().string();
    setup.modulePath = "/usr/local/bin/pbaloader";
    // One fixed disk for the management service to list; its node does not
    // exist, so nothing is ever opened.
    host::HostDisk disk;
    disk.name = "pbanone";
    disk.node = "/dev/pbanone";
    disk.size = 64 << 20;
    disk.bus = host::Bus::Ata;
    disk.model = "Conformance Disk";
    machine_ = host::buildHostMachine({disk}, setup);
    machine_->console.echoToHost = false;
    platform_ = std::make_unique<host::HostPlatform>(*machine_);
    linuxHost = true;
    separator = os::WString(1, u'/');
    diskPathPrefix = "/dev/";
  }
  os::Platform& platform() override { return *platform_; }
  os::WString makeFolder() override {
    static std::atomic<unsigned> counter{0};
    const auto folder = root_->path() / ("case" + std::to_string(counter++));
    std::filesystem::create_directories(folder);
    return folder.u16string();
  }
  os::WString makeFile(const os::WString& folder, std::u16string_view name, std::string_view bytes,
                       bool readOnly) override {
    const std::filesystem::path host = std::filesystem::path(folder) / std::u16string(name);
    testing::writeHostFile(host, bytes, readOnly);
    return host.u16string();
  }
  os::WString modulePath() override { return machine_->modulePath; }

 private:
  std::unique_ptr<testing::TempFolder> root_;
  std::unique_ptr<sim::Machine> machine_;
  std::unique_ptr<os::Platform> platform_;
};

}  // namespace

Env& env() {
  static LinuxHostEnv e;
  return e;
}

}  // namespace pbaloader::conformance
