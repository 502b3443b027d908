// The command interpreter, the partitioning utility and directory listings of
// the simulated machine.
#pragma once

#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace pbaloader::sim {

class Machine;

class Shell {
 public:
  explicit Shell(Machine& machine) : machine_(machine) {}
  void load(const nlohmann::json& description);

  int runSystemCommand(std::string_view commandLine);
  os::Result<std::vector<os::DirEntry>> listDirectoryW(os::WStringView directory);

  std::vector<std::string> commandLines;  // every command line run, in order
  std::vector<std::string> programsRun;   // Windows paths of the programs started

 private:
  Machine& machine_;
};

}  // namespace pbaloader::sim
