// Console, process start-up data and text conversion of the simulated machine.
#pragma once

#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <span>
#include <string>

#include "platform/platform.h"

namespace pbaloader::sim {

class Machine;

// CP_UTF8 as Windows converts it (ill-formed input and unpaired surrogates
// become U+FFFD); the machine uses it for the texts of its description too.
os::WString utf8ToUtf16(std::string_view in);
std::string utf16ToUtf8(os::WStringView in);

class Console {
 public:
  explicit Console(Machine& machine) : machine_(machine) {}
  void load(const nlohmann::json& description);

  bool stdoutIsConsole();
  os::Status writeConsoleW(os::WStringView text);
  os::Result<std::size_t> writeStdout(std::string_view bytes);
  void flushStdout();
  int readStdin();
  void unreadStdin(int byte);
  os::ModuleFileName getModuleFileNameW(std::uint32_t capacity);
  void exitProcess(int status);
  os::Result<int> multiByteToWideChar(std::uint32_t codePage, std::uint32_t flags,
                                      std::string_view in, std::span<char16_t> out);
  os::Result<int> wideCharToMultiByte(std::uint32_t codePage, std::uint32_t flags,
                                      os::WStringView in, std::span<char> out);

  // --- Test and harness controls ---------------------------------------------
  bool isConsole = false;                // the description's "console"
  std::optional<std::string> stdinText;  // input; without it the host's stdin is read
  std::size_t stdinPos = 0;
  bool echoToHost = false;                           // also write the output to the host's stdout
  std::string output;                                // everything the tool wrote, in order
  std::size_t consoleWrites = 0;                     // writes that went the WriteConsoleW way
  std::size_t streamWrites = 0;                      // writes that went the fwrite way
  std::size_t flushes = 0;                           // fflush calls on standard output
  bool failConsoleWrites = false;                    // WriteConsoleW fails
  std::optional<std::size_t> shortStreamWriteAfter;  // fwrite stops after this many bytes in all
  std::optional<int> exitStatus;                     // set by exitProcess

 private:
  Machine& machine_;
  std::size_t streamBytes_ = 0;  // bytes the fwrite way has taken so far
  int pushedBack_ = -1;          // a byte given back by unreadStdin
};

}  // namespace pbaloader::sim
