// pbaloader-sim MACHINE.json [ARG...]: runs the tool on a simulated machine.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "app/entry.h"
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

  std::string program;
  for (char16_t c : machine->modulePath)
    program.push_back(static_cast<char>(c));  // ASCII module paths
  std::vector<std::string> args{program};
  for (int i = 2; i < argc; ++i) args.emplace_back(argv[i]);
  std::vector<const char*> argvTool;
  for (auto& a : args) argvTool.push_back(a.c_str());
  argvTool.push_back(nullptr);
  const int status = app::runPbaLoader(static_cast<int>(args.size()), argvTool.data());
  std::fflush(stdout);
  return status;
}
