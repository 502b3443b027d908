// The banner, the command line and the usage text.
#pragma once

#include <string>

#include "app/loader.h"

namespace pbaloader {

// Writes the banner to standard output.
void printBanner();

// Parses the command line (the program name at index 0 is examined like every
// other argument). On a usage error it does not return: it calls failUsage.
LoaderOptions parseCommandLine(int argc, const char* const* argv);

// The one operation a parsed command line runs, in the order of precedence
// list, load, clear, interactive.
enum class Operation { None, List, Load, Clear, Interactive };
Operation chosenOperation(const LoaderOptions& options);

// Writes the usage text and a line feed to the standard output stream, flushes
// it and ends the process with status -1.
[[noreturn]] void failUsage();

// The usage text, with the program's file name filled in; no final line feed.
std::string usageText();

// The file-name component of the running executable's path.
std::string programFileName();

}  // namespace pbaloader
