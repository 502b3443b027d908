// The conformance environment of the native build: a simulated machine whose
// drive C: is a private host folder.
#include <algorithm>
#include <atomic>
#include <fstream>

#include "conformance/env.h"
#include "support/sim_fixture.h"

namespace pbaloader::conformance {
namespace {

std::string narrow(const os::WString& text) {
  std::string out;
  for (char16_t c : text) out.push_back(static_cast<char>(c));  // test paths are ASCII
  return out;
}

class SimEnv final : public Env {
 public:
  SimEnv() {
    root_ = std::make_unique<testing::TempFolder>();
    sim::Json d = {{"drives", {{"C:", root_->path().string()}}},
                   {"currentDirectory", "C:\\"},
                   {"module", "C:\\Tools\\pbaloader.exe"},
                   // One fixed disk, so that the management service has a drive to list.
                   {"disks", {{{"number", 0}, {"removalPolicy", 1}}}}};
    machine_ = sim::Machine::fromJson(d, root_->path());
    platform_ = sim::makeSimPlatform(*machine_);
    sim = true;
  }
  os::Platform& platform() override { return *platform_; }
  os::WString makeFolder() override {
    static std::atomic<unsigned> counter{0};
    const std::string name = "case" + std::to_string(counter++);
    std::filesystem::create_directories(root_->path() / name);
    os::WString path = u"C:\\";
    for (char c : name) path.push_back(static_cast<char16_t>(c));
    return path;
  }
  os::WString makeFile(const os::WString& folder, std::u16string_view name, std::string_view bytes,
                       bool readOnly) override {
    const os::WString path = folder + u"\\" + os::WString(name);
    std::string relative = narrow(path.substr(3));
    std::replace(relative.begin(), relative.end(), '\\', '/');
    const std::filesystem::path host = root_->path() / relative;
    testing::writeHostFile(host, bytes, readOnly);
    return path;
  }
  os::WString modulePath() override { return machine_->modulePath; }
  sim::Machine& machine() { return *machine_; }

 private:
  std::unique_ptr<testing::TempFolder> root_;
  std::unique_ptr<sim::Machine> machine_;
  std::unique_ptr<os::Platform> platform_;
};

}  // namespace

Env& env() {
  static SimEnv e;
  return e;
}

}  // namespace pbaloader::conformance
