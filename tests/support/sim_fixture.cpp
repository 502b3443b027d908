#include "support/sim_fixture.h"

#include <atomic>
#include <fstream>
#include <random>

#include "app/entry.h"

namespace pbaloader::testing {

TempFolder::TempFolder() {
  static std::atomic<unsigned> counter{0};
  std::random_device rd;
  path_ = std::filesystem::temp_directory_path() /
          ("pbaloader-test-" + std::to_string(rd()) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(path_);
}

TempFolder::~TempFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void writeHostFile(const std::filesystem::path& path, std::string_view bytes, bool readOnly) {
  {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  if (readOnly)
    std::filesystem::permissions(path,
                                 std::filesystem::perms::owner_write |
                                     std::filesystem::perms::group_write |
                                     std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::remove);
}

SimMachine::SimMachine(const sim::Json& description) {
  machine_ = sim::Machine::fromJson(description, temp_.path());
  machine_->console.stdinText = machine_->console.stdinText.value_or("");
  platform_ = sim::makeSimPlatform(*machine_);
  installed_ = std::make_unique<os::ScopedPlatform>(*platform_);
}

SimMachine::~SimMachine() = default;

int SimMachine::run(const std::vector<std::string>& args) {
  std::string program;
  for (char16_t c : machine_->modulePath) program.push_back(static_cast<char>(c));
  std::vector<std::string> all{program};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<const char*> argv;
  for (auto& a : all) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  return app::runPbaLoader(static_cast<int>(all.size()), argv.data());
}

}  // namespace pbaloader::testing
