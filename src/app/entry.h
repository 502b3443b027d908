// The tool's entry point, independent of the process it runs in.
#pragma once

namespace pbaloader::app {

// Runs the tool with the narrow (UTF-8) command line on the installed
// platform and returns the process's exit status. Never throws.
int runPbaLoader(int argc, const char* const* argv);

}  // namespace pbaloader::app
