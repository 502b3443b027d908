#include "app/loader.h"

namespace pbaloader {

// Unwinds to the entry point, which turns the status into the process's exit
// status; every owner on the way releases its handles.
void endProcess(int status) { throw ProcessExit{status}; }

}  // namespace pbaloader
