// Builds a simulated machine for a test and installs it as the platform.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/machine.h"

namespace pbaloader::testing {

// A fresh host folder below the system temp directory, removed afterwards.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Writes a host file with these bytes, without write permission when asked.
void writeHostFile(const std::filesystem::path& path, std::string_view bytes, bool readOnly);

// A machine built from a JSON description, installed as the current platform
// for the lifetime of the object. Relative host paths in the description are
// taken from a private temp folder (host()).
class SimMachine {
 public:
  explicit SimMachine(const sim::Json& description = sim::Json::object());
  ~SimMachine();

  sim::Machine& machine() { return *machine_; }
  sim::Machine* operator->() { return machine_.get(); }
  const std::filesystem::path& host() const { return temp_.path(); }

  // Runs the tool's entry point with these arguments (the module path is
  // added at index 0) and returns its exit status.
  int run(const std::vector<std::string>& args);
  // Everything the tool wrote to standard output so far.
  const std::string& output() const { return machine_->console.output; }

 private:
  TempFolder temp_;
  std::unique_ptr<sim::Machine> machine_;
  std::unique_ptr<os::Platform> platform_;
  std::unique_ptr<os::ScopedPlatform> installed_;
};

}  // namespace pbaloader::testing
