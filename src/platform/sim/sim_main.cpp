// pbaloader-sim MACHINE.json [ARG...]: runs the tool on a simulated machine.
// The exit status is the tool's own (-1 shows as 255); 2 means the machine
// description could not be used.
#include <cstdio>
#include <exception>
#include <fstream>
#include <string>
#include <vector>

#include "app/entry.h"
#include "common/text.h"
#include "platform/sim/machine.h"

int main(int argc, char** argv) {
  using namespace pbaloader;
  if (argc < 2) {
    std::fprintf(stderr, "usage: pbaloader-sim MACHINE.json [ARG...]\n");
    return 2;
  }
  std::unique_ptr<sim::Machine> machine;
  try {
    machine = sim::Machine::fromFile(argv[1]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pbaloader-sim: %s\n", e.what());
    return 2;
  }
  machine->console.echoToHost = true;
  auto platform = sim::makeSimPlatform(*machine);
  os::ScopedPlatform installed(*platform);

  // The tool sees the module path as its program name, as a Windows process would.
  std::vector<std::string> args{toUtf8(machine->modulePath)};
  for (int i = 2; i < argc; ++i) args.emplace_back(argv[i]);
  std::vector<const char*> argvTool;
  for (auto& a : args) argvTool.push_back(a.c_str());
  argvTool.push_back(nullptr);
  const int status = app::runPbaLoader(static_cast<int>(args.size()), argvTool.data());
  std::fflush(stdout);
  if (!machine->callLogPath.empty()) {
    std::ofstream log(machine->callLogPath);
    log << machine->callLog(status).dump(1) << '\n';
    if (!log.flush()) {
      std::fprintf(stderr, "pbaloader-sim: cannot write %s\n", machine->callLogPath.c_str());
      return 2;
    }
  }
  return status;
}
