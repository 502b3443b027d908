// The command interpreter, the partitioning utility and directory listings of
// the simulated machine.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace pbaloader::sim {

class Machine;

class Shell {
 public:
  explicit Shell(Machine& machine) : machine_(machine) {}
  void load(const nlohmann::json& description);

  // system(): "cmd.exe /c commandLine" as far as the tool needs it: one
  // program, resolved as the interpreter resolves it, with its redirections.
  int runSystemCommand(std::string_view commandLine);
  // FindFirstFileW / FindNextFileW over one folder.
  os::Result<std::vector<os::DirEntry>> listDirectoryW(os::WStringView directory);

  std::vector<std::string> commandLines;  // every command line run, in order
  std::vector<std::string> programsRun;   // Windows paths of the programs started
  std::vector<std::string> scriptsRun;    // texts of the scripts the partitioning utility ran

  // --- Test and harness controls ---------------------------------------------
  // Another process of the same user acting just before the interpreter
  // starts (the description's "shell.rewriteScript" installs one).
  std::function<void()> beforeCommand;
  // Upper-cased absolute Windows folder paths -> names listed first, in order
  // (the description's "folders" entries with "order").
  std::map<os::WString, std::vector<os::WString>> listingOrder;
  // Upper-cased absolute Windows folder paths that cannot be listed.
  std::set<os::WString> unreadableFolders;
  // Host file that every started program is appended to, one Windows path a
  // line (the description's "shell.runLog", relative to the description).
  std::optional<std::filesystem::path> runLog;

 private:
  int runProgram(const os::WString& program, const std::vector<std::string>& args,
                 std::string& out);
  int runPartitioningUtility(const std::vector<std::string>& args, std::string& out);
  bool cleanDisk(int index, bool all);
  std::optional<os::WString> resolveProgram(const std::string& name);
  bool programExists(const os::WString& windowsPath);
  bool isPartitioningUtility(const os::WString& windowsPath) const;
  std::vector<os::WString> searchPath() const;
  void rewriteScript(const std::string& text);

  Machine& machine_;
  std::optional<std::vector<os::WString>> searchPath_;  // the description's "shell.path"
};

}  // namespace pbaloader::sim
